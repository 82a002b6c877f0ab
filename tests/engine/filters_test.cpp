#include "engine/dsp/filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace vantle {
namespace {

const double kTwoPi = 2.0 * 3.14159265358979323846;

// Magnitude of a section's response at f, evaluated on the unit circle: an
// independent check of what the designers produce.
double magnitude(const BiquadCoefficients& c, double hz, double fs) {
  const std::complex<double> z1 = std::polar(1.0, -kTwoPi * hz / fs);
  const std::complex<double> z2 = z1 * z1;
  return std::abs((c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2));
}

double gainDb(const BiquadCoefficients& c, double hz, double fs) {
  return 20.0 * std::log10(magnitude(c, hz, fs));
}

bool sameCoefficients(const BiquadCoefficients& a, const BiquadCoefficients& b) {
  return a.b0 == b.b0 && a.b1 == b.b1 && a.b2 == b.b2 && a.a1 == b.a1 && a.a2 == b.a2;
}

TEST(BiquadSection, DirectFormOneImpulseResponse) {
  BiquadSection s;
  s.c = {1.0, 0.5, 0.25, -0.5, 0.0};
  // y0 = 1; y1 = 0.5 + 0.5 y0; y2 = 0.25 + 0.5 y1; then y halves each sample.
  const double expected[] = {1.0, 1.0, 0.75, 0.375, 0.1875};
  for (int n = 0; n < 5; ++n) EXPECT_EQ(runBiquad(s, n == 0 ? 1.0 : 0.0), expected[n]) << n;
  EXPECT_EQ(s.x1, 0.0);
  EXPECT_EQ(s.y1, 0.1875);
  EXPECT_EQ(s.y2, 0.375);
  clearBiquad(s);
  EXPECT_EQ(s.y1 + s.y2 + s.x1 + s.x2, 0.0);
  EXPECT_EQ(s.c.b1, 0.5);  // clearing keeps the design
  BiquadSection through;
  through.c = passThrough();
  for (double x : {0.3, -2.0, 5.0}) EXPECT_EQ(runBiquad(through, x), x);
}

TEST(Designers, ZeroDecibelShelfAndPeakAreFlat) {
  for (double fs : {8000.0, 44100.0, 192000.0}) {
    for (double f : {30.0, 250.0, 3000.0}) {
      BiquadCoefficients shelf;
      BiquadCoefficients peak;
      designLowShelf(shelf, f, 0.7, 0.0, fs);
      designPeaking(peak, f, 1.4, 0.0, fs);
      for (const BiquadCoefficients& c : {shelf, peak}) {
        EXPECT_EQ(c.b0, 1.0);
        EXPECT_EQ(c.b1, c.a1);
        EXPECT_EQ(c.b2, c.a2);
        EXPECT_NEAR(magnitude(c, 0.3 * fs, fs), 1.0, 1e-12);
      }
    }
  }
}

TEST(Designers, ShelfAndPeakReachTheirGain) {
  const double fs = 48000.0;
  for (double g : {-9.0, -3.0, 4.5, 12.0}) {
    BiquadCoefficients shelf;
    designLowShelf(shelf, 120.0, 1.0, g, fs);
    EXPECT_NEAR(gainDb(shelf, 0.0, fs), g, 1e-9);          // full gain at DC
    EXPECT_NEAR(gainDb(shelf, 24000.0, fs), 0.0, 1e-9);    // none at Nyquist
    EXPECT_NEAR(gainDb(shelf, 120.0, fs), g / 2.0, 1e-9);  // half at the corner
    BiquadCoefficients peak;
    designPeaking(peak, 1000.0, 2.0, g, fs);
    EXPECT_NEAR(gainDb(peak, 1000.0, fs), g, 1e-9);
    EXPECT_NEAR(gainDb(peak, 0.0, fs), 0.0, 1e-9);
    EXPECT_NEAR(gainDb(peak, 24000.0, fs), 0.0, 1e-9);
  }
}

TEST(Designers, LowPassHasUnityDcGainAndQAtTheCorner) {
  for (double fs : {8000.0, 48000.0}) {
    for (double q : {0.3, 0.58, 0.7071, 2.0, 10.0}) {
      for (double f : {200.0, 1500.0}) {
        BiquadCoefficients c;
        designLowPass(c, f, q, fs);
        const double dc = (c.b0 + c.b1 + c.b2) / (1.0 + c.a1 + c.a2);
        EXPECT_NEAR(dc, 1.0, 1e-12) << fs << " " << q << " " << f;
        EXPECT_EQ(c.b0, c.b2);
        EXPECT_NEAR(magnitude(c, f, fs), q, 1e-9 * q);
        EXPECT_NEAR(magnitude(c, 0.5 * fs, fs), 0.0, 1e-12);
      }
    }
  }
}

TEST(Designers, CornersAreClampedTo20HzAndBelowFortyFivePercentOfTheRate) {
  const struct {
    double fs, asked, used;
  } cases[] = {{48000, 10, 20},
               {48000, -5, 20},
               {44100, 21000, 19845},
               {8000, 5000, 3600},
               {8000, 3900, 3600}};
  for (const auto& c : cases) {
    BiquadCoefficients a;
    BiquadCoefficients b;
    designLowPass(a, c.asked, 0.7, c.fs);
    designLowPass(b, c.used, 0.7, c.fs);
    EXPECT_TRUE(sameCoefficients(a, b)) << c.fs << " " << c.asked;
    designLowShelf(a, c.asked, 0.8, 6.0, c.fs);
    designLowShelf(b, c.used, 0.8, 6.0, c.fs);
    EXPECT_TRUE(sameCoefficients(a, b)) << c.fs << " " << c.asked;
    designPeaking(a, c.asked, 1.0, -4.0, c.fs);
    designPeaking(b, c.used, 1.0, -4.0, c.fs);
    EXPECT_TRUE(sameCoefficients(a, b)) << c.fs << " " << c.asked;
  }
  // Inside the range nothing moves.
  BiquadCoefficients a;
  BiquadCoefficients b;
  designLowPass(a, 19844, 0.7, 44100);
  designLowPass(b, 19845, 0.7, 44100);
  EXPECT_FALSE(sameCoefficients(a, b));
}

TEST(Designers, WriteOnlyTheCoefficients) {
  BiquadSection s;
  s.x1 = 0.1;
  s.x2 = 0.2;
  s.y1 = 0.3;
  s.y2 = 0.4;
  designPeaking(s.c, 500, 1, 3, 48000);
  designLowShelf(s.c, 500, 1, 3, 48000);
  designLowPass(s.c, 500, 1, 48000);
  EXPECT_EQ(s.x1, 0.1);
  EXPECT_EQ(s.x2, 0.2);
  EXPECT_EQ(s.y1, 0.3);
  EXPECT_EQ(s.y2, 0.4);
}

// Poles for the tracker tests: fast enough to settle in a few thousand frames.
constexpr double kAttack = 0.99;
constexpr double kReleaseA = 0.995;
constexpr double kReleaseB = 0.999;

TEST(TrackLimitGain, SettlesAtTheFloorOfMinusTwentyDecibels) {
  for (double depth : {0.0, 1.0}) {
    GainTrackerState s;
    const double t = 0.2;
    double g = 1.0;
    for (int n = 0; n < 20000; ++n)
      g = trackLimitGain(s, 100.0 * t, t, kAttack, kReleaseA, kReleaseB, depth);
    EXPECT_NEAR(g, 0.1, 1e-12) << depth;
    EXPECT_EQ(s.gain, g);
    EXPECT_NEAR(s.level, 100.0 * t, 1e-9);
    // Ten times the threshold is the gain of 0.1 exactly too; five times gives 0.2.
    for (int n = 0; n < 40000; ++n)
      g = trackLimitGain(s, 5.0 * t, t, kAttack, kReleaseA, kReleaseB, depth);
    EXPECT_NEAR(g, 0.2, 1e-9);
  }
}

TEST(TrackLimitGain, QuietLevelReturnsTheGainTowardsOneNeverAbove) {
  GainTrackerState s;
  s.level = 0.01;
  s.gain = 0.3;
  double previous = s.gain;
  for (int n = 0; n < 20000; ++n) {
    const double g = trackLimitGain(s, 0.001, 0.5, kAttack, kReleaseA, kReleaseB, 1.0);
    ASSERT_GE(g, previous);
    ASSERT_LE(g, 1.0);
    previous = g;
  }
  EXPECT_NEAR(previous, 1.0, 1e-9);
  EXPECT_GE(s.level, 1e-6);  // the level never falls below its floor
}

TEST(TrackLimitGain, ReleaseSlowsDownWithDepth) {
  // From the same reduced state, depth 1 releases with the slower pole B.
  GainTrackerState shallow{0.01, 0.25};
  GainTrackerState deep = shallow;
  const double gs = trackLimitGain(shallow, 0.01, 0.5, kAttack, kReleaseA, kReleaseB, 0.0);
  const double gd = trackLimitGain(deep, 0.01, 0.5, kAttack, kReleaseA, kReleaseB, 1.0);
  EXPECT_NEAR(gs, 1.0 + (0.25 - 1.0) * kReleaseA, 1e-15);
  EXPECT_NEAR(gd, 1.0 + (0.25 - 1.0) * kReleaseB, 1e-15);
}

TEST(Trackers, StoredGainAtOrBelowZeroReadsAsOne) {
  for (double stored : {0.0, -3.0}) {
    GainTrackerState a{0.0, stored};
    EXPECT_EQ(trackLimitGain(a, 0.01, 0.5, kAttack, kReleaseA, kReleaseB, 1.0), 1.0);
    GainTrackerState b{0.0, stored};
    EXPECT_EQ(trackRatioGain(b, 0.01, 0.5, kAttack, kReleaseA, kReleaseB, 1.0, ratioExponent(4.0),
                             0.5, 0.1),
              1.0);
    // Above the threshold the gain falls from 1, not from the stored value.
    GainTrackerState c{4.0, stored};
    const double g = trackLimitGain(c, 4.0, 1.0, kAttack, kReleaseA, kReleaseB, 1.0);
    EXPECT_NEAR(g, 0.25 + (1.0 - 0.25) * kAttack, 1e-15);
  }
}

TEST(TrackRatioGain, StaticCurveRatioOneAndFloor) {
  // Steady level 4 T with ratio 2 and no knee: 4^(1/2 - 1) = 0.5.
  GainTrackerState s;
  double g = 1.0;
  for (int n = 0; n < 20000; ++n)
    g = trackRatioGain(s, 0.4, 0.1, kAttack, kReleaseA, kReleaseB, 1.0, ratioExponent(2.0), 0.0,
                       0.05);
  EXPECT_NEAR(g, 0.5, 1e-9);
  // A knee of width k fades the ratio in by (o - 1) / (o - 1 + k): 3/4 here.
  GainTrackerState kneed;
  for (int n = 0; n < 20000; ++n)
    g = trackRatioGain(kneed, 0.4, 0.1, kAttack, kReleaseA, kReleaseB, 1.0, ratioExponent(2.0), 1.0,
                       0.05);
  EXPECT_NEAR(g, 1.0 - 0.5 * 0.75, 1e-9);

  // Ratio 1 and below behave as 1.01, bit for bit.
  GainTrackerState r1;
  GainTrackerState r0;
  GainTrackerState r101;
  for (int n = 0; n < 3000; ++n) {
    const double x = 0.3 + 0.25 * std::sin(0.01 * n);
    const double a = trackRatioGain(r1, x, 0.1, kAttack, kReleaseA, kReleaseB, 1.0,
                                    ratioExponent(1.0), 0.2, 0.0);
    const double b = trackRatioGain(r0, x, 0.1, kAttack, kReleaseA, kReleaseB, 1.0,
                                    ratioExponent(0.5), 0.2, 0.0);
    const double c = trackRatioGain(r101, x, 0.1, kAttack, kReleaseA, kReleaseB, 1.0,
                                    ratioExponent(1.01), 0.2, 0.0);
    ASSERT_EQ(a, c);
    ASSERT_EQ(b, c);
  }
  EXPECT_LT(r1.gain, 1.0);

  // With a floor of 0.5 the gain never goes below it, however hard it is pushed.
  GainTrackerState floored;
  double lowest = 1.0;
  for (int n = 0; n < 20000; ++n) {
    lowest = std::fmin(lowest, trackRatioGain(floored, 50.0, 0.1, kAttack, kReleaseA, kReleaseB,
                                              1.0, ratioExponent(100.0), 0.0, 0.5));
  }
  EXPECT_GE(lowest, 0.5);
  EXPECT_NEAR(floored.gain, 0.5, 1e-9);
}

TEST(FillBlock, SetsAllEntries) {
  std::vector<double> block(kFillBlockLength + 1, -1.0);
  fillBlock(block.data(), 0.25);
  for (int i = 0; i < kFillBlockLength; ++i) ASSERT_EQ(block[static_cast<size_t>(i)], 0.25) << i;
  EXPECT_EQ(block.back(), -1.0);
}

}  // namespace
}  // namespace vantle
