#include "engine/stages/true_peak_limiter.h"

namespace vantle {

void deriveTruePeakLimiter(TruePeakLimiterParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetTruePeakLimiter(TruePeakLimiterState& s, const TruePeakLimiterParams& p) {
  (void)s;
  (void)p;
}

StereoFrame runTruePeakLimiter(const TruePeakLimiterParams& p, TruePeakLimiterState& s, double left, double right) {
  (void)p; (void)s;
  return StereoFrame{static_cast<float>(left), static_cast<float>(right)};
}

}  // namespace vantle
