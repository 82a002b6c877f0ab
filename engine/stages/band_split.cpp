#include "engine/stages/band_split.h"

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/minmax.h"
#include "engine/dsp/ratio_control.h"
#include "engine/stages/low_end_shaper.h"

namespace vantle {

namespace {

constexpr double kCrossoverHz[kCrossovers] = {150.0, 420.0, 700.0, 1600.0, 3700.0};

struct SplitVoicing {
  double trimDb;  // Tb
  double amount;  // A, presence and air control amount as a fraction
};

SplitVoicing splitVoicing(ProcessingMode mode, double d) {
  switch (mode) {
    case ProcessingMode::podcast:
      return {0.0, (50.0 + 22.0 * d) / 100.0};
    case ProcessingMode::stream: {
      const double hl = ramp(d, 0.5, 0.28);
      const double s = 3.5 + 0.3 * d;
      return {(3.2 - s) * hl + s, 0.5};
    }
    case ProcessingMode::limiter:
      break;
  }
  return {-0.4 - 0.4 * d, 0.0};
}

}  // namespace

PresenceAirVoicing presenceAirVoicing(ProcessingMode mode) {
  switch (mode) {
    case ProcessingMode::podcast:
      return {2.0, 2.0};
    case ProcessingMode::stream:
      return {2.3, 3.2};
    case ProcessingMode::limiter:
      break;
  }
  return {0.0, 0.0};
}

void deriveBandSplit(BandSplitParams& p, const DeriveInputs& in, double bandAnalysisMix) {
  p.feedsAnalysis = bandAnalysisRuns(bandAnalysisMix);
  const SplitVoicing v = splitVoicing(in.mode, in.d);
  // Positive trims count 35 %.
  p.bandTrimDb = v.trimDb;
  p.bandTrim = dbToLinear(minOf(0.0, v.trimDb) + 0.35 * maxOf(0.0, v.trimDb));
  for (int i = 0; i < kCrossovers; ++i) p.crossoverCoef[i] = onePoleCoef(kCrossoverHz[i], in.fs);
  p.airSplitCoef = onePoleCoef(6800.0, in.fs);
  p.presenceAirAmount = v.amount;
  p.presenceAirAttack = timePole(0.36, in.fs);
  p.presenceAirRelease = timePole(2.8, in.fs);
  p.presenceAirGainRise = timePole(1.05, in.fs);
  p.presenceAirGainFall = timePole(0.3, in.fs);
  p.presenceLowRatio = 0.17;
  p.presenceHighRatio = 0.4;
  p.airLowRatio = 0.03;
  p.airHighRatio = 0.145;
  p.presenceMaxBoostDb = 1.8 * v.amount;
  p.presenceMaxCutDb = 3.8 * v.amount;
  p.airMaxBoostDb = 3.6 * v.amount;
  p.airMaxCutDb = 1.1 * v.amount;
  const PresenceAirVoicing lift = presenceAirVoicing(in.mode);
  p.presenceLift = dbToLinear(lift.presenceDb);
  p.airLift = dbToLinear(lift.airDb);
}

void resetBandSplit(BandSplitState& s, const BandSplitParams& p) {
  (void)p;
  s = BandSplitState{};
}

namespace {

// One frame of the stage after its crossovers: the presence and air control
// and the analysis feeds.
void stepFrame(const BandSplitParams& p, BandSplitState& s, double left, double right,
               BandSignals& bands, AnalysisFeeds& feeds) {
  const double x[kChannels] = {left * p.bandTrim, right * p.bandTrim};
  // The crossovers already ran over the block (splitBlock).
  const double(&b)[kChannels][kBands] = bands.bandSignal;

  if (p.presenceAirAmount > 0.0) {
    double air[kChannels];
    for (int ch = 0; ch < kChannels; ++ch) {
      air[ch] = x[ch] - onePole(s.airLow[ch], x[ch], p.airSplitCoef);
    }
    const double airLevel = stereoPeak(air[0], air[1]);
    const double presenceLevel = 0.85 * stereoPeak(b[0][4], b[1][4]) +
                                 0.3 * stereoPeak(b[0][3], b[1][3]) +
                                 0.18 * stereoPeak(b[0][5], b[1][5]);
    const double refLevel = maxOf(1.08 * maxOf(airLevel, presenceLevel), stereoPeak(x[0], x[1]));

    const double attack = p.presenceAirAttack;
    const double release = p.presenceAirRelease;
    s.presenceRefEnv = follow(s.presenceRefEnv, refLevel, attack, release);
    s.airRefEnv = follow(s.airRefEnv, refLevel, attack, release);
    s.presenceEnv = follow(s.presenceEnv, presenceLevel, attack, release);
    s.airEnv = follow(s.airEnv, airLevel, attack, release);

    const double presenceRatio = s.presenceEnv / maxOf(1e-6, s.presenceRefEnv);
    const double airRatio = s.airEnv / maxOf(1e-6, s.airRefEnv);

    const double presenceTarget =
        dbToLinear(boostShare(presenceRatio, p.presenceLowRatio, 0.06) * p.presenceMaxBoostDb -
                   cutShare(presenceRatio, p.presenceHighRatio, 0.78) * p.presenceMaxCutDb);

    const double airChange = boostShare(airRatio, p.airLowRatio, 0.006) * p.airMaxBoostDb -
                             cutShare(airRatio, p.airHighRatio, 0.38) * p.airMaxCutDb;
    // A crowded presence region takes back up to 55 % of an air boost.
    const double crowd = clampTo((presenceRatio - 0.46) / 0.34, 0.0, 1.0);
    const double airTarget = dbToLinear(airChange - crowd * 0.55 * maxOf(0.0, airChange));

    s.presenceGain = stepControlGain(s.presenceGain, presenceTarget, p.presenceAirGainRise,
                                     p.presenceAirGainFall);
    s.airGain = stepControlGain(s.airGain, airTarget, p.presenceAirGainRise, p.presenceAirGainFall);
  } else {
    s.presenceGain = 1.0;
    s.airGain = 1.0;
  }

  const double presenceGain = s.presenceGain * p.presenceLift;
  const double airGain = s.airGain * p.airLift;
  for (int ch = 0; ch < kChannels; ++ch) {
    double* out = bands.bandSignal[ch];
    out[3] *= presenceGain;
    out[4] *= presenceGain;
    out[5] *= airGain;
  }

  if (p.feedsAnalysis) {
    const double* l = bands.bandSignal[0];
    const double* r = bands.bandSignal[1];
    feeds.band0PowerSum += 0.5 * (l[0] * l[0] + r[0] * r[0]);
    feeds.band1PowerSum += 0.5 * (l[1] * l[1] + r[1] * r[1]);
    feeds.bandBalanceFrames += 1;
  }
}

// The crossovers over a block, both channels side by side: the six bands of
// each frame are the differences of the cascaded low-passes.
void splitBlock(const BandSplitParams& p, BandSplitState& s, const double* left,
                const double* right, BandSignals* bands, int frames) {
  DoublePair s1[kCrossovers];
  DoublePair s2[kCrossovers];
  for (int c = 0; c < kCrossovers; ++c) {
    s1[c] = DoublePair{s.crossover[0][c].s1, s.crossover[1][c].s1};
    s2[c] = DoublePair{s.crossover[0][c].s2, s.crossover[1][c].s2};
  }
  for (int i = 0; i < frames; ++i) {
    const DoublePair x = DoublePair{left[i], right[i]} * p.bandTrim;
    DoublePair lp[kCrossovers];
    for (int c = 0; c < kCrossovers; ++c) {
      const double a = p.crossoverCoef[c];
      s1[c] = s1[c] + a * (x - s1[c]);
      s2[c] = s2[c] + a * (s1[c] - s2[c]);
      lp[c] = s2[c];
    }
    double(&b)[kChannels][kBands] = bands[i].bandSignal;
    for (int ch = 0; ch < kChannels; ++ch) {
      b[ch][0] = lp[0][ch];
      for (int k = 1; k < kCrossovers; ++k) b[ch][k] = lp[k][ch] - lp[k - 1][ch];
      b[ch][kBands - 1] = x[ch] - lp[kCrossovers - 1][ch];
    }
  }
  for (int c = 0; c < kCrossovers; ++c) {
    for (int ch = 0; ch < kChannels; ++ch) {
      s.crossover[ch][c].s1 = s1[c][ch];
      s.crossover[ch][c].s2 = s2[c][ch];
    }
  }
}

}  // namespace

void runBandSplit(const BandSplitParams& p, BandSplitState& s, const double* left,
                  const double* right, BandSignals* bands, AnalysisFeeds& feeds, int frames) {
  splitBlock(p, s, left, right, bands, frames);
  for (int i = 0; i < frames; ++i) stepFrame(p, s, left[i], right[i], bands[i], feeds);
}

}  // namespace vantle
