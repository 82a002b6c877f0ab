#include "engine/stages/band_sum.h"

namespace vantle {

void deriveBandSum(BandSumParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBandSum(BandSumState& s, const BandSumParams& p) {
  (void)s;
  (void)p;
}

void runBandSum(const BandSumParams& p, BandSumState& s, const BandSignals& bands, double& left,
                double& right) {
  (void)p;
  (void)s;
  left = right = 0.0;
  for (int k = 0; k < kBands; ++k) {
    left += bands.mixedBand[0][k];
    right += bands.mixedBand[1][k];
  }
}

}  // namespace vantle
