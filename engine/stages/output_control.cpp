#include "engine/stages/output_control.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/filters.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

void designPostLowPass(OutputControlParams& p, double fs) {
  if (p.postFilterStages == 2) {
    designLowPass(p.postLowPass[0], 15500.0, 0.58, fs);
    designLowPass(p.postLowPass[1], 15500.0, 0.58, fs);
  } else if (p.postFilterStages == 1) {
    designLowPass(p.postLowPass[0], 17000.0, 0.55, fs);
    designLowPass(p.postLowPass[1], 21000.0, 0.5, fs);
  } else {
    designLowPass(p.postLowPass[0], 14500.0, 0.5, fs);
    designLowPass(p.postLowPass[1], 14500.0, 0.5, fs);
  }
}

}  // namespace

double outputLevelOffsetDb(ProcessingMode mode, double d) {
  double db = 0.0;
  switch (mode) {
    case ProcessingMode::podcast:
      db = -1.5;
      break;
    case ProcessingMode::stream:
      db = -0.8 - 0.6 * streamVoicing(d);
      break;
    case ProcessingMode::limiter:
      db = -2.0 - d;
      break;
  }
  return minOf(6.0, maxOf(-24.0, db));
}

double outputGainTargetFor(double loadDb, double levelOffsetDb) {
  return dbToLinear(maxOf(0.0, -(0.9 * loadDb + levelOffsetDb)));
}

double densityGain(double peakLevel, double start, double range, double depth) {
  const double reductionDb = -2.0 * depth * clampUnitOrZero((peakLevel - start) / range);
  return reductionDb < 0.0 ? dbToLinear(reductionDb) : 1.0;
}

void deriveOutputControl(OutputControlParams& p, const DeriveInputs& in) {
  const double d = in.d;
  const double k = streamVoicing(d);
  const double c = in.outputCeiling;
  const double t0 = 0.985 * c;
  switch (in.mode) {
    case ProcessingMode::podcast:
      p.densityDepth = 1.0;
      p.limitDepth = 1.0;
      p.clipFeedbackAmount = 0.65;
      p.postFilterStages = 2;
      p.finalSatAmount = 0.58;
      p.finalTrim = 1.0;
      p.outputDelayMs = 0.36 + 1.14 * ramp(d, 0.7, 0.3);
      break;
    case ProcessingMode::stream:
      p.densityDepth = (38.0 - 12.0 * k) / 100.0;
      p.limitDepth = (44.0 + 2.0 * k) / 100.0;
      p.clipFeedbackAmount = (46.0 - 28.0 * k) / 100.0;
      p.postFilterStages = 0;
      p.finalSatAmount = minOf(1.0, (50.0 + 4.0 * d) * (1.0 - k) / 100.0);
      p.finalTrim = dbToLinear(1.1 * (1.0 - k));
      p.outputDelayMs = 0.54 + 0.96 * ramp(d, 0.65, 0.35);
      break;
    case ProcessingMode::limiter:
      p.densityDepth = 0.6;
      p.limitDepth = 1.0;
      p.clipFeedbackAmount = 0.0;
      p.postFilterStages = 0;
      p.finalSatAmount = 0.0;
      p.finalTrim = 1.0;
      p.outputDelayMs = 0.73 + 0.77 * d;
      break;
  }
  if (in.mode == ProcessingMode::stream) {
    p.firstKneeThreshold = (0.88 + 0.08 * k) * t0;
    p.firstKnee = 0.38 + 0.17 * k;
    p.secondKneeThreshold = (0.975 + 0.023 * k) * t0;
    p.secondKnee = 0.24 + 0.11 * k;
  } else {
    p.firstKneeThreshold = 0.96 * t0;
    p.firstKnee = 0.55;
    p.secondKneeThreshold = 0.998 * t0;
    p.secondKnee = 0.35;
  }

  p.outputGainGlide = timePole(0.01, in.fs);
  p.finalAttack = timePole(0.0008, in.fs);
  p.finalRelease = timePole(0.045, in.fs);
  p.boostGuardCeiling = 0.985 * c;
  p.limitThreshold = 0.985 * c;
  p.densityStart = 0.55 * c;
  p.densityRange = maxOf(1e-6, 0.35 * c);
  p.clipFeedbackCoef = onePoleCoef(2200.0, in.fs);
  designPostLowPass(p, in.fs);
  p.excessThreshold = 0.985 * c;
  p.excessSmooth = onePoleCoef(12000.0, in.fs);
  p.excessRemoval = 1.0;
  const double ms = minOf(1.5, maxOf(0.0, p.outputDelayMs));
  p.outputDelay =
      (p.excessRemoval > 0.0 && ms > 0.0) ? msToSamples(ms, in.fs, kOutputDelayRing - 1) : 0;
  p.outputCeiling = c;
}

void resetOutputControl(OutputControlState& s, const OutputControlParams& p,
                        double outputGainTarget) {
  (void)p;
  s.out = OutputControlOutput{};
  s.out.outputGain = outputGainTarget > 0.0 ? outputGainTarget : 1.0;
  for (int ch = 0; ch < 2; ++ch) {
    s.clipFeedbackState[ch] = 0.0;
    s.saturation[ch] = SineShapeState{};
    s.excessLevel[ch] = 0.0;
  }
  // The post low-pass memories keep running across a reset: only
  // construction clears them, so that a reset in the middle of programme (a
  // mode change) does not click; zeroed memories would step the output.
  for (double(&slot)[4] : s.delay) {
    for (double& v : slot) v = 0.0;
  }
  s.index = 0;
}

namespace {

// The output, boost-guard, density and peak-limiting gains of one frame.
void stepFrame(const OutputControlParams& p, OutputControlState& s, double outputGainTarget,
               double& left, double& right) {
  OutputControlOutput& out = s.out;
  // Output gain glide.
  const double target = outputGainTarget;
  const double g0 = out.outputGain > 0.0 ? out.outputGain : target;
  out.outputGain = glide(g0, target, p.outputGainGlide);
  double x[2] = {out.outputGain * left, out.outputGain * right};

  // Boost guard: while the output gain lifts the signal, peaks it would push
  // over the ceiling are caught at once and released slowly.
  if (out.outputGain > 1.000001) {
    const double pk = stereoPeak(x[0], x[1]);
    const double v = pk > p.boostGuardCeiling ? p.boostGuardCeiling / maxOf(1e-6, pk) : 1.0;
    out.boostGuardGain = v < out.boostGuardGain ? v : glide(out.boostGuardGain, v, p.finalRelease);
    x[0] *= out.boostGuardGain;
    x[1] *= out.boostGuardGain;
  } else {
    out.boostGuardGain = glide(out.boostGuardGain, 1.0, p.finalRelease);
  }

  // Density: up to 2 x densityDepth dB less once the smoothed peak nears the ceiling.
  const double pk = stereoPeak(x[0], x[1]);
  out.peakLevel = follow(out.peakLevel, pk, p.finalAttack, p.finalRelease);
  const double gd = densityGain(out.peakLevel, p.densityStart, p.densityRange, p.densityDepth);
  x[0] *= gd;
  x[1] *= gd;

  // Peak-limiting gain, applied with the mode's depth.
  const double pl = stereoPeak(x[0], x[1]);
  const double v = pl > p.limitThreshold ? p.limitThreshold / maxOf(1e-6, pl) : 1.0;
  const double limitTarget = minOf(1.0, maxOf(0.08, v));
  const double sl = out.peakLimitGain > 0.0 ? out.peakLimitGain : 1.0;
  out.peakLimitGain = glide(sl, limitTarget, sl > limitTarget ? p.finalAttack : p.finalRelease);
  const double gl = 1.0 - (1.0 - out.peakLimitGain) * p.limitDepth;
  left = x[0] * gl;
  right = x[1] * gl;
}

// The knees' error feedback and the post filters over the block, both
// channels side by side: (left, right) hold the frames before the knees,
// knee after them; (left, right) receive the result.
void filterBlock(const OutputControlParams& p, OutputControlState& s, double* left, double* right,
                 const double (*knee)[2], int frames) {
  DoublePair y[kChainBlock];
  for (int i = 0; i < frames; ++i) y[i] = DoublePair{knee[i][0], knee[i][1]};
  if (p.clipFeedbackAmount > 0.0) {
    // Giving back part of the knees' low-passed error leaves them acting
    // mostly on the fast part of a peak.
    DoublePair error = {s.clipFeedbackState[0], s.clipFeedbackState[1]};
    for (int i = 0; i < frames; ++i) {
      const DoublePair x = {left[i], right[i]};
      error = error + p.clipFeedbackCoef * ((y[i] - x) - error);
      y[i] = y[i] - p.clipFeedbackAmount * error * 0.45;
    }
    storePair(error, s.clipFeedbackState[0], s.clipFeedbackState[1]);
  }
  for (int k = 0; k < p.postFilterStages && k < 2; ++k) {
    runBiquadPairs(p.postLowPass[k], p.postLowPass[k], s.postLowPass[0][k], s.postLowPass[1][k], y,
                   frames);
  }
  for (int i = 0; i < frames; ++i) {
    storePair(y[i], left[i], right[i]);
  }
}

// minOf(bound, maxOf(-bound, x)) of each lane: a lane that is not a number
// gives -bound.
DoublePair clampEachOrLow(DoublePair x, double bound) {
  const DoublePair raised = -bound < x ? x : DoublePair{} - bound;
  return bound > raised ? raised : DoublePair{} + bound;
}

// The overshoot removal and the ceiling over the block, after the
// saturation, both channels side by side.
void finishBlock(const OutputControlParams& p, OutputControlState& s, double* left, double* right,
                 int frames) {
  const double t = p.excessThreshold;
  const double c = p.outputCeiling;
  DoublePair excess = {s.excessLevel[0], s.excessLevel[1]};
  for (int i = 0; i < frames; ++i) {
    const DoublePair x = DoublePair{left[i], right[i]} * p.finalTrim;
    const DoublePair over = x - clampEachOrLow(x, t);
    excess = excess + p.excessSmooth * (over - excess);

    // The overshoot's low-passed shape is subtracted from the signal it came
    // from: both travel through the same delay.
    DoublePair y;
    const int n = p.outputDelay;
    if (n >= 1) {
      const int read = (s.index - n) & (kOutputDelayRing - 1);
      const double(&delayed)[4] = s.delay[read];
      const DoublePair delayedSignal = {delayed[0], delayed[1]};
      const DoublePair delayedExcess = {delayed[2], delayed[3]};
      double(&slot)[4] = s.delay[s.index];
      storePair(x, slot[0], slot[1]);
      storePair(excess, slot[2], slot[3]);
      s.index = (s.index + 1) & (kOutputDelayRing - 1);
      y = delayedSignal - p.excessRemoval * delayedExcess;
    } else {
      y = x - p.excessRemoval * excess;
    }
    storePair(clampEachOrLow(y, c), left[i], right[i]);
  }
  storePair(excess, s.excessLevel[0], s.excessLevel[1]);
}

// The stage over at most kChainBlock frames.
void runBlock(const OutputControlParams& p, OutputControlState& s, double outputGainTarget,
              double* left, double* right, OutputControlOutput* outs, int frames) {
  for (int i = 0; i < frames; ++i) {
    stepFrame(p, s, outputGainTarget, left[i], right[i]);
    outs[i] = s.out;
  }
  // The knees keep no memory: the block's frames pass them in one go.
  double knee[kChainBlock][2];
  for (int i = 0; i < frames; ++i) {
    knee[i][0] = left[i];
    knee[i][1] = right[i];
    softKneeLimitPair(knee[i][0], knee[i][1], p.firstKneeThreshold, p.firstKnee);
    softKneeLimitPair(knee[i][0], knee[i][1], p.secondKneeThreshold, p.secondKnee);
  }
  filterBlock(p, s, left, right, knee, frames);
  if (p.finalSatAmount > 1e-7) {
    levelSineShapeBlock(s.saturation, left, right, frames, p.finalSatAmount, 1.0);
  }
  finishBlock(p, s, left, right, frames);
}

}  // namespace

void runOutputControl(const OutputControlParams& p, OutputControlState& s, double outputGainTarget,
                      double* left, double* right, OutputControlOutput* outs, int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    runBlock(p, s, outputGainTarget, left + first, right + first, outs + first, count);
  });
}

}  // namespace vantle
