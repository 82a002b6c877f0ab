#include "engine/stages/true_peak_limiter.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/window_minimum.h"

namespace vantle {

namespace {

// Kaiser-windowed sinc (beta 10) over 12 taps, 8 phases, as printed to nine
// digits; tap 12 and the off-centre taps of phase 0 are exactly 0.
constexpr double kInterpolation[kTpTaps][kTpPhases] = {
    {0, -1.71492198e-05, -6.04553545e-05, -0.000134692864, -0.00023160239, -0.000323322657,
     -0.00036001046, -0.000275041486},
    {0, 0.000510857034, 0.00125048758, 0.00213081961, 0.00296659897, 0.00348204449, 0.00334834003,
     0.00225384847},
    {0, -0.00339420988, -0.00760475012, -0.0119620214, -0.0154846817, -0.0170047095, -0.0153825186,
     -0.00978799023},
    {0, 0.0133408864, 0.0285987272, 0.0431912911, 0.0538605758, 0.0571638864, 0.0501367029,
     0.0310314005},
    {0, -0.0404257134, -0.0851904718, -0.126999703, -0.157055878, -0.166189452, -0.146244966,
     -0.0915174605},
    {0, 0.12579016, 0.278588926, 0.446860418, 0.615952035, 0.769795415, 0.892919649, 0.972479637},
    {0.999988185, 0.972479637, 0.892919649, 0.769795415, 0.615952035, 0.446860418, 0.278588926,
     0.12579016},
    {0, -0.0915174605, -0.146244966, -0.166189452, -0.157055878, -0.126999703, -0.0851904718,
     -0.0404257134},
    {0, 0.0310314005, 0.0501367029, 0.0571638864, 0.0538605758, 0.0431912911, 0.0285987272,
     0.0133408864},
    {0, -0.00978799023, -0.0153825186, -0.0170047095, -0.0154846817, -0.0119620214, -0.00760475012,
     -0.00339420988},
    {0, 0.00225384847, 0.00334834003, 0.00348204449, 0.00296659897, 0.00213081961, 0.00125048758,
     0.000510857034},
    {0, -0.000275041486, -0.00036001046, -0.000323322657, -0.00023160239, -0.000134692864,
     -6.04553545e-05, -1.71492198e-05},
    {0, 0, 0, 0, 0, 0, 0, 0},
};

constexpr int kCentreTap = 6;  // the interpolator's centre lags the input by 6 frames
constexpr int kRingMask = kTpRingLength - 1;

// Sums of all eight phases over taps 0..11 for one channel, each phase in tap
// order. Tap 12 is an exact 0 and is left out; phase 0 runs with the others
// (its off-centre taps are exact zeros, so it sums to the centre tap times
// the centre sample, as a sum of finite values must).
inline void interpolate(const double* table, const double* history, double* y) {
  for (int j = 0; j < kTpPhases; ++j) y[j] = 0.0;
  for (int t = 0; t < kTpTaps - 1; ++t) {
    const double x = history[t];
    const double* h = table + kTpPhases * t;
    for (int j = 0; j < kTpPhases; ++j) y[j] = y[j] + h[j] * x;
  }
}

// Smallest of q and v + (1 - v) x rise x square over n entries.
inline double weightedMinimum(const double* v, const double* rise, const double* square, int n,
                              double q) {
  return runMinimum(n, q,
                    [v, rise, square](int k) { return v[k] + (1.0 - v[k]) * rise[k] * square[k]; });
}

}  // namespace

void deriveTruePeakLimiter(TruePeakLimiterParams& p, const DeriveInputs& in) {
  p.outputCeiling = in.outputCeiling;
  p.truePeakCeiling = in.outputCeiling * exponential(-0.008634694098727672);
  p.tpLookahead = msToSamples(1.5, in.fs, kTpRingLength - 2);
  p.tpWindow = p.tpLookahead - 6 < 2 ? 1 : p.tpLookahead - 6;
  p.tpRelease = timePoleFloored(0.03, in.fs);
  for (int t = 0; t < kTpTaps; ++t) {
    for (int j = 0; j < kTpPhases; ++j)
      p.interpolationTable[kTpPhases * t + j] = kInterpolation[t][j];
  }
  // Largest gain of any phase on samples of one magnitude, with a margin far
  // above the rounding of a 12-term sum.
  double phaseGain = 1.0;
  for (int j = 0; j < kTpPhases; ++j) {
    double sum = 0.0;
    for (int t = 0; t < kTpTaps; ++t) sum += std::fabs(kInterpolation[t][j]);
    if (sum > phaseGain) phaseGain = sum;
  }
  p.quietBound = p.truePeakCeiling / phaseGain * (1.0 - 1e-9);
  const double w = static_cast<double>(p.tpWindow);
  for (int k = 0; k < kTpRingLength; ++k) {
    const double s = k <= p.tpWindow ? static_cast<double>(k) / w : 1.0;
    p.windowRise[k] = 3.0 - 2.0 * s;
    p.windowSquare[k] = s * s;
  }
  p.floatCeiling = std::nextafter(static_cast<float>(in.outputCeiling), 0.0f);
}

void resetTruePeakLimiter(TruePeakLimiterState& s, const TruePeakLimiterParams& p) {
  (void)p;
  for (int c = 0; c < 2; ++c) {
    for (double& v : s.tpRing[c]) v = 0.0;
    for (double& v : s.tpHistory[c]) v = 0.0;
  }
  for (double& v : s.tpGainRing) v = 1.0;
  s.tpIndex = 0;
  s.historyStart = 0;
  s.tpGain = 1.0;
  s.pendingCount = 0;
  s.loudFrames = 0;
}

double truePeakEstimate(const double* table, const double* historyL, const double* historyR) {
  double yL[kTpPhases];
  double yR[kTpPhases];
  interpolate(table, historyL, yL);
  interpolate(table, historyR, yR);
  double n = std::fabs(historyL[0]);
  const double r0 = std::fabs(historyR[0]);
  if (r0 > n) n = r0;
  for (int j = 0; j < kTpPhases; ++j) {
    const double aL = std::fabs(yL[j]);
    const double aR = std::fabs(yR[j]);
    if (aL > n) n = aL;
    if (aR > n) n = aR;
  }
  return n;
}

namespace {

// The float nearest to a value below the smallest normal float (ties to even),
// assembled from its bits: the chain runs with subnormal results flushed to
// zero, which would otherwise cut a fading tail off at 1.2e-38 instead of
// letting it reach the float's own smallest step.
float narrowBelowNormal(double y) {
  const double steps = std::nearbyint(std::fabs(y) * 0x1p149);  // units of 2^-149
  std::uint32_t bits = static_cast<std::uint32_t>(steps);
  if (std::signbit(y)) bits |= 0x80000000u;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace

float toOutputSample(double x, double ceiling, float floatCeiling) {
  double y = 0.0;  // a value that is not a number fails both tests and stays 0
  if (x >= -ceiling) y = x <= ceiling ? x : ceiling;
  if (x < -ceiling) y = -ceiling;
  // Far inside the ceiling; kept out of the float comparisons below, which
  // would read a subnormal as 0 in the flush mode.
  if (std::fabs(y) < 0x1p-126) return narrowBelowNormal(y);
  float f = static_cast<float>(y);
  if (f > floatCeiling) f = floatCeiling;
  if (f < -floatCeiling) f = -floatCeiling;
  return f;
}

namespace {

// One frame of the stage.
StereoFrame stepFrame(const TruePeakLimiterParams& p, TruePeakLimiterState& s, double left,
                      double right) {
  const int i = s.tpIndex;
  s.tpRing[0][i] = left;
  s.tpRing[1][i] = right;
  if (s.tpGainRing[i] < 1.0) --s.pendingCount;
  s.tpGainRing[i] = 1.0;

  const int h = s.historyStart > 0 ? s.historyStart - 1 : kTpTaps - 1;
  s.historyStart = h;
  s.tpHistory[0][h] = s.tpHistory[0][h + kTpTaps] = left;
  s.tpHistory[1][h] = s.tpHistory[1][h + kTpTaps] = right;

  // While every sample in the history is at most quietBound, no phase can
  // reach the ceiling and the estimate is skipped.
  if (std::fabs(left) > p.quietBound || std::fabs(right) > p.quietBound) s.loudFrames = kTpTaps;
  const double n = s.loudFrames > 0 ? truePeakEstimate(p.interpolationTable, s.tpHistory[0] + h,
                                                       s.tpHistory[1] + h)
                                    : 0.0;
  if (s.loudFrames > 0) --s.loudFrames;
  if (n > p.truePeakCeiling) {
    const double g = p.truePeakCeiling / (n > 1e-12 ? n : 1e-12);
    const int p6 = (i - kCentreTap) & kRingMask;
    const double old = s.tpGainRing[p6];
    if (g < old) {
      if (!(old < 1.0)) ++s.pendingCount;
      s.tpGainRing[p6] = g;
    }
  }

  const int r = (i - p.tpLookahead) & kRingMask;
  double q = 1.0;
  if (s.pendingCount > 0) {
    // Entry k of the window counts with weight 1 - (3 - 2s) s^2, s = k / W.
    // The window is walked as the (at most two) contiguous runs of the ring.
    const int count = p.tpWindow + 1;
    const int first = count < kTpRingLength - r ? count : kTpRingLength - r;
    q = weightedMinimum(s.tpGainRing + r, p.windowRise, p.windowSquare, first, q);
    q = weightedMinimum(s.tpGainRing, p.windowRise + first, p.windowSquare + first, count - first,
                        q);
  }
  if (q >= s.tpGain) q = glide(s.tpGain, q, p.tpRelease);
  if (q > 0.999999999) q = 1.0;
  s.tpGain = q;

  const double outL = q * s.tpRing[0][r];
  const double outR = q * s.tpRing[1][r];

  if (s.tpGainRing[r] < 1.0) --s.pendingCount;
  s.tpGainRing[r] = 1.0;
  s.tpIndex = (i + 1) & kRingMask;

  return StereoFrame{toOutputSample(outL, p.outputCeiling, p.floatCeiling),
                     toOutputSample(outR, p.outputCeiling, p.floatCeiling)};
}

}  // namespace

void runTruePeakLimiter(const TruePeakLimiterParams& p, TruePeakLimiterState& s, const double* left,
                        const double* right, StereoFrame* out, int frames) {
  for (int i = 0; i < frames; ++i) out[i] = stepFrame(p, s, left[i], right[i]);
}

}  // namespace vantle
