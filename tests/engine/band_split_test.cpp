#include "engine/stages/band_split.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "engine/processor.h"

namespace vantle {
namespace {

constexpr double kTwoPi = 6.283185307179586;

BandSplitParams derived(ProcessingMode mode, double fs, double d) {
  BandSplitParams p;
  deriveBandSplit(p, DeriveInputs{mode, fs, d, 0.0, kOutputCeiling}, 0.0);
  return p;
}

struct Split {
  BandSplitParams p;
  BandSplitState s;
  BandSignals bands;
  AnalysisFeeds feeds;
  DeriveInputs in;

  Split(ProcessingMode mode, double fs, double d)
      : p(derived(mode, fs, d)), in{mode, fs, d, 0.0, kOutputCeiling} {
    resetBandSplit(s, p);
  }
  // The low-end shaper's share of the band analysis decides whether the split feeds it.
  void setAnalysisMix(double mix) { deriveBandSplit(p, in, mix); }
  void run(double l, double r) { runBandSplit(p, s, &l, &r, &bands, feeds, 1); }
  double sum(int ch) const {
    const double* b = bands.bandSignal[ch];
    return b[0] + b[1] + b[2] + b[3] + b[4] + b[5];
  }
};

double db(double x) { return std::pow(10.0, x / 20.0); }

TEST(BandSplit, TrimAndLiftsPerMode) {
  const struct {
    ProcessingMode mode;
    double d, trimDb, presenceDb, airDb, amount;
  } cases[] = {
      {ProcessingMode::podcast, 0.0, 0.0, 2.0, 2.0, 0.50},
      {ProcessingMode::podcast, 1.0, 0.0, 2.0, 2.0, 0.72},
      // Stream: Tb = 3.5 up to adapt 50, 3.2 from adapt 78; positive trims count 35 %.
      {ProcessingMode::stream, 0.0, 0.35 * 3.5, 2.3, 3.2, 0.5},
      {ProcessingMode::stream, 0.5, 0.35 * 3.65, 2.3, 3.2, 0.5},
      {ProcessingMode::stream, 1.0, 0.35 * 3.2, 2.3, 3.2, 0.5},
      {ProcessingMode::limiter, 0.0, -0.4, 0.0, 0.0, 0.0},
      {ProcessingMode::limiter, 1.0, -0.8, 0.0, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    const BandSplitParams p = derived(c.mode, 48000, c.d);
    EXPECT_NEAR(p.bandTrim, db(c.trimDb), 1e-14) << static_cast<int>(c.mode) << " " << c.d;
    EXPECT_NEAR(p.presenceLift, db(c.presenceDb), 1e-14);
    EXPECT_NEAR(p.airLift, db(c.airDb), 1e-14);
    EXPECT_NEAR(p.presenceAirAmount, c.amount, 1e-15);
  }
  EXPECT_EQ(derived(ProcessingMode::podcast, 48000, 0.3).bandTrim, 1.0);
}

TEST(BandSplit, LimiterBandsSumToTheTrimmedInput) {
  for (double fs : {8000.0, 44100.0, 48000.0, 768000.0}) {
    for (double d : {0.0, 0.5, 1.0}) {
      Split sp(ProcessingMode::limiter, fs, d);
      std::mt19937 rng(11);
      std::uniform_real_distribution<double> u(-1.0, 1.0);
      double worst = 0.0;
      for (int i = 0; i < 20000; ++i) {
        const double l = u(rng);
        const double r = (i % 500 < 250) ? 0.8 : -0.3 * l;  // noise, and steps
        sp.run(l, r);
        worst = std::fmax(worst, std::fabs(sp.sum(0) - l * sp.p.bandTrim));
        worst = std::fmax(worst, std::fabs(sp.sum(1) - r * sp.p.bandTrim));
      }
      // A few ulps of full scale: each crossover difference rounds once.
      EXPECT_LE(worst, 8 * std::numeric_limits<double>::epsilon()) << fs << " " << d;
    }
  }
}

TEST(BandSplit, DcEndsInBandZero) {
  for (ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    for (double fs : {8000.0, 48000.0, 768000.0}) {
      Split sp(mode, fs, 0.7);
      for (int i = 0; i < static_cast<int>(fs); ++i) sp.run(0.5, -0.25);
      EXPECT_NEAR(sp.bands.bandSignal[0][0], 0.5 * sp.p.bandTrim, 1e-12) << fs;
      EXPECT_NEAR(sp.bands.bandSignal[1][0], -0.25 * sp.p.bandTrim, 1e-12) << fs;
      for (int k = 1; k < kBands; ++k) {
        EXPECT_NEAR(sp.bands.bandSignal[0][k], 0.0, 1e-12) << k;
        EXPECT_NEAR(sp.bands.bandSignal[1][k], 0.0, 1e-12) << k;
      }
    }
  }
}

// The presence gain scales bands 3 and 4 and the air gain band 5, each with
// its fixed lift; bands 0 to 2 are the plain crossover outputs.
TEST(BandSplit, PresenceAndAirGainsActOnTheirBands) {
  Split ctrl(ProcessingMode::podcast, 48000, 0.5);
  Split plain(ProcessingMode::podcast, 48000, 0.5);
  plain.p.presenceAirAmount = 0.0;
  plain.p.presenceLift = 1.0;
  plain.p.airLift = 1.0;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  int checked = 0;
  for (int i = 0; i < 96000; ++i) {
    // Bright programme: a strong 2 kHz tone and some noise.
    const double l = 0.6 * std::sin(kTwoPi * 2000.0 * i / 48000.0) + 0.1 * u(rng);
    const double r = 0.1 * u(rng);
    ctrl.run(l, r);
    plain.run(l, r);
    const double pg = ctrl.s.presenceGain * ctrl.p.presenceLift;
    const double ag = ctrl.s.airGain * ctrl.p.airLift;
    for (int ch = 0; ch < kChannels; ++ch) {
      const double* a = ctrl.bands.bandSignal[ch];
      const double* b = plain.bands.bandSignal[ch];
      ASSERT_EQ(a[0], b[0]);
      ASSERT_EQ(a[1], b[1]);
      ASSERT_EQ(a[2], b[2]);
      ASSERT_EQ(a[3], b[3] * pg);
      ASSERT_EQ(a[4], b[4] * pg);
      ASSERT_EQ(a[5], b[5] * ag);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 2 * 96000);
  EXPECT_EQ(plain.s.presenceGain, 1.0);
  EXPECT_EQ(plain.s.airGain, 1.0);
  // The strong presence region pulled the presence gain down.
  EXPECT_LT(ctrl.s.presenceGain, 0.99);
}

// One frame of silence from hand-set envelopes: the reference envelopes
// release with the same pole as the band envelopes, so the shares stay where
// they were set and each gain takes one step from 1 towards its target.
TEST(BandSplit, PresenceAndAirTargets) {
  const double fs = 48000.0;
  for (double d : {0.0, 1.0}) {
    const double a = (50.0 + 22.0 * d) / 100.0;
    const struct {
      double pr, ar, presenceDb, airDb;
    } cases[] = {
        // Presence crowded: full cut; air thin: full boost, 55 % of it taken back.
        {0.9, 0.001, -3.8 * a, 3.6 * a * 0.45},
        {0.78, 0.006, -3.8 * a, 3.6 * a * (1.0 - 0.55 * (0.78 - 0.46) / 0.34)},
        {0.1, 0.001, 1.8 * a * (0.07 / 0.11), 3.6 * a},
        {0.06, 0.02, 1.8 * a, 3.6 * a * (0.01 / 0.024)},
        {0.3, 0.3, 0.0, -1.1 * a * (0.155 / 0.235)},
        {0.17, 0.03, 0.0, 0.0},
        {0.4, 0.145, 0.0, 0.0},
        // An air cut is never taken back.
        {0.63, 0.5, -3.8 * a * (0.23 / 0.38), -1.1 * a},
    };
    for (const auto& c : cases) {
      Split sp(ProcessingMode::podcast, fs, d);
      sp.s.presenceEnv = c.pr;
      sp.s.presenceRefEnv = 1.0;
      sp.s.airEnv = c.ar;
      sp.s.airRefEnv = 1.0;
      sp.run(0.0, 0.0);
      const double rise = std::exp(-1.0 / (1.05 * fs));
      const double fall = std::exp(-1.0 / (0.3 * fs));
      const double pt = db(c.presenceDb);
      const double at = db(c.airDb);
      EXPECT_NEAR(sp.s.presenceGain, pt + (1.0 - pt) * (pt < 1.0 ? fall : rise), 1e-12)
          << c.pr << " " << c.ar;
      EXPECT_NEAR(sp.s.airGain, at + (1.0 - at) * (at < 1.0 ? fall : rise), 1e-12)
          << c.pr << " " << c.ar;
    }
  }
}

TEST(BandSplit, ControlOffHoldsUnityGains) {
  Split sp(ProcessingMode::limiter, 48000, 0.5);
  sp.s.presenceGain = 0.5;
  sp.s.airGain = 2.0;
  sp.run(0.3, 0.3);
  EXPECT_EQ(sp.s.presenceGain, 1.0);
  EXPECT_EQ(sp.s.airGain, 1.0);
}

TEST(BandSplit, BandBalanceFeedOnlyWhileTheAnalysisRuns) {
  Split sp(ProcessingMode::stream, 48000, 0.5);
  sp.feeds.band0PowerSum = 0.5;  // an earlier frame's contribution
  sp.setAnalysisMix(1e-7);       // at the bound the analysis is off
  for (int i = 0; i < 50; ++i) sp.run(0.4, -0.2);
  EXPECT_EQ(sp.feeds.band0PowerSum, 0.5);
  EXPECT_EQ(sp.feeds.band1PowerSum, 0.0);
  EXPECT_EQ(sp.feeds.bandBalanceFrames, 0u);
  EXPECT_EQ(sp.feeds.lowContentFrames, 0u);

  sp.setAnalysisMix(0.3);
  double sum0 = 0.5;
  double sum1 = 0.0;
  for (int i = 0; i < 50; ++i) {
    sp.run(0.4 * std::sin(i * 0.05), -0.2);
    const double l0 = sp.bands.bandSignal[0][0];
    const double r0 = sp.bands.bandSignal[1][0];
    const double l1 = sp.bands.bandSignal[0][1];
    const double r1 = sp.bands.bandSignal[1][1];
    sum0 += 0.5 * (l0 * l0 + r0 * r0);
    sum1 += 0.5 * (l1 * l1 + r1 * r1);
  }
  EXPECT_EQ(sp.feeds.band0PowerSum, sum0);
  EXPECT_EQ(sp.feeds.band1PowerSum, sum1);
  EXPECT_GT(sum1, 0.0);
  EXPECT_EQ(sp.feeds.bandBalanceFrames, 50u);
  EXPECT_EQ(sp.feeds.lowContentSum, 0.0);
}

TEST(BandSplit, NoBandBalanceFeedWhileTheAnalysisIsOff) {
  const struct {
    ProcessingMode mode;
    double adapt;
  } cases[] = {
      {ProcessingMode::podcast, 100}, {ProcessingMode::limiter, 100}, {ProcessingMode::stream, 18}};
  for (const auto& c : cases) {
    auto proc = std::make_unique<Processor>();
    proc->setSampleRate(48000);
    proc->applySettings({c.mode, 0.0, c.adapt});
    for (int i = 0; i < 4800; ++i) {
      const float x = static_cast<float>(0.5 * std::sin(kTwoPi * 100.0 * i / 48000.0));
      proc->processFrame(x, x);
    }
    EXPECT_NE(proc->block.bands[0].bandSignal[0][0], 0.0);
    EXPECT_EQ(proc->analysisFeeds.band0PowerSum, 0.0);
    EXPECT_EQ(proc->analysisFeeds.band1PowerSum, 0.0);
    EXPECT_EQ(proc->analysisFeeds.bandBalanceFrames, 0u);
  }
}

TEST(BandSplit, ResetReturnsToRest) {
  Split sp(ProcessingMode::stream, 48000, 0.4);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int i = 0; i < 48000; ++i) sp.run(u(rng), u(rng));
  ASSERT_NE(sp.s.presenceGain, 1.0);
  resetBandSplit(sp.s, sp.p);
  EXPECT_EQ(sp.s.presenceGain, 1.0);
  EXPECT_EQ(sp.s.airGain, 1.0);
  for (int i = 0; i < 100; ++i) {
    sp.run(0.0, 0.0);
    for (int ch = 0; ch < kChannels; ++ch) {
      for (int k = 0; k < kBands; ++k) ASSERT_EQ(sp.bands.bandSignal[ch][k], 0.0);
    }
  }
}

}  // namespace
}  // namespace vantle
