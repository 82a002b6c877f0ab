// True-peak look-ahead limiter and the float output: the last stage of every
// frame. It estimates the inter-sample peak of each new frame with an 8-phase
// interpolator, keeps the gain that holds it under the true-peak ceiling for
// the frame's position, spreads each reduction smoothly over the look-ahead
// window and narrows the result to floats strictly inside the output ceiling.
#pragma once

#include <cstdint>

#include "engine/settings.h"

namespace vantle {

constexpr int kTpRingLength = 2048;  // power of two; look-ahead at most 2046
constexpr int kTpTaps = 13;
constexpr int kTpPhases = 8;

// Derived parameters (written by the derivation only).
struct TruePeakLimiterParams {
  double outputCeiling = kOutputCeiling;
  double truePeakCeiling = 1.0;  // output ceiling lowered by a further 0.075 dB
  int tpLookahead = 0;           // samples of look-ahead (LA)
  int tpWindow = 1;              // samples over which a reduction is faded in (W)
  double tpRelease = 0.0;        // per-sample release pole, 30 ms
  // Interpolation table, tap-major: entry kTpPhases * t + j is tap t of phase j
  // (phase j estimates the signal j/8 of a sample after the centre tap).
  double interpolationTable[kTpTaps * kTpPhases] = {};
  // Window weight of entry k, (3 - 2s) s^2 with s = k / W, kept as its two
  // factors so the frame multiplies them in the order they are written.
  double windowRise[kTpRingLength] = {};    // 3 - 2s
  double windowSquare[kTpRingLength] = {};  // s^2
  // A history whose samples all stay at or below this cannot have a phase
  // above truePeakCeiling.
  double quietBound = 0.0;
  // Largest float below the float nearest to the output ceiling.
  float floatCeiling = 0.0f;
};

// Run-time state.
//   tpRing[c][2048]   delayed input per channel, per frame; reset 0
//   tpGainRing[2048]  gain each position needs (<= 1), per frame; 1 after reset
//                     (0 from construction until the first reset)
//   tpIndex           write position 0..2047, per frame; reset 0
//   tpHistory[c][26]  last 13 input samples, each written twice (at
//                     historyStart + k and 13 positions later), so the 13 from
//                     historyStart on are the history newest first without
//                     moving any of them; per frame; reset 0
//   historyStart      where the newest sample of the history sits, 0..12;
//                     per frame; reset 0
//   tpGain            smoothed applied gain, per frame; reset 1 (read by the
//                     load feedback at its block update)
//   pendingCount      entries of tpGainRing below 1, per frame; reset 0 (while it
//                     is 0 every window minimum is exactly 1 and is skipped)
//   loudFrames        frames until no history sample exceeds quietBound, 0..13;
//                     reset 0 (while 0 the true-peak estimate is skipped)
struct TruePeakLimiterState {
  double tpRing[2][kTpRingLength] = {};
  double tpGainRing[kTpRingLength] = {};
  int tpIndex = 0;
  double tpHistory[2][2 * kTpTaps] = {};
  int historyStart = 0;
  double tpGain = 1.0;
  int pendingCount = 0;
  int loudFrames = 0;
};

void deriveTruePeakLimiter(TruePeakLimiterParams& p, const DeriveInputs& in);
void resetTruePeakLimiter(TruePeakLimiterState& s, const TruePeakLimiterParams& p);

// The largest of the newest samples' magnitudes and the eight interpolated
// values from the sample six frames back towards its successor, over both
// channels' histories (13 samples each, newest first).
double truePeakEstimate(const double* table, const double* historyL, const double* historyR);

// (left, right) from the stage before; out receives the limited pairs
// narrowed to floats, the chain's result.
void runTruePeakLimiter(const TruePeakLimiterParams& p, TruePeakLimiterState& s, const double* left,
                        const double* right, StereoFrame* out, int frames);

// The last step of a frame: clamp to the output ceiling in double precision,
// narrow to float and keep the float strictly inside the ceiling. A value that
// is not a number leaves as 0.
float toOutputSample(double x, double ceiling, float floatCeiling);

}  // namespace vantle
