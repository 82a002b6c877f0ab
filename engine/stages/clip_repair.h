// Clip-event repair under a look-ahead limiter.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct ClipRepairParams {};

// Run-time state.
struct ClipRepairState {};

void deriveClipRepair(ClipRepairParams& p, const DeriveInputs& in);
void resetClipRepair(ClipRepairState& s, const ClipRepairParams& p);
void runClipRepair(const ClipRepairParams& p, ClipRepairState& s, double& left, double& right);

}  // namespace vantle
