#include "engine/stages/band_sum.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/curves.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

constexpr double kRatioFloor = 1e-6;
constexpr int kEventRatios = 4;

// Event-ratio constants of bands 3, 4, 5, per band in the order onset,
// level, slope, curve: a ratio is (x - lift x avg) / max(e, scale x avg + e),
// positive once x stands well above its average.
constexpr double kEventLift[kShapedBands][kEventRatios] = {
    {1.22, 1.2, 1.75, 1.85}, {1.18, 1.16, 1.7, 1.78}, {1.15, 1.12, 1.65, 1.72}};
constexpr double kEventScale[kShapedBands][kEventRatios] = {
    {0.8, 1.2, 2.6, 2.75}, {0.72, 1.05, 2.35, 2.45}, {0.66, 0.95, 2.2, 2.3}};
// Event strength: base share plus the weighted level ratio.
constexpr double kLevelBase[kShapedBands] = {0.25, 0.22, 0.18};
constexpr double kLevelWeight[kShapedBands] = {0.75, 0.78, 0.82};

// The event ratios of one band clamped to 0..1 (NaN counts as 0), four side
// by side: onset, level, slope and curve. Every frame pays the divisions and
// then picks, instead of guessing at comparisons that follow the programme's
// noise; each lane does what a lone ratio would, so the shares are the same.
void eventShares(const double (&x)[kEventRatios], const double (&avg)[kEventRatios],
                 const double (&lift)[kEventRatios], const double (&scale)[kEventRatios],
                 double (&share)[kEventRatios]) {
  DoubleQuad vx, va, vl, vs;
  loadQuad(x, vx);
  loadQuad(avg, va);
  loadQuad(lift, vl);
  loadQuad(scale, vs);
  const DoubleQuad excess = vx - vl * va;
  const DoubleQuad scaled = vs * va + kRatioFloor;
  // maxOf(kRatioFloor, scaled): the floor wherever scaled is not larger or not a number.
  const DoubleQuad range = kRatioFloor < scaled ? scaled : DoubleQuad{} + kRatioFloor;
  const DoubleQuad ratio = excess / range;
  const DoubleQuad picked = excess >= range ? DoubleQuad{} + 1.0 : ratio;
  storeQuad(excess > 0.0 ? picked : DoubleQuad{}, share);
}

double oneMinusPole(double tauSeconds, double fs) { return 1.0 - timePole(tauSeconds, fs); }

}  // namespace

void deriveBandSum(BandSumParams& p, const DeriveInputs& in) {
  const double d = in.d;
  const double ceiling = in.outputCeiling;
  switch (in.mode) {
    case ProcessingMode::podcast:
      p.hfShapeAmount = 0.0;
      p.bandDelayMs = 1.5;
      break;
    case ProcessingMode::stream: {
      const double k = streamVoicing(d);
      p.hfShapeAmount = (20.0 + 48.0 * k) / 100.0;
      p.bandDelayMs = 0.73 + 0.77 * ramp(d, 0.65, 0.35);
      break;
    }
    case ProcessingMode::limiter:
      p.hfShapeAmount = 0.32;
      p.bandDelayMs = 1.5 + 0.5 * d;
      break;
  }
  const double shape = p.hfShapeAmount;  // S
  const double ms = clampToOrLow(p.bandDelayMs, 0.0, 1.5);
  // Without the transient saturation the bands pass undelayed.
  p.bandDelay = (shape > 0.0 && ms > 0.0) ? msToSamples(ms, in.fs, kBandDelayRing - 1) : 0;

  p.hfFastEnv = oneMinusPole(0.00055, in.fs);
  p.hfSlowEnv = oneMinusPole(0.018, in.fs);
  p.hfSlopeEnv = oneMinusPole(0.003, in.fs);
  p.hfCurveEnv = oneMinusPole(0.0022, in.fs);
  p.hfAttack = timePole(0.0001, in.fs);
  p.hfRelease = timePole(0.0028, in.fs);

  p.ceilFloor[0] = 0.105 * ceiling;
  p.ceilCap[0] = (0.46 - 0.07 * shape) * ceiling;
  p.ceilSlope[0] = 1.36 - 0.22 * shape;
  p.ceilFloor[1] = 0.08 * ceiling;
  p.ceilCap[1] = (0.36 - 0.075 * shape) * ceiling;
  p.ceilSlope[1] = 1.26 - 0.24 * shape;
  p.ceilFloor[2] = 0.06 * ceiling;
  p.ceilCap[2] = (0.3 - 0.06 * shape) * ceiling;
  p.ceilSlope[2] = 1.18 - 0.18 * shape;
  p.shapeDrive[0] = 0.42 + 0.1 * shape;
  p.shapeDrive[1] = 0.48 + 0.14 * shape;
  p.shapeDrive[2] = 0.0;
}

void resetBandSum(BandSumState& s, const BandSumParams& p) {
  (void)p;
  s = BandSumState{};
}

namespace {

// The shaping of bands 3 and 4 one frame asks for: it keeps no memory, so
// the block's frames are shaped in a pass of their own.
struct ShapeRequest {
  double ceiling[2];
  double mix[2];
};

// One frame of the stage up to the shaping of bands 3 and 4; x receives the
// bands as they travel through this stage, x[channel][band].
void stepFrame(const BandSumParams& p, BandSumState& s, const BandSignals& bands,
               double (&x)[kChannels][kBands], ShapeRequest& shaping) {
  for (int ch = 0; ch < kChannels; ++ch) {
    for (int k = 0; k < kBands; ++k) x[ch][k] = bands.mixedBand[ch][k];
  }

  const int n = p.bandDelay;
  if (n > 0) {
    const int read = (s.index - n) & (kBandDelayRing - 1);
    double(&in)[kChannels][kBands] = s.ring[s.index];
    const double(&out)[kChannels][kBands] = s.ring[read];
    for (int ch = 0; ch < kChannels; ++ch) {
      for (int k = 0; k < kBands; ++k) {
        const double delayed = out[ch][k];
        in[ch][k] = x[ch][k];
        x[ch][k] = delayed;
      }
    }
    s.index = (s.index + 1) & (kBandDelayRing - 1);
  }

  const double shape = p.hfShapeAmount;
  if (shape > 0.0) {
    double peak[kShapedBands];
    double onset[kShapedBands];
    double level[kShapedBands];
    double strength[kShapedBands];
    for (int i = 0; i < kShapedBands; ++i) {
      const int k = kFirstShapedBand + i;
      TransientDetector& det = s.detector[i];
      const double pk = stereoPeak(x[0][k], x[1][k]);
      peak[i] = pk;
      onePole(det.fast, pk, p.hfFastEnv);
      onePole(det.slow, pk, p.hfSlowEnv);

      double slope = 0.0;
      double curve = 0.0;
      for (int ch = kChannels - 1; ch >= 0; --ch) {
        const double v = x[ch][k];
        slope = maxOf(slope, std::fabs(v - det.prev1[ch]));
        curve = maxOf(curve, std::fabs(v - 2.0 * det.prev1[ch] + det.prev2[ch]));
        det.prev2[ch] = det.prev1[ch];
        det.prev1[ch] = v;
      }
      onePole(det.slopeAvg, slope, p.hfSlopeEnv);
      onePole(det.curveAvg, curve, p.hfCurveEnv);
      double share[kEventRatios];
      eventShares({det.fast, pk, slope, curve}, {det.slow, det.slow, det.slopeAvg, det.curveAvg},
                  kEventLift[i], kEventScale[i], share);
      onset[i] = share[0];
      level[i] = share[1];
      const double slopeShare = share[2];
      const double curveShare = share[3];

      double t =
          maxOf(curveShare, slopeShare) * onset[i] * (kLevelBase[i] + kLevelWeight[i] * level[i]);
      // The air band counts as an event only as far as the band below it
      // shows one too.
      if (i == 2) t = t * (0.2 + 0.8 * maxOf(strength[1], onset[1]));
      strength[i] = clampUnitOrZero(t);
      det.event = follow(det.event, strength[i], p.hfAttack, p.hfRelease);
    }

    double ceiling[kShapedBands];
    for (int i = 0; i < kShapedBands; ++i) {
      ceiling[i] = maxOf(p.ceilFloor[i], minOf(p.ceilCap[i], p.ceilSlope[i] * s.detector[i].slow));
    }

    shaping.ceiling[0] = ceiling[0];
    shaping.ceiling[1] = ceiling[1];
    shaping.mix[0] = s.detector[0].event * shape * 0.62;
    shaping.mix[1] = s.detector[1].event * shape * 0.92;

    // The band-5 gain H5 glides towards what brings band 5 under its ceiling.
    const double band5Peak = peak[2];
    const double ceilingGain = band5Peak > ceiling[2] ? ceiling[2] / maxOf(1e-6, band5Peak) : 1.0;
    const double target = clampToOrLow(ceilingGain, 0.08, 1.0);
    const double stored = s.band5Gain > 0.0 ? s.band5Gain : 1.0;
    s.band5Gain = glide(stored, target, stored > target ? p.hfAttack : p.hfRelease);
    const double band5Scale = 1.0 - s.detector[2].event * shape * 0.62 * (1.0 - s.band5Gain);
    x[0][5] *= band5Scale;
    x[1][5] *= band5Scale;
  }
}

// The stage over at most kChainBlock frames.
void runBlock(const BandSumParams& p, BandSumState& s, const BandSignals* bands, double* left,
              double* right, int frames) {
  double x[kChainBlock][kChannels][kBands];
  ShapeRequest shaping[kChainBlock];
  for (int i = 0; i < frames; ++i) stepFrame(p, s, bands[i], x[i], shaping[i]);
  if (p.hfShapeAmount > 0.0) {
    for (int i = 0; i < frames; ++i) {
      double(&y)[kChannels][kBands] = x[i];
      sineShapePair(y[0][3], y[1][3], shaping[i].ceiling[0], shaping[i].mix[0], p.shapeDrive[0]);
      sineShapePair(y[0][4], y[1][4], shaping[i].ceiling[1], shaping[i].mix[1], p.shapeDrive[1]);
    }
  }
  // The order of additions is fixed so that every build sums bit-identically.
  for (int i = 0; i < frames; ++i) {
    const double(&y)[kChannels][kBands] = x[i];
    left[i] = ((((y[0][0] + y[0][1]) + y[0][2]) + y[0][3]) + y[0][4]) + y[0][5];
    right[i] = ((((y[1][0] + y[1][1]) + y[1][2]) + y[1][3]) + y[1][4]) + y[1][5];
  }
}

}  // namespace

void runBandSum(const BandSumParams& p, BandSumState& s, const BandSignals* bands, double* left,
                double* right, int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    runBlock(p, s, bands + first, left + first, right + first, count);
  });
}

}  // namespace vantle
