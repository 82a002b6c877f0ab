#include "engine/stages/lookahead_limiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/dsp/denormals.h"
#include "engine/processor.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

struct Limiter {
  LookaheadLimiterParams p;
  LookaheadLimiterState s;
  double outL = 0, outR = 0;

  explicit Limiter(double fs, ProcessingMode mode = ProcessingMode::limiter, double d = 0.0) {
    deriveLookaheadLimiter(p, DeriveInputs{mode, fs, d, 0.0, kOutputCeiling});
    resetLookaheadLimiter(s, p);
  }
  // Frames run as in the chain: with subnormal results flushed to zero.
  void run(double rawL, double rawR, double inL, double inR) {
    const FlushDenormalsScope flush;
    outL = inL;
    outR = inR;
    runLookaheadLimiter(p, s, &rawL, &rawR, &outL, &outR, 1);
  }
};

// Distinct, audible values for every frame.
double programme(int n) { return 0.3 + 0.2 * std::sin(0.05 * n) + 1e-6 * (n % 7); }

TEST(LookaheadLimiter, BypassedOutsideLimiterMode) {
  for (ProcessingMode mode : {ProcessingMode::podcast, ProcessingMode::stream}) {
    Limiter lim(48000.0, mode, 1.0);
    EXPECT_EQ(lim.p.lookaheadLength, 0);
    lim.s.limiterGain = 0.5;
    lim.s.primingActive = 0;
    lim.s.primingCount = 77;
    for (int n = 0; n < 1000; ++n) {
      const double x = 3.0 * programme(n);
      lim.run(0.01 * x, 0.0, x, -x);
      ASSERT_EQ(lim.outL, x);
      ASSERT_EQ(lim.outR, -x);
      ASSERT_EQ(lim.s.limiterGain, 1.0);
    }
    EXPECT_EQ(lim.s.primingActive, 1);
    EXPECT_EQ(lim.s.primingCount, 0);
  }
}

// After a quiet start that disarms priming, the output is the input delayed by
// exactly the look-ahead; with the processed pair equal to the raw one the
// gain never moves from 1.
TEST(LookaheadLimiter, DelaysByTenMillisecondsCappedAt4095) {
  const struct {
    double fs;
    int length;
    int primingLimit;
  } cases[] = {{8000, 80, 2800},       {44100, 441, 15435},   {48000, 480, 16800},
               {96000, 960, 33600},    {192000, 1920, 67200}, {384000, 3840, 134400},
               {409500, 4095, 143325}, {768000, 4095, 268800}};
  for (const auto& c : cases) {
    Limiter lim(c.fs);
    EXPECT_EQ(lim.p.lookaheadLength, c.length) << c.fs;
    EXPECT_EQ(lim.p.primingLimit, c.primingLimit) << c.fs;
    for (int n = 0; n < c.primingLimit; ++n) lim.run(0.0, 0.0, 0.0, 0.0);
    ASSERT_EQ(lim.s.primingActive, 0);
    std::vector<double> in;
    for (int n = 0; n < c.length + 3000; ++n) {
      const double x = programme(n);
      in.push_back(x);
      lim.run(x, 0.5 * x, x, 0.5 * x);
      const double expected = n >= c.length ? in[static_cast<size_t>(n - c.length)] : 0.0;
      ASSERT_EQ(lim.outL, expected) << c.fs << " " << n;
      ASSERT_EQ(lim.outR, 0.5 * expected);
      ASSERT_EQ(lim.s.limiterGain, 1.0);
    }
  }
}

TEST(LookaheadLimiter, FirstAudibleFrameAfterResetPrimesTheDelayLine) {
  Limiter lim(48000.0);
  const int onset = 1000;
  for (int n = 0; n < onset; ++n) {
    lim.run(0.0, 0.0, 0.0, 0.0);
    ASSERT_EQ(lim.outL, 0.0);
  }
  for (int n = onset; n < onset + 2000; ++n) {
    const double x = programme(n);
    lim.run(x, -x, x, -x);
    // 481 copies of the onset frame: 480 from the filled ring, then its own.
    const int source = n <= onset + 480 ? onset : n - 480;
    ASSERT_EQ(lim.outL, programme(source)) << n;
    ASSERT_EQ(lim.outR, -programme(source)) << n;
  }
  EXPECT_EQ(lim.s.primingActive, 0);
  EXPECT_EQ(lim.s.limiterGain, 1.0);
}

TEST(LookaheadLimiter, PrimingOnlyWithinThePrimingWindow) {
  // Quiet but not silent input below -70 dBFS, so the ring holds something.
  auto quiet = [](int n) { return 1e-4 * std::sin(0.3 * n); };
  for (int quietFrames : {16799, 16800, 30000}) {
    Limiter lim(48000.0);
    ASSERT_EQ(lim.p.primingLimit, 16800);
    for (int n = 0; n < quietFrames; ++n) lim.run(quiet(n), 0.0, quiet(n), 0.0);
    const bool primed = quietFrames < 16800;
    for (int n = quietFrames; n < quietFrames + 600; ++n) {
      const double x = programme(n);
      lim.run(x, x, x, x);
      double expected;
      if (primed && n <= quietFrames + 480) {
        expected = programme(quietFrames);
      } else if (n - 480 < quietFrames) {
        expected = quiet(n - 480);  // what the ring held
      } else {
        expected = programme(n - 480);
      }
      ASSERT_EQ(lim.outL, expected) << quietFrames << " " << n;
    }
  }
}

// Constant-magnitude input (a square wave) lets every envelope settle, so the
// gain settles on its target: 1 - (1 - ceiling gain) x excess.
TEST(LookaheadLimiter, ReductionOnlyForWhatTheChainAddedAboveTheCeiling) {
  const double ceiling = fromDb(-6.2);
  const double floor = fromDb(-3.6);
  const struct {
    double raw;      // raw magnitude
    double addedDb;  // processed above raw
    double target;
  } cases[] = {
      {0.5, 0.0, 1.0},
      {4.0, 2.99, 1.0},  // however loud: no more than 3 dB added, no reduction
      {2.0, -6.0, 1.0},
      {0.1, 12.0, 1.0},  // processed 0.4: below the ceiling
      {0.5, 12.0, floor},
      {0.5, 30.0, floor},
      {0.2, 10.0, 1.0 - (1.0 - ceiling / (0.2 * fromDb(10.0))) * (7.0 / 9.0)},
      {0.5, 7.5, 1.0 - (1.0 - floor) * 0.5},
  };
  for (const auto& c : cases) {
    Limiter lim(48000.0);
    const double processed = c.raw * fromDb(c.addedDb);
    double lowest = 1.0;
    std::vector<double> in;
    for (int n = 0; n < 96000; ++n) {
      const double sign = (n / 40) % 2 == 0 ? 1.0 : -1.0;
      in.push_back(sign * processed);
      lim.run(sign * c.raw, -sign * c.raw, sign * processed, -sign * processed);
      if (n >= 480) {
        ASSERT_EQ(lim.outL, in[static_cast<size_t>(n - 480)] * lim.s.limiterGain);
      }
      lowest = std::fmin(lowest, lim.s.limiterGain);
      if (c.target == 1.0) {
        ASSERT_EQ(lim.s.limiterGain, 1.0) << c.raw << " " << c.addedDb;
      }
    }
    EXPECT_NEAR(lim.s.limiterGain, c.target, 1e-9) << c.raw << " " << c.addedDb;
    EXPECT_GE(lowest, floor * (1.0 - 1e-15));
  }
}

TEST(LookaheadLimiter, GainNeverBelowTheFloorOnBurstyProgramme) {
  Limiter lim(44100.0);
  for (int n = 0; n < 200000; ++n) {
    const double raw = 0.05 * std::sin(0.031 * n);
    const double burst = (n / 5000) % 3 == 0 ? 40.0 : 1.0;
    lim.run(raw, raw, raw * burst, raw * 0.5);
    ASSERT_GE(lim.s.limiterGain, fromDb(-3.6) * (1.0 - 1e-15)) << n;
    ASSERT_LE(lim.s.limiterGain, 1.0);
  }
}

TEST(LookaheadLimiter, ProcessorFeedsTheRawPairAndKeepsStateAcrossDerivations) {
  auto p = std::make_unique<Processor>();
  p->setSampleRate(48000);
  p->applySettings({ProcessingMode::limiter, 6.0, 0.0});
  for (int n = 0; n < 100; ++n) p->processFrame(0.5f, -0.25f);
  // The raw detector sees the input before the 6 dB of input gain.
  EXPECT_EQ(p->state.lookahead.rawLevel, 0.5);
  EXPECT_NEAR(p->state.lookahead.processedLevel, 0.5 * fromDb(6.0), 1e-12);
  EXPECT_EQ(p->state.lookahead.primingActive, 0);
  const int position = p->state.lookahead.lookaheadPosition;
  p->applySettings({ProcessingMode::limiter, 3.0, 80.0});
  EXPECT_EQ(p->state.lookahead.lookaheadPosition, position);
  EXPECT_EQ(p->state.lookahead.rawLevel, 0.5);
  EXPECT_NE(p->state.lookahead.lookaheadLeft[position - 1], 0.0);
  // Leaving limiter mode resets; the stage is then bypassed.
  p->applySettings({ProcessingMode::podcast, 3.0, 80.0});
  EXPECT_EQ(p->params.lookahead.lookaheadLength, 0);
  EXPECT_EQ(p->state.lookahead.lookaheadLeft[position - 1], 0.0);
  EXPECT_EQ(p->state.lookahead.primingActive, 1);
}

// The envelopes decay through poles near 1; with subnormals flushed while the
// chain runs, as here, they reach 0 instead of settling on a subnormal value.
TEST(LookaheadLimiter, LongSilenceLeavesNoSubnormalState) {
#ifndef VANTLE_HAVE_MXCSR
  GTEST_SKIP() << "no flush-to-zero control on this processor";
#endif
  Limiter lim(8000.0);
  lim.s.rawLevel = lim.s.processedLevel = lim.s.ceilingLevel = 1e-300;
  lim.s.primingActive = 0;
  bool seen = false;
  for (int n = 0; n < 80000 && !seen; ++n) {
    lim.run(0.0, 0.0, 0.0, 0.0);
    seen = std::fpclassify(lim.s.rawLevel) == FP_SUBNORMAL ||
           std::fpclassify(lim.s.processedLevel) == FP_SUBNORMAL ||
           std::fpclassify(lim.s.ceilingLevel) == FP_SUBNORMAL;
  }
  EXPECT_FALSE(seen);
  EXPECT_EQ(lim.s.ceilingLevel, 0.0);
}

}  // namespace
}  // namespace vantle
