// Sample-by-sample comparison of two raw f32le files:
//   vantle-pcm-diff [--bound B] A B
// prints one line of key=value fields:
//   bytes_a, bytes_b   the two lengths
//   samples            samples compared (those both files have)
//   differing          samples whose bits differ
//   over               samples whose difference exceeds B (default 1e-6)
//   max                largest absolute difference (inf when a side is not
//                      finite and the bits differ)
//   first, worst       index of the first differing and of the largest
//                      difference, -1 when none
// Exit status 0 whatever the result (1 when a file cannot be read): the
// caller decides what counts as a failure.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

struct Input {
  std::FILE* file = nullptr;
  std::vector<unsigned char> bytes;
  std::uint64_t total = 0;
  size_t fill(size_t capacity) {
    bytes.resize(capacity);
    const size_t n = std::fread(bytes.data(), 1, capacity, file);
    bytes.resize(n);
    total += n;
    return n;
  }
};

float floatAt(const std::vector<unsigned char>& bytes, size_t sample) {
  float v;
  std::memcpy(&v, bytes.data() + 4 * sample, 4);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  double bound = 1e-6;
  int arg = 1;
  if (argc == 5 && std::strcmp(argv[1], "--bound") == 0) {
    bound = std::atof(argv[2]);
    arg = 3;
  } else if (argc != 3) {
    std::fputs("usage: vantle-pcm-diff [--bound B] A B\n", stderr);
    return 2;
  }
  Input a, b;
  a.file = std::fopen(argv[arg], "rb");
  b.file = std::fopen(argv[arg + 1], "rb");
  if (a.file == nullptr || b.file == nullptr) {
    std::fprintf(stderr, "vantle-pcm-diff: cannot open %s\n", argv[a.file ? arg + 1 : arg]);
    return 1;
  }
  constexpr size_t kChunk = 1 << 22;  // bytes, a multiple of 4
  std::uint64_t samples = 0, differing = 0, over = 0;
  std::int64_t first = -1, worst = -1;
  double largest = 0.0;
  for (;;) {
    const size_t na = a.fill(kChunk);
    const size_t nb = b.fill(kChunk);
    const size_t common = (na < nb ? na : nb) / 4;
    for (size_t i = 0; i < common; ++i) {
      if (std::memcmp(a.bytes.data() + 4 * i, b.bytes.data() + 4 * i, 4) == 0) continue;
      const double x = floatAt(a.bytes, i);
      const double y = floatAt(b.bytes, i);
      double d = std::fabs(x - y);
      if (!std::isfinite(d)) d = std::numeric_limits<double>::infinity();
      const auto index = static_cast<std::int64_t>(samples + i);
      if (first < 0) first = index;
      if (d > largest || worst < 0) {
        largest = d;
        worst = index;
      }
      ++differing;
      // +0 against -0 differs in its bits only.
      if (d > bound) ++over;
    }
    samples += common;
    if (na < kChunk || nb < kChunk) {
      // One side ended: count what is left of the other.
      while (a.fill(kChunk) > 0) {
      }
      while (b.fill(kChunk) > 0) {
      }
      break;
    }
  }
  if (std::ferror(a.file) || std::ferror(b.file)) {
    std::fputs("vantle-pcm-diff: read failed\n", stderr);
    return 1;
  }
  std::printf(
      "bytes_a=%llu bytes_b=%llu samples=%llu differing=%llu over=%llu max=%.9g first=%lld "
      "worst=%lld\n",
      static_cast<unsigned long long>(a.total), static_cast<unsigned long long>(b.total),
      static_cast<unsigned long long>(samples), static_cast<unsigned long long>(differing),
      static_cast<unsigned long long>(over), largest, static_cast<long long>(first),
      static_cast<long long>(worst));
  return 0;
}
