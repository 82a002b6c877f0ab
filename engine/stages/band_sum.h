// Band delay, high-band transient saturation and the band sum.
#pragma once

#include "engine/settings.h"
#include "engine/bands.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandSumParams {};

// Run-time state.
struct BandSumState {};

void deriveBandSum(BandSumParams& p, const DeriveInputs& in);
void resetBandSum(BandSumState& s, const BandSumParams& p);
void runBandSum(const BandSumParams& p, BandSumState& s, const BandSignals& bands, double& left, double& right);

}  // namespace vantle
