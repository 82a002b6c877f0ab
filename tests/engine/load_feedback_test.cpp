#include "engine/stages/load_feedback.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "engine/processor.h"

namespace vantle {
namespace {

double lin(double db) { return std::pow(10.0, db / 20.0); }

std::unique_ptr<Processor> configured(ProcessingMode mode, double adapt, double fs = 48000) {
  auto p = std::make_unique<Processor>();
  p->setSampleRate(fs);
  p->applySettings({mode, 0.0, adapt});
  return p;
}

TEST(LoadFeedbackSeeding, FixedTargetsPerModeWithoutLoad) {
  const struct {
    ProcessingMode mode;
    double adapt, outputDb;
  } cases[] = {
      {ProcessingMode::podcast, 0, 1.5},   {ProcessingMode::podcast, 100, 1.5},
      {ProcessingMode::limiter, 0, 2.0},   {ProcessingMode::limiter, 50, 2.5},
      {ProcessingMode::limiter, 100, 3.0}, {ProcessingMode::stream, 0, 0.8},
      {ProcessingMode::stream, 50, 0.8},   {ProcessingMode::stream, 75, 1.1},
      {ProcessingMode::stream, 100, 1.4},
  };
  for (const auto& c : cases) {
    for (double fs : {8000.0, 48000.0, 768000.0}) {
      auto p = configured(c.mode, c.adapt, fs);
      SCOPED_TRACE(testing::Message() << static_cast<int>(c.mode) << " " << c.adapt << " " << fs);
      EXPECT_NEAR(p->loadTargets.outputGainTarget, lin(c.outputDb), 1e-12);
      EXPECT_NEAR(p->loadTargets.riderTarget, lin(-17.0), 1e-14);
      EXPECT_EQ(p->state.load.loadDb, 0.0);
      EXPECT_EQ(p->loadTargets.reductionPressure, 0.0);
    }
  }
}

// A derivation in the same mode keeps the feedback's state but clamps it to
// the new voicing's limits, and both targets follow at once.
TEST(LoadFeedbackSeeding, DerivationClampsTheStateAndMovesTheTargets) {
  auto p = configured(ProcessingMode::stream, 100);
  p->state.load.loadDb = 5.0;
  p->state.load.riderLiftDb = 10.0;
  p->applySettings({ProcessingMode::stream, 0.0, 75.0});  // K = 0.5
  EXPECT_EQ(p->state.load.loadDb, 1.0);
  EXPECT_EQ(p->state.load.riderLiftDb, 1.5);
  EXPECT_EQ(p->loadTargets.reductionPressure, 1.0);
  EXPECT_NEAR(p->loadTargets.outputGainTarget, lin(0.2), 1e-12);  // 1.1 dB - 0.9 dB
  EXPECT_NEAR(p->loadTargets.riderTarget, lin(1.5 - 17.0 - 0.35), 1e-12);

  p->state.load.loadDb = 0.3;
  p->state.load.riderLiftDb = -2.0;
  p->applySettings({ProcessingMode::stream, 0.0, 75.0});
  EXPECT_EQ(p->state.load.loadDb, 0.3);
  EXPECT_EQ(p->state.load.riderLiftDb, 0.0);
  EXPECT_NEAR(p->loadTargets.reductionPressure, 0.5, 1e-15);
  EXPECT_NEAR(p->loadTargets.outputGainTarget, lin(1.1 - 0.27), 1e-12);

  // Below adapt 50 the loop is off: the load is dropped and the targets are fixed.
  p->applySettings({ProcessingMode::stream, 0.0, 40.0});
  EXPECT_EQ(p->state.load.loadDb, 0.0);
  EXPECT_EQ(p->state.load.riderLiftDb, 0.0);
  EXPECT_EQ(p->loadTargets.reductionPressure, 0.0);
  EXPECT_NEAR(p->loadTargets.outputGainTarget, lin(0.8), 1e-12);
  EXPECT_NEAR(p->loadTargets.riderTarget, lin(-17.0), 1e-14);
}

TEST(LoadFeedbackSeeding, ResetReturnsToRest) {
  auto p = configured(ProcessingMode::stream, 100);
  p->state.load.loadDb = 1.2;
  p->state.load.riderLiftDb = 2.0;
  p->loadTargets.reductionPressure = 1.0;
  p->loadTargets.riderTarget = 0.5;
  p->reset();
  EXPECT_EQ(p->state.load.loadDb, 0.0);
  EXPECT_EQ(p->state.load.riderLiftDb, 0.0);
  EXPECT_EQ(p->loadTargets.reductionPressure, 0.0);
  EXPECT_NEAR(p->loadTargets.riderTarget, lin(-17.0), 1e-14);
}

// What the block update weighs: the watched stages' values with the depths of
// their reductions, as the output stage, the repair and the rider set them.
struct Watched {
  double peakLevel;
  double densityDepth;
  double boostGuardGain;
  double peakLimitGain;
  double limitDepth;
  double repairGain;
  double repairAmount;
  double tpGain;
  double silenceHold;
  double inputPeakHold;
  double silenceThreshold;
};

struct Feedback {
  LoadFeedbackParams p;
  LoadFeedbackState s;
  LoadTargets targets;
  double& riderTarget = targets.riderTarget;
  double& outputGainTarget = targets.outputGainTarget;
  Feedback(ProcessingMode mode, double adapt) {
    deriveLoadFeedback(p, DeriveInputs{mode, 48000.0, adapt / 100.0, 0.0, kOutputCeiling},
                       WatchedVoicing{});
    resetLoadFeedback(s, p, targets);
    seedLoadTargets(p, s, targets);
  }
  void blocks(int n, const Watched& w) {
    const double c = kOutputCeiling;
    p.watched = WatchedVoicing{0.55 * c,     0.35 * c,       w.densityDepth,
                               w.limitDepth, w.repairAmount, w.silenceThreshold};
    const LoadFeedbackInputs in{w.peakLevel, w.boostGuardGain, w.peakLimitGain, w.repairGain,
                                w.tpGain,    w.silenceHold,    w.inputPeakHold};
    for (int k = 0; k < n; ++k) runLoadFeedback(p, s, in, targets);
  }
};

// Inputs of idle final stages, with programme present or not.
Watched idle(bool programme) {
  return Watched{
      0.1, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, programme ? 0.0 : 0.8, programme ? 0.5 : 0.001, 0.01};
}

double blockPoleOf(double seconds) { return std::exp(-64.0 / (seconds * 48000.0)); }

TEST(LoadFeedbackBlock, SteadySixDecibelsOfReduction) {
  Feedback fb(ProcessingMode::stream, 100);
  Watched in = idle(false);
  in.tpGain = lin(-6.0);  // loss 6 dB: t = min(2, 4.32) = 2
  fb.blocks(1, in);
  EXPECT_NEAR(fb.s.loadDb, 2.0 * (1.0 - blockPoleOf(1.8)), 1e-12);
  EXPECT_NEAR(fb.targets.reductionPressure, fb.s.loadDb / 0.6, 1e-12);
  EXPECT_NEAR(fb.outputGainTarget, lin(1.4 - 0.9 * fb.s.loadDb), 1e-12);
  fb.blocks(48000 * 60 / 64, in);  // a minute
  EXPECT_NEAR(fb.s.loadDb, 2.0, 1e-9);
  EXPECT_EQ(fb.targets.reductionPressure, 1.0);
  EXPECT_NEAR(fb.outputGainTarget, 1.0, 1e-12);  // max(0, 1.4 - 1.8) dB
  EXPECT_NEAR(fb.riderTarget, lin(-17.7), 1e-9);
  // When the reduction stops, the load falls with the slow 8 s pole.
  const double before = fb.s.loadDb;
  fb.blocks(1, idle(false));
  EXPECT_NEAR(fb.s.loadDb, before * blockPoleOf(8.0), 1e-12);
}

TEST(LoadFeedbackBlock, ProductOfTheFinalStagesReductions) {
  Feedback fb(ProcessingMode::stream, 100);
  const double c = kOutputCeiling;
  const struct {
    Watched in;
    double z;
  } cases[] = {
      // The density reduction reaches its full depth at 0.9 C.
      {{0.9 * c, 0.1, 0.98, 0.9, 0.5, 0.9, 0.5, 0.99, 0.8, 0.0, 0.01},
       lin(-0.2) * 0.98 * 0.95 * 0.95 * 0.99},
      // Half way: a peak level of 0.725 C gives half the depth.
      {{0.725 * c, 0.4, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.8, 0.0, 0.01}, lin(-0.4)},
      // Below 0.55 C no density reduction; depths of 0 ignore their gains.
      {{0.5 * c, 1.0, 1.0, 0.1, 0.0, 0.1, 0.0, 0.9, 0.8, 0.0, 0.01}, 0.9},
      // A vanishing gain counts as 1e-6: the load saturates.
      {{0.1, 0.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.0, 0.8, 0.0, 0.01}, 1e-6},
  };
  for (const auto& k : cases) {
    fb.s.loadDb = 0.0;
    fb.blocks(1, k.in);
    const double loss = -20.0 * std::log10(k.z);
    const double t = std::fmin(2.0, std::fmax(0.0, (loss - 0.6) * 0.8));
    EXPECT_NEAR(fb.s.loadDb, t * (1.0 - blockPoleOf(1.8)), 1e-9) << k.z;
  }
}

TEST(LoadFeedbackBlock, RiderLiftRisesOnlyWithProgramme) {
  Feedback fb(ProcessingMode::stream, 100);
  fb.blocks(1, idle(true));
  EXPECT_NEAR(fb.s.riderLiftDb, 3.0 * (1.0 - blockPoleOf(6.0)), 1e-12);
  fb.blocks(48000 * 120 / 64, idle(true));
  EXPECT_NEAR(fb.s.riderLiftDb, 3.0, 1e-6);
  EXPECT_NEAR(fb.riderTarget, lin(-14.0), 1e-6);
  EXPECT_NEAR(fb.outputGainTarget, lin(1.4), 1e-12);  // idle: the load decays to 0
  // Silence, or an input peak below the silence threshold, holds the lift.
  const double held = fb.s.riderLiftDb;
  fb.blocks(100, idle(false));
  EXPECT_EQ(fb.s.riderLiftDb, held);
  Watched quiet = idle(true);
  quiet.inputPeakHold = 0.005;
  fb.blocks(100, quiet);
  EXPECT_EQ(fb.s.riderLiftDb, held);
}

TEST(LoadFeedbackBlock, OffOutsideStreamMode) {
  for (ProcessingMode mode : {ProcessingMode::podcast, ProcessingMode::limiter}) {
    Feedback fb(mode, 100);
    Watched heavy = idle(true);
    heavy.tpGain = 0.1;
    fb.blocks(5000, heavy);
    EXPECT_EQ(fb.s.loadDb, 0.0);
    EXPECT_EQ(fb.s.riderLiftDb, 0.0);
    EXPECT_EQ(fb.targets.reductionPressure, 0.0);
    EXPECT_NEAR(fb.riderTarget, lin(-17.0), 1e-14);
    EXPECT_NEAR(fb.outputGainTarget, lin(mode == ProcessingMode::podcast ? 1.5 : 3.0), 1e-12);
  }
}

TEST(LoadFeedbackBlock, RunsOnEverySixtyFourthFrameOfTheChain) {
  auto p = configured(ProcessingMode::stream, 100);
  double lift = p->state.load.riderLiftDb;
  double load = p->state.load.loadDb;
  int updates = 0;
  for (int f = 1; f <= 64 * 20; ++f) {
    const float x = (f % 3 == 0 ? 0.9f : -0.8f);
    p->processFrame(x, -x);
    const bool changed = p->state.load.riderLiftDb != lift || p->state.load.loadDb != load;
    if (changed) {
      EXPECT_EQ(f % 64, 0) << f;
      ++updates;
    }
    lift = p->state.load.riderLiftDb;
    load = p->state.load.loadDb;
  }
  EXPECT_GT(updates, 10);
}

}  // namespace
}  // namespace vantle
