// Limiter load feedback to the rider and output-gain targets.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct LoadFeedbackParams {};

// Run-time state.
struct LoadFeedbackState {
  double reductionPressure = 0.0;  // read by the band analysis
};

void deriveLoadFeedback(LoadFeedbackParams& p, const DeriveInputs& in);
void resetLoadFeedback(LoadFeedbackState& s, const LoadFeedbackParams& p);

}  // namespace vantle
