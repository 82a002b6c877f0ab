#include "engine/stages/band_limiters.h"

namespace vantle {

void deriveBandLimiters(BandLimitersParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBandLimiters(BandLimitersState& s, const BandLimitersParams& p) {
  (void)s;
  (void)p;
}

void runBandLimiters(const BandLimitersParams& p, BandLimitersState& s, BandSignals& bands) {
  (void)p; (void)s;
  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kBands; ++k) {
      double& v = bands.limitedBand[c][k];
      v = bands.gainedBand[c][k];
    }
}

}  // namespace vantle
