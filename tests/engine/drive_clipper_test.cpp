#include "engine/stages/drive_clipper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vantle {
namespace {

constexpr double kTwoPi = 6.283185307179586;

DriveClipperParams derived(ProcessingMode mode, double fs, double d) {
  DriveClipperParams p;
  deriveDriveClipper(p, DeriveInputs{mode, fs, d, 0.0, kOutputCeiling});
  return p;
}

// The 28 to 145 Hz part of a channel, from the region's definition: two
// cascaded 145 Hz one-poles, minus a 28 Hz one-pole of their output.
struct MidRegion {
  double a145;
  double a28;
  double s1 = 0.0, s2 = 0.0, low = 0.0;
  double operator()(double x) {
    s1 = s1 + (x - s1) * a145;
    s2 = s2 + (s1 - s2) * a145;
    low = low + (s2 - low) * a28;
    return s2 - low;
  }
};

MidRegion midRegion(double fs) {
  return MidRegion{1.0 - std::exp(-kTwoPi * 145.0 / fs), 1.0 - std::exp(-kTwoPi * 28.0 / fs)};
}

struct Case {
  ProcessingMode mode;
  double d;
};
const Case kCases[] = {{ProcessingMode::podcast, 0.0}, {ProcessingMode::podcast, 1.0},
                       {ProcessingMode::stream, 0.0},  {ProcessingMode::stream, 0.5},
                       {ProcessingMode::stream, 1.0},  {ProcessingMode::limiter, 0.6}};

TEST(DriveClipper, DerivedValues) {
  EXPECT_NEAR(derived(ProcessingMode::podcast, 48000, 0.7).driveMidGain, 1.0064, 1e-15);
  EXPECT_NEAR(derived(ProcessingMode::limiter, 48000, 0.7).driveMidGain, 1.02, 1e-15);
  // Stream: V = 0.32 at adapt 18 and below, 0.36 half way up the ramp, 0.40 at the top.
  const struct {
    double d, v;
  } stream[] = {{0.0, 0.32}, {0.18, 0.32}, {0.5, 0.36}, {0.82, 0.40}, {1.0, 0.40}};
  for (const auto& c : stream) {
    const DriveClipperParams p = derived(ProcessingMode::stream, 48000, c.d);
    EXPECT_NEAR(p.driveAmount, c.v, 1e-15) << c.d;
    EXPECT_NEAR(p.driveMidGain, 1.0 + 0.08 * c.v + 0.55 * c.v * 0.06, 1e-15) << c.d;
    EXPECT_NEAR(p.driveMix, (0.95 + 0.15 * c.v) * c.v, 1e-15) << c.d;
  }
  // The driven region clips above about -17.0 dBFS (podcast) and -21.5 dBFS (limiter).
  const auto onsetDb = [](const DriveClipperParams& p) {
    return 20.0 * std::log10(p.driveCeiling / p.driveFactor);
  };
  EXPECT_NEAR(onsetDb(derived(ProcessingMode::podcast, 48000, 0.0)), -17.0, 0.05);
  EXPECT_NEAR(onsetDb(derived(ProcessingMode::limiter, 48000, 0.0)), -21.5, 0.05);
  for (const Case& c : kCases) EXPECT_GT(derived(c.mode, 48000, c.d).driveAmount, 0.0);
}

// Below the clipping onset the stage is linear: the input plus the driven
// region times (driveMidGain - 1).
TEST(DriveClipper, BelowOnsetOnlyTheDrivenRegionIsLifted) {
  for (const Case& c : kCases) {
    for (double fs : {8000.0, 44100.0, 96000.0}) {
      const DriveClipperParams p = derived(c.mode, fs, c.d);
      DriveClipperState s;
      resetDriveClipper(s, p);
      MidRegion midL = midRegion(fs);
      MidRegion midR = midRegion(fs);
      double worst = 0.0;
      double midPeak = 0.0;
      for (int i = 0; i < static_cast<int>(fs / 2); ++i) {
        const double t = i / fs;
        const double xl = 0.02 * std::sin(kTwoPi * 40.0 * t) + 0.02 * std::sin(kTwoPi * 90.0 * t) +
                          0.3 * std::sin(kTwoPi * 1000.0 * t);
        const double xr = -0.6 * std::sin(kTwoPi * 3000.0 * t) + 0.03 * std::sin(kTwoPi * 70.0 * t);
        double l = xl;
        double r = xr;
        runDriveClipper(p, s, &l, &r, 1);
        const double ml = midL(xl);
        const double mr = midR(xr);
        midPeak = std::fmax(midPeak, std::fmax(std::fabs(ml), std::fabs(mr)));
        worst = std::fmax(worst, std::fabs(l - (xl + ml * (p.driveMidGain - 1.0))));
        worst = std::fmax(worst, std::fabs(r - (xr + mr * (p.driveMidGain - 1.0))));
      }
      ASSERT_LT(midPeak * p.driveFactor, p.driveCeiling);
      EXPECT_LE(worst, 1e-14) << static_cast<int>(c.mode) << " " << c.d << " " << fs;
    }
  }
}

// A 70 Hz tone scaled so that its driven-region peak sits at a given multiple
// of the onset: below 1 the output stays linear, above it the clipper takes
// its share, and once the tone stops the fed-back error dies away.
TEST(DriveClipper, ClipperEngagesAboveTheOnsetOnly) {
  const double fs = 48000.0;
  for (const Case& c : kCases) {
    const DriveClipperParams p = derived(c.mode, fs, c.d);
    MidRegion probe = midRegion(fs);
    double unitPeak = 0.0;
    for (int i = 0; i < 48000; ++i) {
      unitPeak = std::fmax(unitPeak, std::fabs(probe(std::sin(kTwoPi * 70.0 * i / fs))));
    }
    const double onset = p.driveCeiling / p.driveFactor;
    for (double k : {0.9, 1.3, 3.0}) {
      const double amp = k * onset / unitPeak;
      DriveClipperState s;
      resetDriveClipper(s, p);
      MidRegion mid = midRegion(fs);
      double deviation = 0.0;
      for (int i = 0; i < 48000; ++i) {
        const double x = amp * std::sin(kTwoPi * 70.0 * i / fs);
        double l = x;
        double r = x;
        runDriveClipper(p, s, &l, &r, 1);
        deviation = std::fmax(deviation, std::fabs(l - (x + mid(x) * (p.driveMidGain - 1.0))));
        EXPECT_EQ(l, r);
      }
      if (k < 1.0) {
        EXPECT_LE(deviation, 1e-14) << k;
      } else {
        EXPECT_GT(deviation, 5e-3 * onset * (k - 1.0)) << static_cast<int>(c.mode) << " " << k;
        // After the tone, silence: the output is only the decaying error
        // feedback and region memories, and it dies away.
        double last = 1.0;
        for (int i = 0; i < 48000; ++i) {
          double l = 0.0;
          double r = 0.0;
          runDriveClipper(p, s, &l, &r, 1);
          last = std::fabs(l);
        }
        EXPECT_LE(last, 1e-9);
      }
    }
  }
}

TEST(DriveClipper, ResetReturnsToRest) {
  const DriveClipperParams p = derived(ProcessingMode::limiter, 48000, 0.0);
  DriveClipperState s;
  for (int i = 0; i < 4800; ++i) {
    double l = 0.9 * std::sin(kTwoPi * 60.0 * i / 48000.0);
    double r = -l;
    runDriveClipper(p, s, &l, &r, 1);
  }
  ASSERT_NE(s.left.clip.s1, 0.0);
  resetDriveClipper(s, p);
  for (int i = 0; i < 100; ++i) {
    double l = 0.0;
    double r = 0.0;
    runDriveClipper(p, s, &l, &r, 1);
    ASSERT_EQ(l, 0.0);
    ASSERT_EQ(r, 0.0);
  }
}

}  // namespace
}  // namespace vantle
