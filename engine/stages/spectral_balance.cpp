#include "engine/stages/spectral_balance.h"

namespace vantle {

void deriveSpectralBalance(SpectralBalanceParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetSpectralBalance(SpectralBalanceState& s, const SpectralBalanceParams& p) {
  (void)s;
  (void)p;
}

void runSpectralBalance(const SpectralBalanceParams& p, SpectralBalanceState& s, BandSignals& bands) {
  (void)p; (void)s;
  for (int c = 0; c < kChannels; ++c)
    for (int k = 0; k < kBands; ++k) {
      double& v = bands.mixedBand[c][k];
      v = v;
    }
}

}  // namespace vantle
