// Input conditioning: sanitising, input gain, low-frequency removal and the phase rotator.
#pragma once

#include <cstdint>

#include "engine/settings.h"
#include "engine/stages/band_analysis.h"

namespace vantle {

constexpr int kRotatorSections = 12;

// Corners of the all-pass sections, lowest first; a mode uses the first
// rotatorSections of them.
constexpr double kRotatorCorners[kRotatorSections] = {55,  85,   130,  200,  310,  480,
                                                      740, 1150, 1800, 2800, 4300, 6500};

// Derived parameters (written by the derivation only).
struct InputStageParams {
  bool streamLowCut = false;       // the adapt-dependent removal of stream mode
  double inputGain = 1.0;          // linear
  std::int32_t lowCutEnabled = 0;  // fixed 20 Hz removal (podcast)
  double lowCutCoef = 0.0;         // one-pole low-pass coefficient
  double lowCutDepth = 0.0;        // share of the low-pass taken off in stream mode
  // Sections in use. Also the derivation's memory of the count it set last:
  // -1 until the first derivation, so that one always clears the rotator.
  std::int32_t rotatorSections = -1;
  double rotatorCoefs[kRotatorSections] = {};  // all-pass coefficient per corner
};

// One first-order all-pass section's memories.
struct RotatorMemory {
  double previousIn = 0.0;
  double previousOut = 0.0;
};

// Run-time state, all per frame, all 0 after reset:
//   lowCutState[ch]        one-pole low-pass memory, signal units
//   rotatorState[ch][i]    previous input and output of all-pass section i
struct InputStageState {
  double lowCutState[2] = {};
  RotatorMemory rotatorState[2][kRotatorSections] = {};
};

// Writes the parameters; clears the rotator memories when the section count
// differs from the one set by the previous derivation. With the same count they
// carry on, so that a new adapt or input gain while programme plays does not
// click; a new count is a different chain, which its old memories do not fit.
void deriveInputStage(InputStageParams& p, InputStageState& s, const DeriveInputs& in);
void resetInputStage(InputStageState& s, const InputStageParams& p);
void clearRotator(InputStageState& s);
// (rawLeft, rawRight) receive the sanitised samples before the gain, (left,
// right) the conditioned pair and feeds each frame's low-content measurement
// for the band analysis (counted in stream mode only).
void runInputStage(const InputStageParams& p, InputStageState& s, const float* inLeft,
                   const float* inRight, double* rawLeft, double* rawRight, double* left,
                   double* right, InputFeed* feeds, int frames);

}  // namespace vantle
