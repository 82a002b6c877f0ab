#include "engine/stages/clip_repair.h"

namespace vantle {

void deriveClipRepair(ClipRepairParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetClipRepair(ClipRepairState& s, const ClipRepairParams& p) {
  (void)s;
  (void)p;
}

void runClipRepair(const ClipRepairParams& p, ClipRepairState& s, double& left, double& right) {
  (void)p; (void)s; (void)left; (void)right;
}

}  // namespace vantle
