// The engine's clamps. They differ only in what a value that is not a number
// gives, and every call site keeps the rule it was voiced with: a changed rule
// would change what a NaN or a -0 leaves behind in the state.
#pragma once

#include "engine/dsp/minmax.h"

namespace vantle {

// x < lo ? lo : (x > hi ? hi : x). NaN fails both comparisons and passes
// through, for values that are numbers by construction or repaired later.
inline double clampTo(double x, double lo, double hi) { return x < lo ? lo : (x > hi ? hi : x); }

// min(hi, max(lo, x)). maxOf drops the NaN operand, so NaN gives lo: for
// amounts that must never carry a NaN into a gain or a mix.
inline double clampToOrLow(double x, double lo, double hi) { return minOf(hi, maxOf(lo, x)); }

// clampToOrLow on the unit interval, for shares and detector strengths: an
// event ratio of an unsettled detector that is not a number counts as 0.
inline double clampUnitOrZero(double x) { return clampToOrLow(x, 0.0, 1.0); }

}  // namespace vantle
