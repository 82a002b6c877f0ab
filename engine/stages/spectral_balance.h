// Spectral balance of the bands against the mids.
#pragma once

#include <cstdint>

#include "engine/bands.h"
#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct SpectralBalanceParams {
  bool enabled = false;             // the stream band dynamics are on
  double clipMakeupScale = 0.0;     // H of the band mix: scales the targets of bands 0..3
  double upperBalanceScale = 0.0;   // V of the band mix: scales the targets of bands 4 and 5
  double balancePowerSmooth = 0.0;  // per 32-frame block, tau 2.4 s
  double balanceGainSmooth = 0.0;   // per 32-frame block, tau 0.9 s
  double presenceDb = 0.0;          // P, the presence lift of presenceAirVoicing, dB
  double airDb = 0.0;               // A, the air lift of presenceAirVoicing, dB
  double presenceAim = 0.0;         // 0.24 x P (clamped to +-6) - 2.2: level band 4 aims at, dB
  double airAim = 0.0;              // 0.26 x A (clamped to +-6) - 4.6: level band 5 aims at, dB
  double presenceTrim = 1.0;        // band 3, linear
  double presenceTrimHigh = 1.0;    // band 4, linear
  double airTrim = 1.0;             // band 5, linear
};

// Run-time state, moved only while the stream band dynamics are on. Reset
// values in brackets.
//   balanceFrameCount   frames into the 32-frame block, 0..31 [0]
//   balanceAccum[k]     block sum of 0.5 (left^2 + right^2), frame [0]
//   balancePower[k]     smoothed block mean power, every 32 frames [0]
//   balanceDb[k]        smoothed band gain, dB, every 32 frames [0]
//   balanceGain[k]      linear of balanceDb, every 32 frames [1]
struct SpectralBalanceState {
  std::int32_t balanceFrameCount = 0;
  double balanceAccum[kBands] = {};
  double balancePower[kBands] = {};
  double balanceDb[kBands] = {};
  double balanceGain[kBands] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
};

// Reads the stream-dynamics switch and the band mix's scales H and V, which
// are derived before this stage.
void deriveSpectralBalance(SpectralBalanceParams& p, const DeriveInputs& in,
                           bool streamBandDynamics, double clipMakeupScale,
                           double upperBalanceScale);
void resetSpectralBalance(SpectralBalanceState& s, const SpectralBalanceParams& p);
// Balances mixedBand in place; a pass-through while the stream band dynamics are off.
void runSpectralBalance(const SpectralBalanceParams& p, SpectralBalanceState& s, BandSignals* bands,
                        int frames);

}  // namespace vantle
