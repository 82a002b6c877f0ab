// Low-end shaper: the 65 Hz bump, the low-band leveller and the band-analysis blend.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct LowEndShaperParams {
  double bandAnalysisMix = 0.0;  // > 1e-7 only in stream mode above adapt 18
  double levellerAmount = 0.0;   // leveller share 0..1; also weights the band analysis
};

// Run-time state.
struct LowEndShaperState {};

void deriveLowEndShaper(LowEndShaperParams& p, const DeriveInputs& in);
void resetLowEndShaper(LowEndShaperState& s, const LowEndShaperParams& p);
void runLowEndShaper(const LowEndShaperParams& p, LowEndShaperState& s, double& left, double& right);

}  // namespace vantle
