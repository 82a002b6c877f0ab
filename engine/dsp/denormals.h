// Keeps decaying states out of the subnormal range. A level or filter memory
// that decays towards 0 through a pole close to 1 ends up stuck on a subnormal
// value (the product rounds back to itself), and every frame of a long silence
// would then pay for subnormal arithmetic. Replacing a subnormal result by 0
// changes nothing audible: the first normal double is about 2.2e-308.
#pragma once

#include <cfloat>
#include <cmath>

namespace vantle {

inline double flushDenormal(double v) { return std::fabs(v) < DBL_MIN ? 0.0 : v; }

}  // namespace vantle
