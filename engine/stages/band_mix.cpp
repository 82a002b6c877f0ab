#include "engine/stages/band_mix.h"

namespace vantle {

void deriveBandMix(BandMixParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBandMix(BandMixState& s, const BandMixParams& p) {
  (void)s;
  (void)p;
}

void runBandMix(const BandMixParams& p, BandMixState& s, BandSignals& bands) {
  (void)p; (void)s;
  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kBands; ++k) {
      double& v = bands.mixedBand[c][k];
      v = bands.limitedBand[c][k];
    }
}

}  // namespace vantle
