#include "engine/stages/load_feedback.h"

namespace vantle {

void deriveLoadFeedback(LoadFeedbackParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetLoadFeedback(LoadFeedbackState& s, const LoadFeedbackParams& p) {
  (void)s;
  (void)p;
}

}  // namespace vantle
