#include "engine/stages/band_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/dsp/filters.h"
#include "engine/processor.h"

namespace vantle {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// A stream-mode analysis at full adapt: leveller amount 0.65, mix 1.
struct Analysis {
  BandAnalysisParams p;
  BandAnalysisState s;
  AnalysisFeeds feeds;
  double oL = 0.0;
  double oR = 0.0;

  explicit Analysis(double fs = 48000.0, double leveller = 0.65, double mix = 1.0) {
    const DeriveInputs in{ProcessingMode::stream, fs, 1.0, 0.0, kOutputCeiling};
    deriveBandAnalysis(p, s, in, leveller, mix);
    resetBandAnalysis(s, p);
  }
  void frame(double pL, double pR, double eL, double eR, double pressure = 0.0) {
    lowEndAnalysis(p, s, feeds, pressure, pL, pR, eL, eR, oL, oR);
  }
  void frame(double x) { frame(x, x, x, x); }
};

// Response magnitude of a section's coefficients at DC.
double dcGain(const BiquadCoefficients& c) { return (c.b0 + c.b1 + c.b2) / (1.0 + c.a1 + c.a2); }

bool sameCoefficients(const BiquadCoefficients& a, const BiquadCoefficients& b) {
  return a.b0 == b.b0 && a.b1 == b.b1 && a.b2 == b.b2 && a.a1 == b.a1 && a.a2 == b.a2;
}

bool isFlat(const BiquadCoefficients& c) { return c.b0 == 1.0 && c.b1 == c.a1 && c.b2 == c.a2; }

// Powers of the feeds: every 16th frame, including the first after a reset,
// the block reads both sums per count and clears them.
TEST(BandAnalysis, FeedsAreReadAndClearedEverySixteenFrames) {
  Analysis a;
  const double fs = 48000.0;
  const double b = std::exp(-16.0 / (0.25 * fs));  // pole of the low-content means

  a.feeds.lowContentSum = 1.0;
  a.feeds.inputPowerSum = 100.0;
  a.feeds.lowContentFrames = 1;
  a.feeds.band0PowerSum = 8.0;
  a.feeds.band1PowerSum = 2.0;
  a.feeds.bandBalanceFrames = 2;
  a.frame(0.0);
  EXPECT_EQ(a.feeds.lowContentSum, 0.0);
  EXPECT_EQ(a.feeds.inputPowerSum, 0.0);
  EXPECT_EQ(a.feeds.lowContentFrames, 0u);
  EXPECT_EQ(a.feeds.band0PowerSum, 0.0);
  EXPECT_EQ(a.feeds.band1PowerSum, 0.0);
  EXPECT_EQ(a.feeds.bandBalanceFrames, 0u);
  // Both means start from 0 with the same pole, so their ratio is the sums'.
  EXPECT_NEAR(a.s.lowContentDb, -20.0, 1e-9);
  EXPECT_NEAR(a.s.bandBalanceDb, 10.0 * std::log10(4.0), 1e-9);
  const double lowMean1 = 1.0 * (1.0 - b);
  const double inMean1 = 100.0 * (1.0 - b);

  // Frames 2..17 each add what the input stage adds; only frame 17 reads them.
  for (int f = 2; f <= 17; ++f) {
    a.feeds.lowContentSum += 0.02;
    a.feeds.inputPowerSum += 1.0;
    a.feeds.lowContentFrames += 1;
    a.feeds.band0PowerSum += 1.0;
    a.feeds.band1PowerSum += 10.0;
    a.feeds.bandBalanceFrames += 1;
    a.frame(0.0);
    if (f < 17) {
      EXPECT_EQ(a.feeds.lowContentFrames, static_cast<std::uint64_t>(f - 1)) << f;
      EXPECT_EQ(a.feeds.bandBalanceFrames, static_cast<std::uint64_t>(f - 1)) << f;
      EXPECT_NEAR(a.s.lowContentDb, -20.0, 1e-9) << f;
    }
  }
  EXPECT_EQ(a.feeds.lowContentFrames, 0u);
  EXPECT_EQ(a.feeds.lowContentSum, 0.0);
  EXPECT_EQ(a.feeds.bandBalanceFrames, 0u);
  const double lowMean2 = 0.02 + (lowMean1 - 0.02) * b;
  const double inMean2 = 1.0 + (inMean1 - 1.0) * b;
  EXPECT_NEAR(a.s.lowContentDb, 10.0 * std::log10(lowMean2 / inMean2), 1e-9);
  EXPECT_NEAR(a.s.bandBalanceDb, -10.0, 1e-9);
}

// A block without counted frames clears stale sums but keeps the last
// measurement; after a reset that is -120 dB, not the 0 dB that a ratio of
// two empty means would give.
TEST(BandAnalysis, EmptyBlocksKeepTheLastMeasurement) {
  Analysis a;
  a.feeds.lowContentSum = 5.0;
  a.feeds.inputPowerSum = 7.0;
  a.feeds.band0PowerSum = 3.0;
  a.frame(0.0);
  EXPECT_EQ(a.s.lowContentDb, -120.0);
  EXPECT_EQ(a.s.bandBalanceDb, -120.0);
  EXPECT_EQ(a.s.lowContentMean, 0.0);
  EXPECT_EQ(a.s.inputPowerMean, 0.0);
  EXPECT_EQ(a.s.lowContentFactor, 0.0);
  EXPECT_EQ(a.s.bandBalanceFactor, 0.0);
  EXPECT_EQ(a.feeds.lowContentSum, 0.0);
  EXPECT_EQ(a.feeds.inputPowerSum, 0.0);
  EXPECT_EQ(a.feeds.band0PowerSum, 0.0);

  // A measured value survives the following empty blocks unchanged.
  a.feeds.lowContentSum = 1.0;
  a.feeds.inputPowerSum = 1000.0;
  a.feeds.lowContentFrames = 4;
  for (int f = 0; f < 16; ++f) a.frame(0.0);
  const double measured = a.s.lowContentDb;
  EXPECT_NEAR(measured, -30.0, 1e-9);
  for (int f = 0; f < 16 * 5; ++f) a.frame(0.0);
  EXPECT_EQ(a.s.lowContentDb, measured);
}

// The first frame after a reset redesigns the equaliser, then every 64th.
TEST(BandAnalysis, EqualiserIsRedesignedEverySixtyFourFrames) {
  Analysis a;
  BiquadCoefficients odd;
  odd.b0 = 2.0;
  a.s.lowEndShelfLeft.c = odd;
  a.s.lowEndPeakRight.c = odd;
  a.frame(0.0);
  EXPECT_TRUE(isFlat(a.s.lowEndShelfLeft.c));
  EXPECT_TRUE(isFlat(a.s.lowEndPeakRight.c));
  for (int f = 2; f <= 65; ++f) {
    a.s.lowEndShelfLeft.c = odd;
    a.s.lowEndPeakRight.c = odd;
    a.frame(0.0);
    if (f < 65) {
      ASSERT_EQ(a.s.lowEndShelfLeft.c.b0, 2.0) << f;
    }
  }
  EXPECT_TRUE(isFlat(a.s.lowEndShelfLeft.c));
  EXPECT_TRUE(isFlat(a.s.lowEndPeakRight.c));
}

// Silence keeps the trackers unseeded, every score at 0, the equaliser flat
// and the whole bump kept: the output is the bumped pair.
TEST(BandAnalysis, SilentAnalysedPairPassesTheBumpedPair) {
  Analysis a;
  double worst = 0.0;
  for (int f = 0; f < 48000; ++f) {
    const double e = 0.3 * std::sin(kTwoPi * 65.0 * f / 48000.0);
    a.frame(0.0, 0.0, e, -e);
    worst = std::fmax(worst, std::fabs(a.oL - e));
    worst = std::fmax(worst, std::fabs(a.oR + e));
  }
  EXPECT_LT(worst, 1e-12);
  EXPECT_FALSE(a.s.trackersSeeded);
  EXPECT_EQ(a.s.fastMidPower, 0.0);
  EXPECT_EQ(a.s.activeFrames, 0u);
  EXPECT_EQ(a.s.shelfGainDb, 0.0);
  EXPECT_EQ(a.s.peakGainDb, 0.0);
  EXPECT_EQ(a.s.subThinLevel, 0.0);
  EXPECT_EQ(a.s.bumpKeep, 1.0);
}

// A programme with nothing but mids is thin: both scores saturate at
// 7.7 x thinWeight, the shelf and the 90 Hz peak boost and the bump stays.
TEST(BandAnalysis, BassLightProgrammeIsBoosted) {
  Analysis a;
  const double fs = 48000.0;
  for (int f = 0; f < 12 * 48000; ++f) {
    const double x = 0.3 * std::sin(kTwoPi * 1000.0 * f / fs);
    a.frame(x, x, x, x);
  }
  EXPECT_NEAR(a.s.subThinFastLevel, 7.7 * a.p.thinWeight, 0.01);
  EXPECT_NEAR(a.s.subThinLevel, 7.7 * a.p.thinWeight, 0.01);
  EXPECT_GT(a.s.shelfGainDb, 7.0);
  EXPECT_GT(a.s.peakGainDb, 6.0);
  EXPECT_GT(dcGain(a.s.lowEndShelfLeft.c), std::pow(10.0, 7.0 / 20.0));
  // The peaking boost is capped at 3 dB at 90 Hz.
  BiquadCoefficients cap;
  designPeaking(cap, 90.0, 1.1, 3.0, fs);
  EXPECT_TRUE(sameCoefficients(a.s.lowEndPeakLeft.c, cap));
  EXPECT_TRUE(sameCoefficients(a.s.lowEndPeakRight.c, cap));
  EXPECT_EQ(a.s.bumpKeepTarget, 1.0);
  EXPECT_EQ(a.s.bumpKeep, 1.0);
}

// A programme dominated by sub-bass is boomy: the shelf cuts, the bass
// peak turns into a cut at 125 Hz and the 65 Hz bump is withdrawn.
TEST(BandAnalysis, BassHeavyProgrammeIsCutAndLosesTheBump) {
  Analysis a;
  const double fs = 48000.0;
  for (int f = 0; f < 12 * 48000; ++f) {
    const double x =
        0.5 * std::sin(kTwoPi * 50.0 * f / fs) + 0.05 * std::sin(kTwoPi * 1000.0 * f / fs);
    a.frame(x, x, 1.5 * x, 1.5 * x);
  }
  EXPECT_LT(a.s.shelfGainDb, -3.0);
  EXPECT_LT(a.s.peakGainDb, -1.5);
  EXPECT_LT(dcGain(a.s.lowEndShelfLeft.c), std::pow(10.0, -3.0 / 20.0));
  const double cutDb = -std::fmin(1.5 * (-a.s.peakGainDb - 1.5), 4.5);
  BiquadCoefficients cut;
  designPeaking(cut, 125.0, 0.85, cutDb, fs);
  EXPECT_TRUE(sameCoefficients(a.s.lowEndPeakLeft.c, cut));
  EXPECT_EQ(a.s.bumpKeepTarget, 0.0);
  EXPECT_LT(a.s.bumpKeep, 1e-6);
  EXPECT_EQ(a.s.sustainBoostDb, 0.0);
}

// A moderately thin, sustained programme at 48 kHz, frame f.
double thinProgramme(int f) {
  const double t = f / 48000.0;
  return 0.15 * std::sin(kTwoPi * 40.0 * t) + 0.3 * std::sin(kTwoPi * 150.0 * t) +
         0.3 * std::sin(kTwoPi * 1000.0 * t);
}

// A moderately thin, sustained programme earns the extra shelf boost, but
// only after 5 s of programme, and never while the final stages work hard;
// a rise in their load takes it back quickly.
TEST(BandAnalysis, SustainBoostNeedsTimeAndAnIdleOutput) {
  const double fs = 48000.0;
  Analysis idle;
  Analysis loaded;
  int f = 0;
  for (; f < static_cast<int>(4.9 * fs); ++f) {
    idle.frame(thinProgramme(f));
    loaded.frame(thinProgramme(f), thinProgramme(f), thinProgramme(f), thinProgramme(f), 1.0);
  }
  EXPECT_EQ(idle.s.sustainBoostDb, 0.0);
  for (; f < static_cast<int>(15.0 * fs); ++f) {
    idle.frame(thinProgramme(f));
    loaded.frame(thinProgramme(f), thinProgramme(f), thinProgramme(f), thinProgramme(f), 1.0);
  }
  EXPECT_GT(idle.s.sustainBoostDb, 6.0);
  EXPECT_LE(idle.s.sustainBoostDb, 12.0);
  EXPECT_GT(idle.s.shelfGainDb, idle.s.sustainBoostDb);
  EXPECT_EQ(loaded.s.sustainBoostDb, 0.0);
  EXPECT_LT(loaded.s.shelfGainDb, 4.2);

  const double grown = idle.s.sustainBoostDb;
  for (const int end = f + static_cast<int>(2.0 * fs); f < end; ++f) {
    idle.frame(thinProgramme(f), thinProgramme(f), thinProgramme(f), thinProgramme(f), 1.0);
  }
  EXPECT_LT(idle.s.sustainBoostDb, 0.01 * grown);
}

// The chain hands the analysis the pressure its load feedback set: two
// processors whose analysis has earned the sustain boost, one with idle final
// stages and one with loaded ones, part ways within the next analysis blocks.
TEST(BandAnalysis, TheChainHandsItTheLoadFeedbacksPressure) {
  const double fs = 48000.0;
  Analysis earned;
  int f = 0;
  for (; f < static_cast<int>(6.0 * fs); ++f) earned.frame(thinProgramme(f));
  ASSERT_GT(earned.s.sustainBoostDb, 0.0);

  double boost[2] = {};
  for (int loaded = 0; loaded < 2; ++loaded) {
    auto proc = std::make_unique<Processor>();
    proc->setSampleRate(fs);
    proc->applySettings({ProcessingMode::stream, 0.0, 100.0});
    proc->state.analysis = earned.s;
    proc->loadTargets.reductionPressure = loaded ? 1.0 : 0.0;
    // 48 frames: three analysis blocks, before the load feedback's next update.
    for (int k = 0; k < 48; ++k) {
      const float x = static_cast<float>(thinProgramme(f + k));
      proc->processFrame(x, x);
    }
    boost[loaded] = proc->state.analysis.sustainBoostDb;
  }
  EXPECT_GT(boost[0], earned.s.sustainBoostDb);
  EXPECT_LT(boost[1], earned.s.sustainBoostDb);
}

// The fast boom scores wait for 2.5 s of programme after a reset.
TEST(BandAnalysis, FastBoomScoresWaitForEnoughProgramme) {
  Analysis a(8000.0);
  const double fs = 8000.0;
  EXPECT_EQ(a.p.fastBoomMinFrames, 20000u);
  EXPECT_EQ(a.p.sustainMinFrames, 40000u);
  std::uint64_t f = 0;
  auto run = [&](std::uint64_t frames) {
    for (std::uint64_t end = f + frames; f < end; ++f) {
      const double x = 0.5 * std::sin(kTwoPi * 40.0 * static_cast<double>(f) / fs) +
                       0.02 * std::sin(kTwoPi * 1000.0 * static_cast<double>(f) / fs);
      a.frame(x);
    }
  };
  run(19990);
  EXPECT_EQ(a.s.subBoomFastLevel, 0.0);
  EXPECT_EQ(a.s.bassBoomFastLevel, 0.0);
  run(8000);
  EXPECT_GT(a.s.subBoomFastLevel, 4.0);
}

// Across programmes, rates and load, every output stays finite and every
// value within its range.
TEST(BandAnalysis, OutputsStayBounded) {
  struct Programme {
    const char* name;
    double (*signal)(std::uint64_t f, double fs, std::uint32_t& seed);
  };
  const Programme programmes[] = {
      {"silence", [](std::uint64_t, double, std::uint32_t&) { return 0.0; }},
      {"mids",
       [](std::uint64_t f, double fs, std::uint32_t&) {
         return 0.9 * std::sin(kTwoPi * 1500.0 * static_cast<double>(f) / fs);
       }},
      {"sub",
       [](std::uint64_t f, double fs, std::uint32_t&) {
         return 1.0 * std::sin(kTwoPi * 35.0 * static_cast<double>(f) / fs);
       }},
      {"noise",
       [](std::uint64_t, double, std::uint32_t& seed) {
         seed = seed * 1664525u + 1013904223u;
         return (static_cast<double>(seed) / 4294967296.0 - 0.5) * 4.0;
       }},
      {"square",
       [](std::uint64_t f, double fs, std::uint32_t&) {
         return std::fmod(static_cast<double>(f) * 30.0 / fs, 1.0) < 0.5 ? 1.0 : -1.0;
       }},
      {"bursts",
       [](std::uint64_t f, double fs, std::uint32_t&) {
         const bool on = std::fmod(static_cast<double>(f) / fs, 1.0) < 0.3;
         return on ? 0.8 * std::sin(kTwoPi * 90.0 * static_cast<double>(f) / fs) : 0.0;
       }},
  };
  for (const double fs : {8000.0, 44100.0}) {
    for (const auto& prog : programmes) {
      for (const double pressure : {0.0, 0.5, 1.0}) {
        Analysis a(fs);
        std::uint32_t seed = 1;
        double worstOut = 0.0;
        double worstIn = 0.0;
        bool bounded = true;
        const auto frames = static_cast<std::uint64_t>(7.0 * fs);
        for (std::uint64_t f = 0; f < frames; ++f) {
          const double x = prog.signal(f, fs, seed);
          a.frame(x, -0.5 * x, 1.4 * x, -0.7 * x, pressure);
          worstIn = std::fmax(worstIn, std::fabs(1.4 * x));
          if (!std::isfinite(a.oL) || !std::isfinite(a.oR)) bounded = false;
          worstOut = std::fmax(worstOut, std::fmax(std::fabs(a.oL), std::fabs(a.oR)));
          const auto& s = a.s;
          bounded = bounded && s.shelfGainDb >= -5.0 - 1e-9 && s.shelfGainDb <= 16.2 &&
                    s.peakGainDb >= -5.0 - 1e-9 && s.peakGainDb <= 7.7 + 1e-9 &&
                    s.sustainBoostDb >= 0.0 && s.sustainBoostDb <= 12.0 && s.bumpKeep >= 0.0 &&
                    s.bumpKeep <= 1.0 && s.lowContentFactor >= 0.0 && s.lowContentFactor <= 1.0 &&
                    s.bandBalanceFactor >= 0.0 && s.bandBalanceFactor <= 1.0;
          if (!bounded) break;
        }
        EXPECT_TRUE(bounded) << prog.name << " fs " << fs << " pressure " << pressure;
        // The shelf adds at most about 16 dB, the peak 3 dB.
        EXPECT_LE(worstOut, 12.0 * std::fmax(worstIn, 1e-300))
            << prog.name << " fs " << fs << " pressure " << pressure;
      }
    }
  }
}

// Reset clears every memory, the bank's included, so silence after loud
// programme is exact silence; the equaliser keeps its coefficients until the
// first frame redesigns them.
TEST(BandAnalysis, ResetClearsTheBankAndTheAnalysis) {
  Analysis a;
  for (int f = 0; f < 3 * 48000; ++f) {
    const double x = 0.8 * std::sin(kTwoPi * 55.0 * f / 48000.0);
    a.frame(x, x, 1.2 * x, 1.2 * x);
  }
  const BiquadCoefficients shelf = a.s.lowEndShelfLeft.c;
  ASSERT_FALSE(isFlat(shelf));
  resetBandAnalysis(a.s, a.p);
  for (int ch = 0; ch < 2; ++ch) {
    for (int i = 0; i < kAnalysisCorners; ++i) {
      const BiquadSection& b = a.s.bank[ch][i];
      EXPECT_TRUE(b.x1 == 0.0 && b.x2 == 0.0 && b.y1 == 0.0 && b.y2 == 0.0);
      EXPECT_TRUE(sameCoefficients(b.c, a.p.analysisBank[i]));
    }
  }
  for (const BiquadSection* eq :
       {&a.s.lowEndShelfLeft, &a.s.lowEndShelfRight, &a.s.lowEndPeakLeft, &a.s.lowEndPeakRight}) {
    EXPECT_TRUE(eq->x1 == 0.0 && eq->x2 == 0.0 && eq->y1 == 0.0 && eq->y2 == 0.0);
  }
  EXPECT_TRUE(sameCoefficients(a.s.lowEndShelfLeft.c, shelf));
  EXPECT_TRUE(sameCoefficients(a.s.lowEndShelfRight.c, shelf));
  EXPECT_FALSE(a.s.trackersSeeded);
  EXPECT_EQ(a.s.activeFrames, 0u);
  EXPECT_EQ(a.s.blockCounter, 15);
  EXPECT_EQ(a.s.redesignCounter, 63);
  EXPECT_EQ(a.s.shelfGainDb, 0.0);
  EXPECT_EQ(a.s.sustainBoostDb, 0.0);
  EXPECT_EQ(a.s.lowContentDb, -120.0);
  EXPECT_EQ(a.s.bandBalanceDb, -120.0);
  EXPECT_EQ(a.s.bumpKeepTarget, 1.0);
  EXPECT_EQ(a.s.bumpKeep, 1.0);
  for (int f = 0; f < 4096; ++f) {
    a.frame(0.0);
    ASSERT_EQ(a.oL, 0.0) << f;
    ASSERT_EQ(a.oR, 0.0) << f;
  }
  EXPECT_TRUE(isFlat(a.s.lowEndShelfLeft.c));
}

// A derivation sets the equaliser flat and leaves its memories and the
// analysis alone; the next redesign restores the response from the gains.
TEST(BandAnalysis, DerivationFlattensTheEqualiserOnly) {
  Analysis a;
  int f = 0;
  auto run = [&](int frames) {
    for (const int end = f + frames; f < end; ++f)
      a.frame(0.3 * std::sin(kTwoPi * 1000.0 * f / 48000.0));
  };
  run(2 * 48000 + 7);
  const BandAnalysisState before = a.s;
  ASSERT_GT(before.shelfGainDb, 1.0);
  const DeriveInputs in{ProcessingMode::stream, 48000.0, 0.9, 0.0, kOutputCeiling};
  deriveBandAnalysis(a.p, a.s, in, 0.65, 0.95);
  EXPECT_TRUE(isFlat(a.s.lowEndShelfLeft.c));
  EXPECT_TRUE(isFlat(a.s.lowEndPeakRight.c));
  EXPECT_EQ(a.s.lowEndShelfLeft.y1, before.lowEndShelfLeft.y1);
  EXPECT_EQ(a.s.bank[1][2].y2, before.bank[1][2].y2);
  EXPECT_EQ(a.s.shelfGainDb, before.shelfGainDb);
  EXPECT_EQ(a.s.redesignCounter, before.redesignCounter);
  EXPECT_EQ(a.s.activeFrames, before.activeFrames);
  run(64);
  EXPECT_FALSE(isFlat(a.s.lowEndShelfLeft.c));
}

// Score values against hand-worked points of the scoring curves.
TEST(BandAnalysis, ScoresAtKnownPoints) {
  const struct {
    const char* what;
    double fastSub, fastBass, slowSub, slowBass;
    bool ready;
    double w1, w2;
    double AnalysisScores::*score;
    double expected;
  } cases[] = {
      {"sub 16 dB under the mids", -16, 0, -16, 0, true, 1, 1, &AnalysisScores::subThinFast, 7.0},
      {"same, slow", -16, 0, -16, 0, true, 1, 1, &AnalysisScores::subThinSlow, 7.0},
      {"sub 24 dB under", -24, 0, -30, 0, true, 1, 1, &AnalysisScores::subThinFast, 7.7},
      {"weighted", -24, 0, -30, 0, true, 0.5, 1, &AnalysisScores::subThinSlow, 3.85},
      {"sub level with the mids", 0, 0, 0, 0, true, 1, 1, &AnalysisScores::subThinFast, 0.0},
      {"bass 6 dB under", -8.3, -6, -8.3, -6, true, 1, 1, &AnalysisScores::bassThinFast, 6.2},
      {"bass thin needs a thin sub", -3.3, -6, -3.3, -6, true, 1, 1, &AnalysisScores::bassThinSlow,
       0.0},
      {"sub 2.7 dB over", 2.7, -20, 0, -20, true, 1, 1, &AnalysisScores::subBoomFast, 5.0},
      {"before 2.5 s", 2.7, -20, 0, -20, false, 1, 1, &AnalysisScores::subBoomFast, 0.0},
      {"boom weight", 2.7, -20, 0, -20, true, 1, 0.4, &AnalysisScores::subBoomFast, 2.0},
      {"bass 10 dB over", -10, 0, 0, 10, true, 1, 1, &AnalysisScores::bassBoomSlow, 4.5},
      {"sub boom from the bass", -10, 0, 0, 10, true, 1, 1, &AnalysisScores::subBoomSlow, 4.05},
      {"sub boom alone", -10, 0, 0, -20, true, 1, 1, &AnalysisScores::subBoomSlow, 0.972},
      {"fast bass boom", 1.4, 4.8, 0, 0, true, 1, 1, &AnalysisScores::bassBoomFast, 4.5},
  };
  for (const auto& c : cases) {
    const AnalysisScores sc =
        analysisScores(c.fastSub, c.fastBass, c.slowSub, c.slowBass, c.ready, c.w1, c.w2);
    EXPECT_NEAR(sc.*c.score, c.expected, 1e-9) << c.what;
  }
}

// The weight curves pass their anchor points and join without steps.
TEST(BandAnalysis, WeightCurves) {
  const struct {
    double u, thin, boom;
  } points[] = {{0.0, 0.0, 0.0},  {0.25, 0.3, 0.3},    {0.5, 0.7, 0.7},
                {0.65, 1.0, 1.0}, {1.0, 1.16883, 1.0}, {-1.0, 0.0, 0.0}};
  for (const auto& pt : points) {
    EXPECT_NEAR(thinWeightCurve(pt.u), pt.thin, 1e-5) << pt.u;
    EXPECT_NEAR(boomWeightCurve(pt.u), pt.boom, 1e-5) << pt.u;
  }
  for (const double joint : {0.25, 0.5, 0.65}) {
    EXPECT_NEAR(thinWeightCurve(joint), thinWeightCurve(std::nextafter(joint, 1.0)), 1e-8);
    EXPECT_NEAR(boomWeightCurve(joint), boomWeightCurve(std::nextafter(joint, 1.0)), 1e-8);
  }
  // The stream leveller amount gives both weights 1 for all purposes.
  Analysis a;
  EXPECT_NEAR(a.p.thinWeight, 0.99999999989, 1e-10);
  EXPECT_EQ(a.p.boomWeight, 1.0);
}

TEST(BandAnalysis, DerivedValues) {
  // Pull strength per mode.
  const struct {
    ProcessingMode mode;
    double mix, pull;
  } pulls[] = {{ProcessingMode::podcast, 0.0, 0.65},
               {ProcessingMode::stream, 0.0, 0.66},
               {ProcessingMode::stream, 1.0, 0.82},
               {ProcessingMode::limiter, 0.0, 0.0}};
  for (const auto& c : pulls) {
    BandAnalysisParams p;
    BandAnalysisState s;
    deriveBandAnalysis(p, s, {c.mode, 48000.0, 0.5, 0.0, kOutputCeiling}, 0.65, c.mix);
    EXPECT_NEAR(p.pullStrength, c.pull, 1e-15);
  }
  // At 8 kHz the 3.7 kHz corner is designed at 3.6 kHz.
  Analysis a(8000.0);
  BiquadCoefficients want;
  designLowPass(want, 3600.0, 1.41421356 / 2.0, 8000.0);
  EXPECT_TRUE(sameCoefficients(a.p.analysisBank[3], want));
  designLowPass(want, 70.0, 1.41421356 / 2.0, 8000.0);
  EXPECT_TRUE(sameCoefficients(a.p.analysisBank[0], want));
  // The bank's low-passes have unity gain at DC.
  for (const auto& c : a.p.analysisBank) EXPECT_NEAR(dcGain(c), 1.0, 1e-9);
  // A 2.2 s rise and a 0.3 s fall for the bump share, per frame.
  EXPECT_NEAR(a.p.bumpKeepRise, std::exp(-1.0 / (2.2 * 8000.0)), 1e-15);
  EXPECT_NEAR(a.p.sustainRise, std::exp(-16.0 / (1.6 * 8000.0)), 1e-15);
}

// Through the processor: a rate change designs the bank into the running
// sections and reset clears their memories.
TEST(BandAnalysis, ProcessorWiring) {
  auto proc = std::make_unique<Processor>();
  proc->setSampleRate(44100.0);
  proc->applySettings({ProcessingMode::stream, 0.0, 100.0});
  BandAnalysisState& s = proc->state.analysis;
  for (int i = 0; i < kAnalysisCorners; ++i) {
    EXPECT_TRUE(sameCoefficients(s.bank[0][i].c, proc->params.analysis.analysisBank[i]));
    EXPECT_TRUE(sameCoefficients(s.bank[1][i].c, proc->params.analysis.analysisBank[i]));
  }
  EXPECT_TRUE(isFlat(s.lowEndShelfLeft.c));
  s.bank[0][1].y1 = 0.25;
  s.lowEndPeakRight.x2 = 0.5;
  s.shelfGainDb = 4.0;
  proc->reset();
  EXPECT_EQ(s.bank[0][1].y1, 0.0);
  EXPECT_EQ(s.lowEndPeakRight.x2, 0.0);
  EXPECT_EQ(s.shelfGainDb, 0.0);
  EXPECT_EQ(s.blockCounter, 15);
}

}  // namespace
}  // namespace vantle
