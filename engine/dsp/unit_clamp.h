// Clamp to the unit interval for shares and detector strengths: a value that
// is not a number (an event ratio of an unsettled detector) counts as 0, so it
// can never reach a gain or a mix.
#pragma once

#include <cmath>

#include "engine/dsp/minmax.h"

namespace vantle {

// min(1, max(0, x)); fmax drops a NaN operand, so NaN gives 0.
inline double clamp01(double x) { return minOf(1.0, maxOf(0.0, x)); }

}  // namespace vantle
