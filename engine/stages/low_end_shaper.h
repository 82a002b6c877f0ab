// Low-end shaper: the 65 Hz bump, the low-band leveller and the band-analysis blend.
#pragma once

#include "engine/dsp/filters.h"
#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only). The bump's coefficients
// live in its two sections in the state, next to the memories they drive.
struct LowEndShaperParams {
  double bumpDb = 0.0;             // gain of the 65 Hz bump; also voices the band trackers
  double bandAnalysisMix = 0.0;    // > 1e-7 only in stream mode above adapt 18
  double levellerAmount = 0.0;     // 0..1; 0 switches the leveller off
  double levellerSplitCoef = 0.0;  // one-pole coefficient, 190 Hz
  double levellerAttack = 0.0;     // envelope poles while rising / falling
  double levellerRelease = 0.0;
  double levellerGainRise = 0.0;  // gain poles while rising / falling
  double levellerGainFall = 0.0;
  double levellerLowRatio = 0.33;   // bass share below which the low part is raised
  double levellerHighRatio = 0.52;  // bass share above which it is lowered
  double levellerMaxBoostDb = 0.0;
  double levellerMaxCutDb = 0.0;
};

// Run-time state.
//   lowBumpLeft/Right    65 Hz peaking sections; coefficients per derivation,
//                        memories per frame, cleared only when the Processor is built
//                        (the bump is on the path of every mode: a reset or a
//                        new derivation mid-programme must not click)
//   levellerLowL1/L2/R1/R2  cascaded 190 Hz one-poles per channel, signal units, per frame, 0
//   levellerBassEnv      envelope of the low part, linear, per frame, 0
//   levellerRefEnv       envelope of the reference level, linear, per frame, 0
//   levellerGain         smoothed gain of the low part, linear, per frame, 1
struct LowEndShaperState {
  BiquadSection lowBumpLeft;
  BiquadSection lowBumpRight;
  double levellerLowL1 = 0.0;
  double levellerLowL2 = 0.0;
  double levellerLowR1 = 0.0;
  double levellerLowR2 = 0.0;
  double levellerBassEnv = 0.0;
  double levellerRefEnv = 0.0;
  double levellerGain = 1.0;
};

// Whether the band analysis runs for a given share of it in the output: the
// analysis itself and the six-band split, which feeds it, decide alike.
inline bool bandAnalysisRuns(double bandAnalysisMix) { return bandAnalysisMix > 1e-7; }

// The pair where it enters the shaper and after the 65 Hz bump, handed to the
// band analysis, which works from both.
struct LowEndTaps {
  double enteringL = 0.0;
  double enteringR = 0.0;
  double bumpedL = 0.0;
  double bumpedR = 0.0;
};

// Also designs the coefficients of the two bump sections, leaving their memories alone.
void deriveLowEndShaper(LowEndShaperParams& p, LowEndShaperState& s, const DeriveInputs& in);
// Leaves the bump sections (coefficients and memories) as they are, so that a
// mode change in the middle of programme does not click.
void resetLowEndShaper(LowEndShaperState& s, const LowEndShaperParams& p);
// (left, right) enter from the look-ahead limiter and leave bumped and
// levelled, towards the band analysis blend and the drive clipper.
void runLowEndShaper(const LowEndShaperParams& p, LowEndShaperState& s, double* left, double* right,
                     LowEndTaps* taps, int frames);

}  // namespace vantle
