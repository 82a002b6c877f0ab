#include "engine/stages/bus_shaping.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/filters.h"
#include "engine/dsp/minmax.h"

namespace vantle {

void deriveBusShaping(BusShapingParams& p, const DeriveInputs& in) {
  const double d = in.d;
  const double k = streamVoicing(d);
  double drive = 0.0;
  double width = 1.0;
  double trimDb = 0.0;
  switch (in.mode) {
    case ProcessingMode::podcast:
      p.busKneeMix = 0.0;
      p.busLowEqAmount = 0.18;
      p.busSubEqAmount = 0.15;
      drive = 10.0 + 2.0 * d;
      width = 1.0;
      trimDb = -1.5;
      break;
    case ProcessingMode::stream:
      p.busKneeMix = 0.1;
      p.busLowEqAmount = 0.12;
      p.busSubEqAmount = 0.42;
      drive = 12.0 + 8.0 * k;
      width = 1.0 + 0.5 * ramp(d, 0.4, 0.6);
      trimDb = 0.4 * k - 0.4;
      break;
    case ProcessingMode::limiter:
      p.busKneeMix = 0.06;
      p.busLowEqAmount = 0.0;
      p.busSubEqAmount = 0.0;
      drive = 12.0 + 8.0 * d;
      width = 1.0;
      trimDb = -1.6 - 1.4 * d;
      break;
  }
  const double kneeMix = p.busKneeMix;  // M
  p.busKneeThreshold = (0.97 - 0.16 * kneeMix) * in.outputCeiling;
  p.busKneeWidth = 0.68 - 0.18 * kneeMix;
  designPeaking(p.busLowEq, 105.0, 1.0, 1.6 * p.busLowEqAmount, in.fs);
  designPeaking(p.busSubEq, 58.0, 0.75, 0.65 * p.busSubEqAmount, in.fs);
  const double satDrive = clampToOrLow(drive, 0.0, 50.0);
  p.busSatAmount = satDrive / 100.0;
  p.busSatMakeup = dbToLinear(0.04 * satDrive);
  p.stereoWidth = width;
  p.outputTrim = dbToLinear(clampToOrLow(trimDb, -12.0, 12.0));

  p.midFastRise = timePole(0.0015, in.fs);
  p.midFastFall = timePole(0.05, in.fs);
  p.midSlowRise = timePole(0.03, in.fs);
  p.midSlowFall = timePole(0.25, in.fs);
  p.averageRise = timePole(0.008, in.fs);
  p.averageFall = timePole(0.18, in.fs);
  p.resultFall = timePole(0.0005, in.fs);
  p.resultRise = timePole(0.035, in.fs);
}

void resetBusShaping(BusShapingState& s, const BusShapingParams& p) {
  (void)p;
  // The equaliser memories keep running across a reset: only construction
  // clears them, so that a reset in the middle of programme (a mode change)
  // does not click; zeroed memories under a running signal would step the output.
  s.saturation[0] = SineShapeState{};
  s.saturation[1] = SineShapeState{};
  s.width = WidthDetectorState{};
}

double widthDetector(const BusShapingParams& p, WidthDetectorState& s, double midLevel,
                     double sideLevel, double extra) {
  s.midFast = follow(s.midFast, midLevel, p.midFastRise, p.midFastFall);
  s.midSlow = follow(s.midSlow, midLevel, p.midSlowRise, p.midSlowFall);
  s.midAverage = follow(s.midAverage, midLevel, p.averageRise, p.averageFall);
  s.sideAverage = follow(s.sideAverage, sideLevel, p.averageRise, p.averageFall);

  // Widen only programme: the mid above -60 dBFS (fully at -40) and some side
  // content to widen.
  const double presence = clampUnitOrZero((s.midAverage - 0.001) * 111.111111111111);
  const double ratio = s.sideAverage / maxOf(1e-6, s.midAverage);
  const double sideShare = clampUnitOrZero((ratio - 0.012) * 20.8333333333333);
  // Punchy and narrow programme tolerates more width.
  const double punch = maxOf(0.0, (s.midFast / maxOf(1e-6, s.midSlow) - 1.0) * 1.5);
  const double open = maxOf(0.0, (0.45 - ratio) * 2.85714285714286);
  const double character = maxOf(0.0, minOf(1.0, punch) * 0.4 + 0.35 + minOf(1.0, open) * 0.25);
  const double cap =
      ratio > 1e-6 ? clampUnitOrZero((0.92 / ratio - 1.0) / maxOf(1e-6, extra)) : 1.0;
  const double target = presence * sideShare * minOf(1.0, character) * cap;

  s.result = glide(s.result, target, s.result > target ? p.resultFall : p.resultRise);
  s.result = minOf(s.result, cap);
  return s.result;
}

namespace {

// The knee and the equalisers over the block: the knee keeps no memory, and
// each equaliser takes the whole block, both channels side by side.
void shapeBlock(const BusShapingParams& p, BusShapingState& s, double* left, double* right,
                int frames) {
  DoublePair y[kChainBlock];
  for (int i = 0; i < frames; ++i) y[i] = DoublePair{left[i], right[i]};
  const double kneeMix = p.busKneeMix;
  if (kneeMix > 0.0) {
    for (int i = 0; i < frames; ++i) {
      double kl = y[i][0];
      double kr = y[i][1];
      softKneeLimitPair(kl, kr, p.busKneeThreshold, p.busKneeWidth);
      y[i] = y[i] + (DoublePair{kl, kr} - y[i]) * kneeMix;
    }
  }
  if (p.busLowEqAmount > 0.0)
    runBiquadPairs(p.busLowEq, p.busLowEq, s.lowEq[0], s.lowEq[1], y, frames);
  if (p.busSubEqAmount > 0.0)
    runBiquadPairs(p.busSubEq, p.busSubEq, s.subEq[0], s.subEq[1], y, frames);
  for (int i = 0; i < frames; ++i) {
    storePair(y[i], left[i], right[i]);
  }
}

// The stereo width and the output trim of one frame.
void widenFrame(const BusShapingParams& p, BusShapingState& s, double& left, double& right) {
  const double mid = (left + right) * 0.5;
  double side = (left - right) * 0.5;
  const double width = p.stereoWidth;  // w
  if (width < 1.0) {
    side = side * width;
  } else if (width > 1.0000001) {
    const double share = widthDetector(p, s.width, std::fabs(mid), std::fabs(side), width - 1.0);
    side = side * (1.0 + (width - 1.0) * share);
  }

  left = p.outputTrim * (mid + side);
  right = p.outputTrim * (mid - side);
}

}  // namespace

void runBusShaping(const BusShapingParams& p, BusShapingState& s, double* left, double* right,
                   int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    double* l = left + first;
    double* r = right + first;
    shapeBlock(p, s, l, r, count);
    if (p.busSatAmount > 1e-7) {
      levelSineShapeBlock(s.saturation, l, r, count, p.busSatAmount, p.busSatMakeup);
    }
    for (int i = 0; i < count; ++i) widenFrame(p, s, l[i], r[i]);
  });
}

}  // namespace vantle
