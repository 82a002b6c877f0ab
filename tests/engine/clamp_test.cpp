#include "engine/dsp/clamp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vantle {
namespace {

// Bitwise equality, so that NaN matches NaN and -0 does not match +0.
bool sameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

// What each member gives inside, outside and at the edges of 0..1, and for
// the two values whose result the comparison order decides: NaN and -0.
TEST(Clamp, EachMemberKeepsItsRuleForNanAndNegativeZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double x, clampTo, clampToOrLow;
  } cases[] = {
      {0.25, 0.25, 0.25}, {-3.0, 0.0, 0.0}, {7.0, 1.0, 1.0}, {0.0, 0.0, 0.0},   {1.0, 1.0, 1.0},
      {-inf, 0.0, 0.0},   {inf, 1.0, 1.0},  {nan, nan, 0.0}, {-0.0, -0.0, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(sameBits(clampTo(c.x, 0.0, 1.0), c.clampTo)) << c.x;
    EXPECT_TRUE(sameBits(clampToOrLow(c.x, 0.0, 1.0), c.clampToOrLow)) << c.x;
    EXPECT_TRUE(sameBits(clampUnitOrZero(c.x), c.clampToOrLow)) << c.x;
  }
  // The low bound is what NaN gives, whatever the range.
  EXPECT_EQ(clampToOrLow(nan, -6.0, 6.0), -6.0);
}

// The C library's fmax/fmin rules: an unordered pair gives the operand that
// is a number, two NaNs give the first, equal operands (also 0 and -0) give
// the first.
TEST(MinMax, KeepTheLibraryRulesInEveryOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double x, y, max, min;
  } cases[] = {
      {1.0, 2.0, 2.0, 1.0},       {2.0, 1.0, 2.0, 1.0},     {-0.0, 0.0, -0.0, -0.0},
      {0.0, -0.0, 0.0, 0.0},      {nan, 3.0, 3.0, 3.0},     {3.0, nan, 3.0, 3.0},
      {nan, -inf, -inf, -inf},    {inf, nan, inf, inf},     {-inf, inf, inf, -inf},
      {1e-310, 0.0, 1e-310, 0.0}, {-5.0, -5.0, -5.0, -5.0},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(sameBits(maxOf(c.x, c.y), c.max)) << c.x << ", " << c.y;
    EXPECT_TRUE(sameBits(minOf(c.x, c.y), c.min)) << c.x << ", " << c.y;
  }
  EXPECT_TRUE(std::isnan(maxOf(nan, nan)) && std::isnan(minOf(nan, nan)));
  EXPECT_TRUE(sameBits(stereoPeak(-0.5, 0.25), 0.5));
}

}  // namespace
}  // namespace vantle
