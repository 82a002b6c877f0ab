#include "engine/stages/band_analysis.h"

namespace vantle {

void deriveBandAnalysis(BandAnalysisParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetBandAnalysis(BandAnalysisState& s, const BandAnalysisParams& p) {
  (void)p;
  s = BandAnalysisState{};
}

void lowEndAnalysis(const BandAnalysisParams& p, BandAnalysisState& s, double reductionPressure,
                    double pL, double pR, double eL, double eR, double& oL, double& oR) {
  (void)p;
  (void)s;
  (void)reductionPressure;
  (void)pL;
  (void)pR;
  oL = eL;
  oR = eR;
}

}  // namespace vantle
