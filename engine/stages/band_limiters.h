// Stream-mode band make-up and per-band limiters: above adapt 50 in stream
// mode the three lowest bands get back part of the reduction they received,
// and every band gets a fast dB-domain peak limiter on its unclipped signal.
#pragma once

#include <cstdint>

#include "engine/bands.h"
#include "engine/dsp/block_rates.h"
#include "engine/settings.h"

namespace vantle {

constexpr int kMakeupBands = 3;  // bands 0..2 receive make-up

// Whether the stream band dynamics run, and the two scales that voice them.
// The band gain thresholds, the band limiters and the band mix all derive
// from this one place.
struct StreamDynamicsVoicing {
  bool on = false;                 // streamBandDynamics
  double makeupScale = 0.0;        // H: make-up and clip scale, 0 outside stream mode
  double upperBalanceScale = 0.0;  // V = max(0, (H - 0.35) / 0.65)^2: upper balance scale
};

StreamDynamicsVoicing streamDynamicsVoicing(const DeriveInputs& in);

// Limiter threshold of every band in dB for the scales H and V; the band
// clippers of the band mix use the same values as their ceilings.
void bandLimitThresholds(double (&db)[kBands], double makeupScale, double upperBalanceScale);

// How the make-up of a low band follows the reduction (dB) it received:
// nothing up to offsetDb, slope dB per dB above it, at most capDb.
struct MakeupCurve {
  double capDb;
  double slope;
  double offsetDb;
};

// Steps of the make-up per make-up block: towards a higher target (tau
// 0.32 s) and towards a lower one (0.07 s). The limiters and the band mix
// smooth their make-ups alike.
double makeupRiseStep(double fs);
double makeupFallStep(double fs);

// One make-up block of one band, shared by the limiters and the band mix:
// the target follows the largest peak ratio (linear) the band lost since the
// last block, scaled by amount; makeupDb steps towards it, makeupGain takes its
// linear value, and ratioPeak starts again at 1.
void stepMakeup(const MakeupCurve& curve, double amount, double rise, double fall,
                double& ratioPeak, double& makeupDb, double& makeupGain);

// Derived parameters (written by the derivation only).
struct BandLimitersParams {
  bool streamBandDynamics = false;  // stream mode above adapt 50
  double makeupAmount = 0.0;        // H
  double makeupRise = 0.0;          // make-up step towards a higher target, per 16 frames
  double makeupFall = 0.0;          // make-up step towards a lower target, per 16 frames
  double bandLimitThresholdDb[kBands] = {};
  double bandLimitGateLevel[kBands] = {};  // linear threshold, a hair below it
  double limitAttack = 0.0;                // 4 ms pole
  double limitReleaseShallow = 0.0;        // 4 ms pole, floored at one sample
  double limitReleaseDeep = 0.0;           // 60 ms pole, floored at one sample
  double sampleRate = 48000.0;             // for the depth-dependent release
};

// What the limiters hand on to the band mix in the same frame.
//   makeupUpdate     true on the frame the make-up counter wrapped; per frame; reset false
//   bandPeak         this frame's reference peak of bands 0..2 plus 1e-7; per frame; reset 0
struct BandLimitersOutput {
  bool makeupUpdate = false;
  double bandPeak[kMakeupBands] = {};
};

// Run-time state.
//   out              the values above
//   frameCounter     frames since the last make-up update, 0..15; per frame; reset 0
//   reductionHold    peak ratio before/after the band gain since the last update (linear,
//                    bands 0..2); per frame, cleared every 16 frames; reset 1
//   makeupDb         smoothed make-up in dB (bands 0..2); every 16 frames; reset 0
//   bandMakeupGain   linear of makeupDb; every 16 frames; reset 1
//   bandReductionDb  limiter reduction in dB per band, 0 at rest; per frame; reset 0
//   bandLimitGain    limiter gain per band (linear); per frame; reset 1
struct BandLimitersState {
  BandLimitersOutput out;
  std::int32_t frameCounter = 0;
  double reductionHold[kMakeupBands] = {1.0, 1.0, 1.0};
  double makeupDb[kMakeupBands] = {};
  double bandMakeupGain[kMakeupBands] = {1.0, 1.0, 1.0};
  double bandReductionDb[kBands] = {};
  double bandLimitGain[kBands] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
};

void deriveBandLimiters(BandLimitersParams& p, const DeriveInputs& in);
void resetBandLimiters(BandLimitersState& s, const BandLimitersParams& p);
// Does nothing unless the stream band dynamics are on. Multiplies the gained
// bands 0..2 by their make-up and writes limitedBand; outs receives each
// frame's make-up flag and reference peaks (the last also stays in s.out).
void runBandLimiters(const BandLimitersParams& p, BandLimitersState& s, BandSignals* bands,
                     BandLimitersOutput* outs, int frames);

}  // namespace vantle
