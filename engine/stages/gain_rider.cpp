#include "engine/stages/gain_rider.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

// The mode's voicing of the rider, in the units the voicing is written in.
struct RiderVoicing {
  double trimDb;
  double releaseFactor;
  double silenceDb;
  double highWeightPercent;
  double gainScalePercent;
  double releaseShapingPercent;
  double resumeStrengthPercent;
  double fastMs;
  double saturationPercent;
  double maxGainDb;
};

RiderVoicing riderVoicing(ProcessingMode mode, double d) {
  RiderVoicing v{};
  if (mode == ProcessingMode::podcast) {
    v.trimDb = 0.5 - 0.5 * d;
    v.releaseFactor = 7.0 - 1.8 * (d * d);
    v.silenceDb = -20.0;
    v.highWeightPercent = 70.0;
    v.gainScalePercent = 65.0 + 20.0 * d;
    v.releaseShapingPercent = 70.0 + 14.0 * d;
    v.resumeStrengthPercent = 65.0 - 5.0 * (d * d);
    v.fastMs = 40.0 - 4.0 * d;
    v.saturationPercent = 25.0;
    v.maxGainDb = 9.0;
  } else if (mode == ProcessingMode::stream) {
    const double hs = ramp(d, 0.35, 0.53);
    const double ws = ramp(d, 0.18, 0.64);
    v.trimDb = 0.2 * hs;
    v.releaseFactor = 5.0 + 1.1 * hs;
    v.silenceDb = -30.0 - 5.0 * hs;
    v.highWeightPercent = 50.0 + 10.0 * ws;
    v.gainScalePercent = 56.0 - 6.0 * hs;
    v.releaseShapingPercent = 78.0;
    v.resumeStrengthPercent = 55.0;
    v.fastMs = 50.0;
    v.saturationPercent = 12.0 + 2.0 * hs;
    v.maxGainDb = 14.0;
  } else {
    // Limiter mode: the rider only detects; it applies no gain and no colour.
    v.trimDb = 0.0;
    v.releaseFactor = 6.5;
    v.silenceDb = -70.0;
    v.highWeightPercent = 0.0;
    v.gainScalePercent = 0.0;
    v.releaseShapingPercent = 0.0;
    v.resumeStrengthPercent = 0.0;
    v.fastMs = 50.0;
    v.saturationPercent = 0.0;
    v.maxGainDb = 9.0;
  }
  return v;
}

// One region's gain step: falls with the attack pole, rises with a release
// that slows down the deeper the gain cuts, switches to the slow silence
// recovery while the gate is open and to the fast resume recovery while the
// programme returns.
double rideGain(const GainRiderParams& p, const RiderOutput& s, double gain, double target) {
  const double depth = clampTo((1.0 - gain) / 0.75, 0.0, 1.0);
  const double slow = 0.15 * p.releaseShaping;
  const double resume = (0.16 * p.resumeStrength + 0.06) * s.resumeAmount;
  const double gate = s.silenceGate;
  const double recovery =
      ((((1.0 - depth * slow) * p.riderRelease + depth * slow * p.riderSlowRelease) * (1.0 - gate) +
        gate * p.silenceRecovery) *
       (1.0 - resume)) +
      resume * p.resumeRecovery;
  return glide(gain, target, gain <= target ? recovery : p.riderGainAttack);
}

// Share of a region gain that reaches the signal: boosts and cuts scale apart.
double appliedGain(const GainRiderParams& p, double gain) {
  const double trimmed = gain * p.riderTrim;
  const double scale = trimmed >= 1.0 ? p.riderBoostScale : p.riderCutScale;
  return 1.0 + (trimmed - 1.0) * scale;
}

}  // namespace

void deriveGainRider(GainRiderParams& p, const DeriveInputs& in) {
  const double fs = in.fs;
  const RiderVoicing v = riderVoicing(in.mode, in.d);
  const double releaseFactor = v.releaseFactor;  // R
  p.releaseFactor = releaseFactor;
  p.riderTrim = dbToLinear(v.trimDb);
  p.riderSplitCoef = onePoleCoef(200.0, fs);
  p.riderAttack = timePole(0.045, fs);
  p.riderRelease = timePole(0.085 * releaseFactor + 0.08, fs);
  p.riderSlowRelease = timePole(0.15 * releaseFactor + 0.24, fs);
  p.riderGainAttack = timePole(0.03, fs);
  p.inputPeakDecay = timePole(0.35, fs);
  p.heldLevelDecay = timePole(0.16, fs);
  p.silenceThreshold = dbToLinear(v.silenceDb);
  p.silenceRise = timePole(0.012 * releaseFactor + 0.04, fs);
  p.silenceFall = timePole(0.0015, fs);
  p.fastTime = maxOf(0.005, v.fastMs / 1000.0);
  p.resumeHoldDecay = timePole(maxOf(0.12, 4.5 * p.fastTime), fs);
  p.resumeFollow = timePole(maxOf(0.005, 0.85 * p.fastTime), fs);
  p.resumeRecovery = timePole(p.fastTime, fs);
  p.silenceRecovery = timePole(8.0, fs);
  p.resumeScale = 0.95 * v.resumeStrengthPercent / 100.0 + 0.2;
  p.releaseShaping = v.releaseShapingPercent / 100.0;
  p.resumeStrength = v.resumeStrengthPercent / 100.0;
  p.idleGain = dbToLinear(-10.0);
  p.idleDrift = timePole(4.5, fs);
  p.riderMinGain = dbToLinear(-14.0);
  p.riderMaxGain = dbToLinear(v.maxGainDb);
  p.riderHighWeight = v.highWeightPercent / 100.0;
  const double scale = v.gainScalePercent / 100.0;
  p.riderBoostScale = scale;
  p.riderCutScale = scale <= 0.5 ? scale : 0.5 + 0.4 * (scale - 0.5);
  const double saturation = clampToOrLow(v.saturationPercent, 0.0, 25.0);
  p.saturationAmount = saturation / 100.0;
  p.saturationMakeup = dbToLinear(saturation * 2.0 / 25.0);
}

void resetGainRider(GainRiderState& s, const GainRiderParams& p) {
  (void)p;
  s = GainRiderState{};
}

namespace {

// What the split and the level detectors make of one frame: the trimmed
// input's low and high parts (left, right) and the peaks the rider follows.
struct RiderSplit {
  DoublePair low;
  DoublePair high;
  double inputPeak;
  double lowLevel;
  double highLevel;
  double fullLevel;
};

// The trimmed input's 200 Hz split over the block, both channels side by
// side with the low-pass memory in registers, and the frames' peaks.
void splitBlock(const GainRiderParams& p, GainRiderState& s, const double* left,
                const double* right, RiderSplit* split, int frames) {
  DoublePair low = {s.splitLow[0], s.splitLow[1]};
  for (int i = 0; i < frames; ++i) {
    const DoublePair x = {left[i], right[i]};
    const DoublePair t = x * p.riderTrim;
    low = low + p.riderSplitCoef * (t - low);
    const DoublePair high = t - low;
    split[i] = RiderSplit{low,
                          high,
                          stereoPeak(x[0], x[1]),
                          stereoPeak(low[0], low[1]),
                          stereoPeak(high[0], high[1]),
                          stereoPeak(t[0], t[1])};
  }
  storePair(low, s.splitLow[0], s.splitLow[1]);
}

// The applied gains of the low and the high part of one frame.
struct RiderGains {
  double low;
  double high;
};

// One frame of the detectors, the silence logic and the region gains.
RiderGains stepFrame(const GainRiderParams& p, GainRiderState& s, double riderTarget,
                     const RiderSplit& split) {
  RiderOutput& out = s.out;
  out.inputPeakHold = maxOf(out.inputPeakHold * p.inputPeakDecay, split.inputPeak);

  const double lowLevel = split.lowLevel;
  const double highLevel = split.highLevel;
  const double fullLevel = split.fullLevel;
  s.lowEnvelope = follow(s.lowEnvelope, lowLevel, p.riderAttack, p.riderRelease);
  s.highEnvelope = follow(s.highEnvelope, highLevel, p.riderAttack, p.riderRelease);

  // Silence: the held level says whether the input has been quiet for a
  // while, the present flag whether this frame carries programme.
  s.heldLevel = maxOf(s.heldLevel * p.heldLevelDecay, fullLevel);
  const double present = fullLevel >= p.silenceThreshold ? 1.0 : 0.0;
  const double quiet = s.heldLevel < p.silenceThreshold ? 1.0 : 0.0;
  const double oldHold = out.silenceHold;
  s.silenceMemory = maxOf(oldHold, s.silenceMemory * p.resumeHoldDecay);
  double hold;
  if (present > 0.0) {
    hold = oldHold * p.silenceFall;
  } else {
    hold = glide(oldHold, quiet, quiet > oldHold ? p.silenceRise : p.silenceFall);
  }
  out.silenceHold = clampTo(hold, 0.0, 1.0);
  out.silenceGate = (1.0 - present) * out.silenceHold;
  s.resumeLevel = present * clampTo(maxOf(s.silenceMemory, oldHold) * p.resumeScale, 0.0, 1.0);
  out.resumeAmount = maxOf(s.resumeLevel, out.resumeAmount * p.resumeHoldDecay);
  if (present > 0.0) s.silenceMemory = s.silenceMemory * p.resumeHoldDecay;
  if (out.resumeAmount > 0.0) {
    // Returning programme pulls the envelopes to its level faster than the
    // attack alone would, in proportion to how long the pause was.
    const double pull = 1.0 - out.resumeAmount * (1.0 - p.resumeFollow);
    s.lowEnvelope = glide(s.lowEnvelope, lowLevel, pull);
    s.highEnvelope = glide(s.highEnvelope, highLevel, pull);
  }

  const double lowTarget0 =
      clampTo(riderTarget / maxOf(1e-6, s.lowEnvelope), p.riderMinGain, p.riderMaxGain);
  double highTarget =
      clampTo(riderTarget / maxOf(1e-6, s.highEnvelope), p.riderMinGain, p.riderMaxGain);
  double lowTarget = lowTarget0 * (1.0 - p.riderHighWeight) + highTarget * p.riderHighWeight;
  const double gate = out.silenceGate;
  if (gate > 0.0) {
    // While silent the gains may fall but not rise.
    lowTarget = (1.0 - gate) * lowTarget + gate * minOf(s.lowRegionGain, lowTarget);
    highTarget = (1.0 - gate) * highTarget + gate * minOf(s.highRegionGain, highTarget);
  }
  double lowGain = rideGain(p, out, s.lowRegionGain, lowTarget);
  double highGain = rideGain(p, out, s.highRegionGain, highTarget);
  const double drift = (1.0 - p.idleDrift) * gate;
  onePole(lowGain, p.idleGain, drift);
  onePole(highGain, p.idleGain, drift);
  s.lowRegionGain = lowGain;
  s.highRegionGain = highGain;

  return RiderGains{appliedGain(p, lowGain), appliedGain(p, highGain)};
}

}  // namespace

void runGainRider(const GainRiderParams& p, GainRiderState& s, double riderTarget, double* left,
                  double* right, RiderOutput* outs, int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    double* l = left + first;
    double* r = right + first;
    RiderSplit split[kChainBlock];
    splitBlock(p, s, l, r, split, count);
    // The trim only steers detection and the applied gains; it is taken off
    // the signal again here.
    const double untrim = maxOf(1e-6, p.riderTrim);
    for (int i = 0; i < count; ++i) {
      const RiderGains g = stepFrame(p, s, riderTarget, split[i]);
      outs[first + i] = s.out;
      const DoublePair y = (split[i].high / untrim) * g.high + (split[i].low / untrim) * g.low;
      storePair(y, l[i], r[i]);
    }
    if (p.saturationAmount > 1e-7) {
      levelSineShapeBlock(s.saturatorState, l, r, count, p.saturationAmount, p.saturationMakeup);
    }
  });
}

}  // namespace vantle
