// Input conditioning: sanitising, input gain, low-frequency removal and the phase rotator.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct InputStageParams {};

// Run-time state.
struct InputStageState {};

void deriveInputStage(InputStageParams& p, const DeriveInputs& in);
void resetInputStage(InputStageState& s, const InputStageParams& p);
void runInputStage(const InputStageParams& p, InputStageState& s, float inL, float inR, double& rawL, double& rawR, double& outL, double& outR);

}  // namespace vantle
