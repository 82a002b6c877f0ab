#include "engine/dsp/curves.h"

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

// Both lanes through the knee that starts at g; a lane at or under g passes
// as it is. The curve runs side by side for both lanes, or not at all.
DoublePair softKnee(DoublePair x, double g, double r) {
  const double a0 = std::fabs(x[0]);
  const double a1 = std::fabs(x[1]);
  const bool over0 = a0 > g;
  const bool over1 = a1 > g;
  if (!over0 && !over1) return x;
  const DoublePair c = kneeCurve(DoublePair{over0 ? a0 : g, over1 ? a1 : g}, g, r);
  return DoublePair{over0 ? signOf(x[0]) * c[0] : x[0], over1 ? signOf(x[1]) * c[1] : x[1]};
}

}  // namespace

double softKneeLimit(double x, double t, double knee) {
  const double ax = std::fabs(x);
  if (ax <= t) return x;
  const double k = maxOf(t * knee, 1e-6);
  return signOf(x) * kneeCurve(ax, t, k);
}

void softKneeLimitPair(double& left, double& right, double t, double knee) {
  const DoublePair y = softKnee(DoublePair{left, right}, t, maxOf(t * knee, 1e-6));
  storePair(y, left, right);
}

double kneeClip(double x, double c, double mix, double knee) {
  const double ax = std::fabs(x);
  double clipped = x;
  if (knee <= 0.0) {
    if (ax > c) clipped = signOf(x) * c;
  } else {
    const double g = (1.0 - 0.7 * knee) * c;
    const double r = maxOf(c - g, 1e-9);
    if (ax > g) clipped = signOf(x) * kneeCurve(ax, g, r);
  }
  return (1.0 - mix) * x + mix * clipped;
}

void kneeClipPair(double& left, double& right, double c, double mix, double knee) {
  if (knee <= 0.0) {
    left = kneeClip(left, c, mix, knee);
    right = kneeClip(right, c, mix, knee);
    return;
  }
  const double g = (1.0 - 0.7 * knee) * c;
  const double r = maxOf(c - g, 1e-9);
  const DoublePair x = {left, right};
  const DoublePair y = (1.0 - mix) * x + mix * softKnee(x, g, r);
  storePair(y, left, right);
}

double applyClipFeedback(ErrorClipState& s, double x, double g, double mix, double feedback,
                         double coef) {
  applyClipFeedbackLanes(s.error, x, g, mix, feedback, coef);
  return g;
}

double errorFeedbackClip(ErrorClipState& s, double x, double t, double mix, double knee,
                         double feedback, double coef) {
  return applyClipFeedback(s, x, softKneeLimit(x, t, knee), mix, feedback, coef);
}

double drivenErrorClip(DrivenClipState& s, double x, double t, double mix, double knee,
                       double drive, double errorGain, double coef) {
  const double h = maxOf(1.0, drive);
  const double err = softKneeLimit(h * x, t, knee) / h - x;
  return applyDrivenError(s, x, err, mix, errorGain, coef);
}

void drivenClipErrorPair(double& left, double& right, double t, double knee, double drive) {
  const double h = maxOf(1.0, drive);
  double l = h * left;
  double r = h * right;
  softKneeLimitPair(l, r, t, knee);
  left = l / h - left;
  right = r / h - right;
}

double applyDrivenError(DrivenClipState& s, double x, double err, double mix, double errorGain,
                        double coef) {
  return applyDrivenErrorLanes(s.s0, s.s1, x, err, mix, errorGain, coef);
}

double sineShape(double x, double ceiling, double mix, double drive) {
  double unused = 0.0;
  sineShapePair(x, unused, ceiling, mix, drive);
  return x;
}

namespace {

// The wet share follows the mean magnitude of this and the previous shaped
// sample s of x.
double blendShaped(SineShapeState& p, double x, double s, double a) {
  const double b = clampTo(std::fabs(s + p.previous) * 0.5 * a, 0.0, 1.0);
  p.previous = s;
  return (1.0 - b) * x + b * s;
}

}  // namespace

double levelSineShape(SineShapeState& p, double x, double amount) {
  const double a = clampTo(amount, 0.0, 1.0);
  if (a <= 1e-7) return x;
  return blendShaped(p, x, sineWithinHalfPi(clampTo(x, -kPi / 2.0, kPi / 2.0)), a);
}

void sineShapePair(double& left, double& right, double ceiling, double mix, double drive) {
  if (mix <= 0.0) return;
  const double d = drive / maxOf(1e-6, ceiling);
  const DoublePair z = {clampTo(d * left, -kPi / 2.0, kPi / 2.0),
                        clampTo(d * right, -kPi / 2.0, kPi / 2.0)};
  const DoublePair x = {left, right};
  const DoublePair y = mix * (sineWithinHalfPi(z) / d) + (1.0 - mix) * x;
  storePair(y, left, right);
}

namespace {

// One frame's pair x after its shaped pair s, with the previous shaped pair
// (updated to s): each lane is blendShaped of its channel, then scaled by
// makeup.
void blendShapedPair(double& left, double& right, DoublePair s, DoublePair& previous, double a,
                     double makeup) {
  const DoublePair sum = s + previous;
  const DoublePair share = {std::fabs(sum[0]), std::fabs(sum[1])};
  const DoublePair scaled = share * 0.5 * a;
  const DoublePair b = {clampTo(scaled[0], 0.0, 1.0), clampTo(scaled[1], 0.0, 1.0)};
  const DoublePair x = {left, right};
  const DoublePair y = ((1.0 - b) * x + b * s) * makeup;
  previous = s;
  storePair(y, left, right);
}

}  // namespace

void levelSineShapeBlock(SineShapeState (&p)[2], double* left, double* right, int frames,
                         double amount, double makeup) {
  const double a = clampTo(amount, 0.0, 1.0);
  if (a <= 1e-7) {
    for (int i = 0; i < frames; ++i) {
      left[i] = left[i] * makeup;
      right[i] = right[i] * makeup;
    }
    return;
  }
  constexpr double h = kPi / 2.0;
  DoublePair previous = {p[0].previous, p[1].previous};
  // Two frames' sines at a time, four lanes side by side.
  int i = 0;
  for (; i + 2 <= frames; i += 2) {
    const DoubleQuad z = {clampTo(left[i], -h, h), clampTo(right[i], -h, h),
                          clampTo(left[i + 1], -h, h), clampTo(right[i + 1], -h, h)};
    DoubleQuad s;
    sineWithinHalfPi(z, s);
    blendShapedPair(left[i], right[i], DoublePair{s[0], s[1]}, previous, a, makeup);
    blendShapedPair(left[i + 1], right[i + 1], DoublePair{s[2], s[3]}, previous, a, makeup);
  }
  if (i < frames) {
    const DoublePair z = {clampTo(left[i], -h, h), clampTo(right[i], -h, h)};
    blendShapedPair(left[i], right[i], sineWithinHalfPi(z), previous, a, makeup);
  }
  storePair(previous, p[0].previous, p[1].previous);
}

}  // namespace vantle
