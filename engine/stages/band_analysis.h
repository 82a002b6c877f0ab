// Stream-mode analysis of sub-bass, bass and mid energy driving the adaptive low shelf and bass peak.
#pragma once

#include <cstdint>

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandAnalysisParams {};

// Run-time state.
// Sums that the input stage and the six-band split add to every frame and
// this stage reads and clears every 16 frames.
struct AnalysisFeeds {
  double lowContentSum = 0.0;
  double inputPowerSum = 0.0;
  std::uint64_t lowContentFrames = 0;
  double band0PowerSum = 0.0;
  double band1PowerSum = 0.0;
  std::uint64_t bandBalanceFrames = 0;
};

struct BandAnalysisState {
  AnalysisFeeds feeds;
};

void deriveBandAnalysis(BandAnalysisParams& p, const DeriveInputs& in);
void resetBandAnalysis(BandAnalysisState& s, const BandAnalysisParams& p);
// Called by the low-end shaper while its band-analysis mix is above 1e-7:
// (pL, pR) enter the shaper, (eL, eR) are the same pair after the 65 Hz bump.
void lowEndAnalysis(const BandAnalysisParams& p, BandAnalysisState& s, double reductionPressure,
                    double pL, double pR, double eL, double eR, double& oL, double& oR);

}  // namespace vantle
