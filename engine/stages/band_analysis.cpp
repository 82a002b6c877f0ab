#include "engine/stages/band_analysis.h"

namespace vantle {

void deriveBandAnalysis(BandAnalysisParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBandAnalysis(BandAnalysisState& s, const BandAnalysisParams& p) {
  (void)s;
  (void)p;
}

}  // namespace vantle
