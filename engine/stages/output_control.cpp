#include "engine/stages/output_control.h"

namespace vantle {

void deriveOutputControl(OutputControlParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetOutputControl(OutputControlState& s, const OutputControlParams& p) {
  (void)s;
  (void)p;
}

void runOutputControl(const OutputControlParams& p, OutputControlState& s, double& left, double& right) {
  (void)p; (void)s; (void)left; (void)right;
}

}  // namespace vantle
