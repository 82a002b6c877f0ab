#include "engine/stages/gain_rider.h"

namespace vantle {

void deriveGainRider(GainRiderParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetGainRider(GainRiderState& s, const GainRiderParams& p) {
  (void)s;
  (void)p;
}

void runGainRider(const GainRiderParams& p, GainRiderState& s, double& left, double& right) {
  (void)p; (void)s; (void)left; (void)right;
}

}  // namespace vantle
