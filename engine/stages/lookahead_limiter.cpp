#include "engine/stages/lookahead_limiter.h"

namespace vantle {

void deriveLookaheadLimiter(LookaheadLimiterParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetLookaheadLimiter(LookaheadLimiterState& s, const LookaheadLimiterParams& p) {
  (void)s;
  (void)p;
}

void runLookaheadLimiter(const LookaheadLimiterParams& p, LookaheadLimiterState& s, double& left, double& right) {
  (void)p; (void)s; (void)left; (void)right;
}

}  // namespace vantle
