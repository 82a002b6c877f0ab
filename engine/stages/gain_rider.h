// Wideband gain rider: slow two-region level riding with silence freeze, idle drift and resume.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct GainRiderParams {};

// Run-time state.
struct GainRiderState {};

void deriveGainRider(GainRiderParams& p, const DeriveInputs& in);
void resetGainRider(GainRiderState& s, const GainRiderParams& p);
void runGainRider(const GainRiderParams& p, GainRiderState& s, double& left, double& right);

}  // namespace vantle
