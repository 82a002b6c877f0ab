#include "engine/stages/spectral_balance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/processor.h"

namespace vantle {
namespace {

using Bands = double[kBands];

struct Balance {
  SpectralBalanceParams p;
  SpectralBalanceState s;
  BandSignals b;

  Balance(double h, double v, bool on = true, ProcessingMode mode = ProcessingMode::stream,
          double fs = 48000.0) {
    deriveSpectralBalance(p, {mode, fs, 1.0, 0.0, kOutputCeiling}, on, h, v);
    resetSpectralBalance(s, p);
  }
  // Left carries a, right -a: the block power of band k is a[k]^2.
  void frame(const Bands& a) {
    for (int k = 0; k < kBands; ++k) {
      b.mixedBand[0][k] = a[k];
      b.mixedBand[1][k] = -a[k];
    }
    runSpectralBalance(p, s, &b, 1);
  }
};

double db20(double x) { return 20.0 * std::log10(x); }

bool sameState(const SpectralBalanceState& a, const SpectralBalanceState& b) {
  return a.balanceFrameCount == b.balanceFrameCount &&
         std::memcmp(a.balanceAccum, b.balanceAccum, sizeof a.balanceAccum) == 0 &&
         std::memcmp(a.balancePower, b.balancePower, sizeof a.balancePower) == 0 &&
         std::memcmp(a.balanceDb, b.balanceDb, sizeof a.balanceDb) == 0 &&
         std::memcmp(a.balanceGain, b.balanceGain, sizeof a.balanceGain) == 0;
}

// One block of steady bands against hand-worked targets: for each band its
// level against the two middle bands, the clamped correction and the lift.
// Bands 0..3 scale with H, bands 4 and 5 with V.
TEST(SpectralBalance, BlockUpdateStepsEveryBandTowardsItsTarget) {
  const double h = 0.8;
  const double v = 0.5;
  const struct {
    const char* what;
    Bands a;
    Bands target;  // before the H and V scaling
  } cases[] = {
      // Silence and an even spectrum: every level is 0 dB.
      {"silence", {0, 0, 0, 0, 0, 0}, {1.888, 0.648, -0.048, 0, -0.29664, -0.67824}},
      {"even", {1, 1, 1, 1, 1, 1}, {1.888, 0.648, -0.048, 0, -0.29664, -0.67824}},
      // Band 0 20 dB low, band 4 20 dB high, band 5 empty (-84 dB).
      {"tilted", {0.1, 1, 1, 1, 10, 0}, {4.9, 0.648, -0.048, 0, -1.1, 1.35}},
      // Empty bands under loud mids sit at the -140 dB floor; the clamps bound them.
      {"empty lows", {0, 0, 1000, 1000, 0, 1000}, {4.9, 3.45, -0.048, 0, 1.15, -0.67824}},
      // Loud lows, quiet top: the low clamps of bands 0, 1 and the high ones of 2, 4, 5.
      {"heavy lows",
       {10, 10, 0.5, 1.5, 0.01, 0.01},
       {0.75, -0.75, 0.55, -0.1 * db20(1.5 / std::sqrt(1.25)), 1.15, 1.35}},
      {"lopsided mids",
       {1, 1, 0.1, 10, 100, 100},
       {4.9, 3.45, 0.55, -0.1 * db20(10.0 / std::sqrt(0.5 * (0.01 + 100.0))), -1.1, -1.35}},
  };
  const double g = 1.0 - std::exp(-32.0 / (0.9 * 48000.0));
  const double trim[kBands] = {1.0,
                               1.0,
                               1.0,
                               std::pow(10.0, 0.24 * 2.3 * v / 20.0),
                               std::pow(10.0, 0.42 * 2.3 * v / 20.0),
                               std::pow(10.0, 0.5 * 3.2 * v / 20.0)};
  for (const auto& c : cases) {
    Balance bal(h, v);
    for (int f = 1; f < 32; ++f) {
      bal.frame(c.a);
      for (int k = 0; k < kBands; ++k) {
        ASSERT_DOUBLE_EQ(bal.b.mixedBand[0][k], c.a[k] * trim[k]) << c.what << " frame " << f;
        ASSERT_EQ(bal.s.balanceGain[k], 1.0) << c.what << " frame " << f;
      }
    }
    bal.frame(c.a);
    EXPECT_EQ(bal.s.balanceFrameCount, 0);
    double gain[kBands];
    for (int k = 0; k < kBands; ++k) {
      const double target = c.target[k] * (k < 4 ? h : v);
      EXPECT_NEAR(bal.s.balanceDb[k], target * g, 1e-12) << c.what << " band " << k;
      EXPECT_EQ(bal.s.balanceAccum[k], 0.0);
      gain[k] = std::pow(10.0, target * g / 20.0);
      // The new gain already applies to the frame that completed the block.
      EXPECT_NEAR(bal.b.mixedBand[0][k], c.a[k] * gain[k] * trim[k], 1e-12 * (1.0 + c.a[k]))
          << c.what << " band " << k;
      EXPECT_NEAR(bal.b.mixedBand[1][k], -c.a[k] * gain[k] * trim[k], 1e-12 * (1.0 + c.a[k]));
    }
    // Between blocks the gains hold.
    const SpectralBalanceState held = bal.s;
    for (int f = 0; f < 31; ++f) {
      bal.frame(c.a);
      for (int k = 0; k < kBands; ++k) {
        ASSERT_EQ(bal.s.balanceGain[k], held.balanceGain[k]) << c.what;
      }
    }
  }
}

// Over many blocks the gains settle on the targets.
TEST(SpectralBalance, GainsSettleOnTheTargetShape) {
  Balance bal(1.0, 1.0, true, ProcessingMode::stream, 8000.0);
  const Bands a = {0.1, 1, 1, 1, 10, 0};
  for (int f = 0; f < 40 * 8000; ++f) bal.frame(a);
  const double target[kBands] = {4.9, 0.648, -0.048, 0, -1.1, 1.35};
  for (int k = 0; k < kBands; ++k) {
    EXPECT_NEAR(bal.s.balanceDb[k], target[k], 1e-9) << k;
    EXPECT_NEAR(bal.s.balanceGain[k], std::pow(10.0, target[k] / 20.0), 1e-9) << k;
  }
}

// With both scales at 0 nothing moves, fixed lifts included: the bands pass
// bit for bit although the block updates run.
TEST(SpectralBalance, ZeroScalesLeaveTheBandsUntouched) {
  Balance bal(0.0, 0.0);
  std::uint32_t seed = 7;
  for (int f = 0; f < 32 * 10; ++f) {
    Bands a;
    for (double& x : a) {
      seed = seed * 1664525u + 1013904223u;
      x = static_cast<double>(seed) / 4294967296.0 - 0.5;
    }
    bal.frame(a);
    for (int k = 0; k < kBands; ++k) {
      ASSERT_EQ(bal.b.mixedBand[0][k], a[k]);
      ASSERT_EQ(bal.b.mixedBand[1][k], -a[k]);
    }
  }
  for (int k = 0; k < kBands; ++k) EXPECT_EQ(bal.s.balanceGain[k], 1.0);
  EXPECT_GT(bal.s.balancePower[2], 0.0);
}

// Without the stream band dynamics the stage is a pass-through in every
// mode, with neutral trims and no state change, whatever H and V hold.
TEST(SpectralBalance, OffWithoutTheStreamBandDynamics) {
  for (const ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    Balance bal(0.9, 0.7, false, mode);
    EXPECT_EQ(bal.p.presenceTrim, 1.0);
    EXPECT_EQ(bal.p.presenceTrimHigh, 1.0);
    EXPECT_EQ(bal.p.airTrim, 1.0);
    const SpectralBalanceState fresh = bal.s;
    const Bands a = {0.3, -0.2, 0.1, 0.7, -0.9, 0.05};
    for (int f = 0; f < 100; ++f) {
      bal.frame(a);
      for (int k = 0; k < kBands; ++k) {
        ASSERT_EQ(bal.b.mixedBand[0][k], a[k]);
        ASSERT_EQ(bal.b.mixedBand[1][k], -a[k]);
      }
    }
    EXPECT_TRUE(sameState(bal.s, fresh));
  }

  // Through the processor, podcast, limiter and stream up to adapt 50 leave
  // the balance at rest.
  const ProcessorSettings off[] = {{ProcessingMode::podcast, 0.0, 100.0},
                                   {ProcessingMode::limiter, 0.0, 100.0},
                                   {ProcessingMode::stream, 0.0, 50.0},
                                   {ProcessingMode::stream, 0.0, 0.0}};
  for (const auto& settings : off) {
    auto proc = std::make_unique<Processor>();
    proc->setSampleRate(48000.0);
    proc->applySettings(settings);
    EXPECT_FALSE(proc->params.balance.enabled);
    EXPECT_EQ(proc->params.balance.airTrim, 1.0);
    const SpectralBalanceState fresh = proc->state.balance;
    for (int f = 0; f < 256; ++f) {
      const float x = static_cast<float>(0.5 * std::sin(0.05 * f));
      proc->processFrame(x, -x);
    }
    EXPECT_TRUE(sameState(proc->state.balance, fresh)) << static_cast<int>(settings.mode);
  }
}

// A reset in the middle of a block starts a fresh one: what came before it
// leaves no trace in the next update.
TEST(SpectralBalance, ResetMidBlockStartsAFreshBlock) {
  const Bands before = {5, 5, 5, 5, 5, 5};
  const Bands after = {0.1, 1, 1, 1, 10, 0};
  Balance reused(0.8, 0.5);
  for (int f = 0; f < 20; ++f) reused.frame(before);
  for (int f = 0; f < 32 * 3 + 20; ++f) reused.frame(before);
  resetSpectralBalance(reused.s, reused.p);
  Balance fresh(0.8, 0.5);
  for (int f = 0; f < 31; ++f) {
    reused.frame(after);
    fresh.frame(after);
  }
  for (int k = 0; k < kBands; ++k) EXPECT_EQ(reused.s.balanceGain[k], 1.0);
  reused.frame(after);
  fresh.frame(after);
  EXPECT_TRUE(sameState(reused.s, fresh.s));
  EXPECT_NE(reused.s.balanceGain[0], 1.0);
}

TEST(SpectralBalance, DerivedValues) {
  for (const double fs : {8000.0, 44100.0, 768000.0}) {
    Balance bal(1.0, 1.0, true, ProcessingMode::stream, fs);
    EXPECT_NEAR(bal.p.balancePowerSmooth, 1.0 - std::exp(-32.0 / (2.4 * fs)),
                1e-9 * bal.p.balancePowerSmooth);
    EXPECT_NEAR(bal.p.balanceGainSmooth, 1.0 - std::exp(-32.0 / (0.9 * fs)),
                1e-9 * bal.p.balanceGainSmooth);
  }
  const struct {
    ProcessingMode mode;
    double presence, air;
  } voicing[] = {{ProcessingMode::podcast, 2.0, 2.0},
                 {ProcessingMode::stream, 2.3, 3.2},
                 {ProcessingMode::limiter, 0.0, 0.0}};
  for (const auto& c : voicing) {
    Balance bal(1.0, 0.6, true, c.mode);
    EXPECT_NEAR(bal.p.presenceTrim, std::pow(10.0, 0.24 * c.presence * 0.6 / 20.0), 1e-15);
    EXPECT_NEAR(bal.p.presenceTrimHigh, std::pow(10.0, 0.42 * c.presence * 0.6 / 20.0), 1e-15);
    EXPECT_NEAR(bal.p.airTrim, std::pow(10.0, 0.5 * c.air * 0.6 / 20.0), 1e-15);
  }
}

}  // namespace
}  // namespace vantle
