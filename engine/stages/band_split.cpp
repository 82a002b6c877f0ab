#include "engine/stages/band_split.h"

namespace vantle {

void deriveBandSplit(BandSplitParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBandSplit(BandSplitState& s, const BandSplitParams& p) {
  (void)s;
  (void)p;
}

void runBandSplit(const BandSplitParams& p, BandSplitState& s, double left, double right,
                  BandSignals& bands) {
  (void)p;
  (void)s;
  for (int k = 0; k < kBands; ++k) bands.bandSignal[0][k] = bands.bandSignal[1][k] = 0.0;
  bands.bandSignal[0][0] = left;
  bands.bandSignal[1][0] = right;
}

}  // namespace vantle
