// Shared pieces of the slow tone controls that raise or lower a region by how
// much of the programme's level sits in it (the low-band leveller, the
// presence and air control): how far a level ratio lies beyond its neutral
// range, and the smoothing of the resulting gain.
#pragma once

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/minmax.h"

namespace vantle {

// 0 at or above lowRatio, rising to 1 at or below fullBoostRatio. Most frames
// sit inside the neutral range and need no division.
inline double boostShare(double ratio, double lowRatio, double fullBoostRatio) {
  const double excess = lowRatio - ratio;
  if (excess <= 0.0) return 0.0;
  return clampTo(excess / maxOf(1e-6, lowRatio - fullBoostRatio), 0.0, 1.0);
}

// 0 at or below highRatio, rising to 1 at or above fullCutRatio.
inline double cutShare(double ratio, double highRatio, double fullCutRatio) {
  const double excess = ratio - highRatio;
  if (excess <= 0.0) return 0.0;
  return clampTo(excess / maxOf(1e-6, fullCutRatio - highRatio), 0.0, 1.0);
}

// One smoothing step of a control gain towards its target: falling with the
// fall pole, rising with the rise pole. A stored gain that is not positive
// reads as 1.
inline double stepControlGain(double stored, double target, double rise, double fall) {
  const double g = stored > 0.0 ? stored : 1.0;
  return glide(g, target, g > target ? fall : rise);
}

}  // namespace vantle
