#include "engine/dsp/curves.h"

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"

namespace vantle {

double softKneeLimit(double x, double t, double knee) {
  const double ax = std::fabs(x);
  if (ax <= t) return x;
  const double k = maxOf(t * knee, 1e-6);
  return signOf(x) * (t + k * (1.0 - exponential(-(ax - t) / k)));
}

double kneeClip(double x, double c, double mix, double knee) {
  const double ax = std::fabs(x);
  double clipped = x;
  if (knee <= 0.0) {
    if (ax > c) clipped = signOf(x) * c;
  } else {
    const double g = (1.0 - 0.7 * knee) * c;
    const double r = maxOf(c - g, 1e-9);
    if (ax > g) clipped = signOf(x) * (g + r * (1.0 - exponential(-(ax - g) / r)));
  }
  return (1.0 - mix) * x + mix * clipped;
}

double errorFeedbackClip(ErrorClipState& s, double x, double t, double mix, double knee,
                         double feedback, double coef) {
  double g = softKneeLimit(x, t, knee);
  if (feedback > 0.0) {
    s.error = s.error + coef * ((g - x) - s.error);
    g = g - feedback * s.error;
  }
  return (1.0 - mix) * x + mix * g;
}

double drivenErrorClip(DrivenClipState& s, double x, double t, double mix, double knee,
                       double drive, double errorGain, double coef) {
  const double h = maxOf(1.0, drive);
  const double l = softKneeLimit(h * x, t, knee);
  const double err = l / h - x;
  s.s0 = s.s0 + coef * (err - s.s0);
  s.s1 = s.s1 + coef * (s.s0 - s.s1);
  return x + mix * (0.5 * mix + 0.5) * err + mix * errorGain * (0.65 * mix + 0.35) * s.s1;
}

double sineShape(double x, double ceiling, double mix, double drive) {
  if (mix <= 0.0) return x;
  const double d = drive / maxOf(1e-6, ceiling);
  const double z = clampTo(d * x, -kPi / 2.0, kPi / 2.0);
  const double y = sineWithinHalfPi(z) / d;
  return mix * y + (1.0 - mix) * x;
}

double levelSineShape(SineShapeState& p, double x, double amount) {
  const double a = clampTo(amount, 0.0, 1.0);
  if (a <= 1e-7) return x;
  const double s = sineWithinHalfPi(clampTo(x, -kPi / 2.0, kPi / 2.0));
  const double b = clampTo(std::fabs(s + p.previous) * 0.5 * a, 0.0, 1.0);
  p.previous = s;
  return (1.0 - b) * x + b * s;
}

}  // namespace vantle
