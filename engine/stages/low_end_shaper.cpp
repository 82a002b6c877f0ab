#include "engine/stages/low_end_shaper.h"

namespace vantle {

void deriveLowEndShaper(LowEndShaperParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetLowEndShaper(LowEndShaperState& s, const LowEndShaperParams& p) {
  (void)s;
  (void)p;
}

void runLowEndShaper(const LowEndShaperParams& p, LowEndShaperState& s, double& left, double& right) {
  (void)p; (void)s; (void)left; (void)right;
}

}  // namespace vantle
