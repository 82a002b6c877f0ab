// Band gain computers with their band clippers: one stereo-linked gain per
// band, released by the programme and by the rider's pause detectors, scaled
// by the mode's depth, linked across the low bands and tied at the top.
#pragma once

#include "engine/bands.h"
#include "engine/dsp/curves.h"
#include "engine/dsp/filters.h"
#include "engine/settings.h"
#include "engine/stages/gain_rider.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct BandGainsParams {
  double upperDetectScale = 1.0;  // detector scale of bands 2..5
  double band0DetectScale = 1.0;
  double band1DetectScale = 1.0;
  double bandThreshold[kBands] = {};      // linear
  double bandRatioExponent[kBands] = {};  // gain-curve exponents of the ratio trackers (bands 2..5)
  double bandAttack[kBands] = {};         // attack poles
  double upperReleaseFast = 0.0;          // release poles of bands 2..5
  double upperReleaseSlow = 0.0;
  double lowerReleaseFast = 0.0;  // release poles of bands 0 and 1
  double lowerReleaseSlow = 0.0;
  double silenceRelease = 0.0;  // 2.5 s pole, blended in during pauses
  double resumeStrength = 0.0;  // the rider's resume strength, fraction
  double resumeRecovery = 0.0;  // the rider's fast recovery pole after a pause
  double releaseShaping = 0.0;  // the rider's release shaping: the trackers' depth argument
  double bandDepth = 1.0;       // share of each tracker's reduction that is applied
  double lowLink = 0.0;         // pull of bands 0 and 1 towards their geometric mean
  double topLink = 0.0;         // 0: band 5 takes band 4's gain; 1: the smaller of the two
  double clipMix = 0.0;         // band clippers run only when above 0
  double clipCeiling = 1.0;
  double clipFeedbackCoef = 0.0;  // 2200 Hz one-pole
  // Arguments of each band's clipper (bands 2..5; 0 and 1 have none).
  double bandClipThreshold[kBands] = {};
  double bandClipMix[kBands] = {};
  double bandClipKnee[kBands] = {};
  double bandClipFeedback[kBands] = {};
};

// Run-time state.
//   tracker    per band: smoothed detector level (linear) and gain; per frame;
//              reset level 0, gain 1
//   clipError  per channel and band (2..5 used): low-passed clipping error of
//              the band clipper; per frame; reset 0
//   bandGain   per band: this frame's applied gain after depth and links;
//              per frame; reset 1
struct BandGainsState {
  GainTrackerState tracker[kBands];
  double clipError[kChannels][kBands] = {};
  double bandGain[kBands] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
};

// Voicing values of the neighbouring stages that voice the trackers too.
struct NeighbourVoicing {
  double riderReleaseFactor;  // the rider's release factor R
  double resumeStrength;      // the rider's resume strength, fraction
  double resumeRecovery;      // the rider's resume recovery pole
  double releaseShaping;      // the rider's release shaping, fraction
  double bandTrimDb;          // the split's band trim Tb, dB
  double bumpDb;              // the low-end shaper's 65 Hz bump, dB
};

void deriveBandGains(BandGainsParams& p, const DeriveInputs& in, const NeighbourVoicing& n);
void resetBandGains(BandGainsState& s, const BandGainsParams& p);
// Reads bandSignal and the rider's pause and resume detectors of the same
// frame; writes clippedBand and gainedBand.
void runBandGains(const BandGainsParams& p, BandGainsState& s, const RiderOutput* rider,
                  BandSignals* bands, int frames);

}  // namespace vantle
