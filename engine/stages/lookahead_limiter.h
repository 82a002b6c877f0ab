// Limiter-mode 10 ms look-ahead limiter against what the rider made louder.
#pragma once

#include <cstdint>

#include "engine/dsp/filters.h"
#include "engine/settings.h"

namespace vantle {

// Ring length of the look-ahead delay; at most kLookaheadRing - 1 frames of delay.
constexpr int kLookaheadRing = kFillBlockLength;
constexpr int kLookaheadMask = kLookaheadRing - 1;

// Derived parameters (written by the derivation only). Poles are per frame.
struct LookaheadLimiterParams {
  std::int32_t lookaheadLength = 0;  // frames of delay; 0 bypasses the stage
  std::int32_t primingLimit = 0;     // frames after reset within which priming may happen
  double primingThreshold = 0.0;     // linear
  double rawLevelAttack = 0.0;
  double rawLevelRelease = 0.0;
  double ceilingAttack = 0.0;
  double ceilingRelease = 0.0;
  double limiterCeiling = 1.0;  // linear
  double limiterFloor = 1.0;    // lowest gain, linear
};

// Run-time state; every value moves per frame. Reset values in brackets.
//   lookaheadLeft/Right   delay rings of the rider output [0]
//   lookaheadPosition     write index, wraps at 4096 [0]
//   primingActive         1 while the rings may still be primed [1]
//   primingCount          quiet frames seen since reset [0]
//   rawLevel              envelope of the raw input, linear [0]
//   processedLevel        envelope of the rider output (ratio detector) [0]
//   ceilingLevel          envelope of the rider output (ceiling detector) [0]
//   limiterGain           smoothed linear gain on the delayed pair [1]
struct LookaheadLimiterState {
  double lookaheadLeft[kLookaheadRing] = {};
  double lookaheadRight[kLookaheadRing] = {};
  std::int32_t lookaheadPosition = 0;
  std::int32_t primingActive = 1;
  std::int32_t primingCount = 0;
  double rawLevel = 0.0;
  double processedLevel = 0.0;
  double ceilingLevel = 0.0;
  double limiterGain = 1.0;
};

void deriveLookaheadLimiter(LookaheadLimiterParams& p, const DeriveInputs& in);
void resetLookaheadLimiter(LookaheadLimiterState& s, const LookaheadLimiterParams& p);
// (rawLeft, rawRight): the sanitised input before the input gain;
// (left, right): the rider output, replaced by the limited, delayed pair.
void runLookaheadLimiter(const LookaheadLimiterParams& p, LookaheadLimiterState& s,
                         const double* rawLeft, const double* rawRight, double* left, double* right,
                         int frames);

}  // namespace vantle
