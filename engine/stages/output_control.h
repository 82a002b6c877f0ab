// Output gain and final peak control.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct OutputControlParams {
  // Target of the output gain glide; seeded by the derivation, moved at run
  // time by the load feedback.
  double outputGainTarget = 1.0;
  // Depths of the density and peak-limiting gains; read by the load feedback.
  double densityDepth = 0.0;
  double limitDepth = 0.0;
};

// Run-time state.
struct OutputControlState {
  double outputGain = 1.0;
  // Read by the load feedback.
  double boostGuardGain = 1.0;
  double peakLevel = 0.0;
  double peakLimitGain = 1.0;
};

void deriveOutputControl(OutputControlParams& p, const DeriveInputs& in);
void resetOutputControl(OutputControlState& s, const OutputControlParams& p);
void runOutputControl(const OutputControlParams& p, OutputControlState& s, double& left, double& right);

}  // namespace vantle
