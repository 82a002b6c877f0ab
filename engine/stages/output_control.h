// Output gain and final peak control: the gliding output gain with its boost
// guard, density and peak-limit gains, two soft knees, clipping-error
// feedback, post low-pass, a second saturation, trim, delayed overshoot
// removal and the hard clamp to the output ceiling.
#pragma once

#include "engine/dsp/curves.h"
#include "engine/dsp/filters.h"
#include "engine/settings.h"

namespace vantle {

constexpr int kOutputDelayRing = 512;  // power of two; the delay stays below it

// Derived parameters (written by the derivation only).
struct OutputControlParams {
  double densityDepth = 0.0;        // share of the 2 dB density reduction
  double limitDepth = 0.0;          // share of the peak-limiting gain applied
  double clipFeedbackAmount = 0.0;  // 0 switches the error feedback off
  int postFilterStages = 0;         // low-pass sections run per channel, 0..2
  double finalSatAmount = 0.0;      // off when not above 1e-7
  double finalTrim = 1.0;
  double outputDelayMs = 0.0;  // voicing value before clamping to 0..1.5 ms
  double firstKneeThreshold = 0.0;
  double firstKnee = 0.0;
  double secondKneeThreshold = 0.0;
  double secondKnee = 0.0;
  double outputGainGlide = 0.0;  // poles
  double finalAttack = 0.0;
  double finalRelease = 0.0;
  double boostGuardCeiling = 0.0;
  double limitThreshold = 0.0;
  double densityStart = 0.0;  // smoothed peak where the density reduction begins
  double densityRange = 0.0;  // and the span over which it reaches its full depth
  double clipFeedbackCoef = 0.0;
  BiquadCoefficients postLowPass[2];  // stage 1 and stage 2, both channels
  double excessThreshold = 0.0;
  double excessSmooth = 0.0;
  double excessRemoval = 0.0;
  int outputDelay = 0;  // samples, 0..511
  double outputCeiling = 0.0;
};

// What the stage hands on: the output gain to the clip-event repair in the
// same frame, the gains and level to the load feedback at its block update.
//   outputGain          gliding output gain, linear, per frame, reset to the
//                       current target (1 when that is not positive)
//   boostGuardGain      guard gain while the output gain boosts, per frame, reset 1
//   peakLevel           smoothed stereo peak after the guard, linear, per frame, reset 0
//   peakLimitGain       smoothed peak-limiting gain, 0.08..1, per frame, reset 1
struct OutputControlOutput {
  double outputGain = 1.0;
  double boostGuardGain = 1.0;
  double peakLevel = 0.0;
  double peakLimitGain = 1.0;
};

// Run-time state.
// Glossary ([0] left, [1] right where paired):
//   out                 the values above
//   clipFeedbackState   low-passed clipping error of the soft knees, per frame, reset 0
//   postLowPass         [channel][stage] memories, per frame; zeroed at
//                       construction only, reset leaves them running so that a
//                       mode change in the middle of programme does not click
//   saturation          levelSineShape memory, per frame, reset 0
//   excessLevel         12 kHz low-passed overshoot beyond the threshold, reset 0
//   delay               [512][left, right, left overshoot, right overshoot], reset 0
//                       (a frame's four values share one slot)
//   index               shared write index of the delay rings 0..511, reset 0
struct OutputControlState {
  OutputControlOutput out;
  double clipFeedbackState[2] = {};
  BiquadSection postLowPass[2][2];
  SineShapeState saturation[2];
  double excessLevel[2] = {};
  double delay[kOutputDelayRing][4] = {};
  int index = 0;
};

void deriveOutputControl(OutputControlParams& p, const DeriveInputs& in);
// Seeds the output gain from outputGainTarget, the load feedback's target.
void resetOutputControl(OutputControlState& s, const OutputControlParams& p,
                        double outputGainTarget);
// The output gain glides towards outputGainTarget, set by the load feedback.
// outs receives each frame's gains and peak level (the last also stays in s.out).
void runOutputControl(const OutputControlParams& p, OutputControlState& s, double outputGainTarget,
                      double* left, double* right, OutputControlOutput* outs, int frames);

// The output level offset of a mode (dB, clamped to -24..6): where the output
// sits while the final stages carry no load.
double outputLevelOffsetDb(ProcessingMode mode, double d);
// The output gain target for a smoothed load and a level offset, both in dB.
double outputGainTargetFor(double loadDb, double levelOffsetDb);
// The density gain (linear, <= 1) for a smoothed peak level: up to
// 2 x depth dB less as the level climbs from start over range.
double densityGain(double peakLevel, double start, double range, double depth);

}  // namespace vantle
