#include "engine/stages/band_limiters.h"

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

// Make-up of bands 0..2 for the reduction the band gains took off.
constexpr MakeupCurve kMakeupCurve[kMakeupBands] = {
    {2.3, 0.55, 0.18}, {2.45, 0.62, 0.18}, {0.65, 0.18, 0.25}};

// Above this reduction the limiter holds its floor gain.
constexpr double kFloorReductionDb = 18.5;
constexpr double kFloorGain = 0.12;

double peakOf(const double (&sig)[kChannels][kBands], int k) {
  return stereoPeak(sig[0][k], sig[1][k]);
}

}  // namespace

double makeupRiseStep(double fs) { return 1.0 - blockPole(0.32, fs, kMakeupBlock); }

double makeupFallStep(double fs) { return 1.0 - blockPole(0.07, fs, kMakeupBlock); }

void stepMakeup(const MakeupCurve& curve, double amount, double rise, double fall,
                double& ratioPeak, double& makeupDb, double& makeupGain) {
  const double db = linearToDb(maxOf(1e-7, ratioPeak));
  const double target = amount * minOf(curve.capDb, curve.slope * maxOf(0.0, db - curve.offsetDb));
  onePole(makeupDb, target, makeupDb > target ? fall : rise);
  makeupGain = dbToLinear(makeupDb);
  ratioPeak = 1.0;
}

StreamDynamicsVoicing streamDynamicsVoicing(const DeriveInputs& in) {
  StreamDynamicsVoicing sd;
  if (in.mode != ProcessingMode::stream) return sd;
  const double hl = ramp(in.d, 0.5, 0.28);
  sd.makeupScale = ramp(in.d, 0.5, 0.3);
  const double t = maxOf(0.0, (sd.makeupScale - 0.35) / 0.65);
  sd.upperBalanceScale = t * t;
  sd.on = 60.0 * hl > 1e-6 || 100.0 * sd.makeupScale > 1e-6;
  return sd;
}

void bandLimitThresholds(double (&db)[kBands], double makeupScale, double upperBalanceScale) {
  db[0] = -11.75 - 0.75 * makeupScale;
  db[1] = -13.75 + 1.25 * makeupScale;
  db[2] = -15.25 + 2.75 * makeupScale;
  db[3] = -16.75 + 1.445 * (upperBalanceScale * upperBalanceScale);
  db[4] = -18.75 + 1.845 * upperBalanceScale;
  db[5] = -20.25 + 1.845 * upperBalanceScale;
}

void deriveBandLimiters(BandLimitersParams& p, const DeriveInputs& in) {
  const StreamDynamicsVoicing sd = streamDynamicsVoicing(in);
  p.streamBandDynamics = sd.on;
  p.makeupAmount = sd.makeupScale;
  p.makeupRise = makeupRiseStep(in.fs);
  p.makeupFall = makeupFallStep(in.fs);
  bandLimitThresholds(p.bandLimitThresholdDb, sd.makeupScale, sd.upperBalanceScale);
  for (int k = 0; k < kBands; ++k)
    p.bandLimitGateLevel[k] = dbToLinear(p.bandLimitThresholdDb[k]) * 0.999999999999;
  p.limitAttack = timePole(0.004, in.fs);
  p.limitReleaseShallow = timePoleFloored(0.004, in.fs);
  p.limitReleaseDeep = timePoleFloored(0.06, in.fs);
  p.sampleRate = in.fs;
}

void resetBandLimiters(BandLimitersState& s, const BandLimitersParams& p) {
  (void)p;
  s = BandLimitersState{};
}

namespace {

// One frame of the stage.
void stepFrame(const BandLimitersParams& p, BandLimitersState& s, BandSignals& bands) {
  if (!p.streamBandDynamics) return;

  s.frameCounter += 1;
  s.out.makeupUpdate = s.frameCounter >= kMakeupBlock;
  if (s.out.makeupUpdate) s.frameCounter = 0;

  // How much the band gain took off each low band's peak since the last update.
  for (int k = 0; k < kMakeupBands; ++k) {
    s.out.bandPeak[k] = peakOf(bands.bandSignal, k) + 1e-7;
    const double ratio = s.out.bandPeak[k] / (peakOf(bands.gainedBand, k) + 1e-7);
    s.reductionHold[k] = maxOf(s.reductionHold[k], ratio);
  }

  // Make-up, once per make-up block: its logarithms and exponentials stay out of
  // the per-frame path. Per frame, a band at or over its threshold takes a
  // logarithm, and a band still releasing its exponentials (below).
  if (s.out.makeupUpdate) {
    for (int k = 0; k < kMakeupBands; ++k) {
      stepMakeup(kMakeupCurve[k], p.makeupAmount, p.makeupRise, p.makeupFall, s.reductionHold[k],
                 s.makeupDb[k], s.bandMakeupGain[k]);
    }
  }

  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kMakeupBands; ++k) bands.gainedBand[c][k] *= s.bandMakeupGain[k];

  for (int k = 0; k < kBands; ++k) {
    const double lvl = peakOf(bands.bandSignal, k);
    double red = s.bandReductionDb[k];
    double gain = 1.0;
    // A band at rest below its threshold costs one comparison: no logarithm.
    // Nor does a releasing band below it: its level lies a hair under the
    // threshold at most, so its excess is 0 whatever the logarithm rounds to.
    const bool below = lvl < p.bandLimitGateLevel[k];
    if (red != 0.0 || !below) {
      const double over =
          below
              ? 0.0
              : maxOf(0.0, linearToDb(maxOf(1e-7, maxOf(1e-12, lvl))) - p.bandLimitThresholdDb[k]);
      if (red != 0.0 || over != 0.0) {
        if (over > red) {
          red = glide(red, over, p.limitAttack);
        } else {
          // The release lengthens with the depth of reduction: red / 300 s,
          // clamped to 4..60 ms.
          double c;
          if (red < 1.2) {
            c = p.limitReleaseShallow;
          } else if (red > 18.0) {
            c = p.limitReleaseDeep;
          } else {
            const double tau = clampToOrLow(red / 300.0, 0.004, 0.06);
            c = exponential(-1.0 / maxOf(1.0, tau * p.sampleRate));
          }
          red = glide(red, over, c);
        }
        // The stored reduction snaps to rest; this frame's gain still uses
        // the value just computed.
        s.bandReductionDb[k] = red < 1e-5 ? 0.0 : red;
        gain =
            red > kFloorReductionDb ? kFloorGain : clampToOrLow(dbToLinear(-red), kFloorGain, 1.0);
      }
    }
    s.bandLimitGain[k] = gain;
    for (int c = 0; c < kChannels; ++c) bands.limitedBand[c][k] = gain * bands.bandSignal[c][k];
  }
}

}  // namespace

void runBandLimiters(const BandLimitersParams& p, BandLimitersState& s, BandSignals* bands,
                     BandLimitersOutput* outs, int frames) {
  for (int i = 0; i < frames; ++i) {
    stepFrame(p, s, bands[i]);
    outs[i] = s.out;
  }
}

}  // namespace vantle
