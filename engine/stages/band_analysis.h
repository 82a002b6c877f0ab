// Stream-mode analysis of sub-bass, bass and mid energy driving the adaptive low shelf and bass peak.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandAnalysisParams {};

// Run-time state.
struct BandAnalysisState {};

void deriveBandAnalysis(BandAnalysisParams& p, const DeriveInputs& in);
void resetBandAnalysis(BandAnalysisState& s, const BandAnalysisParams& p);

}  // namespace vantle
