#include "engine/stages/lookahead_limiter.h"

#include <cmath>

#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/minmax.h"

namespace vantle {

void deriveLookaheadLimiter(LookaheadLimiterParams& p, const DeriveInputs& in) {
  const double fs = in.fs;
  // Both frame counts are rounded from the products as written (0.35 x fs, not
  // 350 x fs / 1000), which decides the last frame at some rates.
  const double length = std::floor(0.01 * fs + 0.5);
  p.lookaheadLength = in.mode == ProcessingMode::limiter
                          ? static_cast<std::int32_t>(minOf(double{kLookaheadMask}, length))
                          : 0;
  p.primingLimit = static_cast<std::int32_t>(std::floor(0.35 * fs + 0.5));
  p.primingThreshold = dbToLinear(-70.0);
  p.rawLevelAttack = timePole(0.006, fs);
  p.rawLevelRelease = timePole(0.32, fs);
  p.ceilingAttack = timePole(0.010, fs);
  p.ceilingRelease = timePole(0.15, fs);
  p.limiterCeiling = dbToLinear(-6.2);
  p.limiterFloor = dbToLinear(-3.6);
}

void resetLookaheadLimiter(LookaheadLimiterState& s, const LookaheadLimiterParams& p) {
  (void)p;
  fillBlock(s.lookaheadLeft, 0.0);
  fillBlock(s.lookaheadRight, 0.0);
  s.lookaheadPosition = 0;
  s.primingActive = 1;
  s.primingCount = 0;
  s.rawLevel = 0.0;
  s.processedLevel = 0.0;
  s.ceilingLevel = 0.0;
  s.limiterGain = 1.0;
}

namespace {

// One frame of the stage.
void stepFrame(const LookaheadLimiterParams& p, LookaheadLimiterState& s, double rawL, double rawR,
               double& left, double& right) {
  if (p.lookaheadLength < 1) {
    // Bypassed: keep priming armed so that limiter mode starts clean.
    s.limiterGain = 1.0;
    s.primingActive = 1;
    s.primingCount = 0;
    return;
  }
  const double inL = left;
  const double inR = right;
  const double rawPeak = stereoPeak(rawL, rawR);
  const double peak = stereoPeak(inL, inR);

  if (s.primingActive >= 1) {
    // The first audible frame after a reset fills the whole delay line, so the
    // output starts at programme level instead of fading in from silence.
    if (maxOf(peak, rawPeak) > p.primingThreshold) {
      if (s.primingCount < p.primingLimit) {
        fillBlock(s.lookaheadLeft, inL);
        fillBlock(s.lookaheadRight, inR);
        s.lookaheadPosition = 0;
        s.processedLevel = maxOf(peak, 1e-6);
        s.ceilingLevel = s.processedLevel;
        s.rawLevel = maxOf(rawPeak, 1e-6);
        s.limiterGain = 1.0;
      }
      s.primingActive = 0;
    } else {
      s.primingCount += 1;
      if (s.primingCount >= p.primingLimit) s.primingActive = 0;
    }
  }

  s.rawLevel = follow(s.rawLevel, rawPeak, p.rawLevelAttack, p.rawLevelRelease);
  s.processedLevel = follow(s.processedLevel, peak, p.rawLevelAttack, p.rawLevelRelease);
  // Only what the chain added on top of the raw input counts: nothing up to
  // 3 dB louder, full weight from 12 dB on. Well below 3 dB (a ratio under
  // 1.4, where 3 dB is 1.4125) the weight is 0 without a division or a
  // logarithm: in limiter mode nothing before this stage lifts the level.
  const double rawLevel = maxOf(s.rawLevel, 1e-6);
  double excess = 0.0;
  if (!(s.processedLevel <= 1.4 * rawLevel)) {
    const double ratio = s.processedLevel / rawLevel;
    excess = clampTo((linearToDb(maxOf(1e-7, ratio)) - 3.0) / 9.0, 0.0, 1.0);
  }
  s.ceilingLevel = follow(s.ceilingLevel, peak, p.ceilingAttack, p.ceilingRelease);
  double ceilingGain = 1.0;
  if (s.ceilingLevel > p.limiterCeiling) {
    ceilingGain = p.limiterCeiling / maxOf(1e-6, s.ceilingLevel);
  }
  ceilingGain = clampTo(ceilingGain, p.limiterFloor, 1.0);
  const double target = 1.0 - (1.0 - ceilingGain) * excess;
  s.limiterGain =
      glide(s.limiterGain, target, s.limiterGain > target ? p.ceilingAttack : p.ceilingRelease);

  int read = s.lookaheadPosition - p.lookaheadLength;
  if (read < 0) read += kLookaheadRing;
  const double dL = s.lookaheadLeft[read];
  const double dR = s.lookaheadRight[read];
  s.lookaheadLeft[s.lookaheadPosition] = inL;
  s.lookaheadRight[s.lookaheadPosition] = inR;
  s.lookaheadPosition = (s.lookaheadPosition + 1) & kLookaheadMask;
  left = dL * s.limiterGain;
  right = dR * s.limiterGain;
}

}  // namespace

void runLookaheadLimiter(const LookaheadLimiterParams& p, LookaheadLimiterState& s,
                         const double* rawLeft, const double* rawRight, double* left, double* right,
                         int frames) {
  for (int i = 0; i < frames; ++i) stepFrame(p, s, rawLeft[i], rawRight[i], left[i], right[i]);
}

}  // namespace vantle
