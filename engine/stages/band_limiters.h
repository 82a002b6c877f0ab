// Stream-mode band make-up and per-band limiters.
#pragma once

#include "engine/settings.h"
#include "engine/bands.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandLimitersParams {
  bool streamBandDynamics = false;  // stream mode above adapt 50
};

// Run-time state.
struct BandLimitersState {};

void deriveBandLimiters(BandLimitersParams& p, const DeriveInputs& in);
void resetBandLimiters(BandLimitersState& s, const BandLimitersParams& p);
void runBandLimiters(const BandLimitersParams& p, BandLimitersState& s, BandSignals& bands);

}  // namespace vantle
