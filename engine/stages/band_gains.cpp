#include "engine/stages/band_gains.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/minmax.h"
#include "engine/stages/band_limiters.h"

namespace vantle {

namespace {

// Ratio trackers of bands 2..5: ratio, knee width, gain floor.
constexpr double kRatio[kBands] = {0.0, 0.0, 4.2, 3.1, 2.6, 2.4};
constexpr double kKneeWidth[kBands] = {0.0, 0.0, 0.3, 0.42, 0.55, 0.65};
constexpr double kGainFloor[kBands] = {0.0, 0.0, 0.14, 0.16, 0.18, 0.2};

// Band clippers of bands 2..5, relative to the stage's ceiling, mix and feedback.
constexpr int kFirstClippedBand = 2;
constexpr double kCeilingFactor[kBands] = {0.0, 0.0, 0.56, 0.48, 0.4, 0.32};
constexpr double kMixFactor[kBands] = {0.0, 0.0, 0.55, 0.75, 1.0, 1.0};
constexpr double kClipKnee[kBands] = {0.0, 0.0, 0.42, 0.36, 0.3, 0.24};
constexpr double kFeedbackFactor[kBands] = {0.0, 0.0, 0.35, 0.55, 0.78, 0.92};

constexpr double kBaseThresholdDb[kBands] = {-9.5, -11.5, -13.0, -14.5, -16.5, -18.0};

// This mode's voicing of the band trackers and clippers.
struct BandVoicing {
  double lowDetectWeight;  // p1: low-band detector weight, percent
  double lowDetectOffset;  // p2: low-band detector offset, percent
  double lowReleaseBlend;  // p3: low-release blend, percent
  double depth;            // percent
  double lowLink;          // percent
  double topLink;          // fraction
  double clipMix;          // percent
  double feedback;         // band clip feedback I, percent
  double tiltDb;           // clip ceiling tilt Tc
};

BandVoicing bandVoicing(const DeriveInputs& in) {
  const double d = in.d;
  switch (in.mode) {
    case ProcessingMode::podcast:
      return {35.0 + 21.0 * d, 15.0, 70.0 + 12.0 * d, 100.0, 65.0, 0.0, 0.0, 65.0, -0.7 * d};
    case ProcessingMode::stream: {
      const double hl = ramp(d, 0.5, 0.28);
      const double ws = ramp(d, 0.18, 0.64);
      const double ks = smoothstep(2.0 * (d - 0.5));
      return {76.0, 42.0, 74.0, 84.0, 66.0 + 16.0 * ws, hl, 16.0 + 8.0 * hl, 46.0 - 28.0 * ks,
              -0.8};
    }
    case ProcessingMode::limiter:
      break;
  }
  return {0.0, 0.0, 0.0, 10.0, 0.0, 0.0, 20.0, 0.0, -0.6 * d};
}

}  // namespace

void deriveBandGains(BandGainsParams& p, const DeriveInputs& in, const NeighbourVoicing& n) {
  const BandVoicing v = bandVoicing(in);
  const double releaseFactor = n.riderReleaseFactor;  // R
  const double bandTrimDb = n.bandTrimDb;             // Tb
  const double bump = n.bumpDb;
  const double fs = in.fs;

  p.upperDetectScale = dbToLinear(0.65 * maxOf(0.0, bandTrimDb));
  p.band0DetectScale = p.upperDetectScale * dbToLinear(-0.55 * bump * v.lowDetectWeight / 100.0 -
                                                       v.lowDetectOffset / 100.0);
  p.band1DetectScale = p.upperDetectScale * dbToLinear(-0.35 * bump * v.lowDetectWeight / 100.0 -
                                                       0.45 * v.lowDetectOffset / 100.0);

  const StreamDynamicsVoicing sd = streamDynamicsVoicing(in);
  if (sd.on) {
    const double makeup = sd.makeupScale;       // H
    const double upper = sd.upperBalanceScale;  // V
    const double db[kBands] = {-9.5 - 2.585 * makeup, -11.5 - 1.485 * makeup,
                               -13.0 - 0.66 * makeup, -14.5 + 0.165 * makeup - 0.25 * upper,
                               -16.5 - 1.15 * upper,  -18.0 - 1.35 * upper};
    for (int k = 0; k < kBands; ++k) p.bandThreshold[k] = dbToLinear(db[k]);
  } else {
    for (int k = 0; k < kBands; ++k) p.bandThreshold[k] = dbToLinear(kBaseThresholdDb[k]);
  }

  const double attackFast = timePole(0.0012, fs);
  p.bandAttack[0] = attackFast;
  p.bandAttack[1] = attackFast;
  p.bandAttack[2] = timePole(0.0018, fs);
  for (int k = 3; k < kBands; ++k) p.bandAttack[k] = timePole(0.0024, fs);

  p.upperReleaseFast = timePole(0.035 * releaseFactor + 0.035, fs);
  p.upperReleaseSlow = timePole(0.08 * releaseFactor + 0.1, fs);
  const double blend = v.lowReleaseBlend / 100.0;
  p.lowerReleaseFast =
      blend * timePole(0.055 * releaseFactor + 0.06, fs) + (1.0 - blend) * p.upperReleaseFast;
  p.lowerReleaseSlow =
      blend * timePole(0.1 * releaseFactor + 0.18, fs) + (1.0 - blend) * p.upperReleaseSlow;
  p.silenceRelease = timePole(2.5, fs);
  p.resumeStrength = n.resumeStrength;
  p.resumeRecovery = n.resumeRecovery;
  p.releaseShaping = n.releaseShaping;

  p.bandDepth = v.depth / 100.0;
  p.lowLink = v.lowLink / 100.0;
  p.topLink = v.topLink;
  p.clipMix = v.clipMix / 100.0;
  p.clipCeiling = 0.985 * in.outputCeiling /
                  maxOf(0.25, dbToLinear(0.6 * v.tiltDb + 0.55 * maxOf(0.0, bandTrimDb)));
  p.clipFeedbackCoef = onePoleCoef(2200.0, fs);

  for (int k = 2; k < kBands; ++k) p.bandRatioExponent[k] = ratioExponent(kRatio[k]);

  for (int k = 0; k < kBands; ++k) {
    p.bandClipThreshold[k] = kCeilingFactor[k] * p.clipCeiling;
    p.bandClipMix[k] = kMixFactor[k] * p.clipMix;
    p.bandClipKnee[k] = kClipKnee[k];
    p.bandClipFeedback[k] = kFeedbackFactor[k] * v.feedback / 100.0;
  }
}

void resetBandGains(BandGainsState& s, const BandGainsParams& p) {
  (void)p;
  s = BandGainsState{};
}

namespace {

// The release poles of one frame: during a pause the trackers lean towards
// the 2.5 s release; just after one they recover at the rider's fast resume
// pace.
struct FrameReleases {
  double lowerFast;
  double lowerSlow;
  double upperFast;
  double upperSlow;
};

FrameReleases frameReleases(const BandGainsParams& p, const RiderOutput& rider) {
  const double gate = rider.silenceGate;
  const double resume = (0.45 * p.resumeStrength + 0.35) * rider.resumeAmount;
  const auto adapted = [&](double release) {
    return ((1.0 - 0.78 * gate) * release + 0.78 * gate * p.silenceRelease) * (1.0 - resume) +
           resume * p.resumeRecovery;
  };
  return {adapted(p.lowerReleaseFast), adapted(p.lowerReleaseSlow), adapted(p.upperReleaseFast),
          adapted(p.upperReleaseSlow)};
}

// Bands 0 and 1 release with the lower poles, bands 2 to 5 with the upper.
double fastRelease(const FrameReleases& r, int b) { return b < 2 ? r.lowerFast : r.upperFast; }
double slowRelease(const FrameReleases& r, int b) { return b < 2 ? r.lowerSlow : r.upperSlow; }

double detectScale(const BandGainsParams& p, int b) {
  return b == 0 ? p.band0DetectScale : (b == 1 ? p.band1DetectScale : p.upperDetectScale);
}

// The stage over at most kChainBlock frames.
void runBlock(const BandGainsParams& p, BandGainsState& s, const RiderOutput* rider,
              BandSignals* bands, int frames) {
  FrameReleases releases[kChainBlock];
  for (int i = 0; i < frames; ++i) releases[i] = frameReleases(p, rider[i]);

  // Stereo-linked detection on the unclipped bands. Each step runs over the
  // whole block for all six trackers at once: the six level chains side by
  // side, then every target, then the six gain chains.
  GainTrackerState tracker[kBands];
  for (int b = 0; b < kBands; ++b) tracker[b] = s.tracker[b];
  double g[kChainBlock][kBands];  // levels, then targets, then gains
  for (int i = 0; i < frames; ++i) {
    const double(&x)[kChannels][kBands] = bands[i].bandSignal;
    for (int b = 0; b < kBands; ++b) {
      const double level = stereoPeak(x[0][b], x[1][b]) * detectScale(p, b);
      g[i][b] = followTrackerLevel(tracker[b], level, p.bandThreshold[b], p.bandAttack[b],
                                   fastRelease(releases[i], b), slowRelease(releases[i], b),
                                   p.releaseShaping);
    }
  }
  for (int i = 0; i < frames; ++i) {
    for (int b = 0; b < 2; ++b) g[i][b] = limitTarget(g[i][b], p.bandThreshold[b]);
    for (int b = 2; b < kBands; ++b) {
      g[i][b] = ratioTarget(g[i][b], p.bandThreshold[b], p.bandRatioExponent[b], kKneeWidth[b],
                            kGainFloor[b]);
    }
  }
  for (int i = 0; i < frames; ++i) {
    for (int b = 0; b < kBands; ++b) {
      g[i][b] = stepTrackerGain(tracker[b], g[i][b], p.bandAttack[b], fastRelease(releases[i], b),
                                slowRelease(releases[i], b), p.releaseShaping);
    }
  }
  for (int b = 0; b < kBands; ++b) s.tracker[b] = tracker[b];

  for (int i = 0; i < frames; ++i) {
    double* gi = g[i];
    for (int b = 0; b < kBands; ++b) gi[b] = 1.0 - (1.0 - gi[b]) * p.bandDepth;
    const double lowMean = std::sqrt(maxOf(1e-6, gi[0] * gi[1]));
    gi[0] = gi[0] * (1.0 - p.lowLink) + lowMean * p.lowLink;
    gi[1] = gi[1] * (1.0 - p.lowLink) + lowMean * p.lowLink;
    gi[5] = gi[4] + (minOf(gi[4], gi[5]) - gi[4]) * p.topLink;
  }

  // The clippers shape the band before its gain; the trackers above saw the
  // unclipped band.
  for (int i = 0; i < frames; ++i) {
    BandSignals& f = bands[i];
    for (int c = 0; c < kChannels; ++c) {
      for (int b = 0; b < kBands; ++b) f.clippedBand[c][b] = f.bandSignal[c][b];
    }
  }
  if (p.clipMix > 0.0) {
    // The knees of the whole block first, then the errors' low-passes.
    double knee[kChainBlock][kChannels][kBands];
    for (int i = 0; i < frames; ++i) {
      const double(&x)[kChannels][kBands] = bands[i].bandSignal;
      for (int b = kFirstClippedBand; b < kBands; ++b) {
        knee[i][0][b] = x[0][b];
        knee[i][1][b] = x[1][b];
        softKneeLimitPair(knee[i][0][b], knee[i][1][b], p.bandClipThreshold[b], p.bandClipKnee[b]);
      }
    }
    // Bands 2 to 5 of a channel side by side, their errors in registers.
    static_assert(kBands - kFirstClippedBand == 4, "the clipped bands fill one DoubleQuad");
    DoubleQuad mix;
    DoubleQuad feedback;
    DoubleQuad error[kChannels];
    loadQuad(p.bandClipMix + kFirstClippedBand, mix);
    loadQuad(p.bandClipFeedback + kFirstClippedBand, feedback);
    for (int c = 0; c < kChannels; ++c) loadQuad(s.clipError[c] + kFirstClippedBand, error[c]);
    for (int i = 0; i < frames; ++i) {
      for (int c = 0; c < kChannels; ++c) {
        DoubleQuad x;
        DoubleQuad clipped;
        loadQuad(bands[i].bandSignal[c] + kFirstClippedBand, x);
        loadQuad(knee[i][c] + kFirstClippedBand, clipped);
        applyClipFeedbackLanes(error[c], x, clipped, mix, feedback, p.clipFeedbackCoef);
        storeQuad(clipped, bands[i].clippedBand[c] + kFirstClippedBand);
      }
    }
    for (int c = 0; c < kChannels; ++c) storeQuad(error[c], s.clipError[c] + kFirstClippedBand);
  }

  for (int i = 0; i < frames; ++i) {
    BandSignals& f = bands[i];
    for (int c = 0; c < kChannels; ++c) {
      for (int b = 0; b < kBands; ++b) f.gainedBand[c][b] = f.clippedBand[c][b] * g[i][b];
    }
  }
  if (frames > 0) {
    for (int b = 0; b < kBands; ++b) s.bandGain[b] = g[frames - 1][b];
  }
}

}  // namespace

void runBandGains(const BandGainsParams& p, BandGainsState& s, const RiderOutput* rider,
                  BandSignals* bands, int frames) {
  forEachChainBlock(
      frames, [&](int first, int count) { runBlock(p, s, rider + first, bands + first, count); });
}

}  // namespace vantle
