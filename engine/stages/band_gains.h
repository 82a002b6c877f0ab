// Band gain computers with their band clippers.
#pragma once

#include "engine/settings.h"
#include "engine/bands.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandGainsParams {};

// Run-time state.
struct BandGainsState {};

void deriveBandGains(BandGainsParams& p, const DeriveInputs& in);
void resetBandGains(BandGainsState& s, const BandGainsParams& p);
void runBandGains(const BandGainsParams& p, BandGainsState& s, BandSignals& bands);

}  // namespace vantle
