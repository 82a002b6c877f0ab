#include "engine/dsp/filters.h"

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

struct DesignAngle {
  double cs;
  double sn;
};

DesignAngle designAngle(double hz, double fs) {
  const double f = minOf(maxOf(hz, 20.0), 0.45 * fs);
  const double w = 2.0 * kPi * f / fs;
  return {cosine(w), sine(w)};
}

}  // namespace

void designLowShelf(BiquadCoefficients& out, double hz, double slope, double gainDb, double fs) {
  const DesignAngle w = designAngle(hz, fs);
  const double a = exponential(gainDb * 0.057564627324851);
  const double alpha = w.sn / 2.0 * std::sqrt((a + 1.0 / a) * (1.0 / slope - 1.0) + 2.0);
  const double sa = 2.0 * std::sqrt(a) * alpha;
  const double a0 = (a + 1.0) + (a - 1.0) * w.cs + sa;
  out.b0 = a * ((a + 1.0) - (a - 1.0) * w.cs + sa) / a0;
  out.b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * w.cs) / a0;
  out.b2 = a * ((a + 1.0) - (a - 1.0) * w.cs - sa) / a0;
  out.a1 = -2.0 * ((a - 1.0) + (a + 1.0) * w.cs) / a0;
  out.a2 = ((a + 1.0) + (a - 1.0) * w.cs - sa) / a0;
}

void designLowPass(BiquadCoefficients& out, double hz, double q, double fs) {
  const DesignAngle w = designAngle(hz, fs);
  const double alpha = w.sn / (2.0 * q);
  const double a0 = 1.0 + alpha;
  out.b0 = (1.0 - w.cs) / 2.0 / a0;
  out.b1 = (1.0 - w.cs) / a0;
  out.b2 = out.b0;
  out.a1 = -2.0 * w.cs / a0;
  out.a2 = (1.0 - alpha) / a0;
}

void designPeaking(BiquadCoefficients& out, double hz, double q, double gainDb, double fs) {
  const DesignAngle w = designAngle(hz, fs);
  const double a = exponential(gainDb * 0.057564627324851);
  const double alpha = w.sn / (2.0 * q);
  const double a0 = 1.0 + alpha / a;
  out.b0 = (1.0 + alpha * a) / a0;
  out.b1 = -2.0 * w.cs / a0;
  out.a1 = out.b1;
  out.b2 = (1.0 - alpha * a) / a0;
  out.a2 = (1.0 - alpha / a) / a0;
}

double followTrackerLevel(GainTrackerState& s, double x, double threshold, double attack,
                          double releaseA, double releaseB, double depth) {
  const double l = s.level;
  // Releasing, the deeper the level stands over the threshold, the more of
  // releaseB; at or under it, releaseA alone. Both poles are worked out every
  // frame and then picked: whether a band's peak rises above its level
  // follows the waveform, and a guess at it would often be wrong.
  const double u = clampTo((l - threshold) / maxOf(1e-6, 2.5 * threshold), 0.0, 1.0) * depth;
  const double shaped = (1.0 - u) * releaseA + u * releaseB;
  const double release = l > threshold ? shaped : releaseA;
  const double pole = x > l ? attack : release;
  s.level = maxOf(1e-6, x + (l - x) * pole);
  return s.level;
}

double limitTarget(double level, double threshold) {
  const double t = level > threshold ? threshold / level : 1.0;
  return clampTo(t, 0.1, 1.0);
}

double ratioTarget(double level, double threshold, double exponent, double knee, double floor) {
  // The level over the threshold; at or under it (o <= 1) the gain is 1 and
  // the quotient is not needed.
  const double base = maxOf(1e-6, threshold);
  double t = 1.0;
  if (level > base) {
    const double o = level / base;
    const double q = (o - 1.0) / maxOf(1e-6, o - 1.0 + knee);
    t = 1.0 - (1.0 - power(o, exponent)) * clampTo(q, 0.0, 1.0);
  }
  t = maxOf(t, floor);
  return minOf(t, 1.0);
}

double stepTrackerGain(GainTrackerState& s, double target, double attack, double releaseA,
                       double releaseB, double depth) {
  // Towards the target: attacking when the gain must fall, released the
  // slower the deeper it works. A stored gain of 0 or less reads as 1.
  const double g = s.gain <= 0.0 ? 1.0 : s.gain;
  const double o = clampTo((1.0 - g) / 0.75, 0.0, 1.0) * depth;
  const double pole = g > target ? attack : (1.0 - o) * releaseA + o * releaseB;
  s.gain = target + (g - target) * pole;
  return s.gain;
}

double trackLimitGain(GainTrackerState& s, double x, double threshold, double attack,
                      double releaseA, double releaseB, double depth) {
  const double level = followTrackerLevel(s, x, threshold, attack, releaseA, releaseB, depth);
  return stepTrackerGain(s, limitTarget(level, threshold), attack, releaseA, releaseB, depth);
}

double trackRatioGain(GainTrackerState& s, double x, double threshold, double attack,
                      double releaseA, double releaseB, double depth, double exponent, double knee,
                      double floor) {
  const double level = followTrackerLevel(s, x, threshold, attack, releaseA, releaseB, depth);
  return stepTrackerGain(s, ratioTarget(level, threshold, exponent, knee, floor), attack, releaseA,
                         releaseB, depth);
}

void fillBlock(double* block, double v) {
  for (int i = 0; i < kFillBlockLength; ++i) block[i] = v;
}

}  // namespace vantle
