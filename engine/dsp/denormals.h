// Keeps subnormal numbers out of the chain's arithmetic while a frame runs.
// Long silence lets every decaying filter memory and envelope sink through the
// subnormal range, where x86 arithmetic is many times slower; flushing them to
// zero costs nothing audible (they are below 1e-307, far under the float
// output's smallest step) and keeps quiet programme as cheap as loud.
#pragma once

#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#define VANTLE_HAVE_MXCSR 1
#endif

namespace vantle {

class FlushDenormalsScope {
 public:
#ifdef VANTLE_HAVE_MXCSR
  // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
  FlushDenormalsScope() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }
  ~FlushDenormalsScope() { _mm_setcsr(saved_); }

 private:
  unsigned saved_;
#else
  FlushDenormalsScope() = default;
#endif
 public:
  FlushDenormalsScope(const FlushDenormalsScope&) = delete;
  FlushDenormalsScope& operator=(const FlushDenormalsScope&) = delete;
};

}  // namespace vantle
