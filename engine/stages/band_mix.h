// Band clipping and band mix.
#pragma once

#include "engine/settings.h"
#include "engine/bands.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandMixParams {
  double clipMakeupScale = 0.0;    // H, 0..1; also read by the spectral balance
  double upperBalanceScale = 0.0;  // V, 0..1; likewise
};

// Run-time state.
struct BandMixState {};

void deriveBandMix(BandMixParams& p, const DeriveInputs& in);
void resetBandMix(BandMixState& s, const BandMixParams& p);
void runBandMix(const BandMixParams& p, BandMixState& s, BandSignals& bands);

}  // namespace vantle
