// Larger and smaller of two values, with the C library's fmax/fmin rules
// spelled out: an unordered pair gives the operand that is a number, and
// equal operands give the first. Written inline because the library calls are
// not inlined without fast-math (they would cost a tenth of the chain's time),
// and written out so that every platform's build rounds them the same way.
#pragma once

#include <cmath>

namespace vantle {

// The common case is one max or min instruction whatever the operands' order,
// so the chain does not stall on comparisons it cannot predict; only a first
// operand that is not a number (never in practice) takes a branch.
inline double maxOf(double x, double y) {
  const double larger = x < y ? y : x;
  if (x != x) return y != y ? x : y;
  return larger;
}

inline double minOf(double x, double y) {
  const double smaller = x > y ? y : x;
  if (x != x) return y != y ? x : y;
  return smaller;
}

// Stereo-linked detection: the larger magnitude of the two channels.
inline double stereoPeak(double left, double right) {
  return maxOf(std::fabs(left), std::fabs(right));
}

}  // namespace vantle
