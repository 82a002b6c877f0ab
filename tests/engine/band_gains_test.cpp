#include "engine/stages/band_gains.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/bands.h"
#include "engine/settings.h"
#include "engine/stages/band_split.h"
#include "engine/stages/gain_rider.h"
#include "engine/stages/low_end_shaper.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

// The trackers' derivation with the neighbouring stages' voicing, as the
// processor derives them.
void deriveGains(BandGainsParams& p, const DeriveInputs& in) {
  GainRiderParams rider;
  deriveGainRider(rider, in);
  LowEndShaperParams lowEnd;
  LowEndShaperState lowEndState;
  deriveLowEndShaper(lowEnd, lowEndState, in);
  BandSplitParams split;
  deriveBandSplit(split, in, lowEnd.bandAnalysisMix);
  deriveBandGains(p, in,
                  NeighbourVoicing{rider.releaseFactor, rider.resumeStrength, rider.resumeRecovery,
                                   rider.releaseShaping, split.bandTrimDb, lowEnd.bumpDb});
}

double toDb(double g) { return 20.0 * std::log10(g); }

// The rider's pause and resume detectors, with the rider voicing that shapes
// how the trackers release.
struct RiderRelease {
  double silenceGate;
  double resumeAmount;
  double resumeStrength;
  double resumeRecovery;
  double releaseShaping;
};

// Rider detectors at rest, with the podcast rider's shaping.
RiderRelease quietRider() { return RiderRelease{0.0, 0.0, 0.65, 0.99, 0.7}; }

// Holds every band at a steady level (both channels, opposite signs on the
// right so that the stereo link is exercised) for a number of frames.
void drive(const BandGainsParams& p, BandGainsState& s, const double (&level)[kBands], int frames,
           BandSignals& b, RiderRelease rider = quietRider()) {
  BandGainsParams voiced = p;
  voiced.resumeStrength = rider.resumeStrength;
  voiced.resumeRecovery = rider.resumeRecovery;
  voiced.releaseShaping = rider.releaseShaping;
  RiderOutput detectors;
  detectors.silenceGate = rider.silenceGate;
  detectors.resumeAmount = rider.resumeAmount;
  for (int n = 0; n < frames; ++n) {
    const double sign = (n & 1) ? -1.0 : 1.0;
    for (int k = 0; k < kBands; ++k) {
      b.bandSignal[0][k] = sign * level[k];
      b.bandSignal[1][k] = -0.5 * sign * level[k];
    }
    runBandGains(voiced, s, &detectors, &b, 1);
  }
}

TEST(BandGains, PodcastLinksTheLowBandsTowardsTheirGeometricMean) {
  for (double adapt : {0.0, 60.0, 100.0}) {
    BandGainsParams p;
    deriveGains(p, inputs(ProcessingMode::podcast, adapt, 48000.0));
    BandGainsState s;
    resetBandGains(s, p);
    BandSignals b;
    // Band 0 far over its threshold, band 1 just a little over.
    drive(p, s, {1.0, 0.4, 0.0, 0.0, 0.0, 0.0}, 4800, b);
    const double r0 = s.tracker[0].gain;
    const double r1 = s.tracker[1].gain;
    ASSERT_LT(r0, 0.6) << adapt;
    ASSERT_LT(r0, r1) << adapt;
    const double mean = std::sqrt(r0 * r1);
    // Depth is 1 in podcast mode, so each gain moves 65 % of the way to the mean.
    EXPECT_NEAR((s.bandGain[0] - r0) / (mean - r0), 0.65, 1e-12) << adapt;
    EXPECT_NEAR((s.bandGain[1] - r1) / (mean - r1), 0.65, 1e-12) << adapt;
    // No band clippers in podcast mode: the gained band is the band times its gain.
    EXPECT_EQ(b.clippedBand[0][0], b.bandSignal[0][0]);
    EXPECT_EQ(b.gainedBand[1][1], b.bandSignal[1][1] * s.bandGain[1]);
  }
}

TEST(BandGains, TopBandFollowsBandFourOrTheSmallerOfTheTwo) {
  const struct {
    ProcessingMode mode;
    double adapt;
    bool takesSmaller;  // top link 1; otherwise band 5 takes band 4's gain
  } cases[] = {{ProcessingMode::podcast, 0.0, false},
               {ProcessingMode::podcast, 100.0, false},
               {ProcessingMode::limiter, 50.0, false},
               {ProcessingMode::stream, 0.0, false},
               {ProcessingMode::stream, 100.0, true}};
  for (const auto& c : cases) {
    for (int loudBand : {4, 5}) {
      BandGainsParams p;
      deriveGains(p, inputs(c.mode, c.adapt, 44100.0));
      BandGainsState s;
      resetBandGains(s, p);
      BandSignals b;
      double level[kBands] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
      level[loudBand] = 0.9;
      drive(p, s, level, 4410, b);
      ASSERT_LT(s.tracker[loudBand].gain, 0.7);
      if (loudBand == 4 || !c.takesSmaller) {
        // Band 5 takes band 4's gain, whatever its own tracker says.
        EXPECT_EQ(s.bandGain[5], s.bandGain[4]) << c.adapt << " loud " << loudBand;
      } else {
        // Band 5 keeps its own, smaller gain; band 4 stays at unity.
        EXPECT_EQ(s.bandGain[4], 1.0) << c.adapt;
        EXPECT_EQ(s.bandGain[5], 1.0 - (1.0 - s.tracker[5].gain) * p.bandDepth) << c.adapt;
      }
    }
  }
}

TEST(BandGains, LimiterDepthPullsNinetyPercentBackToUnity) {
  for (double fs : {44100.0, 96000.0}) {
    BandGainsParams p;
    deriveGains(p, inputs(ProcessingMode::limiter, 70.0, fs));
    BandGainsState s;
    resetBandGains(s, p);
    BandSignals b;
    drive(p, s, {1.0, 0.8, 0.9, 0.9, 0.9, 0.9}, static_cast<int>(fs / 10), b);
    for (int k = 0; k < 5; ++k) {
      const double raw = s.tracker[k].gain;
      ASSERT_LT(raw, 0.6) << k;
      // No low link in limiter mode, so every band keeps 10 % of its reduction.
      EXPECT_NEAR(1.0 - s.bandGain[k], 0.1 * (1.0 - raw), 1e-15) << k;
      for (int ch = 0; ch < kChannels; ++ch)
        EXPECT_EQ(b.gainedBand[ch][k], b.clippedBand[ch][k] * s.bandGain[k]);
    }
    EXPECT_EQ(s.bandGain[5], s.bandGain[4]);
    EXPECT_GT(s.bandGain[0], 0.9);
  }
}

TEST(BandGains, QuietBandsKeepUnityGainAndPassUnchanged) {
  for (ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    BandGainsParams p;
    deriveGains(p, inputs(mode, 100.0, 48000.0));
    BandGainsState s;
    resetBandGains(s, p);
    BandSignals b;
    // Every band 6 dB below the lowest of all thresholds and band clip ceilings.
    drive(p, s, {0.05, 0.05, 0.05, 0.05, 0.05, 0.05}, 4800, b);
    for (int k = 0; k < kBands; ++k) {
      EXPECT_EQ(s.bandGain[k], 1.0) << k;
      // The band clippers' dry/wet blend of an unclipped sample may move its last bit.
      EXPECT_DOUBLE_EQ(b.gainedBand[0][k], b.bandSignal[0][k]) << k;
      EXPECT_DOUBLE_EQ(b.gainedBand[1][k], b.bandSignal[1][k]) << k;
    }
  }
}

// A band released from 0.5 towards unity with the release shaping at 0, so
// that its release pole is constant: after n frames 1 - g = 0.5 x pole^n.
TEST(BandGains, PausesReleaseTowardsTheSilenceConstantAndResumesRecoverFast) {
  const double fs = 48000.0;
  BandGainsParams p;
  deriveGains(p, inputs(ProcessingMode::podcast, 0.0, fs));
  // Independent poles: podcast at adapt 0 has R = 7 and a low-release blend of 0.7.
  const double upperFast = std::exp(-1.0 / ((0.035 * 7 + 0.035) * fs));
  const double lowerFast = 0.7 * std::exp(-1.0 / ((0.055 * 7 + 0.06) * fs)) + 0.3 * upperFast;
  const double silence = std::exp(-1.0 / (2.5 * fs));
  const double resumeRecovery = std::exp(-1.0 / (0.04 * fs));
  const struct {
    double gate, resume, strength;
  } cases[] = {{0.0, 0.0, 0.65}, {1.0, 0.0, 0.65}, {0.5, 0.0, 0.65},
               {0.0, 1.0, 0.65}, {0.0, 0.4, 0.6},  {1.0, 1.0, 0.65}};
  const int frames = 4800;  // 0.1 s
  for (const auto& c : cases) {
    BandGainsState s;
    resetBandGains(s, p);
    for (int k : {0, 2}) {
      s.tracker[k].gain = 0.5;
      s.tracker[k].level = 1e-6;
    }
    BandSignals b;
    const RiderRelease rider{c.gate, c.resume, c.strength, resumeRecovery, 0.0};
    drive(p, s, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0}, frames, b, rider);
    const double k = (0.45 * c.strength + 0.35) * c.resume;
    for (int band : {0, 2}) {
      const double r = band == 0 ? lowerFast : upperFast;
      const double pole =
          ((1 - 0.78 * c.gate) * r + 0.78 * c.gate * silence) * (1 - k) + k * resumeRecovery;
      EXPECT_NEAR((1.0 - s.tracker[band].gain) / (0.5 * std::pow(pole, frames)), 1.0, 1e-9)
          << "gate " << c.gate << " resume " << c.resume << " band " << band;
    }
  }
  // A pause slows the release down towards 2.5 s: after 0.1 s of silence the
  // band has recovered less than half of what it recovers with programme.
  BandGainsState open, paused;
  resetBandGains(open, p);
  resetBandGains(paused, p);
  open.tracker[2].gain = paused.tracker[2].gain = 0.5;
  BandSignals b;
  drive(p, open, {0, 0, 0, 0, 0, 0}, frames, b, RiderRelease{0.0, 0.0, 0.65, resumeRecovery, 0.0});
  drive(p, paused, {0, 0, 0, 0, 0, 0}, frames, b,
        RiderRelease{1.0, 0.0, 0.65, resumeRecovery, 0.0});
  EXPECT_LT(paused.tracker[2].gain - 0.5, 0.5 * (open.tracker[2].gain - 0.5));
}

TEST(BandGains, DerivedThresholdsScalesAndCeiling) {
  // Expected values in dB, worked out by hand from the voicing tables.
  const double upperStream = 0.65 * 3.2;  // band trim 3.2 dB at adapt 100
  const struct {
    ProcessingMode mode;
    double adapt;
    double thresholdDb[kBands];
    double upperDb, band0Db, band1Db, ceilingDivisorDb;
  } cases[] = {
      {ProcessingMode::podcast,
       0.0,
       {-9.5, -11.5, -13, -14.5, -16.5, -18},
       0.0,
       -0.55 * 2 * 0.35 - 0.15,
       -0.35 * 2 * 0.35 - 0.45 * 0.15,
       0.0},
      {ProcessingMode::stream,
       50.0,
       {-9.5, -11.5, -13, -14.5, -16.5, -18},
       0.65 * 3.65,
       0.65 * 3.65 - 0.55 * 3.6 * 0.76 - 0.42,
       0.65 * 3.65 - 0.35 * 3.6 * 0.76 - 0.45 * 0.42,
       -0.48 + 0.55 * 3.65},
      {ProcessingMode::stream,
       100.0,
       {-12.085, -12.985, -13.66, -14.585, -17.65, -19.35},
       upperStream,
       upperStream - 0.55 * 3.6 * 0.76 - 0.42,
       upperStream - 0.35 * 3.6 * 0.76 - 0.45 * 0.42,
       -0.48 + 0.55 * 3.2},
      {ProcessingMode::limiter, 100.0, {-9.5, -11.5, -13, -14.5, -16.5, -18}, 0.0, 0.0, 0.0, -0.36},
  };
  for (const auto& c : cases) {
    BandGainsParams p;
    deriveGains(p, inputs(c.mode, c.adapt, 48000.0));
    for (int k = 0; k < kBands; ++k)
      EXPECT_NEAR(toDb(p.bandThreshold[k]), c.thresholdDb[k], 1e-9) << c.adapt << " band " << k;
    EXPECT_NEAR(toDb(p.upperDetectScale), c.upperDb, 1e-9) << c.adapt;
    EXPECT_NEAR(toDb(p.band0DetectScale), c.band0Db, 1e-9) << c.adapt;
    EXPECT_NEAR(toDb(p.band1DetectScale), c.band1Db, 1e-9) << c.adapt;
    EXPECT_NEAR(p.clipCeiling, 0.985 * kOutputCeiling / fromDb(c.ceilingDivisorDb), 1e-12);
  }
}

}  // namespace
}  // namespace vantle
