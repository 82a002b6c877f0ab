#include "engine/stages/band_analysis.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/filters.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

constexpr double kAnalysisCornerHz[kAnalysisCorners] = {70.0, 250.0, 420.0, 3700.0};
// Butterworth Q: alpha = sin(w) / 1.41421356.
constexpr double kAnalysisQ = 1.41421356 / 2.0;
// A frame counts as programme once its analysis peak reaches this.
constexpr double kActivePeak = 3e-5;
// The trackers jump to the first frame above this instead of rising from zero.
constexpr double kSeedPeak = 1e-5;

// The analysis's own smoothstep, q^2 (3 - 2q) on the clamped value; kept
// apart from the shared one because it rounds in this order, and NaN gives 0.
double smoothShare(double x) {
  const double q = clampUnitOrZero(x);
  return (q * q) * (3.0 - 2.0 * q);
}

// 10 log10 of a power ratio, never below -140 dB.
double powerRatioDb(double num, double den) {
  const double r = std::sqrt(maxOf(num, 1e-12) / maxOf(den, 1e-12));
  return 8.685889638065037 * naturalLog(maxOf(r, 1e-7));
}

double subThinScore(double subDb) {
  return 3.0 * smoothShare((-9.0 - subDb) / 7.0) + 4.0 * smoothShare((-6.2 - subDb) / 2.8) +
         0.7 * smoothShare((-16.0 - subDb) / 8.0);
}

double bassThinScore(double bassDb) {
  return 2.7 * smoothShare((-2.0 - bassDb) / 4.0) + 3.5 * smoothShare((-0.35 - bassDb) / 1.65) +
         1.5 * smoothShare((-6.0 - bassDb) / 4.5);
}

// The analysis block, every 16th frame: the slow measurements, the scores,
// their smoothing and the equaliser gains.
void runAnalysisBlock(const BandAnalysisParams& p, BandAnalysisState& s, AnalysisFeeds& f,
                      double reductionPressure, double peak) {
  if (f.lowContentFrames > 0) {
    const double n = static_cast<double>(f.lowContentFrames);
    s.lowContentMean = glide(s.lowContentMean, f.lowContentSum / n, p.lowContentMeanPole);
    s.inputPowerMean = glide(s.inputPowerMean, f.inputPowerSum / n, p.lowContentMeanPole);
    s.lowContentDb = powerRatioDb(s.lowContentMean, s.inputPowerMean);
  }
  f.lowContentSum = 0.0;
  f.inputPowerSum = 0.0;
  f.lowContentFrames = 0;

  s.lowContentFactor = follow(s.lowContentFactor, smoothShare((s.lowContentDb + 5.0) * 0.5),
                              p.lowContentRise, p.lowContentFall);

  if (f.bandBalanceFrames > 0) {
    const double n = static_cast<double>(f.bandBalanceFrames);
    s.bandBalanceDb = powerRatioDb(f.band0PowerSum / n, f.band1PowerSum / n);
  }
  f.band0PowerSum = 0.0;
  f.band1PowerSum = 0.0;
  f.bandBalanceFrames = 0;

  const bool active = s.fastMidPower > 1e-12 && peak >= kActivePeak;
  double slowSubDb = -120.0;
  double slowBassDb = -120.0;
  AnalysisScores sc;
  if (active) {
    const double fastSubDb = powerRatioDb(s.fastSubPower, s.fastMidPower);
    const double fastBassDb = powerRatioDb(s.fastBassPower, s.fastMidPower);
    slowSubDb = powerRatioDb(s.slowSubPower, s.slowMidPower);
    slowBassDb = powerRatioDb(s.slowBassPower, s.slowMidPower);
    sc = analysisScores(fastSubDb, fastBassDb, slowSubDb, slowBassDb,
                        s.activeFrames >= p.fastBoomMinFrames, p.thinWeight, p.boomWeight);
  }

  s.subThinFastLevel = follow(s.subThinFastLevel, sc.subThinFast, p.thinFastRise, p.thinFastFall);
  s.bassThinFastLevel =
      follow(s.bassThinFastLevel, sc.bassThinFast, p.thinFastRise, p.thinFastFall);
  s.subBoomFastLevel = follow(s.subBoomFastLevel, sc.subBoomFast, p.boomFastRise, p.boomFastFall);
  s.bassBoomFastLevel =
      follow(s.bassBoomFastLevel, sc.bassBoomFast, p.boomFastRise, p.boomFastFall);

  const double subThin = maxOf(0.7 * s.subThinFastLevel, sc.subThinSlow);
  const double bassThin = maxOf(0.7 * s.bassThinFastLevel, sc.bassThinSlow);
  const double subBoom = maxOf(0.95 * s.subBoomFastLevel, sc.subBoomSlow);
  const double bassBoom = maxOf(0.95 * s.bassBoomFastLevel, sc.bassBoomSlow);
  const double boomMax = maxOf(subBoom, bassBoom);

  // A strong boom withdraws the thin levels quickly, and a thin side its boom level.
  const double thinFall = boomMax > 0.6 ? p.thinLevelFallBoomy : p.thinLevelFall;
  s.subThinLevel = follow(s.subThinLevel, subThin, p.thinLevelRise, thinFall);
  s.bassThinLevel = follow(s.bassThinLevel, bassThin, p.thinLevelRise, thinFall);
  s.subBoomLevel = follow(s.subBoomLevel, subBoom, p.boomLevelRise,
                          subThin > 2.0 ? p.boomLevelFallThin : p.boomLevelFall);
  s.bassBoomLevel = follow(s.bassBoomLevel, bassBoom, p.boomLevelRise,
                           bassThin > 2.0 ? p.boomLevelFallThin : p.boomLevelFall);

  // Positive: that side wants a boost. Corrections of the same sign pull the
  // smaller towards the larger; opposite ones move slightly together.
  const double sub = s.subThinLevel - s.subBoomLevel;     // x, the shelf side, dB
  const double bass = s.bassThinLevel - s.bassBoomLevel;  // y, the peak side, dB
  double subPulled = 0.0;
  double bassPulled = 0.0;
  if (sub * bass < 0.0) {
    const double mean = (sub + bass) / 2.0;
    subPulled = sub + (mean - sub) * p.pullApart;
    bassPulled = bass + (mean - bass) * p.pullApart;
  } else if (std::fabs(sub) >= std::fabs(bass)) {
    subPulled = sub + (bass - sub) * p.pullLarger;
    bassPulled = bass + (sub - bass) * p.pullSmaller;
  } else {
    subPulled = sub + (bass - sub) * p.pullSmaller;
    bassPulled = bass + (sub - bass) * p.pullLarger;
  }
  s.shelfGainDb = subPulled;
  s.peakGainDb = bassPulled;

  const double eligible = active && s.activeFrames >= p.sustainMinFrames ? 1.0 : 0.0;
  s.bandBalanceFactor = follow(s.bandBalanceFactor, smoothShare((s.bandBalanceDb - 3.0) / 2.0),
                               p.bandBalanceRise, p.bandBalanceFall);

  // The extra shelf boost grows only on a sustained, already slightly boosted,
  // non-boomy programme with little sub-bass, no dominating band 0, an input
  // that is not bass-heavy and final stages that are not working hard.
  const double target =
      p.sustainBoostMaxDb * eligible * smoothShare(subPulled - 0.8) *
      (1.0 - smoothShare((subPulled - 3.4) / 0.8)) * (1.0 - smoothShare((slowSubDb + 4.5) / 1.5)) *
      smoothShare((-1.0 - slowBassDb) / 0.6) * (1.0 - smoothShare(4.0 * boomMax)) *
      (1.0 - smoothShare((s.bandBalanceDb - 3.2) / 0.8)) *
      (1.0 - smoothShare((s.bandBalanceFactor - 0.3) / 0.45)) *
      (1.0 - smoothShare((reductionPressure - 0.15) / 0.65)) * (1.0 - s.lowContentFactor);
  const bool heldBack = !active || boomMax > 0.1 || slowSubDb > -3.5 || slowBassDb > -0.2 ||
                        s.bandBalanceFactor > 0.62 || s.lowContentFactor > 0.5 ||
                        reductionPressure > 0.18;
  s.sustainBoostDb =
      follow(s.sustainBoostDb, target, p.sustainRise, heldBack ? p.sustainFallHeld : p.sustainFall);
  s.shelfGainDb += s.sustainBoostDb;

  // The boomier the programme, the less of the 65 Hz bump remains.
  s.bumpKeepTarget = 1.0 - clampUnitOrZero(smoothShare(boomMax / 3.5) * p.boomWeight);
}

// Every 64th frame: the equaliser follows the current gains. Memories carry
// on, so the response changes without a restart of the filters.
void redesignEqualiser(const BandAnalysisParams& p, BandAnalysisState& s) {
  designLowShelf(s.lowEndShelfLeft.c, 70.0, 1.0, s.shelfGainDb, p.fs);
  s.lowEndShelfRight.c = s.lowEndShelfLeft.c;
  const double peak = s.peakGainDb;
  if (peak >= 0.0) {
    // A thin bass gets at most 3 dB at 90 Hz.
    designPeaking(s.lowEndPeakLeft.c, 90.0, 1.1, minOf(0.5 * peak, 3.0), p.fs);
  } else {
    // A boomy bass is cut at 125 Hz, from -1.5 on, by at most 4.5 dB.
    designPeaking(s.lowEndPeakLeft.c, 125.0, 0.85, -minOf(1.5 * maxOf(-peak - 1.5, 0.0), 4.5),
                  p.fs);
  }
  s.lowEndPeakRight.c = s.lowEndPeakLeft.c;
}

void setEqualiserFlat(BandAnalysisState& s, double fs) {
  designLowShelf(s.lowEndShelfLeft.c, 70.0, 1.0, 0.0, fs);
  s.lowEndShelfRight.c = s.lowEndShelfLeft.c;
  designPeaking(s.lowEndPeakLeft.c, 90.0, 1.1, 0.0, fs);
  s.lowEndPeakRight.c = s.lowEndPeakLeft.c;
}

}  // namespace

AnalysisScores analysisScores(double fastSubDb, double fastBassDb, double slowSubDb,
                              double slowBassDb, bool fastBoomReady, double thinWeight,
                              double boomWeight) {
  AnalysisScores sc;
  sc.subThinFast = subThinScore(fastSubDb) * thinWeight;
  sc.subThinSlow = subThinScore(slowSubDb) * thinWeight;
  sc.bassThinFast = bassThinScore(fastBassDb) * smoothShare((-5.8 - fastSubDb) / 2.5) * thinWeight;
  sc.bassThinSlow = bassThinScore(slowBassDb) * smoothShare((-5.8 - slowSubDb) / 2.5) * thinWeight;
  sc.bassBoomSlow =
      (0.8 * smoothShare((slowBassDb - slowSubDb - 0.6) / 1.5) + 0.2) * 4.5 *
      smoothShare((slowBassDb - (2.0 * smoothShare((-0.5 - slowSubDb) / 2.0) + 1.5)) / 1.5) *
      boomWeight;
  sc.subBoomSlow =
      maxOf(0.9 * sc.bassBoomSlow * smoothShare((slowSubDb + 3.0) / 2.5),
            (4.5 * smoothShare(slowSubDb + 0.3) + 0.5 * smoothShare((slowSubDb - 0.7) / 2.3)) *
                boomWeight);
  // The fast boom scores wait for enough programme, so a loud bass intro
  // does not strip the low end at once.
  if (fastBoomReady) {
    sc.bassBoomFast =
        4.5 * smoothShare((fastBassDb - 3.2) / 1.6) * smoothShare(fastSubDb / 1.4) * boomWeight;
    sc.subBoomFast =
        maxOf(0.9 * sc.bassBoomFast, 5.0 * smoothShare((fastSubDb - 0.5) / 2.2) * boomWeight);
  }
  return sc;
}

double thinWeightCurve(double u) {
  u = clampUnitOrZero(u);
  if (u <= 0.25) return u + 0.9142857143 * (u * u) - 0.4571428571 * (u * u * u);
  if (u <= 0.5) {
    const double t = u - 0.25;
    return 0.3 + 1.3714285714 * t + 1.0510013351 * (t * t) - 0.5468624845 * (t * t * t);
  }
  if (u <= 0.65) {
    const double t = u - 0.5;
    return 0.7 + 1.7943925234 * t + 10.4330174081 * (t * t) - 60.4153393502 * (t * t * t);
  }
  const double t = u - 0.65;
  return 1.0 + 0.8462623413 * t - 0.7011439362 * (t * t) - 0.9672424138 * (t * t * t);
}

double boomWeightCurve(double u) {
  u = clampUnitOrZero(u);
  if (u <= 0.5) return thinWeightCurve(u);
  if (u <= 0.65) {
    const double t = u - 0.5;
    return clampUnitOrZero(0.7 + 1.7943925234 * t + 16.0747663551 * (t * t) -
                           98.0269989616 * (t * t * t));
  }
  return 1.0;
}

void deriveBandAnalysis(BandAnalysisParams& p, BandAnalysisState& s, const DeriveInputs& in,
                        double levellerAmount, double bandAnalysisMix) {
  const double fs = in.fs;
  p.fs = fs;
  p.analysisMix = bandAnalysisMix;
  p.runs = bandAnalysisRuns(bandAnalysisMix);
  for (int i = 0; i < kAnalysisCorners; ++i) {
    designLowPass(p.analysisBank[i], minOf(0.45 * fs, kAnalysisCornerHz[i]), kAnalysisQ, fs);
    s.bank[0][i].c = p.analysisBank[i];
    s.bank[1][i].c = p.analysisBank[i];
  }
  p.fastPowerRise = timePole(0.55, fs);
  p.fastPowerFall = timePole(3.0, fs);
  p.slowPowerRise = timePole(4.5, fs);
  p.slowPowerFall = timePole(10.0, fs);
  p.thinFastRise = blockPole(1.2, fs, kAnalysisBlock);
  p.thinFastFall = blockPole(6.0, fs, kAnalysisBlock);
  p.boomFastRise = blockPole(0.2, fs, kAnalysisBlock);
  p.boomFastFall = blockPole(6.0, fs, kAnalysisBlock);
  p.thinLevelRise = blockPole(1.0, fs, kAnalysisBlock);
  p.thinLevelFall = blockPole(10.0, fs, kAnalysisBlock);
  p.thinLevelFallBoomy = blockPole(0.08, fs, kAnalysisBlock);
  p.boomLevelRise = blockPole(0.25, fs, kAnalysisBlock);
  p.boomLevelFall = blockPole(10.0, fs, kAnalysisBlock);
  p.boomLevelFallThin = blockPole(1.2, fs, kAnalysisBlock);
  p.lowContentMeanPole = blockPole(0.25, fs, kAnalysisBlock);
  p.lowContentRise = blockPole(0.65, fs, kAnalysisBlock);
  p.lowContentFall = blockPole(2.0, fs, kAnalysisBlock);
  p.bandBalanceRise = blockPole(0.3, fs, kAnalysisBlock);
  p.bandBalanceFall = blockPole(1.2, fs, kAnalysisBlock);
  p.sustainRise = blockPole(1.6, fs, kAnalysisBlock);
  p.sustainFallHeld = blockPole(0.25, fs, kAnalysisBlock);
  p.sustainFall = blockPole(4.0, fs, kAnalysisBlock);
  p.bumpKeepRise = timePole(2.2, fs);
  p.bumpKeepFall = timePole(0.3, fs);
  p.fastBoomMinFrames = static_cast<std::uint64_t>(std::floor(2.5 * fs + 0.5));
  p.sustainMinFrames = static_cast<std::uint64_t>(std::floor(5.0 * fs + 0.5));
  p.sustainBoostMaxDb = 12.0;

  const double u = clampUnitOrZero(levellerAmount);
  p.thinWeight = thinWeightCurve(u);
  p.boomWeight = boomWeightCurve(u);
  double pull = 0.0;  // voicing value, percent
  switch (in.mode) {
    case ProcessingMode::podcast:
      pull = 65.0;
      break;
    case ProcessingMode::stream:
      pull = 66.0 + 16.0 * bandAnalysisMix;
      break;
    case ProcessingMode::limiter:
      pull = 0.0;
      break;
  }
  p.pullStrength = clampUnitOrZero(pull / 100.0);
  p.pullApart = 0.1 * p.pullStrength;
  p.pullLarger = 0.08 * p.pullStrength;
  p.pullSmaller = 0.7 * p.pullStrength;

  // A new derivation starts the equaliser flat; the next redesign restores it
  // from the gains, which carry on.
  setEqualiserFlat(s, fs);
}

void resetBandAnalysis(BandAnalysisState& s, const BandAnalysisParams& p) {
  const BiquadCoefficients shelf = s.lowEndShelfLeft.c;
  const BiquadCoefficients peak = s.lowEndPeakLeft.c;
  s = BandAnalysisState{};
  for (int i = 0; i < kAnalysisCorners; ++i) {
    s.bank[0][i].c = p.analysisBank[i];
    s.bank[1][i].c = p.analysisBank[i];
  }
  s.lowEndShelfLeft.c = shelf;
  s.lowEndShelfRight.c = shelf;
  s.lowEndPeakLeft.c = peak;
  s.lowEndPeakRight.c = peak;
}

namespace {

// The bank's regions of one frame, lanes (left, right): sub below 70 Hz, bass
// from 70 to 250 Hz, mid from 420 to 3700 Hz.
struct LowEndRegions {
  DoublePair sub;
  DoublePair bass;
  DoublePair mid;
};

// The bank's low-passes over at most kChainBlock frames entering the low-end
// shaper: each corner's sections take the whole run, both channels side by
// side, before the next corner's.
void runAnalysisBank(BandAnalysisState& s, const LowEndTaps* taps, LowEndRegions* regions,
                     int frames) {
  DoublePair low[kAnalysisCorners][kChainBlock];
  for (int k = 0; k < kAnalysisCorners; ++k) {
    for (int n = 0; n < frames; ++n) low[k][n] = DoublePair{taps[n].enteringL, taps[n].enteringR};
    runBiquadPairs(s.bank[0][k], s.bank[1][k], low[k], frames);
  }
  for (int n = 0; n < frames; ++n) {
    regions[n] = LowEndRegions{low[0][n], low[1][n] - low[0][n], low[3][n] - low[2][n]};
  }
}

// The analysis and its equaliser for one frame, after the bank.
void followLowEnd(const BandAnalysisParams& p, BandAnalysisState& s, AnalysisFeeds& feeds,
                  double reductionPressure, const LowEndRegions& r, const LowEndTaps& taps,
                  double& oL, double& oR) {
  const double pL = taps.enteringL;
  const double pR = taps.enteringR;
  const double subL = r.sub[0];
  const double subR = r.sub[1];
  const double bassL = r.bass[0];
  const double bassR = r.bass[1];
  const double midL = r.mid[0];
  const double midR = r.mid[1];

  const double subPower = 0.5 * (subL * subL + subR * subR);
  const double bassPower = 0.5 * (bassL * bassL + bassR * bassR);
  const double midPower = 0.5 * (midL * midL + midR * midR);
  double peak = std::fabs(subL);
  peak = maxOf(peak, std::fabs(subR));
  peak = maxOf(peak, std::fabs(bassL));
  peak = maxOf(peak, std::fabs(bassR));
  peak = maxOf(peak, std::fabs(midL));
  peak = maxOf(peak, std::fabs(midR));
  peak = maxOf(peak, std::fabs(pL));
  peak = maxOf(peak, std::fabs(pR));

  if (peak >= kActivePeak) ++s.activeFrames;
  if (!s.trackersSeeded && peak > kSeedPeak) {
    s.fastSubPower = s.slowSubPower = subPower;
    s.fastBassPower = s.slowBassPower = bassPower;
    s.fastMidPower = s.slowMidPower = midPower;
    s.trackersSeeded = true;
  }
  s.fastSubPower = follow(s.fastSubPower, subPower, p.fastPowerRise, p.fastPowerFall);
  s.fastBassPower = follow(s.fastBassPower, bassPower, p.fastPowerRise, p.fastPowerFall);
  s.fastMidPower = follow(s.fastMidPower, midPower, p.fastPowerRise, p.fastPowerFall);
  s.slowSubPower = follow(s.slowSubPower, subPower, p.slowPowerRise, p.slowPowerFall);
  s.slowBassPower = follow(s.slowBassPower, bassPower, p.slowPowerRise, p.slowPowerFall);
  s.slowMidPower = follow(s.slowMidPower, midPower, p.slowPowerRise, p.slowPowerFall);

  if (++s.blockCounter >= kAnalysisBlock) {
    s.blockCounter = 0;
    runAnalysisBlock(p, s, feeds, reductionPressure, peak);
  }

  s.bumpKeep = glide(s.bumpKeep, s.bumpKeepTarget,
                     s.bumpKeepTarget >= s.bumpKeep ? p.bumpKeepRise : p.bumpKeepFall);
  const double xL = pL + (taps.bumpedL - pL) * s.bumpKeep;
  const double xR = pR + (taps.bumpedR - pR) * s.bumpKeep;

  if (++s.redesignCounter >= kRedesignPeriod) {
    s.redesignCounter = 0;
    redesignEqualiser(p, s);
  }

  oL = runBiquad(s.lowEndPeakLeft, runBiquad(s.lowEndShelfLeft, xL));
  oR = runBiquad(s.lowEndPeakRight, runBiquad(s.lowEndShelfRight, xR));
}

}  // namespace

void lowEndAnalysis(const BandAnalysisParams& p, BandAnalysisState& s, AnalysisFeeds& feeds,
                    double reductionPressure, double pL, double pR, double eL, double eR,
                    double& oL, double& oR) {
  const LowEndTaps taps{pL, pR, eL, eR};
  LowEndRegions regions;
  runAnalysisBank(s, &taps, &regions, 1);
  followLowEnd(p, s, feeds, reductionPressure, regions, taps, oL, oR);
}

namespace {

// Adds a frame's input feed to the sums the analysis block reads.
void addInputFeed(AnalysisFeeds& feeds, const InputFeed& in) {
  if (in.counted) {
    feeds.lowContentSum += in.lowContentPower;
    feeds.inputPowerSum += in.inputPower;
    feeds.lowContentFrames += 1;
  }
}

// The stage over at most kChainBlock frames.
void runBlock(const BandAnalysisParams& p, BandAnalysisState& s, AnalysisFeeds& feeds,
              const InputFeed* inputFeeds, double reductionPressure, const LowEndTaps* taps,
              double* left, double* right, int frames) {
  if (!p.runs) {
    for (int i = 0; i < frames; ++i) addInputFeed(feeds, inputFeeds[i]);
    return;
  }
  LowEndRegions regions[kChainBlock];
  runAnalysisBank(s, taps, regions, frames);
  for (int i = 0; i < frames; ++i) {
    addInputFeed(feeds, inputFeeds[i]);
    double oL = 0.0;
    double oR = 0.0;
    followLowEnd(p, s, feeds, reductionPressure, regions[i], taps[i], oL, oR);
    left[i] = left[i] + (oL - left[i]) * p.analysisMix;
    right[i] = right[i] + (oR - right[i]) * p.analysisMix;
  }
}

}  // namespace

void runBandAnalysis(const BandAnalysisParams& p, BandAnalysisState& s, AnalysisFeeds& feeds,
                     const InputFeed* inputFeeds, double reductionPressure, const LowEndTaps* taps,
                     double* left, double* right, int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    runBlock(p, s, feeds, inputFeeds + first, reductionPressure, taps + first, left + first,
             right + first, count);
  });
}

int framesBeforeAnalysisBlock(const BandAnalysisParams& p, const BandAnalysisState& s) {
  if (!p.runs) return kAnalysisBlock;
  return s.blockCounter >= kAnalysisBlock - 1 ? kAnalysisBlock
                                              : kAnalysisBlock - 1 - s.blockCounter;
}

}  // namespace vantle
