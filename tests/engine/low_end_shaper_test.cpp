#include "engine/stages/low_end_shaper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <random>

#include "engine/processor.h"

namespace vantle {
namespace {

constexpr double kTwoPi = 6.283185307179586;

struct Shaper {
  LowEndShaperParams p;
  LowEndShaperState s;
  BandAnalysisParams ap;
  BandAnalysisState as;
  AnalysisFeeds feeds;

  Shaper(ProcessingMode mode, double fs, double d) {
    deriveLowEndShaper(p, s, DeriveInputs{mode, fs, d, 0.0, kOutputCeiling});
    resetLowEndShaper(s, p);
    deriveBandAnalysis(ap, as, DeriveInputs{mode, fs, d, 0.0, kOutputCeiling}, p.levellerAmount,
                       p.bandAnalysisMix);
    resetBandAnalysis(as, ap);
  }
  // The shaper and the band analysis blend after it, as the chain runs them.
  void run(double& l, double& r) {
    LowEndTaps taps;
    const InputFeed none;
    runLowEndShaper(p, s, &l, &r, &taps, 1);
    runBandAnalysis(ap, as, feeds, &none, 0.0, &taps, &l, &r, 1);
  }
};

// Sentinel sums: the band analysis reads and clears them whenever it runs, so
// they survive only if it was never called.
void markFeeds(AnalysisFeeds& f) {
  f.lowContentSum = 1.25;
  f.inputPowerSum = 2.5;
  f.lowContentFrames = 7;
  f.band0PowerSum = 3.75;
  f.band1PowerSum = 5.0;
  f.bandBalanceFrames = 9;
}

void expectFeedsMarked(const AnalysisFeeds& f) {
  EXPECT_EQ(f.lowContentSum, 1.25);
  EXPECT_EQ(f.inputPowerSum, 2.5);
  EXPECT_EQ(f.lowContentFrames, 7u);
  EXPECT_EQ(f.band0PowerSum, 3.75);
  EXPECT_EQ(f.band1PowerSum, 5.0);
  EXPECT_EQ(f.bandBalanceFrames, 9u);
}

// Magnitude of a section's response at hz, evaluated on the unit circle.
double magnitudeAt(const BiquadCoefficients& c, double hz, double fs) {
  const std::complex<double> z1 = std::polar(1.0, -kTwoPi * hz / fs);
  const std::complex<double> z2 = z1 * z1;
  return std::abs((c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2));
}

TEST(LowEndShaper, LimiterModePassesThePairUnchanged) {
  for (double fs : {8000.0, 44100.0, 48000.0, 192000.0, 768000.0}) {
    for (double d : {0.0, 0.5, 1.0}) {
      Shaper sh(ProcessingMode::limiter, fs, d);
      markFeeds(sh.feeds);
      std::mt19937 rng(7);
      std::uniform_real_distribution<double> u(-1.0, 1.0);
      double worst = 0.0;
      for (int i = 0; i < 20000; ++i) {
        const double xl = u(rng);
        const double xr = u(rng);
        double l = xl;
        double r = xr;
        sh.run(l, r);
        worst = std::fmax(worst, std::fmax(std::fabs(l - xl), std::fabs(r - xr)));
      }
      // The 0 dB bump is flat; what remains is the rounding of its products,
      // raised by its recursion (more so at high rates, where its poles sit
      // closer to 1): about 1e-14 at 44.1 kHz, 2e-11 at 768 kHz.
      EXPECT_LE(worst, 1e-10) << fs << " " << d;
      EXPECT_EQ(sh.s.levellerGain, 1.0);
      EXPECT_EQ(sh.s.levellerBassEnv, 0.0);
      EXPECT_EQ(sh.s.levellerRefEnv, 0.0);
      expectFeedsMarked(sh.feeds);
    }
  }
}

TEST(LowEndShaper, BumpPeaksAt65HzWithTheModesGain) {
  const struct {
    ProcessingMode mode;
    double db;
  } cases[] = {{ProcessingMode::podcast, 2.0},
               {ProcessingMode::stream, 3.6},
               {ProcessingMode::limiter, 0.0}};
  for (const auto& c : cases) {
    for (double fs : {8000.0, 48000.0, 768000.0}) {
      Shaper sh(c.mode, fs, 0.3);
      const double want = std::pow(10.0, c.db / 20.0);
      EXPECT_NEAR(magnitudeAt(sh.s.lowBumpLeft.c, 65.0, fs), want, 1e-9) << fs;
      EXPECT_NEAR(magnitudeAt(sh.s.lowBumpRight.c, 65.0, fs), want, 1e-9) << fs;
      // Far from the peak the response is flat again.
      EXPECT_NEAR(magnitudeAt(sh.s.lowBumpLeft.c, 2000.0, fs), 1.0, 0.01) << fs;
    }
  }
}

TEST(LowEndShaper, AnalysisMixFollowsTheModeAndAdapt) {
  for (double adapt : {0.0, 18.0, 50.0, 100.0}) {
    const double d = adapt / 100.0;
    EXPECT_EQ(Shaper(ProcessingMode::podcast, 48000, d).p.bandAnalysisMix, 0.0);
    EXPECT_EQ(Shaper(ProcessingMode::limiter, 48000, d).p.bandAnalysisMix, 0.0);
  }
  EXPECT_EQ(Shaper(ProcessingMode::stream, 48000, 0.18).p.bandAnalysisMix, 0.0);
  EXPECT_GT(Shaper(ProcessingMode::stream, 48000, 0.19).p.bandAnalysisMix, 1e-7);
  EXPECT_NEAR(Shaper(ProcessingMode::stream, 48000, 0.5).p.bandAnalysisMix, 0.5, 1e-15);
  EXPECT_EQ(Shaper(ProcessingMode::stream, 48000, 1.0).p.bandAnalysisMix, 1.0);
  // Leveller amounts: podcast 12 % to 22 %, stream 65 %, limiter off.
  EXPECT_NEAR(Shaper(ProcessingMode::podcast, 48000, 0.0).p.levellerAmount, 0.12, 1e-15);
  EXPECT_NEAR(Shaper(ProcessingMode::podcast, 48000, 1.0).p.levellerAmount, 0.22, 1e-15);
  EXPECT_NEAR(Shaper(ProcessingMode::stream, 48000, 0.4).p.levellerAmount, 0.65, 1e-15);
  EXPECT_EQ(Shaper(ProcessingMode::limiter, 48000, 1.0).p.levellerAmount, 0.0);
}

TEST(LowEndShaper, PodcastNeverCallsTheAnalysis) {
  for (double d : {0.0, 0.5, 1.0}) {
    Shaper sh(ProcessingMode::podcast, 48000, d);
    markFeeds(sh.feeds);
    for (int i = 0; i < 4800; ++i) {
      double l = 0.5 * std::sin(kTwoPi * 60.0 * i / 48000.0);
      double r = -l;
      sh.run(l, r);
    }
    expectFeedsMarked(sh.feeds);
    EXPECT_NE(sh.s.levellerBassEnv, 0.0);  // the leveller itself ran
  }
  // Stream up to adapt 18 as well.
  Shaper sh(ProcessingMode::stream, 48000, 0.18);
  markFeeds(sh.feeds);
  for (int i = 0; i < 100; ++i) {
    double l = 0.1;
    double r = 0.1;
    sh.run(l, r);
  }
  expectFeedsMarked(sh.feeds);
}

TEST(LowEndShaper, FullAnalysisMixFreezesTheLeveller) {
  Shaper sh(ProcessingMode::stream, 48000, 1.0);
  sh.s.levellerBassEnv = 0.25;
  sh.s.levellerRefEnv = 0.5;
  sh.s.levellerGain = 1.5;
  sh.s.levellerLowL1 = 0.125;
  for (int i = 0; i < 4800; ++i) {
    double l = 0.5 * std::sin(kTwoPi * 60.0 * i / 48000.0);
    double r = l;
    sh.run(l, r);
  }
  EXPECT_EQ(sh.s.levellerBassEnv, 0.25);
  EXPECT_EQ(sh.s.levellerRefEnv, 0.5);
  EXPECT_EQ(sh.s.levellerGain, 1.5);
  EXPECT_EQ(sh.s.levellerLowL1, 0.125);
  EXPECT_EQ(sh.s.levellerLowR2, 0.0);
}

// One frame of silence from hand-set envelopes: both envelopes release with
// the same pole, so the bass share stays where it was set, and the gain takes
// one step from 1 towards the target of that share.
TEST(LowEndShaper, LevellerTargetAcrossTheRatioRange) {
  const double fs = 48000.0;
  for (ProcessingMode mode : {ProcessingMode::podcast, ProcessingMode::stream}) {
    const Shaper ref(mode, fs, 0.0);
    const double boostDb = 12.0 * ref.p.levellerAmount;
    const double cutDb = 7.0 * ref.p.levellerAmount;
    const struct {
      double ratio;
      double db;
    } cases[] = {
        {0.0, boostDb}, {0.05, boostDb}, {0.105, boostDb}, {0.2175, 0.5 * boostDb},
        {0.33, 0.0},    {0.42, 0.0},     {0.52, 0.0},      {0.67, -0.5 * cutDb},
        {0.82, -cutDb}, {0.95, -cutDb},
    };
    for (const auto& c : cases) {
      Shaper sh(mode, fs, 0.0);
      sh.s.levellerBassEnv = c.ratio;
      sh.s.levellerRefEnv = 1.0;
      double l = 0.0;
      double r = 0.0;
      sh.run(l, r);
      const double target = std::pow(10.0, c.db / 20.0);
      const double pole =
          target < 1.0 ? std::exp(-1.0 / (0.13 * fs)) : std::exp(-1.0 / (1.15 * fs));
      EXPECT_NEAR(sh.s.levellerGain, target + (1.0 - target) * pole, 1e-12) << c.ratio;
    }
  }
}

TEST(LowEndShaper, LevellerSettlesAtFullCutAndFullBoost) {
  const double fs = 48000.0;
  for (ProcessingMode mode : {ProcessingMode::podcast, ProcessingMode::stream}) {
    // DC lies entirely below 190 Hz: bass share 1, full cut.
    Shaper bass(mode, fs, 0.0);
    for (int i = 0; i < 10 * 48000; ++i) {
      double l = 0.3;
      double r = 0.2;
      bass.run(l, r);
    }
    const double cutDb = 7.0 * bass.p.levellerAmount;
    EXPECT_NEAR(bass.s.levellerGain, std::pow(10.0, -cutDb / 20.0), 1e-9);
    double l = 0.3;
    double r = 0.3;
    bass.run(l, r);
    EXPECT_NEAR(l, 0.3 * bass.s.levellerGain, 1e-9);

    // A 5 kHz tone has almost nothing below 190 Hz: full boost.
    Shaper thin(mode, fs, 0.0);
    double ratio = 1.0;
    for (int i = 0; i < 20 * 48000; ++i) {
      double x = 0.3 * std::sin(kTwoPi * 5000.0 * i / fs);
      double y = x;
      thin.run(x, y);
      if (i == 48000) ratio = 0.0;
      if (i > 48000) ratio = std::fmax(ratio, thin.s.levellerBassEnv / thin.s.levellerRefEnv);
    }
    EXPECT_LE(ratio, 0.105);
    const double boostDb = 12.0 * thin.p.levellerAmount;
    EXPECT_NEAR(thin.s.levellerGain, std::pow(10.0, boostDb / 20.0), 1e-6);
  }
}

TEST(LowEndShaper, ResetKeepsTheBumpMemories) {
  auto proc = std::make_unique<Processor>();
  proc->setSampleRate(48000);
  proc->applySettings({ProcessingMode::podcast, 0.0, 40});
  for (int i = 0; i < 2000; ++i) {
    const float x = static_cast<float>(0.4 * std::sin(kTwoPi * 65.0 * i / 48000.0));
    proc->processFrame(x, -x);
  }
  const BiquadSection before = proc->state.lowEnd.lowBumpLeft;
  ASSERT_NE(before.y1, 0.0);
  ASSERT_NE(proc->state.lowEnd.levellerBassEnv, 0.0);
  // A change of mode resets and re-derives; a new rate derives and resets.
  proc->applySettings({ProcessingMode::limiter, 0.0, 40});
  for (int pass = 0; pass < 2; ++pass) {
    const LowEndShaperState& s = proc->state.lowEnd;
    EXPECT_EQ(s.lowBumpLeft.x1, before.x1);
    EXPECT_EQ(s.lowBumpLeft.x2, before.x2);
    EXPECT_EQ(s.lowBumpLeft.y1, before.y1);
    EXPECT_EQ(s.lowBumpLeft.y2, before.y2);
    EXPECT_EQ(s.levellerBassEnv, 0.0);
    EXPECT_EQ(s.levellerRefEnv, 0.0);
    EXPECT_EQ(s.levellerLowL1, 0.0);
    EXPECT_EQ(s.levellerGain, 1.0);
    proc->setSampleRate(44100);
  }
  // The coefficients follow the new derivation: limiter mode's bump is flat.
  EXPECT_EQ(proc->state.lowEnd.lowBumpLeft.c.b0, 1.0);
}

}  // namespace
}  // namespace vantle
