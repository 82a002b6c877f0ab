// Conversion rules shared by every stage's derivation: one definition each, so
// no stage carries its own copy of a constant or a rounding rule.
#pragma once

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"

namespace vantle {

constexpr double kPi = 3.14159265358979323846;

// dB to linear: exp(dB x ln(10)/20). A control at rest asks for 0 dB every
// frame: that is exactly 1 and costs no exponential.
inline double dbToLinear(double db) {
  if (db == 0.0) return 1.0;
  return exponential(db * 0.11512925464970229);
}

// Linear to dB (20 log10 g, as 8.6859 ln g); used at block rate only.
inline double linearToDb(double g) { return 8.685889638065037 * naturalLog(g); }

// Per-sample smoothing pole for a time constant of tau seconds.
inline double timePole(double tauSeconds, double fs) {
  return exponential(-1.0 / (tauSeconds * fs));
}

// The same with the denominator floored at one sample.
inline double timePoleFloored(double tauSeconds, double fs) {
  return exponential(-1.0 / maxOf(tauSeconds * fs, 1.0));
}

// Pole for a state updated once every `frames` frames (16, 32 or 64); the
// denominator is at least 1.
inline double blockPole(double tauSeconds, double fs, double frames) {
  return exponential(-frames / maxOf(tauSeconds * fs, 1.0));
}

// Corner frequency to a one-pole low-pass coefficient; the low-pass is then
// s += a x (x - s). Corners are used as given, also at low sample rates.
inline double onePoleCoef(double hz, double fs) { return 1.0 - exponential(-2.0 * kPi * hz / fs); }

// Milliseconds to a whole number of samples, rounded, then capped.
inline int msToSamples(double ms, double fs, int cap) {
  const double n = std::floor(ms * fs / 1000.0 + 0.5);
  if (!(n > 0.0)) return 0;
  return n > cap ? cap : static_cast<int>(n);
}

// 3x^2 - 2x^3 on x clamped to 0..1.
inline double smoothstep(double x) {
  const double t = clampTo(x, 0.0, 1.0);
  return 3.0 * (t * t) - 2.0 * (t * t * t);
}

// A ramp of D: 0 up to D = start, rising smoothly to 1 at D = start + width.
inline double ramp(double d, double start, double width) { return smoothstep((d - start) / width); }

// The stream voicing value K = smoothstep(2D - 1): 0 up to adapt 50, 1 at 100.
inline double streamVoicing(double d) { return smoothstep(2.0 * d - 1.0); }

// Adapt percentage to the fraction D in 0..1; a value that is not a number gives 0.
inline double adaptFraction(double adapt) {
  const double x = adapt / 100.0;
  return minOf(1.0, x >= 0.0 ? x : 0.0);
}

// Smoothing step v <- t + (v - t) x c: c = 0 jumps at once, c near 1 moves slowly.
inline double glide(double v, double target, double pole) { return target + (v - target) * pole; }

// Attack/release follower: the attack pole while the input is above the state.
inline double follow(double v, double x, double attack, double release) {
  return glide(v, x, x > v ? attack : release);
}

// One-pole low-pass step with coefficient a from onePoleCoef.
inline double onePole(double& s, double x, double a) {
  s = s + a * (x - s);
  return s;
}

inline double signOf(double x) { return x < 0.0 ? -1.0 : 1.0; }

}  // namespace vantle
