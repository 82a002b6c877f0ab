#include "engine/stages/band_gains.h"

namespace vantle {

void deriveBandGains(BandGainsParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBandGains(BandGainsState& s, const BandGainsParams& p) {
  (void)s;
  (void)p;
}

void runBandGains(const BandGainsParams& p, BandGainsState& s, BandSignals& bands) {
  (void)p; (void)s;
  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kBands; ++k) {
      double& v = bands.gainedBand[c][k];
      v = bands.bandSignal[c][k];
    }
}

}  // namespace vantle
