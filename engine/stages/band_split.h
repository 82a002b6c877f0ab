// Six-band split with presence and air control.
#pragma once

#include "engine/bands.h"
#include "engine/settings.h"
#include "engine/stages/band_analysis.h"

namespace vantle {

constexpr int kCrossovers = kBands - 1;

// The mode's fixed lifts of the presence region (bands 3 and 4) and of the air
// band (band 5), in dB. The split applies them; the band mix trims its band
// clippers and the spectral balance aims bands 3..5 by the same values.
struct PresenceAirVoicing {
  double presenceDb;
  double airDb;
};

PresenceAirVoicing presenceAirVoicing(ProcessingMode mode);

// Derived parameters (written by the derivation only).
struct BandSplitParams {
  double bandTrimDb = 0.0;                 // band trim Tb in dB; also voices the band trackers
  double bandTrim = 1.0;                   // linear gain before the split
  double crossoverCoef[kCrossovers] = {};  // one-pole coefficients, 150/420/700/1600/3700 Hz
  double airSplitCoef = 0.0;               // one-pole coefficient, 6800 Hz (air detector)
  double presenceAirAmount = 0.0;          // 0 switches the presence and air control off
  double presenceAirAttack = 0.0;          // detector envelope poles
  double presenceAirRelease = 0.0;
  double presenceAirGainRise = 0.0;  // gain poles while rising / falling
  double presenceAirGainFall = 0.0;
  double presenceLowRatio = 0.17;  // presence share below which it is raised
  double presenceHighRatio = 0.4;  // presence share above which it is lowered
  double airLowRatio = 0.03;
  double airHighRatio = 0.145;
  double presenceMaxBoostDb = 0.0;
  double presenceMaxCutDb = 0.0;
  double airMaxBoostDb = 0.0;
  double airMaxCutDb = 0.0;
  double presenceLift = 1.0;   // fixed linear lift of bands 3 and 4
  double airLift = 1.0;        // fixed linear lift of band 5
  bool feedsAnalysis = false;  // the band analysis runs: add to its band-balance sums
};

// The two cascaded one-poles of one crossover low-pass.
struct CrossoverState {
  double s1 = 0.0;
  double s2 = 0.0;
};

// Run-time state.
//   crossover[ch][i]  cascaded one-poles of crossover i, signal units, per frame, 0
//   airLow[ch]        6800 Hz one-pole of the air detector, signal units, per frame, 0
//   presenceRefEnv, airRefEnv  envelopes of the reference level, linear, per frame, 0
//   presenceEnv       envelope of the presence level, linear, per frame, 0
//   airEnv            envelope of the air level, linear, per frame, 0
//   presenceGain, airGain  smoothed control gains, linear, per frame, 1
struct BandSplitState {
  CrossoverState crossover[kChannels][kCrossovers];
  double airLow[kChannels] = {};
  double presenceRefEnv = 0.0;
  double presenceEnv = 0.0;
  double airRefEnv = 0.0;
  double airEnv = 0.0;
  double presenceGain = 1.0;
  double airGain = 1.0;
};

// bandAnalysisMix: the low-end shaper's share of the band analysis.
void deriveBandSplit(BandSplitParams& p, const DeriveInputs& in, double bandAnalysisMix);
void resetBandSplit(BandSplitState& s, const BandSplitParams& p);
// Writes bands.bandSignal. While the band analysis runs the powers of bands 0
// and 1 are added to its band-balance sums.
void runBandSplit(const BandSplitParams& p, BandSplitState& s, const double* left,
                  const double* right, BandSignals* bands, AnalysisFeeds& feeds, int frames);

}  // namespace vantle
