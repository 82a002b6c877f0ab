// True-peak look-ahead limiter and the float output.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct TruePeakLimiterParams {};

// Run-time state.
struct TruePeakLimiterState {};

void deriveTruePeakLimiter(TruePeakLimiterParams& p, const DeriveInputs& in);
void resetTruePeakLimiter(TruePeakLimiterState& s, const TruePeakLimiterParams& p);
StereoFrame runTruePeakLimiter(const TruePeakLimiterParams& p, TruePeakLimiterState& s, double left, double right);

}  // namespace vantle
