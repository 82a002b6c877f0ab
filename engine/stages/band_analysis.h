// Stream-mode analysis of sub-bass, bass and mid energy driving the adaptive low shelf and bass
// peak.
#pragma once

#include <cstdint>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/filters.h"
#include "engine/settings.h"
#include "engine/stages/low_end_shaper.h"

namespace vantle {

// Corners of the analysis bank, lowest first: sub = below 70 Hz, bass = 70 to
// 250 Hz, mid = 420 Hz to 3.7 kHz.
constexpr int kAnalysisCorners = 4;

// Derived parameters (written by the derivation only). Poles named c(tau) move
// once per frame, b(tau) once per 16-frame analysis block.
struct BandAnalysisParams {
  double fs = 48000.0;       // design rate of the equaliser
  double analysisMix = 0.0;  // share of the analysed pair in the output
  bool runs = false;         // bandAnalysisRuns(analysisMix)
  BiquadCoefficients analysisBank[kAnalysisCorners] = {};  // low-passes at 70, 250, 420, 3700 Hz
  double fastPowerRise = 0.0;                              // c(0.55)
  double fastPowerFall = 0.0;                              // c(3)
  double slowPowerRise = 0.0;                              // c(4.5)
  double slowPowerFall = 0.0;                              // c(10)
  double thinFastRise = 0.0;                               // b(1.2)
  double thinFastFall = 0.0;                               // b(6)
  double boomFastRise = 0.0;                               // b(0.2)
  double boomFastFall = 0.0;                               // b(6)
  double thinLevelRise = 0.0;                              // b(1)
  double thinLevelFall = 0.0;                              // b(10)
  double thinLevelFallBoomy = 0.0;                         // b(0.08), while the boom is strong
  double boomLevelRise = 0.0;                              // b(0.25)
  double boomLevelFall = 0.0;                              // b(10)
  double boomLevelFallThin = 0.0;                          // b(1.2), while the same side is thin
  double lowContentMeanPole = 0.0;                         // b(0.25)
  double lowContentRise = 0.0;                             // b(0.65)
  double lowContentFall = 0.0;                             // b(2)
  double bandBalanceRise = 0.0;                            // b(0.3)
  double bandBalanceFall = 0.0;                            // b(1.2)
  double sustainRise = 0.0;                                // b(1.6)
  double sustainFallHeld = 0.0;                            // b(0.25)
  double sustainFall = 0.0;                                // b(4)
  double bumpKeepRise = 0.0;                               // c(2.2)
  double bumpKeepFall = 0.0;                               // c(0.3)
  std::uint64_t fastBoomMinFrames = 0;  // active frames before the fast boom scores count
  std::uint64_t sustainMinFrames = 0;   // active frames before the sustain boost may grow
  double sustainBoostMaxDb = 12.0;      // ceiling of the extra shelf boost
  double thinWeight = 0.0;              // curve A of the leveller amount
  double boomWeight = 0.0;              // curve B of the leveller amount
  double pullStrength = 0.0;            // 0..1, how hard shelf and peak pull together
  double pullApart = 0.0;               // 0.1 x pullStrength (opposite corrections)
  double pullLarger = 0.0;              // 0.08 x pullStrength (the larger correction)
  double pullSmaller = 0.0;             // 0.7 x pullStrength (the smaller correction)
};

// One frame's low-content measurement from the input stage (stream mode
// only: elsewhere `counted` is false and the frame adds nothing).
struct InputFeed {
  bool counted = false;
  double lowContentPower = 0.0;  // mean square of the low-passed pair
  double inputPower = 0.0;       // mean square of the gained input pair
};

// Sums that this stage (from the input stage's feeds) and the six-band split
// add to every frame, and that this stage reads and clears every 16 frames.
// The split runs later in the chain than this stage, so its sums are those of
// the frames before.
struct AnalysisFeeds {
  double lowContentSum = 0.0;
  double inputPowerSum = 0.0;
  std::uint64_t lowContentFrames = 0;
  double band0PowerSum = 0.0;
  double band1PowerSum = 0.0;
  std::uint64_t bandBalanceFrames = 0;
};

// Run-time state. Rates: frame = every frame, block = every 16th frame,
// redesign = every 64th frame. Reset values in brackets.
//   bank[ch][corner]       analysis low-pass memories, frame [0; coefficients kept]
//   lowEndShelf*, lowEndPeak*  equaliser sections, frame; coefficients redesign [memories 0]
//   fast/slow*Power        tracked band powers, linear power, frame [0]
//   trackersSeeded         the powers jumped to the first audible frame [false]
//   activeFrames           frames whose analysis peak reached 3e-5, count [0]
//   blockCounter           frames into the 16-frame block [15, so the first frame runs a block]
//   redesignCounter        frames into the 64-frame redesign period [63, likewise]
//   *ThinFastLevel, *BoomFastLevel  smoothed fast scores, block [0]
//   *ThinLevel, *BoomLevel smoothed combined scores, block [0]
//   shelfGainDb, peakGainDb  equaliser gains, dB, block [0]
//   sustainBoostDb         extra shelf boost, dB, block [0]
//   lowContentMean, inputPowerMean  smoothed block means, linear power, block [0]
//   lowContentDb           content below 42.5 Hz against the input, dB, block [-120]
//   lowContentFactor       0..1, block [0]
//   bandBalanceDb          band 0 against band 1, dB, block [-120]
//   bandBalanceFactor      0..1, block [0]
//   bumpKeepTarget         share of the 65 Hz bump to keep, block [1]
//   bumpKeep               the same, smoothed, frame [1]
struct BandAnalysisState {
  BiquadSection bank[2][kAnalysisCorners] = {};
  BiquadSection lowEndShelfLeft;
  BiquadSection lowEndShelfRight;
  BiquadSection lowEndPeakLeft;
  BiquadSection lowEndPeakRight;
  double fastSubPower = 0.0;
  double fastBassPower = 0.0;
  double fastMidPower = 0.0;
  double slowSubPower = 0.0;
  double slowBassPower = 0.0;
  double slowMidPower = 0.0;
  bool trackersSeeded = false;
  std::uint64_t activeFrames = 0;
  std::int32_t blockCounter = kAnalysisBlock - 1;
  std::int32_t redesignCounter = kRedesignPeriod - 1;
  double subThinFastLevel = 0.0;
  double bassThinFastLevel = 0.0;
  double subBoomFastLevel = 0.0;
  double bassBoomFastLevel = 0.0;
  double subThinLevel = 0.0;
  double bassThinLevel = 0.0;
  double subBoomLevel = 0.0;
  double bassBoomLevel = 0.0;
  double shelfGainDb = 0.0;
  double peakGainDb = 0.0;
  double sustainBoostDb = 0.0;
  double lowContentMean = 0.0;
  double inputPowerMean = 0.0;
  double lowContentDb = -120.0;
  double lowContentFactor = 0.0;
  double bandBalanceDb = -120.0;
  double bandBalanceFactor = 0.0;
  double bumpKeepTarget = 1.0;
  double bumpKeep = 1.0;
};

// The raw scores of one active analysis block, before smoothing. Band
// levels are in dB against the mids.
struct AnalysisScores {
  double subThinFast = 0.0;
  double subThinSlow = 0.0;
  double bassThinFast = 0.0;
  double bassThinSlow = 0.0;
  double subBoomFast = 0.0;
  double subBoomSlow = 0.0;
  double bassBoomFast = 0.0;
  double bassBoomSlow = 0.0;
};
AnalysisScores analysisScores(double fastSubDb, double fastBassDb, double slowSubDb,
                              double slowBassDb, bool fastBoomReady, double thinWeight,
                              double boomWeight);

// Weights of the thin and boom scores for a leveller amount u (clamped to 0..1).
double thinWeightCurve(double u);
double boomWeightCurve(double u);

// Designs the bank for the rate, sets the equaliser flat (its memories and the
// rest of the state carry on) and computes the weights from the low-end
// shaper's leveller amount and band-analysis mix.
void deriveBandAnalysis(BandAnalysisParams& p, BandAnalysisState& s, const DeriveInputs& in,
                        double levellerAmount, double bandAnalysisMix);
// Clears every memory including the bank's; the equaliser keeps its coefficients.
// They live only here (designed by the derivation and every 64 frames), so
// keeping them leaves the sections a design for this rate instead of the default
// pass-through; the first analysis frame after a reset redesigns them from the
// cleared gains.
void resetBandAnalysis(BandAnalysisState& s, const BandAnalysisParams& p);
// One frame of the analysis and its equaliser: (pL, pR) enter the low-end
// shaper, (eL, eR) are the same pair after the 65 Hz bump; (oL, oR) receive
// the equalised pair. Reads and clears the feeds every 16 frames.
void lowEndAnalysis(const BandAnalysisParams& p, BandAnalysisState& s, AnalysisFeeds& feeds,
                    double reductionPressure, double pL, double pR, double eL, double eR,
                    double& oL, double& oR);
// The stage in the chain, over a block of frames: adds each frame's input feed
// to the sums and, while the analysis runs, blends the analysed pair into
// (left, right), the low-end shaper's output; otherwise the pair stays as it is.
void runBandAnalysis(const BandAnalysisParams& p, BandAnalysisState& s, AnalysisFeeds& feeds,
                     const InputFeed* inputFeeds, double reductionPressure, const LowEndTaps* taps,
                     double* left, double* right, int frames);
// How many frames from here may run as one block: the analysis block reads
// the split's sums of every frame before it, so a block ends where the next
// analysis block is due.
int framesBeforeAnalysisBlock(const BandAnalysisParams& p, const BandAnalysisState& s);

}  // namespace vantle
