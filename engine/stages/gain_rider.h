// Wideband gain rider: slow two-region level riding with silence freeze, idle drift and resume.
#pragma once

#include "engine/dsp/curves.h"
#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only). Poles are per frame.
struct GainRiderParams {
  double releaseFactor = 0.0;     // release factor R; also voices the band trackers
  double riderTrim = 1.0;         // linear detector trim
  double riderSplitCoef = 0.0;    // 200 Hz one-pole low-pass coefficient
  double riderAttack = 0.0;       // envelope attack pole
  double riderRelease = 0.0;      // envelope and gain release pole
  double riderSlowRelease = 0.0;  // gain release pole while the gain cuts deep
  double riderGainAttack = 0.0;   // gain pole while the gain falls
  double inputPeakDecay = 0.0;
  double heldLevelDecay = 0.0;
  double silenceThreshold = 0.0;  // linear; the load feedback reads it too
  double silenceRise = 0.0;
  double silenceFall = 0.0;
  double fastTime = 0.0;  // seconds
  double resumeHoldDecay = 0.0;
  double resumeFollow = 0.0;
  double resumeRecovery = 0.0;  // fast recovery just after a pause; also the band trackers'
  double silenceRecovery = 0.0;
  double resumeScale = 0.0;
  double releaseShaping = 0.0;  // fraction; the band trackers use it as their depth
  double resumeStrength = 0.0;  // fraction; the band trackers read it too
  double idleGain = 1.0;        // gain the rider drifts to in long silence
  double idleDrift = 0.0;
  double riderMinGain = 1.0;
  double riderMaxGain = 1.0;
  double riderHighWeight = 0.0;  // share of the high-region target in the low region's
  double riderBoostScale = 0.0;  // share of a boost that reaches the signal
  double riderCutScale = 0.0;    // share of a cut that reaches the signal
  double saturationAmount = 0.0;
  double saturationMakeup = 1.0;
};

// What the rider hands on each frame: its pause and resume detectors, read by
// the band gain computers in the same frame and by the load feedback at its
// block update.
//   silenceGate       0..1, silenceHold while this frame is silent [0]
//   resumeAmount      decaying hold of the resume strength, 0..1 [0]
//   silenceHold       0..1, how long and deep the input has been silent [0]
//   inputPeakHold     decaying peak of the input, both channels, linear [0]
struct RiderOutput {
  double silenceGate = 0.0;
  double resumeAmount = 0.0;
  double silenceHold = 0.0;
  double inputPeakHold = 0.0;
};

// Run-time state; every value moves per frame. Reset values in brackets.
//   out               the detectors above
//   splitLow[ch]      200 Hz low-pass memory of the trimmed input [0]
//   lowEnvelope       level envelope of the region below 200 Hz, linear [0]
//   highEnvelope      level envelope of the region above 200 Hz, linear [0]
//   heldLevel         decaying peak of the trimmed full-band level [0]
//   silenceMemory     decaying memory of silenceHold [0]
//   resumeLevel       this frame's resume strength, 0..1 [0]
//   lowRegionGain     smoothed linear gain below 200 Hz [1]
//   highRegionGain    smoothed linear gain above 200 Hz [1]
//   saturatorState    previous shaped sample per channel [0]
struct GainRiderState {
  RiderOutput out;
  double splitLow[2] = {};
  double lowEnvelope = 0.0;
  double highEnvelope = 0.0;
  double heldLevel = 0.0;
  double silenceMemory = 0.0;
  double resumeLevel = 0.0;
  double lowRegionGain = 1.0;
  double highRegionGain = 1.0;
  SineShapeState saturatorState[2];
};

// Target level of the rider with no lift and no load, dB: where every reset
// puts it and where the load feedback moves it from.
constexpr double kRiderTargetDb = -17.0;

void deriveGainRider(GainRiderParams& p, const DeriveInputs& in);
void resetGainRider(GainRiderState& s, const GainRiderParams& p);
// riderTarget: the linear level the rider aims at, set by the load feedback.
// outs receives each frame's detectors (the last also stays in s.out).
void runGainRider(const GainRiderParams& p, GainRiderState& s, double riderTarget, double* left,
                  double* right, RiderOutput* outs, int frames);

}  // namespace vantle
