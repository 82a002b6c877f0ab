// Output gain and final peak control.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct OutputControlParams {};

// Run-time state.
struct OutputControlState {};

void deriveOutputControl(OutputControlParams& p, const DeriveInputs& in);
void resetOutputControl(OutputControlState& s, const OutputControlParams& p);
void runOutputControl(const OutputControlParams& p, OutputControlState& s, double& left, double& right);

}  // namespace vantle
