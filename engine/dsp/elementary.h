// The elementary functions the engine uses, computed by its own code: the
// same operations in the same order on every platform, so the Linux and the
// Windows program derive the same coefficients and shape the same samples,
// and inlined, so a frame pays a short polynomial instead of a library call.
// Over the arguments the engine gives them, exp and log are within about one
// unit in the last place of the true value, sin, cos and tan within three, and
// a power within a few more (tested against the C library's long doubles).
// Ordinary IEEE double arithmetic only: no fused multiply-adds.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

namespace vantle {

// Two doubles worked on side by side (one SSE2 register): each lane sees the
// same operations in the same order as a lone double would, so a pair gives
// the same bits as two single calls.
typedef double DoublePair __attribute__((vector_size(16)));

// A pair's two lanes back into their two channels' values.
inline void storePair(DoublePair v, double& left, double& right) {
  left = v[0];
  right = v[1];
}
// Four doubles side by side, by the same rule: one AVX register where the
// chain's wide copy runs, two SSE2 registers elsewhere.
typedef double DoubleQuad __attribute__((vector_size(32)));

// Four consecutive doubles into a DoubleQuad and back (any alignment).
inline void loadQuad(const double* from, DoubleQuad& q) { std::memcpy(&q, from, sizeof q); }
inline void storeQuad(const DoubleQuad& q, double* to) { std::memcpy(to, &q, sizeof q); }

namespace elementary_detail {

inline std::uint64_t bitsOf(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

inline double fromBits(std::uint64_t b) {
  double x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// 2^k for k in -1022..1023.
inline double powerOfTwo(int k) { return fromBits(static_cast<std::uint64_t>(k + 1023) << 52); }

// Nearest integer to v (halves away from zero), for |v| well inside int.
inline int nearestInt(double v) { return static_cast<int>(v < 0.0 ? v - 0.5 : v + 0.5); }

// ln 2 and pi/2 split in two: the high parts have trailing zero bits, so their
// products with a small integer are exact.
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kHalfPiHi = 1.57079632673412561417e+00;
constexpr double kHalfPiLo = 6.07710050650619224932e-11;
constexpr double kInvHalfPi = 6.36619772367581382433e-01;

// 2^(j/64) for j = 0..63, each the double nearest the true value.
constexpr double kExp2Sixtyfourths[64] = {
    0x1.0000000000000p+0, 0x1.02c9a3e778061p+0, 0x1.059b0d3158574p+0, 0x1.0874518759bc8p+0,
    0x1.0b5586cf9890fp+0, 0x1.0e3ec32d3d1a2p+0, 0x1.11301d0125b51p+0, 0x1.1429aaea92de0p+0,
    0x1.172b83c7d517bp+0, 0x1.1a35beb6fcb75p+0, 0x1.1d4873168b9aap+0, 0x1.2063b88628cd6p+0,
    0x1.2387a6e756238p+0, 0x1.26b4565e27cddp+0, 0x1.29e9df51fdee1p+0, 0x1.2d285a6e4030bp+0,
    0x1.306fe0a31b715p+0, 0x1.33c08b26416ffp+0, 0x1.371a7373aa9cbp+0, 0x1.3a7db34e59ff7p+0,
    0x1.3dea64c123422p+0, 0x1.4160a21f72e2ap+0, 0x1.44e086061892dp+0, 0x1.486a2b5c13cd0p+0,
    0x1.4bfdad5362a27p+0, 0x1.4f9b2769d2ca7p+0, 0x1.5342b569d4f82p+0, 0x1.56f4736b527dap+0,
    0x1.5ab07dd485429p+0, 0x1.5e76f15ad2148p+0, 0x1.6247eb03a5585p+0, 0x1.6623882552225p+0,
    0x1.6a09e667f3bcdp+0, 0x1.6dfb23c651a2fp+0, 0x1.71f75e8ec5f74p+0, 0x1.75feb564267c9p+0,
    0x1.7a11473eb0187p+0, 0x1.7e2f336cf4e62p+0, 0x1.82589994cce13p+0, 0x1.868d99b4492edp+0,
    0x1.8ace5422aa0dbp+0, 0x1.8f1ae99157736p+0, 0x1.93737b0cdc5e5p+0, 0x1.97d829fde4e50p+0,
    0x1.9c49182a3f090p+0, 0x1.a0c667b5de565p+0, 0x1.a5503b23e255dp+0, 0x1.a9e6b5579fdbfp+0,
    0x1.ae89f995ad3adp+0, 0x1.b33a2b84f15fbp+0, 0x1.b7f76f2fb5e47p+0, 0x1.bcc1e904bc1d2p+0,
    0x1.c199bdd85529cp+0, 0x1.c67f12e57d14bp+0, 0x1.cb720dcef9069p+0, 0x1.d072d4a07897cp+0,
    0x1.d5818dcfba487p+0, 0x1.da9e603db3285p+0, 0x1.dfc97337b9b5fp+0, 0x1.e502ee78b3ff6p+0,
    0x1.ea4afa2a490dap+0, 0x1.efa1bee615a27p+0, 0x1.f50765b6e4540p+0, 0x1.fa7c1819e90d8p+0,
};

// ln2 / 64 in two parts (the high part's trailing bits are zero) and its inverse.
constexpr double kLn2By64Hi = 0x1.62e42fef00000p-7;
constexpr double kLn2By64Lo = 0x1.473de6af278edp-40;
constexpr double k64ByLn2 = 0x1.71547652b82fep+6;

// e^r - 1 for |r| <= ln2 / 128: its Taylor series to r^6 (the next term is
// below 1e-19 relative).
template <typename T>
inline T expMinusOneSmall(T r) {
  constexpr double c2 = 1.0 / 2.0;
  constexpr double c3 = c2 / 3.0;
  constexpr double c4 = c3 / 4.0;
  constexpr double c5 = c4 / 5.0;
  constexpr double c6 = c5 / 6.0;
  return r + (r * r) * (c2 + r * (c3 + r * (c4 + r * (c5 + r * c6))));
}

// Taylor coefficient of x^n in sin (n odd) or cos (n even): (-1)^(n/2) / n!,
// each from the one two below it, so every build rounds them alike.
constexpr double sinCosTerm(int n) {
  return n < 2 ? 1.0 : -sinCosTerm(n - 2) / static_cast<double>(n * (n - 1));
}

constexpr double kSin3 = sinCosTerm(3);
constexpr double kSin5 = sinCosTerm(5);
constexpr double kSin7 = sinCosTerm(7);
constexpr double kSin9 = sinCosTerm(9);
constexpr double kSin11 = sinCosTerm(11);
constexpr double kSin13 = sinCosTerm(13);
constexpr double kSin15 = sinCosTerm(15);
constexpr double kSin17 = sinCosTerm(17);
constexpr double kSin19 = sinCosTerm(19);
constexpr double kSin21 = sinCosTerm(21);
constexpr double kSin23 = sinCosTerm(23);

// sin r and cos r for |r| <= pi/4 (about 0.7854): Taylor series to r^21 and
// r^20 (the next terms are below 1e-19).
inline double sinSmall(double r) {
  const double z = r * r;
  const double p =
      kSin3 +
      z * (kSin5 +
           z * (kSin7 +
                z * (kSin9 + z * (kSin11 +
                                  z * (kSin13 +
                                       z * (kSin15 + z * (kSin17 + z * (kSin19 + z * kSin21))))))));
  return r + (r * z) * p;
}

inline double cosSmall(double r) {
  constexpr double c4 = sinCosTerm(4);
  constexpr double c6 = sinCosTerm(6);
  constexpr double c8 = sinCosTerm(8);
  constexpr double c10 = sinCosTerm(10);
  constexpr double c12 = sinCosTerm(12);
  constexpr double c14 = sinCosTerm(14);
  constexpr double c16 = sinCosTerm(16);
  constexpr double c18 = sinCosTerm(18);
  constexpr double c20 = sinCosTerm(20);
  const double z = r * r;
  const double hz = 0.5 * z;
  const double w = 1.0 - hz;
  const double p =
      c4 +
      z * (c6 + z * (c8 + z * (c10 + z * (c12 + z * (c14 + z * (c16 + z * (c18 + z * c20)))))));
  // 1 - z/2 loses the bits that (1 - w) - z/2 gives back.
  return w + (((1.0 - w) - hz) + (z * z) * p);
}

// Reduces x to r = x - n pi/2 with |r| <= about pi/4; n modulo 4 picks the
// quadrant. Accurate for |x| up to about 1e5, far beyond the engine's angles.
inline int reduceHalfPi(double x, double& r) {
  const int n = nearestInt(x * kInvHalfPi);
  const double dn = static_cast<double>(n);
  r = (x - dn * kHalfPiHi) - dn * kHalfPiLo;
  return n;
}

}  // namespace elementary_detail

// e^x: x = (64 m + j) ln2/64 + r with |r| <= ln2/128, e^x = 2^m 2^(j/64) e^r.
inline double exponential(double x) {
  namespace d = elementary_detail;
  if (!(x < 709.782712893384)) return x != x ? x : std::numeric_limits<double>::infinity();
  if (x < -745.2) return 0.0;
  const int k = d::nearestInt(x * d::k64ByLn2);
  const double dk = static_cast<double>(k);
  const double r = (x - dk * d::kLn2By64Hi) - dk * d::kLn2By64Lo;
  const int j = k & 63;
  const int m = (k - j) / 64;
  const double t = d::kExp2Sixtyfourths[j];
  const double v = t + t * d::expMinusOneSmall(r);
  if (m >= -1021) {
    if (m <= 1023) return v * d::powerOfTwo(m);
    return (v * 2.0) * d::powerOfTwo(m - 1);
  }
  // Results near or below the smallest normal: scale in two steps.
  return (v * d::powerOfTwo(m + 600)) * d::powerOfTwo(-600);
}

// e^x of both lanes, bit for bit what exponential gives each. Lanes from -700
// to 709 take the common path side by side; anything else goes lane by lane.
inline DoublePair exponential(DoublePair x) {
  namespace d = elementary_detail;
  if (!(x[0] >= -700.0 && x[0] < 709.0 && x[1] >= -700.0 && x[1] < 709.0))
    return DoublePair{exponential(x[0]), exponential(x[1])};
  const DoublePair scaled = x * d::k64ByLn2;
  const int k0 = d::nearestInt(scaled[0]);
  const int k1 = d::nearestInt(scaled[1]);
  const DoublePair dk = {static_cast<double>(k0), static_cast<double>(k1)};
  const DoublePair r = (x - dk * d::kLn2By64Hi) - dk * d::kLn2By64Lo;
  const int j0 = k0 & 63;
  const int j1 = k1 & 63;
  const DoublePair t = {d::kExp2Sixtyfourths[j0], d::kExp2Sixtyfourths[j1]};
  const DoublePair v = t + t * d::expMinusOneSmall(r);
  const DoublePair scale = {d::powerOfTwo((k0 - j0) / 64), d::powerOfTwo((k1 - j1) / 64)};
  return v * scale;
}

// Natural logarithm; NaN below 0, -infinity at 0.
inline double naturalLog(double x) {
  namespace d = elementary_detail;
  if (!(x > 0.0))
    return x == 0.0 ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::quiet_NaN();
  if (x == std::numeric_limits<double>::infinity()) return x;
  int e = 0;
  if (x < 2.2250738585072014e-308) {  // subnormal: make it normal first
    x *= 18014398509481984.0;         // 2^54
    e = -54;
  }
  std::uint64_t b = d::bitsOf(x);
  e += static_cast<int>(b >> 52) - 1023;
  b = (b & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL;  // mantissa m in [1, 2)
  double m = d::fromBits(b);
  if (m > 1.4142135623730951) {
    m *= 0.5;
    e += 1;
  }
  // log m = log(1 + f) = 2 atanh(s), s = f / (2 + f), |s| <= 0.1716: the
  // series in z = s^2 to z^12 leaves less than 1e-19.
  const double f = m - 1.0;
  const double s = f / (2.0 + f);
  const double z = s * s;
  constexpr double a1 = 2.0 / 3.0;
  constexpr double a2 = 2.0 / 5.0;
  constexpr double a3 = 2.0 / 7.0;
  constexpr double a4 = 2.0 / 9.0;
  constexpr double a5 = 2.0 / 11.0;
  constexpr double a6 = 2.0 / 13.0;
  constexpr double a7 = 2.0 / 15.0;
  constexpr double a8 = 2.0 / 17.0;
  constexpr double a9 = 2.0 / 19.0;
  constexpr double a10 = 2.0 / 21.0;
  constexpr double a11 = 2.0 / 23.0;
  constexpr double a12 = 2.0 / 25.0;
  // Estrin's scheme, as in the sine below.
  const double z2 = z * z;
  const double z4 = z2 * z2;
  const double z8 = z4 * z4;
  const double series =
      z * (((a1 + a2 * z) + z2 * (a3 + a4 * z)) + z4 * ((a5 + a6 * z) + z2 * (a7 + a8 * z)) +
           z8 * ((a9 + a10 * z) + z2 * (a11 + a12 * z)));
  const double hfsq = 0.5 * f * f;
  const double de = static_cast<double>(e);
  return de * d::kLn2Hi - ((hfsq - (s * (hfsq + series) + de * d::kLn2Lo)) - f);
}

// x^y for x > 0, as e^(y log x); the engine raises only positive bases, to
// moderate powers.
inline double power(double x, double y) { return exponential(y * naturalLog(x)); }

// sin x for |x| <= pi/2, the range of the saturating curves: one polynomial
// without reduction or branches (the series to x^23 leaves less than 1e-20 at
// pi/2; rounding leaves up to three units in the last place near pi/2). T is
// double or a vector of doubles (the two channels, or two frames of them),
// each lane computed with the same operations in the same order. The result
// is written to y, so four lanes never pass by value between code built for
// different processors.
template <typename T>
inline void sineWithinHalfPi(const T& x, T& y) {
  namespace d = elementary_detail;
  // Estrin's scheme: the pairs and powers are independent, so the frame
  // waits for five steps instead of eleven.
  const T z = x * x;
  const T z2 = z * z;
  const T z4 = z2 * z2;
  const T z8 = z4 * z4;
  const T p = ((d::kSin3 + d::kSin5 * z) + z2 * (d::kSin7 + d::kSin9 * z)) +
              z4 * ((d::kSin11 + d::kSin13 * z) + z2 * (d::kSin15 + d::kSin17 * z)) +
              z8 * ((d::kSin19 + d::kSin21 * z) + z2 * d::kSin23);
  y = x + (x * z) * p;
}

// The same for a double or a pair, returned.
template <typename T>
inline T sineWithinHalfPi(T x) {
  T y;
  sineWithinHalfPi(x, y);
  return y;
}

// sin x and cos x for moderate x (filter design angles).
inline double sine(double x) {
  namespace d = elementary_detail;
  double r;
  const int n = d::reduceHalfPi(x, r) & 3;
  const double v = (n & 1) ? d::cosSmall(r) : d::sinSmall(r);
  return n >= 2 ? -v : v;
}

inline double cosine(double x) {
  namespace d = elementary_detail;
  double r;
  const int n = d::reduceHalfPi(x, r) & 3;
  const double v = (n & 1) ? d::sinSmall(r) : d::cosSmall(r);
  return (n == 1 || n == 2) ? -v : v;
}

// tan x for |x| < pi/2.
inline double tangent(double x) { return sine(x) / cosine(x); }

}  // namespace vantle
