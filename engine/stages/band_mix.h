// Band clipping and band mix: above adapt 50 in stream mode each limited band
// is soft-clipped, the low bands' clipping is made up slowly, and the result
// is cross-faded with the gained band; otherwise the gained bands pass on.
#pragma once

#include "engine/bands.h"
#include "engine/settings.h"
#include "engine/stages/band_limiters.h"

namespace vantle {

// Derived parameters (written by the derivation only). Outside stream mode
// every value is neutral.
struct BandMixParams {
  bool streamBandDynamics = false;      // off: the mix passes the gained bands through
  double bandClipCeiling[kBands] = {};  // linear of each band's limiter threshold
  double presenceClipTrim = 1.0;        // on bands 3 and 4 before their clipper
  double airClipTrim = 1.0;             // on band 5 before its clipper
  double clipMakeupScale = 0.0;         // H, also voices the spectral balance
  double upperBalanceScale = 0.0;       // V, also voices the spectral balance
  double bandMixWet = 0.0;              // share of the clipped band
  double bandMixDry = 1.0;              // share of the gained band
  double clippedBandGain = 1.0;
  double clipMakeupRise = 0.0;  // make-up step towards a higher target, per 16 frames
  double clipMakeupFall = 0.0;  // make-up step towards a lower target, per 16 frames
};

// Run-time state.
//   clipRatioPeak   bands 0..2: largest reference peak / clipped peak since the last
//                   make-up update (linear); per frame, cleared every 16 frames; reset 1
//   clipMakeupDb    bands 0..2: smoothed make-up in dB; every 16 frames; reset 0
//   clipMakeupGain  bands 0..2: linear of clipMakeupDb; every 16 frames; reset 1
struct BandMixState {
  double clipRatioPeak[kMakeupBands] = {1.0, 1.0, 1.0};
  double clipMakeupDb[kMakeupBands] = {};
  double clipMakeupGain[kMakeupBands] = {1.0, 1.0, 1.0};
};

void deriveBandMix(BandMixParams& p, const DeriveInputs& in);
void resetBandMix(BandMixState& s, const BandMixParams& p);
// Writes mixedBand. With the stream band dynamics off it is gainedBand, bit for
// bit, and no state moves; otherwise it reads limitedBand and the limiters'
// reference peaks and update flag of the same frame.
void runBandMix(const BandMixParams& p, BandMixState& s, const BandLimitersOutput* limiters,
                BandSignals* bands, int frames);

}  // namespace vantle
