#include "engine/stages/band_limiters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "engine/bands.h"
#include "engine/processor.h"
#include "engine/settings.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

// One frame through the stage; its output stays readable in s.out.
void runFrame(const BandLimitersParams& p, BandLimitersState& s, BandSignals& b) {
  BandLimitersOutput out;
  runBandLimiters(p, s, &b, &out, 1);
}

TEST(StreamBandDynamics, SwitchOnOnlyInStreamModeAboveAdapt50) {
  const struct {
    ProcessingMode mode;
    double adapt;
    bool on;
  } cases[] = {{ProcessingMode::stream, 0, false},    {ProcessingMode::stream, 50, false},
               {ProcessingMode::stream, 50.01, true}, {ProcessingMode::stream, 51, true},
               {ProcessingMode::stream, 100, true},   {ProcessingMode::podcast, 100, false},
               {ProcessingMode::limiter, 100, false}, {ProcessingMode::limiter, 51, false}};
  for (const auto& c : cases) {
    auto p = std::make_unique<Processor>();
    p->setSampleRate(44100);
    p->applySettings({c.mode, 0.0, c.adapt});
    EXPECT_EQ(p->params.bandLimiters.streamBandDynamics, c.on)
        << static_cast<int>(c.mode) << " adapt " << c.adapt;
  }
}

TEST(StreamBandDynamics, DerivedThresholdsAtFullAdapt) {
  // H = V = 1: bands 0..2 meet at -12.5 dB; band 3 moves 0.34 of the way from
  // -16.75 towards -12.5; bands 4 and 5 rise by 1.845 dB.
  const double expected[kBands] = {-12.5, -12.5, -12.5, -15.305, -16.905, -18.405};
  BandLimitersParams p;
  deriveBandLimiters(p, inputs(ProcessingMode::stream, 100, 48000));
  EXPECT_EQ(p.makeupAmount, 1.0);
  for (int k = 0; k < kBands; ++k) {
    EXPECT_NEAR(p.bandLimitThresholdDb[k], expected[k], 1e-12) << k;
    EXPECT_LT(p.bandLimitGateLevel[k], fromDb(expected[k]));
    EXPECT_NEAR(p.bandLimitGateLevel[k], fromDb(expected[k]), 1e-11);
  }
}

// Bands 0..2 of the split at `peak`, their gained copies 26 dB lower.
void feedReduced(BandSignals& b, double peak, int n) {
  const double sign = (n & 1) ? 1.0 : -1.0;
  for (int k = 0; k < kBands; ++k) {
    b.bandSignal[0][k] = sign * peak;
    b.bandSignal[1][k] = -0.3 * sign * peak;
    b.gainedBand[0][k] = 0.05 * b.bandSignal[0][k];
    b.gainedBand[1][k] = 0.05 * b.bandSignal[1][k];
  }
}

TEST(StreamBandDynamics, MakeupMovesEvery16thFrameUpToItsCaps) {
  const double caps[kMakeupBands] = {2.3, 2.45, 0.65};
  for (double adapt : {64.0, 100.0}) {
    const double fs = 48000;
    const double h = smooth((adapt / 100 - 0.5) / 0.3);
    BandLimitersParams p;
    deriveBandLimiters(p, inputs(ProcessingMode::stream, adapt, fs));
    BandLimitersState s;
    resetBandLimiters(s, p);
    BandSignals b;
    double previous[kMakeupBands] = {1.0, 1.0, 1.0};
    const int frames = static_cast<int>(fs);  // one second
    for (int n = 1; n <= frames; ++n) {
      feedReduced(b, 0.01, n);
      runFrame(p, s, b);
      ASSERT_EQ(s.out.makeupUpdate, n % 16 == 0) << n;
      for (int k = 0; k < kMakeupBands; ++k) {
        if (n % 16 != 0) {
          ASSERT_EQ(s.bandMakeupGain[k], previous[k]) << n;
        } else {
          ASSERT_GT(s.bandMakeupGain[k], previous[k]) << n;
        }
        ASSERT_LE(s.makeupDb[k], h * caps[k]);
        ASSERT_LE(s.bandMakeupGain[k], fromDb(caps[k]));
        // The make-up reaches the gained band of this very frame.
        ASSERT_EQ(b.gainedBand[0][k], 0.05 * b.bandSignal[0][k] * s.bandMakeupGain[k]);
        previous[k] = s.bandMakeupGain[k];
      }
    }
    // 26 dB of reduction is far beyond every cap: after one second each band's
    // make-up has covered 1 - exp(-1 / 0.32) of the way to its capped target.
    for (int k = 0; k < kMakeupBands; ++k)
      EXPECT_NEAR(s.makeupDb[k], h * caps[k] * (1 - std::exp(-1 / 0.32)), 1e-9) << k;
  }
}

TEST(StreamBandDynamics, NoReductionMeansNoMakeup) {
  BandLimitersParams p;
  deriveBandLimiters(p, inputs(ProcessingMode::stream, 100, 48000));
  BandLimitersState s;
  resetBandLimiters(s, p);
  BandSignals b;
  for (int n = 0; n < 4800; ++n) {
    for (int c = 0; c < kChannels; ++c)
      for (int k = 0; k < kBands; ++k) b.gainedBand[c][k] = b.bandSignal[c][k] = 0.01 * (c + 1);
    runFrame(p, s, b);
  }
  for (int k = 0; k < kMakeupBands; ++k) {
    EXPECT_EQ(s.makeupDb[k], 0.0);
    EXPECT_EQ(s.bandMakeupGain[k], 1.0);
  }
}

TEST(StreamBandDynamics, BandFarOverItsThresholdSitsAtTheGainFloor) {
  for (double fs : {44100.0, 48000.0, 96000.0}) {
    for (int k : {0, 3, 5}) {
      BandLimitersParams p;
      deriveBandLimiters(p, inputs(ProcessingMode::stream, 80, fs));
      BandLimitersState s;
      resetBandLimiters(s, p);
      BandSignals b;
      const double lvl = fromDb(p.bandLimitThresholdDb[k] + 24.0);
      // The 4 ms attack: red(n) = 24 (1 - exp(-n / (0.004 fs))); the floor
      // holds once red passes 18.5 dB.
      const int floorFrame =
          static_cast<int>(std::ceil(-std::log(1 - 18.5 / 24.0) * 0.004 * fs + 1e-9));
      for (int n = 1; n <= static_cast<int>(0.03 * fs); ++n) {
        b.bandSignal[0][k] = (n & 1) ? lvl : -lvl;
        b.bandSignal[1][k] = 0.5 * b.bandSignal[0][k];
        runFrame(p, s, b);
        const double red = 24.0 * (1 - std::exp(-n / (0.004 * fs)));
        ASSERT_NEAR(s.bandReductionDb[k], red, 1e-9) << fs << " band " << k << " frame " << n;
        if (n >= floorFrame + 1) {
          ASSERT_EQ(s.bandLimitGain[k], 0.12) << n;
          ASSERT_EQ(b.limitedBand[0][k], 0.12 * b.bandSignal[0][k]);
          ASSERT_EQ(b.limitedBand[1][k], 0.12 * b.bandSignal[1][k]);
        } else if (n < floorFrame - 1) {
          // Linear of -red, which reaches 0.12 already at about 18.42 dB.
          ASSERT_NEAR(s.bandLimitGain[k], std::fmax(0.12, fromDb(-red)), 1e-9) << n;
        }
      }
      // The other bands never moved.
      for (int j = 0; j < kBands; ++j)
        if (j != k) {
          EXPECT_EQ(s.bandLimitGain[j], 1.0);
        }
    }
  }
}

TEST(StreamBandDynamics, ReleaseLengthensWithTheDepthOfReduction) {
  // Starting reduction (dB) and the release time constant it must use (s).
  const struct {
    double red, tau;
  } cases[] = {{30, 0.06},   {18.5, 0.06}, {18, 0.06},   {9, 0.03},   {3, 0.01},
               {1.5, 0.005}, {1.2, 0.004}, {1.1, 0.004}, {0.3, 0.004}};
  for (double fs : {8000.0, 44100.0, 192000.0}) {
    BandLimitersParams p;
    deriveBandLimiters(p, inputs(ProcessingMode::stream, 75, fs));
    for (const auto& c : cases) {
      BandLimitersState s;
      resetBandLimiters(s, p);
      s.bandReductionDb[2] = c.red;
      BandSignals b;  // silence: nothing over the threshold, the reduction releases
      runFrame(p, s, b);
      EXPECT_NEAR(s.bandReductionDb[2] / c.red, std::exp(-1 / (c.tau * fs)), 1e-13)
          << fs << " red " << c.red;
    }
  }
}

TEST(StreamBandDynamics, ReleasedReductionComesToRest) {
  BandLimitersParams p;
  deriveBandLimiters(p, inputs(ProcessingMode::stream, 90, 48000));
  BandLimitersState s;
  resetBandLimiters(s, p);
  s.bandReductionDb[4] = 1.00001e-5;
  BandSignals b;
  runFrame(p, s, b);
  // Stored as rest, but this frame still applies the reduction it computed.
  EXPECT_EQ(s.bandReductionDb[4], 0.0);
  EXPECT_LT(s.bandLimitGain[4], 1.0);
  EXPECT_GT(s.bandLimitGain[4], 1.0 - 2e-6);
  runFrame(p, s, b);
  EXPECT_EQ(s.bandLimitGain[4], 1.0);
}

TEST(StreamBandDynamics, BandsBelowTheirThresholdStayAtUnity) {
  BandLimitersParams p;
  deriveBandLimiters(p, inputs(ProcessingMode::stream, 100, 48000));
  BandLimitersState s;
  resetBandLimiters(s, p);
  BandSignals b;
  for (int n = 0; n < 4800; ++n) {
    for (int k = 0; k < kBands; ++k) {
      const double x = p.bandLimitGateLevel[k] * (n % 7 == 0 ? 0.99999 : 0.5);
      b.bandSignal[0][k] = x;
      b.bandSignal[1][k] = -x;
    }
    runFrame(p, s, b);
    for (int k = 0; k < kBands; ++k) {
      ASSERT_EQ(s.bandLimitGain[k], 1.0);
      ASSERT_EQ(s.bandReductionDb[k], 0.0);
      ASSERT_EQ(b.limitedBand[0][k], b.bandSignal[0][k]);
    }
  }
}

TEST(StreamBandDynamics, OffMeansNothingRuns) {
  BandLimitersParams p;
  deriveBandLimiters(p, inputs(ProcessingMode::stream, 50, 48000));
  BandLimitersState s;
  resetBandLimiters(s, p);
  BandSignals b;
  for (int n = 0; n < 64; ++n) {
    feedReduced(b, 2.0, n);
    const BandSignals before = b;
    runFrame(p, s, b);
    for (int c = 0; c < kChannels; ++c)
      for (int k = 0; k < kBands; ++k) ASSERT_EQ(b.gainedBand[c][k], before.gainedBand[c][k]);
  }
  EXPECT_EQ(s.frameCounter, 0);
  for (int k = 0; k < kMakeupBands; ++k) EXPECT_EQ(s.bandMakeupGain[k], 1.0);
  for (int k = 0; k < kBands; ++k) EXPECT_EQ(s.bandReductionDb[k], 0.0);
}

}  // namespace
}  // namespace vantle
