#include "engine/stages/input_stage.h"

namespace vantle {

void deriveInputStage(InputStageParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetInputStage(InputStageState& s, const InputStageParams& p) {
  (void)s;
  (void)p;
}

void runInputStage(const InputStageParams& p, InputStageState& s, float inL, float inR, double& rawL, double& rawR, double& outL, double& outR) {
  (void)p; (void)s;
  rawL = inL; rawR = inR;
  outL = rawL; outR = rawR;
}

}  // namespace vantle
