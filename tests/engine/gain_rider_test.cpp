#include "engine/stages/gain_rider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "engine/dsp/denormals.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

const double kTwoPi = 2.0 * 3.14159265358979323846;

struct Rider {
  GainRiderParams p;
  GainRiderState s;
  double fs;
  double outL = 0, outR = 0;
  double riderTarget = fromDb(-17.0);  // the load feedback's target after a reset

  Rider(ProcessingMode mode, double d, double rate = 48000.0) : fs(rate) {
    deriveGainRider(p, DeriveInputs{mode, rate, d, 0.0, kOutputCeiling});
    resetGainRider(s, p);
  }
  // Frames run as in the chain: with subnormal results flushed to zero.
  void run(double l, double r) {
    const FlushDenormalsScope flush;
    outL = l;
    outR = r;
    RiderOutput out;
    runGainRider(p, s, riderTarget, &outL, &outR, &out, 1);
  }
  int frames(double seconds) const { return static_cast<int>(seconds * fs); }
};

// A small deterministic noise source, uniform in -1..1.
struct Noise {
  std::uint64_t state = 0x9e3779b97f4a7c15ull;
  double next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0;
  }
};

TEST(GainRider, ResetValues) {
  Rider r(ProcessingMode::stream, 0.7);
  r.s.lowRegionGain = 0.2;
  r.s.out.silenceHold = 0.9;
  resetGainRider(r.s, r.p);
  EXPECT_EQ(r.s.lowRegionGain, 1.0);
  EXPECT_EQ(r.s.highRegionGain, 1.0);
  EXPECT_EQ(r.s.out.silenceHold, 0.0);
}

// Time constant (seconds) behind a per-frame pole.
double tau(double pole, double fs) { return -1.0 / (fs * std::log(pole)); }

// Voicing at both ends of adapt, worked out by hand from the mode tables.
TEST(GainRider, VoicingPerModeAtBothEndsOfAdapt) {
  const struct {
    ProcessingMode mode;
    double d;
    double trimDb, release, slowRelease, silenceRise, silenceDb, highWeight, boost, cut;
    double shaping, resume, resumeScale, fast, resumeHold, resumeFollow, saturation, makeupDb;
    double maxDb;
  } cases[] = {
      {ProcessingMode::podcast, 0.0, 0.5, 0.675, 1.29, 0.124, -20, 0.7, 0.65, 0.56, 0.70, 0.65,
       0.8175, 0.040, 0.18, 0.034, 0.25, 2.0, 9},
      {ProcessingMode::podcast, 1.0, 0.0, 0.522, 1.02, 0.1024, -20, 0.7, 0.85, 0.64, 0.84, 0.60,
       0.77, 0.036, 0.162, 0.0306, 0.25, 2.0, 9},
      {ProcessingMode::stream, 0.0, 0.0, 0.505, 0.99, 0.10, -30, 0.5, 0.56, 0.524, 0.78, 0.55,
       0.7225, 0.050, 0.225, 0.0425, 0.12, 0.96, 14},
      {ProcessingMode::stream, 1.0, 0.2, 0.5985, 1.155, 0.1132, -35, 0.6, 0.50, 0.50, 0.78, 0.55,
       0.7225, 0.050, 0.225, 0.0425, 0.14, 1.12, 14},
      {ProcessingMode::limiter, 1.0, 0.0, 0.6325, 1.215, 0.118, -70, 0.0, 0.0, 0.0, 0.0, 0.0, 0.2,
       0.050, 0.225, 0.0425, 0.0, 0.0, 9},
  };
  const double fs = 44100.0;
  for (const auto& c : cases) {
    const Rider r(c.mode, c.d, fs);
    const GainRiderParams& p = r.p;
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.mode) << " adapt " << c.d);
    EXPECT_NEAR(p.riderTrim, fromDb(c.trimDb), 1e-14);
    EXPECT_NEAR(tau(p.riderRelease, fs), c.release, 1e-9);
    EXPECT_NEAR(tau(p.riderSlowRelease, fs), c.slowRelease, 1e-9);
    EXPECT_NEAR(tau(p.silenceRise, fs), c.silenceRise, 1e-9);
    EXPECT_NEAR(tau(p.silenceFall, fs), 0.0015, 1e-12);
    EXPECT_NEAR(tau(p.riderAttack, fs), 0.045, 1e-10);
    EXPECT_NEAR(tau(p.riderGainAttack, fs), 0.03, 1e-10);
    EXPECT_NEAR(tau(p.inputPeakDecay, fs), 0.35, 1e-9);
    EXPECT_NEAR(tau(p.heldLevelDecay, fs), 0.16, 1e-9);
    EXPECT_NEAR(tau(p.silenceRecovery, fs), 8.0, 1e-6);
    EXPECT_NEAR(tau(p.idleDrift, fs), 4.5, 1e-6);
    EXPECT_NEAR(p.silenceThreshold, fromDb(c.silenceDb), 1e-15);
    EXPECT_NEAR(p.riderHighWeight, c.highWeight, 1e-15);
    EXPECT_NEAR(p.riderBoostScale, c.boost, 1e-15);
    EXPECT_NEAR(p.riderCutScale, c.cut, 1e-15);
    EXPECT_NEAR(p.releaseShaping, c.shaping, 1e-15);
    EXPECT_NEAR(p.resumeStrength, c.resume, 1e-15);
    EXPECT_NEAR(p.resumeScale, c.resumeScale, 1e-15);
    EXPECT_NEAR(p.fastTime, c.fast, 1e-15);
    EXPECT_NEAR(tau(p.resumeHoldDecay, fs), c.resumeHold, 1e-9);
    EXPECT_NEAR(tau(p.resumeFollow, fs), c.resumeFollow, 1e-9);
    EXPECT_NEAR(tau(p.resumeRecovery, fs), c.fast, 1e-9);
    EXPECT_NEAR(p.saturationAmount, c.saturation, 1e-15);
    EXPECT_NEAR(p.saturationMakeup, fromDb(c.makeupDb), 1e-14);
    EXPECT_NEAR(p.riderMaxGain, fromDb(c.maxDb), 1e-14);
    EXPECT_NEAR(p.riderMinGain, fromDb(-14.0), 1e-15);
    EXPECT_NEAR(p.idleGain, fromDb(-10.0), 1e-15);
    EXPECT_NEAR(p.riderSplitCoef, 1.0 - std::exp(-kTwoPi * 200.0 / fs), 1e-15);
  }
}

TEST(GainRider, LimiterModeOutputEqualsInputWhileDetectorsMove) {
  Rider r(ProcessingMode::limiter, 1.0);
  Noise noise;
  double worst = 0.0;
  for (int n = 0; n < r.frames(5.5); ++n) {
    // Programme, a pause long enough for the -70 dB threshold, programme again.
    const double level = n < r.frames(1.5) ? 0.8 : (n < r.frames(4.5) ? 0.0 : 0.05);
    const double l = level * (0.7 * std::sin(kTwoPi * 90.0 * n / r.fs) + 0.3 * noise.next());
    const double rr = level * noise.next();
    r.run(l, rr);
    worst = std::fmax(worst, std::fmax(std::fabs(r.outL - l), std::fabs(r.outR - rr)));
  }
  // Only the split and the sum of its two regions round.
  EXPECT_LT(worst, 4e-16);
  EXPECT_GT(r.s.out.inputPeakHold, 0.0);
  EXPECT_GT(r.s.lowEnvelope, 0.0);
  EXPECT_GT(r.s.highEnvelope, 0.0);
  EXPECT_NE(r.s.lowRegionGain, 1.0);
  EXPECT_GT(r.s.out.resumeAmount, 0.0);  // the pause was seen and left behind
}

TEST(GainRider, SilenceAfterProgrammeHoldsFreezesAndDrifts) {
  Rider r(ProcessingMode::podcast, 0.0);
  const double fs = r.fs;
  for (int n = 0; n < r.frames(3.0); ++n) {
    const double x = 0.14 * std::sin(kTwoPi * 440.0 * n / fs);
    r.run(x, x);
  }
  ASSERT_EQ(r.s.out.silenceHold, 0.0);
  ASSERT_EQ(r.s.out.silenceGate, 0.0);
  // Release factor 7 at adapt 0: silenceHold rises with 0.012 x 7 + 0.04 s.
  const double rise = std::exp(-1.0 / ((0.012 * 7.0 + 0.04) * fs));
  int quietFrames = 0;
  double previousLow = r.s.lowRegionGain;
  double previousHigh = r.s.highRegionGain;
  double atOpen = 0.0;
  int openedAt = -1;
  for (int n = 0; n < r.frames(30.0); ++n) {
    r.run(0.0, 0.0);
    if (r.s.heldLevel < r.p.silenceThreshold) {
      ++quietFrames;
      ASSERT_NEAR(r.s.out.silenceHold, 1.0 - std::pow(rise, quietFrames), 1e-9) << n;
    } else {
      ASSERT_EQ(r.s.out.silenceHold, 0.0);
    }
    ASSERT_EQ(r.s.out.silenceGate, r.s.out.silenceHold);  // no programme: the gate is the hold
    if (r.s.out.silenceGate > 0.99) {
      ASSERT_LE(r.s.lowRegionGain, previousLow) << n;
      ASSERT_LE(r.s.highRegionGain, previousHigh) << n;
      if (openedAt < 0) {
        openedAt = n;
        atOpen = r.s.lowRegionGain;
      }
    }
    if (openedAt >= 0 && n == openedAt + r.frames(4.5)) {
      // Drift towards -10 dB with 4.5 s, the gate all but fully open.
      const double idle = fromDb(-10.0);
      EXPECT_NEAR((r.s.lowRegionGain - idle) / (atOpen - idle), std::exp(-1.0), 0.01);
    }
    previousLow = r.s.lowRegionGain;
    previousHigh = r.s.highRegionGain;
  }
  EXPECT_GT(atOpen, 0.6);  // the drift had a long way to go
  EXPECT_NEAR(r.s.lowRegionGain, fromDb(-10.0), 2e-3);
  EXPECT_NEAR(r.s.highRegionGain, fromDb(-10.0), 2e-3);
  EXPECT_NEAR(r.s.out.silenceHold, 1.0, 1e-12);
}

TEST(GainRider, ResumeAfterAPauseUsesTheFastRecovery) {
  Rider paused(ProcessingMode::podcast, 0.3);
  const double fs = paused.fs;
  for (int n = 0; n < paused.frames(3.0); ++n) {
    const double x = 0.6 * std::sin(kTwoPi * 300.0 * n / fs);
    paused.run(x, x);
  }
  for (int n = 0; n < paused.frames(10.0); ++n) paused.run(0.0, 0.0);
  ASSERT_GT(paused.s.out.silenceHold, 0.999);
  // The same detectors and gains, but without any memory of the pause.
  Rider fresh = paused;
  fresh.s.out.silenceHold = 0.0;
  fresh.s.silenceMemory = 0.0;
  fresh.s.out.resumeAmount = 0.0;
  fresh.s.heldLevel = 1.0;

  const double expectedResume = std::fmin(
      1.0, std::fmax(paused.s.silenceMemory, paused.s.out.silenceHold) * paused.p.resumeScale);
  const double level = 0.15;  // well above the -20 dB threshold, a boost to ride up to
  for (int n = 0; n < paused.frames(0.1); ++n) {
    const double x = level * std::cos(kTwoPi * 1000.0 * n / fs);
    paused.run(x, x);
    fresh.run(x, x);
    if (n == 0) {
      EXPECT_NEAR(paused.s.resumeLevel, expectedResume, 1e-15);
      EXPECT_GT(paused.s.resumeLevel, 0.8);
      EXPECT_EQ(paused.s.out.resumeAmount, paused.s.resumeLevel);
      EXPECT_EQ(fresh.s.resumeLevel, 0.0);
    }
  }
  // The envelope has been pulled to the programme's level sooner and the gain
  // has moved towards its target faster.
  const double trimmed = level * paused.p.riderTrim;
  EXPECT_LT(std::fabs(paused.s.highEnvelope - trimmed), std::fabs(fresh.s.highEnvelope - trimmed));
  EXPECT_LT(paused.s.highEnvelope, trimmed * 1.05);
  EXPECT_GT(paused.s.highEnvelope, trimmed * 0.5);
  const double target = paused.riderTarget / trimmed;
  EXPECT_LT(std::fabs(paused.s.highRegionGain - target),
            0.5 * std::fabs(fresh.s.highRegionGain - target));
  EXPECT_GT(paused.s.highRegionGain, fresh.s.highRegionGain);
}

// The region gains stay inside -14 dB .. the mode's maximum whatever comes in,
// and both ends are reached: an empty high region (DC input) gives a zero
// envelope and the full boost, a loud full-band input the full cut.
TEST(GainRider, GainsStayWithinTheModeBounds) {
  const struct {
    ProcessingMode mode;
    double maxDb;
    double thresholdDbAtD0;
  } modes[] = {{ProcessingMode::podcast, 9.0, -20.0},
               {ProcessingMode::stream, 14.0, -30.0},
               {ProcessingMode::limiter, 9.0, -70.0}};
  for (const auto& m : modes) {
    for (double d : {0.0, 0.5, 1.0}) {
      for (double fs : {8000.0, 48000.0}) {
        Rider r(m.mode, d, fs);
        const double lo = fromDb(-14.0) * (1.0 - 1e-12);
        const double hi = fromDb(m.maxDb) * (1.0 + 1e-12);
        // Just above the silence threshold, so the rider wants to boost.
        const double quiet = fromDb(m.thresholdDbAtD0) * 1.3;
        Noise noise;
        double highest = 0.0;
        double lowest = 10.0;
        double lowestHigh = 10.0;
        for (int n = 0; n < r.frames(18.0); ++n) {
          const double t = n / fs;
          double x;
          if (t < 10.0) {
            x = quiet;
          } else if (t < 14.0) {
            x = 4.0 * (std::sin(kTwoPi * 20.0 * t) >= 0.0 ? 1.0 : -1.0) + 4.0 * noise.next();
          } else if (t < 16.0) {
            x = 0.0;
          } else {
            x = 0.5 * noise.next();
          }
          r.run(x, -x);
          const double gl = r.s.lowRegionGain;
          const double gh = r.s.highRegionGain;
          ASSERT_GE(gl, lo) << static_cast<int>(m.mode) << " " << d << " " << fs << " " << n;
          ASSERT_GE(gh, lo);
          ASSERT_LE(gl, hi);
          ASSERT_LE(gh, hi);
          if (t < 10.0) highest = std::fmax(highest, gh);
          if (t >= 10.0 && t < 14.0) {
            lowest = std::fmin(lowest, gl);
            lowestHigh = std::fmin(lowestHigh, gh);
          }
        }
        EXPECT_NEAR(highest, fromDb(m.maxDb), 1e-5) << static_cast<int>(m.mode) << " " << d;
        EXPECT_NEAR(lowest, fromDb(-14.0), 1e-6) << static_cast<int>(m.mode) << " " << d;
        EXPECT_NEAR(lowestHigh, fromDb(-14.0), 1e-3) << static_cast<int>(m.mode) << " " << d;
      }
    }
  }
}

// Levels decaying through poles near 1 would settle on a subnormal value for
// good; the chain runs each frame with subnormals flushed, as here. The state
// is inspected outside the flushing scope, where a subnormal shows.
TEST(GainRider, LongSilenceLeavesNoSubnormalState) {
#ifndef VANTLE_HAVE_MXCSR
  GTEST_SKIP() << "no flush-to-zero control on this processor";
#endif
  for (ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    Rider r(mode, 0.6, 8000.0);
    // States a moment before they would turn subnormal: decaying levels in
    // silence, and the silence memories while programme plays.
    const double tiny = 1e-300;
    auto isSubnormal = [](double v) { return std::fpclassify(v) == FP_SUBNORMAL; };
    auto anySubnormal = [&]() {
      const GainRiderState& s = r.s;
      return isSubnormal(s.out.inputPeakHold) || isSubnormal(s.splitLow[0]) ||
             isSubnormal(s.splitLow[1]) || isSubnormal(s.lowEnvelope) ||
             isSubnormal(s.highEnvelope) || isSubnormal(s.heldLevel) ||
             isSubnormal(s.out.silenceHold) || isSubnormal(s.silenceMemory) ||
             isSubnormal(s.out.silenceGate) || isSubnormal(s.out.resumeAmount) ||
             isSubnormal(s.resumeLevel) || isSubnormal(r.outL) || isSubnormal(r.outR);
    };
    r.s.out.inputPeakHold = r.s.lowEnvelope = r.s.highEnvelope = r.s.heldLevel = tiny;
    r.s.splitLow[0] = tiny;
    r.s.splitLow[1] = -tiny;
    bool seen = false;
    for (int n = 0; n < r.frames(30.0) && !seen; ++n) {
      r.run(0.0, 0.0);
      seen = anySubnormal();
    }
    EXPECT_FALSE(seen) << static_cast<int>(mode);
    // The split's memory may come to rest on a tiny normal value, where
    // s x a underflows to 0, and the envelope with it; that costs nothing.
    EXPECT_LT(r.s.lowEnvelope, 1e-300);
    EXPECT_LT(std::fabs(r.s.splitLow[1]), 1e-300);
    EXPECT_EQ(r.s.out.inputPeakHold, 0.0);

    r.s.out.silenceHold = r.s.silenceMemory = r.s.out.resumeAmount = tiny;
    for (int n = 0; n < r.frames(30.0) && !seen; ++n) {
      r.run(0.5, 0.5);
      seen = anySubnormal();
    }
    EXPECT_FALSE(seen) << static_cast<int>(mode);
    EXPECT_EQ(r.s.out.silenceHold, 0.0);
    EXPECT_EQ(r.s.out.resumeAmount, 0.0);
  }
}

}  // namespace
}  // namespace vantle
