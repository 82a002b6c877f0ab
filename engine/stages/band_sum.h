// Band delay, high-band transient saturation and the band sum: the six band
// pairs are delayed together, transients of the three upper bands are softened
// towards a level-dependent ceiling, and the bands fold back into one pair.
#pragma once

#include "engine/bands.h"
#include "engine/settings.h"

namespace vantle {

constexpr int kBandDelayRing = 512;  // power of two; the delay stays below it
constexpr int kShapedBands = 3;      // bands 3, 4 and 5 carry the transient detectors
constexpr int kFirstShapedBand = 3;

// Derived parameters (written by the derivation only).
struct BandSumParams {
  double hfShapeAmount = 0.0;  // S: share of the transient saturation, 0 switches it off
  double bandDelayMs = 0.0;    // voicing value before clamping to 0..1.5 ms
  int bandDelay = 0;           // samples, 0..511; 0 leaves the rings alone
  double hfFastEnv = 0.0;      // one-pole coefficients of the peak envelopes and averages
  double hfSlowEnv = 0.0;
  double hfSlopeEnv = 0.0;
  double hfCurveEnv = 0.0;
  double hfAttack = 0.0;  // poles of the event detectors and the band-5 gain
  double hfRelease = 0.0;
  // Per shaped band (index 0 = band 3): the ceiling is
  // max(ceilFloor, min(ceilCap, ceilSlope x slow envelope)).
  double ceilFloor[kShapedBands] = {};
  double ceilCap[kShapedBands] = {};
  double ceilSlope[kShapedBands] = {};
  double shapeDrive[kShapedBands] = {};  // sine-shaper drive of bands 3 and 4 (band 5 unused)
};

// Transient detector of one upper band.
// Glossary (all per frame, reset to 0):
//   fast, slow       peak envelopes of max(|left|, |right|), linear
//   slopeAvg         short average of the largest |x - x1|, linear
//   curveAvg         short average of the largest |x - 2 x1 + x2|, linear
//   prev1, prev2     previous and second-previous sample, [0] left, [1] right
//   event            the detector's event level Z, following the event strength, 0..1
struct TransientDetector {
  double fast = 0.0;
  double slow = 0.0;
  double slopeAvg = 0.0;
  double curveAvg = 0.0;
  double prev1[kChannels] = {};
  double prev2[kChannels] = {};
  double event = 0.0;
};

// Run-time state.
// Glossary:
//   ring         band delay, [512][channel][band] samples, per frame, reset 0:
//                one slot holds a whole frame, so a frame touches two cache
//                lines instead of twelve rings that fight for the same ones
//   index        shared write index 0..511, per frame, reset 0
//   detector     transient detectors of bands 3, 4, 5 (see TransientDetector)
//   band5Gain    H5: gain towards the band-5 ceiling, 0.08..1, per frame, reset 1
struct BandSumState {
  double ring[kBandDelayRing][kChannels][kBands] = {};
  int index = 0;
  TransientDetector detector[kShapedBands];
  double band5Gain = 1.0;
};

void deriveBandSum(BandSumParams& p, const DeriveInputs& in);
void resetBandSum(BandSumState& s, const BandSumParams& p);
// Reads the balanced bands (mixedBand) and writes the summed pair.
void runBandSum(const BandSumParams& p, BandSumState& s, const BandSignals* bands, double* left,
                double* right, int frames);

}  // namespace vantle
