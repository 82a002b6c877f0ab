#include "engine/stages/band_mix.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/curves.h"
#include "engine/dsp/minmax.h"
#include "engine/stages/band_split.h"

namespace vantle {

namespace {

// The band clipper: a knee starting at 0.475 of the ceiling, 35 % wet.
constexpr double kClipKnee = 0.75;
constexpr double kClipMix = 0.35;

// Make-up of bands 0..2 for what they lost since the split, clipping included.
constexpr MakeupCurve kClipMakeupCurve[kMakeupBands] = {
    {2.6, 0.62, 0.18}, {2.75, 0.7, 0.18}, {0.75, 0.2, 0.25}};

}  // namespace

void deriveBandMix(BandMixParams& p, const DeriveInputs& in) {
  const StreamDynamicsVoicing sd = streamDynamicsVoicing(in);
  p.streamBandDynamics = sd.on;
  double thresholdDb[kBands];
  bandLimitThresholds(thresholdDb, sd.makeupScale, sd.upperBalanceScale);
  for (int k = 0; k < kBands; ++k) p.bandClipCeiling[k] = dbToLinear(thresholdDb[k]);

  p.clipMakeupRise = makeupRiseStep(in.fs);
  p.clipMakeupFall = makeupFallStep(in.fs);

  if (in.mode != ProcessingMode::stream) {
    p.presenceClipTrim = 1.0;
    p.airClipTrim = 1.0;
    p.clipMakeupScale = 0.0;
    p.upperBalanceScale = 0.0;
    p.bandMixWet = 0.0;
    p.bandMixDry = 1.0;
    p.clippedBandGain = 1.0;
    return;
  }
  const double upper = sd.upperBalanceScale;
  p.clipMakeupScale = sd.makeupScale;
  p.upperBalanceScale = upper;
  const PresenceAirVoicing lift = presenceAirVoicing(in.mode);
  p.presenceClipTrim = dbToLinear((0.42 - 0.16 * upper) * lift.presenceDb);
  p.airClipTrim = dbToLinear((0.38 - 0.14 * upper) * lift.airDb);
  const double g = 0.6 * ramp(in.d, 0.5, 0.28);
  p.bandMixWet = g * (0.15 * g + 0.85);
  p.bandMixDry = 1.0 - p.bandMixWet;
  p.clippedBandGain = dbToLinear(-1.5 - 1.5 * sd.makeupScale);
}

void resetBandMix(BandMixState& s, const BandMixParams& p) {
  (void)p;
  s = BandMixState{};
}

namespace {

// The band clippers of one frame; they keep no memory.
void clipFrame(const BandMixParams& p, const BandSignals& bands,
               double (&clipped)[kChannels][kBands]) {
  for (int k = 0; k < kBands; ++k) {
    const double trim = k == 5 ? p.airClipTrim : (k >= 3 ? p.presenceClipTrim : 1.0);
    clipped[0][k] = bands.limitedBand[0][k] * trim;
    clipped[1][k] = bands.limitedBand[1][k] * trim;
    kneeClipPair(clipped[0][k], clipped[1][k], p.bandClipCeiling[k], kClipMix, kClipKnee);
  }
}

// One frame of the stage after its clippers.
void stepFrame(const BandMixParams& p, BandMixState& s, const BandLimitersOutput& limiters,
               BandSignals& bands, double (&clipped)[kChannels][kBands]) {
  // The reference peak was taken at the split, so the ratio counts everything
  // the band lost since then, not only this clipper.
  for (int k = 0; k < kMakeupBands; ++k) {
    const double peak = stereoPeak(clipped[0][k], clipped[1][k]);
    s.clipRatioPeak[k] = maxOf(s.clipRatioPeak[k], limiters.bandPeak[k] / (peak + 1e-7));
  }

  // Block-rate make-up, on the frames the band limiters' counter wrapped.
  if (limiters.makeupUpdate) {
    for (int k = 0; k < kMakeupBands; ++k) {
      stepMakeup(kClipMakeupCurve[k], p.clipMakeupScale, p.clipMakeupRise, p.clipMakeupFall,
                 s.clipRatioPeak[k], s.clipMakeupDb[k], s.clipMakeupGain[k]);
    }
  }

  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kMakeupBands; ++k) clipped[c][k] *= s.clipMakeupGain[k];

  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kBands; ++k)
      bands.mixedBand[c][k] = p.bandMixDry * bands.gainedBand[c][k] +
                              p.bandMixWet * (p.clippedBandGain * clipped[c][k]);
}

// The stage over at most kChainBlock frames.
void runBlock(const BandMixParams& p, BandMixState& s, const BandLimitersOutput* limiters,
              BandSignals* bands, int frames) {
  if (!p.streamBandDynamics) {
    for (int i = 0; i < frames; ++i) {
      for (int c = 0; c < kChannels; ++c)
        for (int k = 0; k < kBands; ++k) bands[i].mixedBand[c][k] = bands[i].gainedBand[c][k];
    }
    return;
  }
  double clipped[kChainBlock][kChannels][kBands];
  for (int i = 0; i < frames; ++i) clipFrame(p, bands[i], clipped[i]);
  for (int i = 0; i < frames; ++i) stepFrame(p, s, limiters[i], bands[i], clipped[i]);
}

}  // namespace

void runBandMix(const BandMixParams& p, BandMixState& s, const BandLimitersOutput* limiters,
                BandSignals* bands, int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    runBlock(p, s, limiters + first, bands + first, count);
  });
}

}  // namespace vantle
