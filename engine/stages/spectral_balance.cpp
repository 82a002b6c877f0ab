#include "engine/stages/spectral_balance.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"
#include "engine/stages/band_split.h"

namespace vantle {

namespace {

// Pole of a one-pole step taken once per block, as 1 - c^frames.
double blockStep(double tauSeconds, double fs) {
  return 1.0 - power(exponential(-1.0 / (tauSeconds * fs)), static_cast<double>(kBalanceBlock));
}

// Every 32nd frame: the block's mean powers, each band's level against the
// two middle bands, and a small step of every band gain towards its target.
void runBalanceBlock(const SpectralBalanceParams& p, SpectralBalanceState& s) {
  for (int k = 0; k < kBands; ++k) {
    const double mean = s.balanceAccum[k] * (1.0 / kBalanceBlock);
    onePole(s.balancePower[k], mean, p.balancePowerSmooth);
    s.balanceAccum[k] = 0.0;
  }
  const double ref = std::sqrt(maxOf(1e-12, 0.5 * (s.balancePower[2] + s.balancePower[3])));
  double level[kBands];
  for (int k = 0; k < kBands; ++k) {
    level[k] = 8.685889638065037 *
               naturalLog(maxOf(1e-7, std::sqrt(maxOf(1e-12, s.balancePower[k])) / ref));
  }
  const double makeup = p.clipMakeupScale;   // H
  const double upper = p.upperBalanceScale;  // V
  // The two lowest bands carry a fixed lift, the middle ones are pulled to
  // the reference, the top ones towards the presence and air voicing.
  double target[kBands];
  target[0] = (clampToOrLow((-1.8 - level[0]) * 0.34, -1.75, 2.4) + 2.5) * makeup;
  target[1] = (clampToOrLow((-0.7 - level[1]) * 0.36, -1.65, 2.55) + 0.9) * makeup;
  target[2] = clampToOrLow((-0.3 - level[2]) * 0.16, -0.6, 0.55) * makeup;
  target[3] = clampToOrLow((0.0 - level[3]) * 0.1, -0.4, 0.4) * makeup;
  target[4] = clampToOrLow((p.presenceAim - level[4]) * 0.18, -1.1, 1.15) * upper;
  target[5] = clampToOrLow((p.airAim - level[5]) * 0.18, -1.35, 1.35) * upper;
  for (int k = 0; k < kBands; ++k) {
    onePole(s.balanceDb[k], target[k], p.balanceGainSmooth);
    s.balanceGain[k] = dbToLinear(s.balanceDb[k]);
  }
}

}  // namespace

void deriveSpectralBalance(SpectralBalanceParams& p, const DeriveInputs& in,
                           bool streamBandDynamics, double clipMakeupScale,
                           double upperBalanceScale) {
  p.enabled = streamBandDynamics;
  p.clipMakeupScale = clipMakeupScale;
  p.upperBalanceScale = upperBalanceScale;
  p.balancePowerSmooth = blockStep(2.4, in.fs);
  p.balanceGainSmooth = blockStep(0.9, in.fs);
  const PresenceAirVoicing lift = presenceAirVoicing(in.mode);
  p.presenceDb = lift.presenceDb;
  p.airDb = lift.airDb;
  p.presenceAim = 0.24 * clampToOrLow(p.presenceDb, -6.0, 6.0) - 2.2;
  p.airAim = 0.26 * clampToOrLow(p.airDb, -6.0, 6.0) - 4.6;
  if (streamBandDynamics) {
    p.presenceTrim = dbToLinear(0.24 * p.presenceDb * upperBalanceScale);
    p.presenceTrimHigh = dbToLinear(0.42 * p.presenceDb * upperBalanceScale);
    p.airTrim = dbToLinear(0.5 * p.airDb * upperBalanceScale);
  } else {
    p.presenceTrim = 1.0;
    p.presenceTrimHigh = 1.0;
    p.airTrim = 1.0;
  }
}

void resetSpectralBalance(SpectralBalanceState& s, const SpectralBalanceParams& p) {
  (void)p;
  s = SpectralBalanceState{};
}

namespace {

// One frame of the stage.
void stepFrame(const SpectralBalanceParams& p, SpectralBalanceState& s, BandSignals& bands) {
  if (!p.enabled) return;
  double(&mixed)[kChannels][kBands] = bands.mixedBand;
  for (int k = 0; k < kBands; ++k) {
    const double l = mixed[0][k];
    const double r = mixed[1][k];
    s.balanceAccum[k] += 0.5 * (l * l + r * r);
  }
  if (++s.balanceFrameCount >= kBalanceBlock) {
    s.balanceFrameCount = 0;
    runBalanceBlock(p, s);
  }
  const double trim[kBands] = {1.0, 1.0, 1.0, p.presenceTrim, p.presenceTrimHigh, p.airTrim};
  for (int c = 0; c < kChannels; ++c) {
    for (int k = 0; k < kBands; ++k) {
      double& x = mixed[c][k];
      x = x * s.balanceGain[k];
      if (k >= 3) x = x * trim[k];
    }
  }
}

}  // namespace

void runSpectralBalance(const SpectralBalanceParams& p, SpectralBalanceState& s, BandSignals* bands,
                        int frames) {
  for (int i = 0; i < frames; ++i) stepFrame(p, s, bands[i]);
}

}  // namespace vantle
