#include "engine/stages/bus_shaping.h"

namespace vantle {

void deriveBusShaping(BusShapingParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBusShaping(BusShapingState& s, const BusShapingParams& p) {
  (void)s;
  (void)p;
}

void runBusShaping(const BusShapingParams& p, BusShapingState& s, double& left, double& right) {
  (void)p; (void)s; (void)left; (void)right;
}

}  // namespace vantle
