// Six-band split with presence and air control.
#pragma once

#include "engine/settings.h"
#include "engine/bands.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandSplitParams {};

// Run-time state.
struct BandSplitState {};

void deriveBandSplit(BandSplitParams& p, const DeriveInputs& in);
void resetBandSplit(BandSplitState& s, const BandSplitParams& p);
void runBandSplit(const BandSplitParams& p, BandSplitState& s, double left, double right, BandSignals& bands);

}  // namespace vantle
