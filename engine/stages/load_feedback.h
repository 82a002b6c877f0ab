// Limiter load feedback: a slow loop from the final stages back to the gain
// targets. Every 64 frames the gain reductions the final stages apply are
// multiplied into a load in dB, smoothed over seconds, and used to lower the
// output-gain target and the rider's target level (stream mode only; the other
// modes keep fixed targets). The same formulas seed both targets whenever the
// parameters are derived.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct LoadFeedbackParams {
  double outputCeiling = kOutputCeiling;
  double loadDepth = 0.0;            // how far the load moves the targets, 0..1
  double riderLift = 0.0;            // dB the rider target rises while programme plays
  double outputLevelOffset = 0.0;    // dB, -24..6; the output gain target is its negative
  double riderTargetBaseDb = -17.0;  // dB, the rider target with no lift and no load
  double riderLiftRise = 0.0;        // block pole, 6 s
  double riderLiftFall = 0.0;        // block pole, 1.5 s
  double loadRise = 0.0;             // block pole, 1.8 s
  double loadFall = 0.0;             // block pole, 8 s
};

// Run-time state, moved once every 64 frames.
//   reductionPressure  loadDb / 0.6 clamped to 0..1, read by the band analysis; reset 0
//   loadDb             smoothed load of the final stages, dB >= 0; reset 0
//   riderLiftDb        smoothed lift of the rider target, dB >= 0; reset 0
struct LoadFeedbackState {
  double reductionPressure = 0.0;  // read by the band analysis
  double loadDb = 0.0;
  double riderLiftDb = 0.0;
};

// What the block update reads from the stages it watches, taken at the frame
// the true-peak limiter completes a block.
struct LoadFeedbackInputs {
  double peakLevel;         // output stage: smoothed peak after the boost guard
  double densityDepth;      // output stage: depth of the density reduction
  double boostGuardGain;    // output stage
  double peakLimitGain;     // output stage
  double limitDepth;        // output stage: depth of the peak-limiting gain
  double repairGain;        // clip-event repair: smoothed limiter gain
  double repairAmount;      // clip-event repair: blend of the repaired signal
  double tpGain;            // true-peak limiter: gain just applied
  double silenceHold;       // rider: how long and deeply the input has been silent
  double inputPeakHold;     // rider: decaying input peak
  double silenceThreshold;  // rider: linear silence threshold
};

void deriveLoadFeedback(LoadFeedbackParams& p, const DeriveInputs& in);

// Reset: clears the load, the lift and the pressure and puts the rider target
// back at its base level.
void resetLoadFeedback(LoadFeedbackState& s, const LoadFeedbackParams& p, double& riderTarget);

// After every derivation: clamps the load and lift to the new mode's limits
// and seeds both targets and the pressure from them, so they move at once.
void seedLoadTargets(const LoadFeedbackParams& p, LoadFeedbackState& s, double& riderTarget,
                     double& outputGainTarget);

// The block update, every 64th frame.
void runLoadFeedback(const LoadFeedbackParams& p, LoadFeedbackState& s,
                     const LoadFeedbackInputs& in, double& riderTarget, double& outputGainTarget);

}  // namespace vantle
