#include "engine/stages/output_control.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "engine/processor.h"

namespace vantle {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr ProcessingMode kModes[] = {ProcessingMode::podcast, ProcessingMode::stream,
                                     ProcessingMode::limiter};

struct Stage {
  OutputControlParams p;
  std::unique_ptr<OutputControlState> s = std::make_unique<OutputControlState>();
  double target = 1.0;  // the output gain target, as the load feedback sets it

  Stage(ProcessingMode mode, double fs, double adapt) {
    deriveOutputControl(p, DeriveInputs{mode, fs, adapt / 100.0, 0.0, kOutputCeiling});
    // Final stages at rest: no load.
    target = outputGainTargetFor(0.0, outputLevelOffsetDb(mode, adapt / 100.0));
    resetOutputControl(*s, p, target);
  }
  // As the load feedback leaves it under heavy load: no boost.
  void unityTarget() {
    target = 1.0;
    resetOutputControl(*s, p, target);
  }
  void run(double& l, double& r) {
    OutputControlOutput out;
    runOutputControl(p, *s, target, &l, &r, &out, 1);
  }
};

double dbToGain(double db) { return std::pow(10.0, db / 20.0); }

// The output delay follows the mode's voicing, is capped below the ring, and
// the signal comes out exactly that many frames later.
TEST(OutputDelay, LengthsAndTiming) {
  struct Case {
    ProcessingMode mode;
    double fs;
    double adapt;
    int samples;
  } cases[] = {
      {ProcessingMode::podcast, 48000, 0, 17},  // 0.36 ms
      {ProcessingMode::podcast, 48000, 100, 72},
      {ProcessingMode::limiter, 48000, 0, 35},    // 0.73 ms
      {ProcessingMode::limiter, 48000, 100, 72},  // 1.5 ms
      {ProcessingMode::stream, 48000, 0, 26},     // 0.54 ms
      {ProcessingMode::stream, 48000, 100, 72},
      {ProcessingMode::podcast, 768000, 0, 276},
      {ProcessingMode::limiter, 768000, 0, 511},  // 560.64 capped by the ring
      {ProcessingMode::stream, 768000, 100, 511},
      {ProcessingMode::limiter, 8000, 0, 6},
  };
  for (const Case& c : cases) {
    Stage st(c.mode, c.fs, c.adapt);
    EXPECT_EQ(st.p.outputDelay, c.samples) << static_cast<int>(c.mode) << " " << c.fs;
    int first = -1;
    for (int n = 0; n < 600 && first < 0; ++n) {
      double l = n == 0 ? 0.01 : 0.0;
      double r = l;
      st.run(l, r);
      if (l != 0.0) first = n;
    }
    EXPECT_EQ(first, c.samples) << static_cast<int>(c.mode) << " " << c.fs;
  }
}

// Without load the output gain sits at the mode's level offset: podcast
// +1.5 dB, limiter +2 dB plus adapt, stream +0.8 dB rising to +1.4 dB; reset
// starts the glide at its target.
TEST(OutputGain, IdleTargetsAndResetSeed) {
  struct Case {
    ProcessingMode mode;
    double adapt;
    double db;
  } cases[] = {
      {ProcessingMode::podcast, 0, 1.5},  {ProcessingMode::podcast, 100, 1.5},
      {ProcessingMode::limiter, 0, 2.0},  {ProcessingMode::limiter, 100, 3.0},
      {ProcessingMode::limiter, 50, 2.5}, {ProcessingMode::stream, 0, 0.8},
      {ProcessingMode::stream, 50, 0.8},  {ProcessingMode::stream, 75, 0.8 + 0.6 * 0.5},
      {ProcessingMode::stream, 100, 1.4},
  };
  for (const Case& c : cases) {
    Stage st(c.mode, 48000, c.adapt);
    EXPECT_NEAR(st.target, dbToGain(c.db), 1e-12) << c.adapt;
    EXPECT_EQ(st.s->out.outputGain, st.target);
  }
  OutputControlParams p;
  OutputControlState s;
  resetOutputControl(s, p, -1.0);
  EXPECT_EQ(s.out.outputGain, 1.0);
}

// Whatever arrives, every sample leaves within +-outputCeiling: loud noise,
// full-scale and overdriven squares and bursts, in every mode, at low and
// high rates, with and without the output boost.
TEST(FinalPeakControl, EverySampleWithinTheCeiling) {
  for (ProcessingMode mode : kModes) {
    for (double adapt : {0.0, 50.0, 100.0}) {
      for (double fs : {8000.0, 44100.0, 192000.0}) {
        for (bool boost : {true, false}) {
          Stage st(mode, fs, adapt);
          if (!boost) st.unityTarget();
          std::mt19937 rng(5);
          std::uniform_real_distribution<double> u(-1.0, 1.0);
          const int frames = static_cast<int>(fs / 2);
          double peak = 0.0;
          for (int n = 0; n < frames; ++n) {
            const double sq = std::sin(kTwoPi * 97.0 * n / fs) >= 0.0 ? 1.0 : -1.0;
            const double burst = (n / 2000) % 3 == 0 ? 6.0 : 1.0;
            double l = 0.0;
            double r = 0.0;
            switch ((n / 4000) % 3) {
              case 0:
                l = 4.0 * u(rng);
                r = 4.0 * u(rng);
                break;
              case 1:
                l = sq;
                r = -1.5 * sq;
                break;
              default:
                l = burst * sq * u(rng);
                r = burst * std::sin(kTwoPi * 3000.0 * n / fs);
                break;
            }
            st.run(l, r);
            ASSERT_TRUE(std::fabs(l) <= kOutputCeiling && std::fabs(r) <= kOutputCeiling)
                << static_cast<int>(mode) << " " << adapt << " " << fs << " " << n;
            peak = std::fmax(peak, std::fmax(std::fabs(l), std::fabs(r)));
          }
          EXPECT_GT(peak, 0.5 * kOutputCeiling)
              << static_cast<int>(mode) << " " << adapt << " " << fs << " " << boost;
        }
      }
    }
  }
}

// A steady square wave: the peak-limiting gain settles at limitThreshold
// over the square's peak after the full density reduction, and in limiter
// mode (depth 1, no feedback, filter or saturation) the output is the
// threshold passed through the two knees.
TEST(FinalPeakControl, SquareWaveSettlesOnTheLimitThreshold) {
  const double amplitude = 2.0;
  for (ProcessingMode mode : kModes) {
    for (double adapt : {0.0, 100.0}) {
      Stage st(mode, 48000, adapt);
      st.unityTarget();
      double l = 0.0;
      double r = 0.0;
      for (int n = 0; n < 48000; ++n) {
        l = (n / 40) % 2 ? amplitude : -amplitude;
        r = -l;
        st.run(l, r);
      }
      const double density = dbToGain(-2.0 * st.p.densityDepth);
      const double threshold = 0.985 * kOutputCeiling;
      EXPECT_NEAR(st.s->out.peakLevel, amplitude, 1e-9);
      EXPECT_NEAR(st.s->out.peakLimitGain, threshold / (amplitude * density), 1e-9)
          << static_cast<int>(mode) << " " << adapt;
      if (mode == ProcessingMode::limiter) {
        const double t1 = 0.96 * threshold;
        const double k1 = 0.55 * t1;
        const double y1 = t1 + k1 * (1.0 - std::exp(-(threshold - t1) / k1));
        const double t2 = 0.998 * threshold;
        const double k2 = 0.35 * t2;
        const double y2 = y1 > t2 ? t2 + k2 * (1.0 - std::exp(-(y1 - t2) / k2)) : y1;
        EXPECT_NEAR(std::fabs(l), y2, 1e-9);
        EXPECT_NEAR(std::fabs(r), y2, 1e-9);
      }
    }
  }
}

// The peak-limiting gain bottoms out at 0.08 however loud the input.
TEST(FinalPeakControl, PeakLimitGainFloor) {
  for (ProcessingMode mode : kModes) {
    Stage st(mode, 48000, 100);
    st.unityTarget();
    double lowest = 1.0;
    for (int n = 0; n < 20000; ++n) {
      double l = (n % 7) < 3 ? 100.0 : -100.0;
      double r = 0.5 * l;
      st.run(l, r);
      lowest = std::fmin(lowest, st.s->out.peakLimitGain);
    }
    EXPECT_GE(lowest, 0.08);
    EXPECT_NEAR(st.s->out.peakLimitGain, 0.08, 1e-12);
  }
}

// With the output gain at unity the boost guard only relaxes towards 1 and
// never touches the signal, even when its gain starts low.
TEST(FinalPeakControl, BoostGuardIdleWithoutBoost) {
  for (ProcessingMode mode : kModes) {
    Stage guarded(mode, 48000, 30);
    Stage plain(mode, 48000, 30);
    guarded.unityTarget();
    plain.unityTarget();
    guarded.s->out.boostGuardGain = 0.3;
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(-3.0, 3.0);
    double previous = guarded.s->out.boostGuardGain;
    for (int n = 0; n < 10000; ++n) {
      double l = u(rng);
      double r = u(rng);
      double l2 = l;
      double r2 = r;
      guarded.run(l, r);
      plain.run(l2, r2);
      ASSERT_EQ(l, l2) << n;
      ASSERT_EQ(r, r2) << n;
      ASSERT_GE(guarded.s->out.boostGuardGain, previous);
      ASSERT_LE(guarded.s->out.boostGuardGain, 1.0);
      previous = guarded.s->out.boostGuardGain;
    }
    EXPECT_GT(previous, 0.99);
  }
}

// Reset clears everything but the post low-pass memories; a re-derivation
// clears nothing, not even the output delay rings.
TEST(OutputControl, ResetAndReDerivation) {
  auto p = std::make_unique<Processor>();
  p->setSampleRate(48000);
  p->applySettings({ProcessingMode::podcast, 18.0, 100.0});
  std::vector<float> buf(2 * 3000);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = 0.9f * std::sin(0.07f * static_cast<float>(i));
  p->processBuffer(buf.data(), 3000, 2);

  auto before = std::make_unique<OutputControlState>(p->state.output);
  p->applySettings({ProcessingMode::podcast, 18.0, 0.0});
  EXPECT_EQ(p->params.output.outputDelay, 17);
  EXPECT_EQ(std::memcmp(before->delay, p->state.output.delay, sizeof(before->delay)), 0);
  EXPECT_EQ(before->index, p->state.output.index);
  EXPECT_EQ(before->out.peakLevel, p->state.output.out.peakLevel);

  ASSERT_NE(before->postLowPass[1][1].y1, 0.0);
  ASSERT_NE(before->out.peakLevel, 0.0);
  p->reset();
  const OutputControlState& s = p->state.output;
  for (int ch = 0; ch < 2; ++ch) {
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(s.postLowPass[ch][k].x1, before->postLowPass[ch][k].x1);
      EXPECT_EQ(s.postLowPass[ch][k].y2, before->postLowPass[ch][k].y2);
    }
    EXPECT_EQ(s.clipFeedbackState[ch], 0.0);
    EXPECT_EQ(s.excessLevel[ch], 0.0);
    EXPECT_EQ(s.saturation[ch].previous, 0.0);
  }
  EXPECT_EQ(s.out.outputGain, p->loadTargets.outputGainTarget);
  EXPECT_EQ(s.out.boostGuardGain, 1.0);
  EXPECT_EQ(s.out.peakLevel, 0.0);
  EXPECT_EQ(s.out.peakLimitGain, 1.0);
  EXPECT_EQ(s.index, 0);
  for (const auto& ring : s.delay) {
    for (double v : ring) ASSERT_EQ(v, 0.0);
  }
}

}  // namespace
}  // namespace vantle
