#include "engine/stages/clip_repair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "engine/dsp/conversions.h"
#include "engine/processor.h"

namespace vantle {
namespace {

// Written out here rather than taken from the engine.
double ss(double x) {
  const double t = x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x);
  return 3.0 * t * t - 2.0 * t * t * t;
}

// The 6 dB knee below a ceiling, from its definition.
double knee6(double x, double ceiling) {
  const double d = ceiling * std::pow(10.0, -6.0 / 20.0);
  const double a = std::fabs(x);
  if (a <= d) return x;
  const double r = ceiling - d;
  const double y = std::fmin(ceiling, d + r * (1.0 - std::exp(-(a - d) / r)));
  return x < 0 ? -y : y;
}

struct Repair {
  std::unique_ptr<ClipRepairParams> p = std::make_unique<ClipRepairParams>();
  std::unique_ptr<ClipRepairState> s = std::make_unique<ClipRepairState>();
  Repair(ProcessingMode mode, double adapt, double fs) {
    derive(mode, adapt, fs);
    resetClipRepair(*s, *p);
  }
  void derive(ProcessingMode mode, double adapt, double fs) {
    deriveClipRepair(*p, DeriveInputs{mode, fs, adapt / 100.0, 0.0, kOutputCeiling});
  }
  // Runs a mono signal (same on both sides) and returns the left output.
  std::vector<double> run(const std::vector<double>& in, double outputGain = 1.0) {
    std::vector<double> out;
    for (double x : in) {
      double l = x;
      double r = x;
      OutputControlOutput output;
      output.outputGain = outputGain;
      runClipRepair(*p, *s, &output, &l, &r, 1);
      out.push_back(l);
    }
    return out;
  }
};

TEST(ClipRepairDerivation, PerModeAndRate) {
  const struct {
    ProcessingMode mode;
    double adapt, fs, amount;
    int la, w, delay, energyLen;
    std::int64_t minLag, maxLag;
  } cases[] = {
      {ProcessingMode::podcast, 100, 48000, 0, 0, 0, 0, 384, 12, 960},
      {ProcessingMode::stream, 50, 48000, 0, 72, 96, 168, 384, 12, 960},
      {ProcessingMode::stream, 75, 48000, 0.5, 72, 96, 168, 384, 12, 960},
      {ProcessingMode::stream, 100, 44100, 1, 66, 88, 154, 353, 11, 882},
      {ProcessingMode::limiter, 0, 48000, 1, 96, 96, 192, 384, 12, 960},
      {ProcessingMode::limiter, 0, 8000, 1, 16, 16, 32, 64, 2, 160},
      {ProcessingMode::limiter, 0, 9000, 1, 18, 18, 36, 72, 2, 180},
      {ProcessingMode::limiter, 0, 10000, 1, 20, 20, 40, 80, 3, 200},
      {ProcessingMode::limiter, 0, 384000, 1, 768, 768, 1536, 3072, 96, 5461},
      {ProcessingMode::limiter, 0, 768000, 1, 1536, 1536, 3072, 6144, 192, 5461},
  };
  for (const auto& c : cases) {
    Repair rep(c.mode, c.adapt, c.fs);
    const ClipRepairParams& p = *rep.p;
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.mode) << " " << c.adapt << " " << c.fs);
    EXPECT_NEAR(p.repairAmount, c.amount, 1e-15);
    EXPECT_EQ(p.repairLookahead, c.la);
    EXPECT_EQ(p.repairWindow, c.w);
    EXPECT_EQ(p.repairDelay, c.delay);
    EXPECT_EQ(p.energyLen, c.energyLen);
    EXPECT_EQ(p.minLag, c.minLag);
    EXPECT_EQ(p.maxLag, c.maxLag);
    EXPECT_NEAR(p.allowFall, std::exp(-1.0 / std::fmax(1.0, 0.00025 * c.fs)), 1e-15);
    EXPECT_NEAR(p.repairRelease, std::exp(-1.0 / (0.03 * c.fs)), 1e-15);
    // Window shape: smoothstep over 0..W, 1 beyond; a single 0 without a window.
    const double* shape = p.repairWindowShape.get();
    if (c.w < 1) {
      EXPECT_EQ(shape[0], 0.0);
      EXPECT_EQ(shape[1], 1.0);
    } else {
      for (int j = 0; j <= c.w; ++j) ASSERT_NEAR(shape[j], ss(j / double(c.w)), 1e-15) << j;
      EXPECT_EQ(shape[c.w + 1], 1.0);
      EXPECT_EQ(shape[kRepairRingLength - 1], 1.0);
    }
  }
}

TEST(ClipRepair, PureDelayWhileTheRepairAmountIsZero) {
  Repair rep(ProcessingMode::stream, 50, 48000);
  ASSERT_EQ(rep.p->repairDelay, 168);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-kOutputCeiling, kOutputCeiling);
  std::vector<double> in(5000);
  for (double& x : in) x = u(rng);
  const std::vector<double> out = rep.run(in, 1.4);
  for (size_t f = 0; f < in.size(); ++f) {
    ASSERT_EQ(out[f], f >= 168 ? in[f - 168] : 0.0) << f;
  }
}

TEST(ClipRepair, NotEnteredInPodcastMode) {
  for (ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    auto proc = std::make_unique<Processor>();
    proc->setSampleRate(48000);
    proc->applySettings({mode, 0.0, 100.0});
    for (int f = 0; f < 300; ++f) proc->processFrame(0.9f * std::sin(0.1f * f), 0.5f);
    EXPECT_EQ(proc->state.repair.sampleCounter, mode == ProcessingMode::podcast ? 0 : 300);
  }
}

// Background tone below the knee with one plateau above it: the plateau is a
// clip event of exactly `length` frames.
std::vector<double> plateauSignal(int length, int at, int frames) {
  std::vector<double> x(static_cast<size_t>(frames));
  for (int f = 0; f < frames; ++f) x[f] = 0.3 * std::sin(2.0 * kPi * 300.0 * f / 48000.0);
  for (int f = at; f < at + length; ++f) x[f] = 0.7;
  return x;
}

TEST(ClipRepair, IsolatedEventWeightByLength) {
  const double c = kOutputCeiling;
  const struct {
    ProcessingMode mode;
    int length;  // frames at 48 kHz
    double weight;
  } cases[] = {
      {ProcessingMode::limiter, 20, 0.0},              // 0.42 ms: too short
      {ProcessingMode::limiter, 24, ss(0.05 / 0.15)},  // 0.5 ms: fading in
      {ProcessingMode::limiter, 29, 1.0},              // 0.604 ms
      {ProcessingMode::limiter, 48, 1.0},              // 1 ms
      {ProcessingMode::limiter, 72, 1.0},              // 1.5 ms
      {ProcessingMode::limiter, 84, 1.0 - ss(0.5)},    // 1.75 ms: fading out
      {ProcessingMode::limiter, 96, 0.0},              // 2 ms
      {ProcessingMode::stream, 72, 1.0},               // as long as the look-ahead
      {ProcessingMode::stream, 80, 0.0},               // longer than the look-ahead
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(k.mode) << " " << k.length);
    Repair rep(k.mode, 100, 48000);
    const int delay = rep.p->repairDelay;
    const int at = 1000;
    const std::vector<double> in = plateauSignal(k.length, at, 2000);
    const std::vector<double> out = rep.run(in);
    for (int f = delay; f < 2000; ++f) {
      const double raw = in[f - delay];
      const bool inEvent = f - delay >= at && f - delay < at + k.length;
      const double want = inEvent ? raw + (knee6(raw, c) - raw) * k.weight : raw;
      ASSERT_NEAR(out[f], want, 1e-12) << f;
    }
  }
}

TEST(ClipRepair, ClippingWithTheWaveformsPeriodIsLeftAlone) {
  // 500 Hz at 48 kHz: a period of 96 frames, peaks above the knee for about 0.63 ms.
  Repair rep(ProcessingMode::limiter, 0, 48000);
  const int frames = 4800;
  std::vector<double> in(frames);
  for (int f = 0; f < frames; ++f) in[f] = 0.95 * std::sin(2.0 * kPi * f / 96.0);
  rep.run(in);
  const double* mark = rep.s->markRing.get();
  // The first three peaks (onsets at frames 9, 57 and 105) cannot be compared
  // with a whole period before the start of the signal, so they are rounded.
  for (int f : {9, 39, 57, 87, 105, 135}) EXPECT_EQ(mark[f], 1.0) << f;
  // From the fourth on, the onset a period back correlates fully.
  for (int f = 150; f < frames - 96; ++f) ASSERT_EQ(mark[f], 0.0) << f;
  EXPECT_GE(rep.s->periodicity, 0.97);
}

TEST(ClipRepair, PeriodicityScore) {
  // A periodic pattern of random values: it correlates fully only at its period.
  Repair rep(ProcessingMode::limiter, 0, 48000);  // lags 12..960
  ClipRepairState& s = *rep.s;
  const int period = 104;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  std::vector<double> cycle(period);
  for (double& v : cycle) v = u(rng);
  const std::int64_t n = 3000;
  for (std::int64_t f = 0; f <= n; ++f) {
    s.rawRing[0][f] = cycle[f % period];
    s.rawRing[1][f] = -0.5 * cycle[f % period];
  }
  const std::int64_t none = -1000000000;
  const struct {
    std::int64_t onsets[3];
    double min, max;
  } cases[] = {
      {{n - period, none, none}, 0.999999, 1.0},
      {{n - 100, none, none}, 0.999999, 1.0},       // the 4 % stretch reaches the period
      {{n - 52, n - period, none}, 0.999999, 1.0},  // each onset is scored on its own
      {{n - 52, none, none}, 0.0, 0.9},
      {{n - 5, n - 2000, none}, 0.0, 0.0},  // outside the lag range
      {{none, none, none}, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    for (int k = 0; k < 3; ++k) s.onsetTimes[k] = c.onsets[k];
    const double score = periodicityScore(*rep.p, s, n);
    EXPECT_GE(score, c.min) << c.onsets[0];
    EXPECT_LE(score, c.max) << c.onsets[0];
  }
}

TEST(ClipRepair, DenseClippingClosesTheQualityGate) {
  Repair rep(ProcessingMode::limiter, 0, 48000);
  // A square wave at 0.95: the knee's error is within 16 dB of the signal.
  std::vector<double> in(960);
  for (int f = 0; f < 960; ++f) in[f] = (f / 240) % 2 ? -0.95 : 0.95;
  std::vector<double> out;
  for (int f = 0; f < 48; ++f) out.push_back(rep.run({in[f]})[0]);
  EXPECT_LT(rep.s->allowState, 0.03);  // 1 ms, four time constants
  const std::vector<double> rest = rep.run(std::vector<double>(in.begin() + 48, in.end()));
  EXPECT_LT(rep.s->allowState, 1e-20);
  for (double y : rest) ASSERT_LE(std::fabs(y), kOutputCeiling);
}

// Output gain above 1: the repair limits the gained signal, fading a
// reduction in over the window before the loud sample and releasing after it.
TEST(ClipRepair, WindowAndReleaseOfTheLimiter) {
  Repair rep(ProcessingMode::limiter, 0, 48000);
  const int delay = rep.p->repairDelay;
  const int w = rep.p->repairWindow;
  const double gain = 1.5;
  const double ceiling = kOutputCeiling / gain;
  const int at = 500;
  std::vector<double> in(3000, 0.1);
  in[at] = 0.9;  // one frame: far too short to be rounded
  const std::vector<double> out = rep.run(in, gain);
  const double need = ceiling / 0.9;
  for (int f = delay; f < 3000; ++f) {
    const int src = f - delay;
    double g = 1.0;
    if (src <= at && src >= at - w) g = need + (1.0 - need) * ss((at - src) / double(w));
    if (src > at) g = 1.0 - (1.0 - need) * std::pow(rep.p->repairRelease, src - at);
    if (g > 0.999999999) g = 1.0;
    ASSERT_NEAR(out[f], g * in[src] * gain, 1e-12) << src;
  }
  EXPECT_NEAR(out[at + delay], kOutputCeiling, 1e-15);
}

TEST(ClipRepair, OutputStaysInsideTheCeiling) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-kOutputCeiling, kOutputCeiling);
  for (ProcessingMode mode : {ProcessingMode::stream, ProcessingMode::limiter}) {
    for (double og : {1.0, 1.3, 2.5}) {
      Repair rep(mode, 100, 44100);
      std::vector<double> in(20000);
      for (size_t f = 0; f < in.size(); ++f) {
        // Noise, bursts and a tone, all at or below the ceiling.
        in[f] = (f / 3000) % 2 ? u(rng) : kOutputCeiling * std::sin(0.07 * f);
      }
      for (double y : rep.run(in, og)) ASSERT_LE(std::fabs(y), kOutputCeiling);
    }
  }
}

// Switching the repair on without a reset: the frames already in the window
// were kept as their unrepaired selves, so nothing stale comes out.
TEST(ClipRepair, TurningTheRepairOnMidStreamIsSeamless) {
  Repair rep(ProcessingMode::stream, 40, 48000);
  ASSERT_EQ(rep.p->repairAmount, 0.0);
  const int delay = rep.p->repairDelay;
  std::vector<double> in(20000);
  for (size_t f = 0; f < in.size(); ++f) in[f] = 0.8 * std::sin(0.01 * f);
  std::vector<double> out = rep.run(std::vector<double>(in.begin(), in.begin() + 10000), 1.2);
  rep.derive(ProcessingMode::stream, 100, 48000);
  const std::vector<double> later = rep.run(std::vector<double>(in.begin() + 10000, in.end()), 1.2);
  out.insert(out.end(), later.begin(), later.end());
  // At 0.8 x 1.2 the gained tone stays under the ceiling, and its slow peaks
  // are too long to be events: once on, the stage passes it delayed, gained.
  for (int f = 10000; f < 10000 + 3 * delay; ++f) {
    ASSERT_NEAR(out[f], in[f - delay] * 1.2, 1e-12) << f;
  }
}

TEST(ClipRepair, ResetRestoresEveryValue) {
  Repair used(ProcessingMode::limiter, 0, 48000);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-kOutputCeiling, kOutputCeiling);
  std::vector<double> noise(6000);
  for (double& x : noise) x = u(rng);
  used.run(noise, 1.7);
  resetClipRepair(*used.s, *used.p);
  Repair fresh(ProcessingMode::limiter, 0, 48000);
  std::vector<double> in = plateauSignal(40, 300, 3000);
  for (size_t f = 0; f < 3000; f += 7) in[f] = u(rng);
  EXPECT_EQ(used.run(in, 1.3), fresh.run(in, 1.3));
}

}  // namespace
}  // namespace vantle
