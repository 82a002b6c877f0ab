// Limiter load feedback: a slow loop from the final stages back to the gain
// targets. Every 64 frames the gain reductions the final stages apply are
// multiplied into a load in dB, smoothed over seconds, and used to lower the
// output-gain target and the rider's target level (stream mode only; the other
// modes keep fixed targets). The same formulas seed both targets whenever the
// parameters are derived.
#pragma once

#include "engine/settings.h"

namespace vantle {

// What the load feedback sets for the stages further up the chain; only it
// writes these (at every derivation, at reset and at every block update).
//   riderTarget        linear level the rider aims at; read by the rider
//   outputGainTarget   linear target of the output gain glide; read by the output stage
//   reductionPressure  0..1, how hard the final stages work; read by the band analysis
struct LoadTargets {
  double riderTarget = 0.0;
  double outputGainTarget = 1.0;
  double reductionPressure = 0.0;
};

// The voicing of the watched stages that weighs their reductions, handed over
// by the derivation.
struct WatchedVoicing {
  double densityStart;      // output stage: smoothed peak where the density reduction begins
  double densityRange;      // output stage: and the span to its full depth
  double densityDepth;      // output stage: depth of the density reduction
  double limitDepth;        // output stage: depth of the peak-limiting gain
  double repairAmount;      // clip-event repair: blend of the repaired signal
  double silenceThreshold;  // rider: linear silence threshold
};

// Derived parameters (written by the derivation only).
struct LoadFeedbackParams {
  double loadDepth = 0.0;          // how far the load moves the targets, 0..1
  double riderLift = 0.0;          // dB the rider target rises while programme plays
  double outputLevelOffset = 0.0;  // dB, -24..6; the output gain target is its negative
  double riderLiftRise = 0.0;      // block pole, 6 s
  double riderLiftFall = 0.0;      // block pole, 1.5 s
  double loadRise = 0.0;           // block pole, 1.8 s
  double loadFall = 0.0;           // block pole, 8 s
  WatchedVoicing watched{};
};

// Run-time state, moved once every 64 frames.
//   loadDb             smoothed load of the final stages, dB >= 0; reset 0
//   riderLiftDb        smoothed lift of the rider target, dB >= 0; reset 0
struct LoadFeedbackState {
  double loadDb = 0.0;
  double riderLiftDb = 0.0;
};

// What the block update reads from the stages it watches, taken at the frame
// the update runs, after the true-peak limiter.
struct LoadFeedbackInputs {
  double peakLevel;       // output stage: smoothed peak after the boost guard
  double boostGuardGain;  // output stage
  double peakLimitGain;   // output stage
  double repairGain;      // clip-event repair: smoothed limiter gain
  double tpGain;          // true-peak limiter: gain just applied
  double silenceHold;     // rider: how long and deeply the input has been silent
  double inputPeakHold;   // rider: decaying input peak
};

void deriveLoadFeedback(LoadFeedbackParams& p, const DeriveInputs& in, const WatchedVoicing& w);

// Reset: clears the load, the lift and the pressure and puts the rider target
// back at its base level. The output gain target stays: the output stage's
// reset seeds its gain from it.
void resetLoadFeedback(LoadFeedbackState& s, const LoadFeedbackParams& p, LoadTargets& targets);

// After every derivation: clamps the load and lift to the new mode's limits
// and seeds both targets and the pressure from them, so they move at once.
void seedLoadTargets(const LoadFeedbackParams& p, LoadFeedbackState& s, LoadTargets& targets);

// The block update, every 64th frame.
void runLoadFeedback(const LoadFeedbackParams& p, LoadFeedbackState& s,
                     const LoadFeedbackInputs& in, LoadTargets& targets);

}  // namespace vantle
