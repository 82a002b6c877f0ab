// Bus shaping and stereo width: a blended soft knee, two low peaking
// equalisers, a level-dependent sine saturation with make-up, a mid/side width
// control guarded by a programme detector, and the bus trim.
#pragma once

#include "engine/dsp/curves.h"
#include "engine/dsp/filters.h"
#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BusShapingParams {
  double busKneeMix = 0.0;      // M: share of the soft knee, 0 switches it off
  double busLowEqAmount = 0.0;  // E1: 105 Hz equaliser amount, 0 switches it off
  double busSubEqAmount = 0.0;  // E2: 58 Hz equaliser amount, 0 switches it off
  double busKneeThreshold = 0.0;
  double busKneeWidth = 0.0;
  BiquadCoefficients busLowEq;
  BiquadCoefficients busSubEq;
  double busSatAmount = 0.0;  // off when not above 1e-7
  double busSatMakeup = 1.0;
  double stereoWidth = 1.0;  // w: above 1 widens the side under the detector's control
  double outputTrim = 1.0;
  // Width detector poles (rise while the input is above the envelope).
  double midFastRise = 0.0;
  double midFastFall = 0.0;
  double midSlowRise = 0.0;
  double midSlowFall = 0.0;
  double averageRise = 0.0;  // mid and side averages
  double averageFall = 0.0;
  double resultFall = 0.0;  // the result drops fast and opens slowly
  double resultRise = 0.0;
};

// Programme detector that decides how much of the extra width to allow.
// Glossary (all per frame, linear, reset 0):
//   midFast, midSlow   fast and slow envelopes of |mid|
//   midAverage         average of |mid|
//   sideAverage        average of |side|
//   result             t, the share of the extra width, 0..cap
struct WidthDetectorState {
  double midFast = 0.0;
  double midSlow = 0.0;
  double midAverage = 0.0;
  double sideAverage = 0.0;
  double result = 0.0;
};

// Run-time state.
// Glossary:
//   lowEq, subEq   equaliser memories per channel, per frame; zeroed at
//                  construction only, reset leaves them running so that a mode
//                  change in the middle of programme does not click
//   saturation     levelSineShape memory per channel, per frame, reset 0
//   width          the width detector, per frame, reset 0
struct BusShapingState {
  BiquadSection lowEq[2];
  BiquadSection subEq[2];
  SineShapeState saturation[2];
  WidthDetectorState width;
};

void deriveBusShaping(BusShapingParams& p, const DeriveInputs& in);
void resetBusShaping(BusShapingState& s, const BusShapingParams& p);
void runBusShaping(const BusShapingParams& p, BusShapingState& s, double* left, double* right,
                   int frames);

// Share 0..1 of the extra width (extra = w - 1) to apply now, for the levels
// |mid| and |side|; never more than keeps the widened side below 0.92 of the mid.
double widthDetector(const BusShapingParams& p, WidthDetectorState& s, double midLevel,
                     double sideLevel, double extra);

}  // namespace vantle
