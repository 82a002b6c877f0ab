// Limiter-mode 10 ms look-ahead limiter against what the rider made louder.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct LookaheadLimiterParams {};

// Run-time state.
struct LookaheadLimiterState {};

void deriveLookaheadLimiter(LookaheadLimiterParams& p, const DeriveInputs& in);
void resetLookaheadLimiter(LookaheadLimiterState& s, const LookaheadLimiterParams& p);
void runLookaheadLimiter(const LookaheadLimiterParams& p, LookaheadLimiterState& s, double& left, double& right);

}  // namespace vantle
