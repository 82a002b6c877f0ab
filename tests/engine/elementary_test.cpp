// The engine's own elementary functions against the C library's long double
// ones, in units of the last place of the double result, over the arguments
// the engine gives them, plus the special values.
#include "engine/dsp/elementary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vantle {
namespace {

// Distance from the reference in units of the double's last place there.
double ulpError(double got, long double reference) {
  const double r = static_cast<double>(reference);
  if (r == 0.0) return got == 0.0 ? 0.0 : 1e9;
  const double ulp =
      std::nextafter(std::fabs(r), std::numeric_limits<double>::infinity()) - std::fabs(r);
  return static_cast<double>(std::fabs(static_cast<long double>(got) - reference) / ulp);
}

// A deterministic spread of arguments over [lo, hi].
template <typename F>
double worstOver(double lo, double hi, F&& error) {
  double worst = 0.0;
  std::uint64_t state = 0x2545F4914F6CDD1DULL;
  for (int i = 0; i <= 200000; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double u = static_cast<double>(state >> 11) / 9007199254740992.0;
    const double x = i < 1000 ? lo + (hi - lo) * i / 1000.0 : lo + (hi - lo) * u;
    worst = std::fmax(worst, error(x));
  }
  return worst;
}

TEST(Elementary, WithinAFewUlpsOverTheEngineRanges) {
#ifdef _WIN32
  // The functions compute the same bits on every platform (the chain's
  // goldens hold on both); only this C library's long double sine is too
  // coarse near pi to measure them against.
  GTEST_SKIP() << "measured against the Linux C library";
#endif
  const struct {
    const char* name;
    double lo, hi, bound;
    double (*own)(double);
    long double (*reference)(long double);
  } cases[] = {
      // dB gains, poles and knees.
      {"exp", -60.0, 10.0, 1.5, exponential, [](long double x) { return std::exp(x); }},
      {"exp small", -1e-3, 1e-3, 1.5, exponential, [](long double x) { return std::exp(x); }},
      {"exp wide", -700.0, 700.0, 1.5, exponential, [](long double x) { return std::exp(x); }},
      {"log", 1e-9, 10.0, 1.0, naturalLog, [](long double x) { return std::log(x); }},
      {"log near 1", 0.9, 1.1, 1.0, naturalLog, [](long double x) { return std::log(x); }},
      {"log wide", 1e-300, 1e300, 1.0, naturalLog, [](long double x) { return std::log(x); }},
      {"sine of the curves", -1.5707963267948966, 1.5707963267948966, 3.0, sineWithinHalfPi,
       [](long double x) { return std::sin(x); }},
      {"sine", -3.2, 3.2, 1.5, sine, [](long double x) { return std::sin(x); }},
      {"cosine", 0.0, 3.2, 1.5, cosine, [](long double x) { return std::cos(x); }},
      {"tangent", 0.0, 1.4, 3.0, tangent, [](long double x) { return std::tan(x); }},
  };
  for (const auto& c : cases) {
    const double worst = worstOver(c.lo, c.hi, [&](double x) {
      return ulpError(c.own(x), c.reference(static_cast<long double>(x)));
    });
    EXPECT_LE(worst, c.bound) << c.name;
  }
  // Powers as the band trackers and the balance raise them: the logarithm's
  // last place grows with the exponent's argument, to about 8 here.
  const double worst = worstOver(1.0, 1e6, [](double x) {
    return ulpError(power(x, -0.6), std::pow(static_cast<long double>(x), -0.6L));
  });
  EXPECT_LE(worst, 16.0);
}

TEST(Elementary, SpecialValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(exponential(0.0), 1.0);
  EXPECT_EQ(exponential(-0.0), 1.0);
  EXPECT_EQ(exponential(710.0), inf);
  EXPECT_EQ(exponential(inf), inf);
  EXPECT_EQ(exponential(-inf), 0.0);
  EXPECT_EQ(exponential(-746.0), 0.0);
  EXPECT_TRUE(std::isnan(exponential(nan)));
  EXPECT_GT(exponential(-740.0), 0.0);  // subnormal results survive
  EXPECT_EQ(naturalLog(1.0), 0.0);
  EXPECT_EQ(naturalLog(0.0), -inf);
  EXPECT_EQ(naturalLog(inf), inf);
  EXPECT_TRUE(std::isnan(naturalLog(-1.0)));
  EXPECT_TRUE(std::isnan(naturalLog(nan)));
  EXPECT_NEAR(naturalLog(4.9e-324), -744.44007192138126, 1e-12);
  EXPECT_EQ(sineWithinHalfPi(0.0), 0.0);
  EXPECT_EQ(sine(0.0), 0.0);
  EXPECT_EQ(cosine(0.0), 1.0);
}

bool sameBits(double a, double b) {
  std::uint64_t x;
  std::uint64_t y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

// The pair forms must give each lane the very bits of a single call: the
// chain's sound may not depend on which channel a value travels in, nor on
// whether its neighbour lane took the common path or fell back to one lane
// at a time (the edges at -700 and 709, subnormal results, overflow, NaN).
TEST(Elementary, PairsGiveTheBitsOfSingleCalls) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double edges[] = {0.0,    -0.0,   1e-300, -1e-300, 0.3,    -0.3,    1.5707963267948966,
                          -2.5,   100.0,  -100.0, -699.99, -700.0, -700.01, -740.0,
                          -746.0, 708.99, 709.0,  709.8,   inf,    -inf,    nan};
  for (double a : edges) {
    for (double b : edges) {
      const DoublePair e = exponential(DoublePair{a, b});
      EXPECT_TRUE(sameBits(e[0], exponential(a)) && sameBits(e[1], exponential(b)))
          << a << ", " << b;
    }
  }
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  for (int i = 0; i < 100000; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double u = static_cast<double>(state >> 11) / 9007199254740992.0;
    const double v =
        static_cast<double>((state * 0x2545F4914F6CDD1DULL) >> 11) / 9007199254740992.0;
    const double a = -720.0 + 1430.0 * u;
    const double b = -40.0 * v;
    const DoublePair e = exponential(DoublePair{a, b});
    ASSERT_TRUE(sameBits(e[0], exponential(a)) && sameBits(e[1], exponential(b))) << a << ", " << b;
    const double x = -1.5707963267948966 + 3.141592653589793 * u;
    const double y = 1.5707963267948966 * v;
    const DoublePair s = sineWithinHalfPi(DoublePair{x, y});
    ASSERT_TRUE(sameBits(s[0], sineWithinHalfPi(x)) && sameBits(s[1], sineWithinHalfPi(y)))
        << x << ", " << y;
  }
}

}  // namespace
}  // namespace vantle
