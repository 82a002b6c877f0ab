// Spectral balance of the bands against the mids.
#pragma once

#include "engine/settings.h"
#include "engine/bands.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct SpectralBalanceParams {};

// Run-time state.
struct SpectralBalanceState {};

void deriveSpectralBalance(SpectralBalanceParams& p, const DeriveInputs& in);
void resetSpectralBalance(SpectralBalanceState& s, const SpectralBalanceParams& p);
void runSpectralBalance(const SpectralBalanceParams& p, SpectralBalanceState& s, BandSignals& bands);

}  // namespace vantle
