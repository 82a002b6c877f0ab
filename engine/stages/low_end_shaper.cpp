#include "engine/stages/low_end_shaper.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/filters.h"
#include "engine/dsp/minmax.h"
#include "engine/dsp/ratio_control.h"

namespace vantle {

namespace {

struct LowEndVoicing {
  double bumpDb;       // gain of the 65 Hz peak
  double levellerPct;  // leveller amount, percent
  double analysisMix;  // share of the band analysis in the output
};

LowEndVoicing lowEndVoicing(ProcessingMode mode, double d) {
  switch (mode) {
    case ProcessingMode::podcast:
      return {2.0, 12.0 + 10.0 * d, 0.0};
    case ProcessingMode::stream:
      return {3.6, 65.0, ramp(d, 0.18, 0.64)};
    case ProcessingMode::limiter:
      break;
  }
  return {0.0, 0.0, 0.0};
}

}  // namespace

void deriveLowEndShaper(LowEndShaperParams& p, LowEndShaperState& s, const DeriveInputs& in) {
  const LowEndVoicing v = lowEndVoicing(in.mode, in.d);
  p.bandAnalysisMix = v.analysisMix;
  p.levellerAmount = v.levellerPct / 100.0;
  p.levellerSplitCoef = onePoleCoef(190.0, in.fs);
  p.levellerAttack = timePole(0.42, in.fs);
  p.levellerRelease = timePole(3.2, in.fs);
  p.levellerGainRise = timePole(1.15, in.fs);
  p.levellerGainFall = timePole(0.13, in.fs);
  p.levellerLowRatio = 0.33;
  p.levellerHighRatio = 0.52;
  p.levellerMaxBoostDb = 12.0 * p.levellerAmount;
  p.levellerMaxCutDb = 7.0 * p.levellerAmount;
  p.bumpDb = v.bumpDb;
  designPeaking(s.lowBumpLeft.c, 65.0, 1.4, v.bumpDb, in.fs);
  s.lowBumpRight.c = s.lowBumpLeft.c;
}

void resetLowEndShaper(LowEndShaperState& s, const LowEndShaperParams& p) {
  (void)p;
  s.levellerLowL1 = 0.0;
  s.levellerLowL2 = 0.0;
  s.levellerLowR1 = 0.0;
  s.levellerLowR2 = 0.0;
  s.levellerBassEnv = 0.0;
  s.levellerRefEnv = 0.0;
  s.levellerGain = 1.0;
}

namespace {

// One frame of the stage after the bump: taps holds the frame entering the
// stage and after the bump.
void stepFrame(const LowEndShaperParams& p, LowEndShaperState& s, double& left, double& right,
               const LowEndTaps& taps) {
  const double eL = taps.bumpedL;
  const double eR = taps.bumpedR;

  double dL = eL;
  double dR = eR;
  // When the analysis would replace the leveller's output completely, the
  // leveller rests and keeps its envelopes and gain as they are.
  if (p.bandAnalysisMix < 0.9999999 && p.levellerAmount > 0.0) {
    const double a = p.levellerSplitCoef;
    onePole(s.levellerLowL1, eL, a);
    const double lowL = onePole(s.levellerLowL2, s.levellerLowL1, a);
    onePole(s.levellerLowR1, eR, a);
    const double lowR = onePole(s.levellerLowR2, s.levellerLowR1, a);
    const double highL = eL - lowL;
    const double highR = eR - lowR;

    const double bass = stereoPeak(lowL, lowR);
    const double reference = maxOf(1.2 * stereoPeak(highL, highR), stereoPeak(eL, eR));
    s.levellerBassEnv = follow(s.levellerBassEnv, bass, p.levellerAttack, p.levellerRelease);
    s.levellerRefEnv = follow(s.levellerRefEnv, reference, p.levellerAttack, p.levellerRelease);

    const double ratio = s.levellerBassEnv / maxOf(1e-6, s.levellerRefEnv);
    const double target =
        dbToLinear(boostShare(ratio, p.levellerLowRatio, 0.105) * p.levellerMaxBoostDb -
                   cutShare(ratio, p.levellerHighRatio, 0.82) * p.levellerMaxCutDb);
    const double g =
        stepControlGain(s.levellerGain, target, p.levellerGainRise, p.levellerGainFall);
    s.levellerGain = g;

    dL = g * lowL + highL;
    dR = g * lowR + highR;
  }

  left = dL;
  right = dR;
}

}  // namespace

void runLowEndShaper(const LowEndShaperParams& p, LowEndShaperState& s, double* left, double* right,
                     LowEndTaps* taps, int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    // The bump over the block first, both channels side by side.
    DoublePair bumped[kChainBlock];
    for (int i = 0; i < count; ++i) bumped[i] = DoublePair{left[first + i], right[first + i]};
    runBiquadPairs(s.lowBumpLeft, s.lowBumpRight, bumped, count);
    for (int i = 0; i < count; ++i) {
      LowEndTaps& t = taps[first + i];
      t = LowEndTaps{left[first + i], right[first + i], bumped[i][0], bumped[i][1]};
      stepFrame(p, s, left[first + i], right[first + i], t);
    }
  });
}

}  // namespace vantle
