#include "engine/stages/input_stage.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

// Pairs of all-pass sections per mode, before rounding.
double rotatorVoicing(ProcessingMode mode) {
  switch (mode) {
    case ProcessingMode::podcast:
      return 3.0;
    case ProcessingMode::stream:
      return 5.0;
    case ProcessingMode::limiter:
      break;
  }
  return 0.0;
}

// Non-finite samples and magnitudes of 1e12 or more become silence before they
// can reach any filter memory. One comparison catches NaN, infinities and
// absurd values alike.
double sanitise(float x) {
  const double v = x;
  return std::fabs(v) < 1e12 ? v : 0.0;
}

// Chain of first-order all-passes (a + z^-1) / (1 + a z^-1) over a block of
// frames, section by section, both channels side by side: each lane does
// what a lone channel would, and a section's memories stay in registers for
// the block.
void rotateBlock(const InputStageParams& p, InputStageState& s, double* left, double* right,
                 int frames) {
  DoublePair y[kChainBlock];
  for (int n = 0; n < frames; ++n) y[n] = DoublePair{left[n], right[n]};
  for (int i = 0; i < p.rotatorSections; ++i) {
    const double a = p.rotatorCoefs[i];
    RotatorMemory& mL = s.rotatorState[0][i];
    RotatorMemory& mR = s.rotatorState[1][i];
    DoublePair previousIn = {mL.previousIn, mR.previousIn};
    DoublePair previousOut = {mL.previousOut, mR.previousOut};
    for (int n = 0; n < frames; ++n) {
      const DoublePair out = a * y[n] + previousIn - a * previousOut;
      previousIn = y[n];
      previousOut = out;
      y[n] = out;
    }
    mL = RotatorMemory{previousIn[0], previousOut[0]};
    mR = RotatorMemory{previousIn[1], previousOut[1]};
  }
  for (int n = 0; n < frames; ++n) {
    storePair(y[n], left[n], right[n]);
  }
}

}  // namespace

void clearRotator(InputStageState& s) {
  for (auto& channel : s.rotatorState) {
    for (RotatorMemory& m : channel) m = RotatorMemory{};
  }
}

void deriveInputStage(InputStageParams& p, InputStageState& s, const DeriveInputs& in) {
  const bool stream = in.mode == ProcessingMode::stream;
  // A stored gain that is not a number gets the lowest gain.
  p.inputGain = dbToLinear(clampToOrLow(in.inputGainDb, kMinInputGainDb, kMaxInputGainDb));
  p.streamLowCut = stream;
  p.lowCutEnabled = in.mode == ProcessingMode::podcast ? 1 : 0;
  p.lowCutCoef = onePoleCoef(stream ? 42.5 : 20.0, in.fs);
  p.lowCutDepth = stream ? ramp(in.d, 0.5, 0.3) : 0.0;

  const double pairs = clampTo(rotatorVoicing(in.mode), 0.0, 6.0);
  const auto sections = static_cast<std::int32_t>(2.0 * std::floor(pairs + 0.5));
  if (sections != p.rotatorSections) {
    clearRotator(s);
    p.rotatorSections = sections;
  }
  for (int i = 0; i < kRotatorSections; ++i) {
    const double t = tangent(kPi * minOf(kRotatorCorners[i], 0.45 * in.fs) / in.fs);
    p.rotatorCoefs[i] = (t - 1.0) / (t + 1.0);
  }
}

void resetInputStage(InputStageState& s, const InputStageParams& p) {
  (void)p;
  s = InputStageState{};
}

namespace {

// One frame of the stage up to the all-passes.
void stepFrame(const InputStageParams& p, InputStageState& s, InputFeed& feed, float inL, float inR,
               double& rawL, double& rawR, double& outL, double& outR) {
  rawL = sanitise(inL);
  rawR = sanitise(inR);
  const double xL = p.inputGain * rawL;
  const double xR = p.inputGain * rawR;
  double yL = xL;
  double yR = xR;
  double& sL = s.lowCutState[0];
  double& sR = s.lowCutState[1];
  feed = InputFeed{};
  if (p.streamLowCut) {
    // The low-pass always runs, so the analysis sees the low content whatever
    // share of it adapt takes off.
    onePole(sL, xL, p.lowCutCoef);
    onePole(sR, xR, p.lowCutCoef);
    yL = xL - p.lowCutDepth * sL;
    yR = xR - p.lowCutDepth * sR;
    feed = InputFeed{true, 0.5 * (sL * sL + sR * sR), 0.5 * (xL * xL + xR * xR)};
  } else if (p.lowCutEnabled == 1) {
    onePole(sL, xL, p.lowCutCoef);
    onePole(sR, xR, p.lowCutCoef);
    yL = xL - sL;
    yR = xR - sR;
  }
  outL = yL;
  outR = yR;
}

}  // namespace

void runInputStage(const InputStageParams& p, InputStageState& s, const float* inLeft,
                   const float* inRight, double* rawLeft, double* rawRight, double* left,
                   double* right, InputFeed* feeds, int frames) {
  forEachChainBlock(frames, [&](int first, int count) {
    for (int i = first; i < first + count; ++i) {
      stepFrame(p, s, feeds[i], inLeft[i], inRight[i], rawLeft[i], rawRight[i], left[i], right[i]);
    }
    rotateBlock(p, s, left + first, right + first, count);
  });
}

}  // namespace vantle
