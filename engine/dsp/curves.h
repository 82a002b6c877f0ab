// The clipping and shaping curves shared by the stages. All work on 64-bit
// floats; the three with memory take a small state record that belongs to one
// call site and one channel.
#pragma once

#include "engine/dsp/elementary.h"

namespace vantle {

// Low-passed clipping error of errorFeedbackClip.
struct ErrorClipState {
  double error = 0.0;
};

// Two-stage low-pass of the clipping error of drivenErrorClip.
struct DrivenClipState {
  double s0 = 0.0;
  double s1 = 0.0;
};

// Previous shaped sample of levelSineShape.
struct SineShapeState {
  double previous = 0.0;
};

// The soft knee's curve over a magnitude a above its start g: rises from g
// towards g + r, which it never reaches. T is double or DoublePair.
template <typename T>
T kneeCurve(T a, double g, double r) {
  return g + r * (1.0 - exponential(-(a - g) / r));
}

// Identity up to threshold t; above it the excess is compressed exponentially
// towards t + max(t x knee, 1e-6), which it never reaches.
double softKneeLimit(double x, double t, double knee);
// softKneeLimit of both channels, worked out side by side.
void softKneeLimitPair(double& left, double& right, double t, double knee);

// Hard (knee <= 0) or kneed clip at ceiling c, mixed with the dry sample by mix.
double kneeClip(double x, double c, double mix, double knee);
void kneeClipPair(double& left, double& right, double c, double mix, double knee);

// softKneeLimit with its low-passed clipping error, scaled by feedback, taken
// off again; mixed with the dry sample.
double errorFeedbackClip(ErrorClipState& s, double x, double t, double mix, double knee,
                         double feedback, double coef);
// errorFeedbackClip's second step: the knee's output g for the sample x,
// with the error's low-passed copy taken off and the dry sample mixed in.
// The knee (softKneeLimit) keeps no memory, so a block's knees can all come
// first.
double applyClipFeedback(ErrorClipState& s, double x, double g, double mix, double feedback,
                         double coef);
// applyClipFeedback of clippers side by side, T a double or a DoubleQuad:
// error holds their low-passed errors, g their knees' output on entry and
// their result on return. A lane whose feedback is not above 0 keeps its
// error and takes nothing off.
template <typename T>
void applyClipFeedbackLanes(T& error, const T& x, T& g, const T& mix, const T& feedback,
                            double coef) {
  const T updated = error + coef * ((g - x) - error);
  const T fedBack = g - feedback * updated;
  error = feedback > 0.0 ? updated : error;
  g = feedback > 0.0 ? fedBack : g;
  g = (1.0 - mix) * x + mix * g;
}

// Driven soft clip whose error is applied at the input scale plus a twice
// low-passed copy of it scaled by errorGain.
double drivenErrorClip(DrivenClipState& s, double x, double t, double mix, double knee,
                       double drive, double errorGain, double coef);
// drivenErrorClip in its two steps: the clip's error, which keeps no memory
// (both channels side by side: each becomes its error), and the error
// applied with its low-passed copy.
void drivenClipErrorPair(double& left, double& right, double t, double knee, double drive);
double applyDrivenError(DrivenClipState& s, double x, double err, double mix, double errorGain,
                        double coef);
// applyDrivenError of clippers side by side, T a double or a DoublePair:
// (s0, s1) are their two low-pass stages.
template <typename T>
T applyDrivenErrorLanes(T& s0, T& s1, T x, T err, double mix, double errorGain, double coef) {
  s0 = s0 + coef * (err - s0);
  s1 = s1 + coef * (s0 - s1);
  return x + mix * (0.5 * mix + 0.5) * err + mix * errorGain * (0.65 * mix + 0.35) * s1;
}

// Sine saturation reaching its flat top at +-1/d, d = drive / ceiling.
double sineShape(double x, double ceiling, double mix, double drive);

// sineShape of both channels, their sines computed side by side.
void sineShapePair(double& left, double& right, double ceiling, double mix, double drive);

// Sine shaping whose wet share follows the mean magnitude of this and the
// previous shaped sample.
double levelSineShape(SineShapeState& p, double x, double amount);

// levelSineShape of both channels over a run of frames, each channel's result
// scaled by makeup. The sines of different frames do not wait for each other,
// so a stage shapes its block in one pass of its own, two frames' sines side
// by side.
void levelSineShapeBlock(SineShapeState (&p)[2], double* left, double* right, int frames,
                         double amount, double makeup);

}  // namespace vantle
