// Bus shaping and stereo width.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BusShapingParams {};

// Run-time state.
struct BusShapingState {};

void deriveBusShaping(BusShapingParams& p, const DeriveInputs& in);
void resetBusShaping(BusShapingState& s, const BusShapingParams& p);
void runBusShaping(const BusShapingParams& p, BusShapingState& s, double& left, double& right);

}  // namespace vantle
