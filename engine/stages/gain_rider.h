// Wideband gain rider: slow two-region level riding with silence freeze, idle drift and resume.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct GainRiderParams {
  // Also read by the band gain computers.
  double resumeStrength = 0.0;  // resume strength, fraction
  double resumeRecovery = 0.0;  // fast recovery pole just after a pause
  double releaseShaping = 0.0;  // release shaping, fraction
  // Linear silence threshold; read by the load feedback.
  double silenceThreshold = 0.0;
};

// Run-time state.
struct GainRiderState {
  // Published for later stages in the same frame.
  double silenceGate = 0.0;
  double resumeAmount = 0.0;
  double inputPeakHold = 0.0;
  double silenceHold = 0.0;
  // Linear level target; reset sets linear of -17 dB, the load feedback moves it.
  double riderTarget = 0.14125375446227545;
};

void deriveGainRider(GainRiderParams& p, const DeriveInputs& in);
void resetGainRider(GainRiderState& s, const GainRiderParams& p);
void runGainRider(const GainRiderParams& p, GainRiderState& s, double& left, double& right);

}  // namespace vantle
