#include "engine/stages/band_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/bands.h"
#include "engine/dsp/curves.h"
#include "engine/processor.h"
#include "engine/settings.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

// What the band limiters hand the mix in one frame.
BandLimitersOutput limiterOutput(bool makeupUpdate, const double (&peaks)[kMakeupBands]) {
  BandLimitersOutput out;
  out.makeupUpdate = makeupUpdate;
  for (int k = 0; k < kMakeupBands; ++k) out.bandPeak[k] = peaks[k];
  return out;
}

// Deterministic programme: loud noise with a slow swell, up to about 1.4.
struct Noise {
  std::uint32_t seed = 12345;
  float next() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>((static_cast<double>(seed) / 4294967296.0 - 0.5) * 2.8);
  }
};

void expectStateAtRest(const BandMixState& m, const BandLimitersState& l) {
  for (int k = 0; k < kMakeupBands; ++k) {
    EXPECT_EQ(m.clipRatioPeak[k], 1.0);
    EXPECT_EQ(m.clipMakeupDb[k], 0.0);
    EXPECT_EQ(m.clipMakeupGain[k], 1.0);
    EXPECT_EQ(l.reductionHold[k], 1.0);
    EXPECT_EQ(l.makeupDb[k], 0.0);
    EXPECT_EQ(l.bandMakeupGain[k], 1.0);
  }
  for (int k = 0; k < kBands; ++k) {
    EXPECT_EQ(l.bandReductionDb[k], 0.0);
    EXPECT_EQ(l.bandLimitGain[k], 1.0);
  }
  EXPECT_EQ(l.frameCounter, 0);
  EXPECT_FALSE(l.out.makeupUpdate);
}

TEST(BandMix, GainedBandsPassBitIdenticalWhenStreamDynamicsAreOff) {
  const struct {
    ProcessingMode mode;
    double adapt;
  } cases[] = {{ProcessingMode::podcast, 0}, {ProcessingMode::podcast, 100},
               {ProcessingMode::limiter, 0}, {ProcessingMode::limiter, 100},
               {ProcessingMode::stream, 0},  {ProcessingMode::stream, 50}};
  for (double fs : {44100.0, 48000.0}) {
    for (const auto& c : cases) {
      auto p = std::make_unique<Processor>();
      p->setSampleRate(fs);
      p->applySettings({c.mode, 0.0, c.adapt});
      Noise noise;
      for (int n = 0; n < 3000; ++n) {
        p->processFrame(noise.next(), noise.next());
        ASSERT_EQ(std::memcmp(p->block.bands[0].mixedBand, p->block.bands[0].gainedBand,
                              sizeof p->block.bands[0].mixedBand),
                  0)
            << fs << " mode " << static_cast<int>(c.mode) << " adapt " << c.adapt << " frame " << n;
      }
      expectStateAtRest(p->state.bandMix, p->state.bandLimiters);
    }
  }
}

TEST(BandMix, DerivedVoicing) {
  const struct {
    ProcessingMode mode;
    double adapt;
    double h, v, presenceDb, airDb, wet, clippedDb;
  } cases[] = {
      {ProcessingMode::podcast, 100, 0, 0, 0, 0, 0, 0},
      {ProcessingMode::limiter, 100, 0, 0, 0, 0, 0, 0},
      {ProcessingMode::stream, 50, 0, 0, 0.42 * 2.3, 0.38 * 3.2, 0, -1.5},
      {ProcessingMode::stream, 100, 1, 1, 0.26 * 2.3, 0.24 * 3.2, 0.6 * (0.09 + 0.85), -3},
      // adapt 65: H = smoothstep(0.5) = 0.5, V = (0.15 / 0.65)^2, g = 0.6 smoothstep(15 / 28).
      {ProcessingMode::stream, 65, 0.5, (0.15 / 0.65) * (0.15 / 0.65),
       (0.42 - 0.16 * (0.15 / 0.65) * (0.15 / 0.65)) * 2.3,
       (0.38 - 0.14 * (0.15 / 0.65) * (0.15 / 0.65)) * 3.2,
       0.6 * smooth(15.0 / 28) * (0.15 * 0.6 * smooth(15.0 / 28) + 0.85), -2.25},
  };
  for (const auto& c : cases) {
    BandMixParams p;
    deriveBandMix(p, inputs(c.mode, c.adapt, 48000));
    EXPECT_NEAR(p.clipMakeupScale, c.h, 1e-12) << c.adapt;
    EXPECT_NEAR(p.upperBalanceScale, c.v, 1e-12) << c.adapt;
    EXPECT_NEAR(p.presenceClipTrim, fromDb(c.presenceDb), 1e-12) << c.adapt;
    EXPECT_NEAR(p.airClipTrim, fromDb(c.airDb), 1e-12) << c.adapt;
    EXPECT_NEAR(p.bandMixWet, c.wet, 1e-12) << c.adapt;
    EXPECT_EQ(p.bandMixDry, 1.0 - p.bandMixWet);
    EXPECT_NEAR(p.clippedBandGain, fromDb(c.clippedDb), 1e-12) << c.adapt;
  }
}

// Small bands stay below every clipper's knee, so each band's mix factor shows
// which trim reached it: dry + wet x clipped gain x trim.
TEST(BandMix, SmallBandsCarryTheirTrimIntoTheMix) {
  BandMixParams p;
  deriveBandMix(p, inputs(ProcessingMode::stream, 100, 48000));
  BandMixState s;
  resetBandMix(s, p);
  BandSignals b;
  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kBands; ++k) b.gainedBand[c][k] = b.limitedBand[c][k] = 1e-3 * (1 - 2 * c);
  const double peaks[kMakeupBands] = {1e-3 + 1e-7, 1e-3 + 1e-7, 1e-3 + 1e-7};
  const BandLimitersOutput still = limiterOutput(false, peaks);
  runBandMix(p, s, &still, &b, 1);
  const double trim[kBands] = {0, 0, 0, 0.26 * 2.3, 0.26 * 2.3, 0.24 * 3.2};
  const double wet = 0.6 * (0.09 + 0.85);
  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kBands; ++k)
      EXPECT_NEAR(b.mixedBand[c][k] / b.gainedBand[c][k],
                  (1 - wet) + wet * fromDb(-3) * fromDb(trim[k]), 1e-12)
          << "channel " << c << " band " << k;
}

TEST(BandMix, SilentBandsGetNoMakeup) {
  BandMixParams p;
  deriveBandMix(p, inputs(ProcessingMode::stream, 100, 48000));
  BandMixState s;
  resetBandMix(s, p);
  BandSignals b;
  const double peaks[kMakeupBands] = {1e-7, 1e-7, 1e-7};
  for (int n = 1; n <= 4800; ++n) {
    const BandLimitersOutput lim = limiterOutput(n % 16 == 0, peaks);
    runBandMix(p, s, &lim, &b, 1);
    for (int k = 0; k < kMakeupBands; ++k) {
      ASSERT_EQ(s.clipRatioPeak[k], 1.0);
      ASSERT_EQ(s.clipMakeupDb[k], 0.0);
    }
    for (int k = 0; k < kBands; ++k) ASSERT_EQ(b.mixedBand[0][k], 0.0);
  }
}

// Bands 0..2 clipped hard while their reference peaks stand far above them:
// the make-up climbs to its cap, moves only on update frames, and falls back
// to (never below) 0 dB once the bands are no longer reduced.
TEST(BandMix, MakeupStaysWithinItsCapsAndMovesOnlyOnUpdates) {
  const double caps[kMakeupBands] = {2.6, 2.75, 0.75};
  const double fs = 48000;
  for (double adapt : {70.0, 100.0}) {
    const double h = smooth((adapt / 100 - 0.5) / 0.3);
    BandMixParams p;
    deriveBandMix(p, inputs(ProcessingMode::stream, adapt, fs));
    BandMixState s;
    resetBandMix(s, p);
    BandSignals b;
    for (int c = 0; c < kChannels; ++c)
      for (int k = 0; k < kBands; ++k) b.limitedBand[c][k] = 0.9 * (1 - 2 * c);
    double peaks[kMakeupBands] = {10, 10, 10};
    double previous[kMakeupBands] = {1, 1, 1};
    const int second = static_cast<int>(fs);
    for (int n = 1; n <= 2 * second; ++n) {
      if (n == second + 1) {
        for (double& pk : peaks) pk = 1e-7;  // nothing taken off any more
      }
      const bool update = n % 16 == 0;
      const BandLimitersOutput lim = limiterOutput(update, peaks);
      runBandMix(p, s, &lim, &b, 1);
      for (int k = 0; k < kMakeupBands; ++k) {
        if (!update) {
          ASSERT_EQ(s.clipMakeupGain[k], previous[k]) << n;
        } else {
          ASSERT_NE(s.clipMakeupGain[k], previous[k]) << n;
        }
        ASSERT_LE(s.clipMakeupDb[k], h * caps[k]);
        ASSERT_GE(s.clipMakeupDb[k], 0.0);
        // This frame's (updated) make-up reaches the mixed band.
        const double clipped = kneeClip(0.9, p.bandClipCeiling[k], 0.35, 0.75);
        ASSERT_NEAR(b.mixedBand[0][k],
                    p.bandMixWet * (p.clippedBandGain * clipped) * s.clipMakeupGain[k], 1e-14);
        previous[k] = s.clipMakeupGain[k];
      }
      if (n == second) {
        for (int k = 0; k < kMakeupBands; ++k)
          EXPECT_NEAR(s.clipMakeupDb[k], h * caps[k] * (1 - std::exp(-1 / 0.32)), 1e-9) << k;
      }
    }
    // One second of falling with the 70 ms constant.
    for (int k = 0; k < kMakeupBands; ++k)
      EXPECT_NEAR(s.clipMakeupDb[k], h * caps[k] * (1 - std::exp(-1 / 0.32)) * std::exp(-1 / 0.07),
                  1e-9)
          << k;
  }
}

// Through the chain: the stream dynamics at work on loud programme keep their
// make-up within its caps, an adapt change that turns them off freezes their
// state without a reset, and a reset followed by silence gives exact silence.
TEST(BandMix, ChainFreezesOnAdaptChangeAndRestartsFromRest) {
  for (double fs : {44100.0, 96000.0}) {
    auto p = std::make_unique<Processor>();
    p->setSampleRate(fs);
    p->applySettings({ProcessingMode::stream, 0.0, 100});
    Noise noise;
    for (int n = 0; n < static_cast<int>(fs / 2); ++n) {
      p->processFrame(noise.next(), noise.next());
      for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < kBands; ++k)
          ASSERT_TRUE(std::isfinite(p->block.bands[0].mixedBand[c][k]));
    }
    const BandMixState mix = p->state.bandMix;
    const BandLimitersState lim = p->state.bandLimiters;
    const int ran = static_cast<int>(fs / 2);
    EXPECT_EQ(lim.frameCounter, ran % 16);
    const double mixCaps[kMakeupBands] = {2.6, 2.75, 0.75};
    const double limCaps[kMakeupBands] = {2.3, 2.45, 0.65};
    for (int k = 0; k < kMakeupBands; ++k) {
      EXPECT_GE(mix.clipMakeupDb[k], 0.0);
      EXPECT_LE(mix.clipMakeupDb[k], mixCaps[k]);
      EXPECT_GE(lim.makeupDb[k], 0.0);
      EXPECT_LE(lim.makeupDb[k], limCaps[k]);
    }

    p->applySettings({ProcessingMode::stream, 0.0, 40});
    for (int n = 0; n < 1000; ++n) p->processFrame(noise.next(), noise.next());
    EXPECT_EQ(std::memcmp(&p->state.bandMix, &mix, sizeof mix), 0);
    EXPECT_EQ(p->state.bandLimiters.frameCounter, lim.frameCounter);
    EXPECT_EQ(p->state.bandLimiters.makeupDb[0], lim.makeupDb[0]);

    p->applySettings({ProcessingMode::stream, 0.0, 100});
    p->processFrame(noise.next(), noise.next());
    EXPECT_EQ(p->state.bandLimiters.frameCounter, (lim.frameCounter + 1) % 16);

    // After a reset, silent bands give exact silence from both stages. (The
    // whole chain is not silent at once: fixed low-end and bus sections keep
    // their memories through a reset and ring out.)
    p->reset();
    expectStateAtRest(p->state.bandMix, p->state.bandLimiters);
    BandSignals silent;
    for (int n = 0; n < 2000; ++n) {
      BandLimitersOutput lim;
      runBandLimiters(p->params.bandLimiters, p->state.bandLimiters, &silent, &lim, 1);
      runBandMix(p->params.bandMix, p->state.bandMix, &lim, &silent, 1);
      for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < kBands; ++k) ASSERT_EQ(silent.mixedBand[c][k], 0.0);
    }
  }
}

}  // namespace
}  // namespace vantle
