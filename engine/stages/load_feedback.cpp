#include "engine/stages/load_feedback.h"

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"

namespace vantle {

namespace {

inline double pressureOf(double loadDb) { return clampTo(loadDb / 0.6, 0.0, 1.0); }

// Both targets follow from the load and the lift: the output gain loses
// 0.9 dB and the rider target 0.35 dB per dB of load.
void writeTargets(const LoadFeedbackParams& p, const LoadFeedbackState& s, double& riderTarget,
                  double& outputGainTarget) {
  const double outDb = -(0.9 * s.loadDb + p.outputLevelOffset);
  outputGainTarget = dbToLinear(outDb > 0.0 ? outDb : 0.0);
  riderTarget = dbToLinear(s.riderLiftDb + p.riderTargetBaseDb - 0.35 * s.loadDb);
}

}  // namespace

void deriveLoadFeedback(LoadFeedbackParams& p, const DeriveInputs& in) {
  const double d = in.d;
  const double k = streamVoicing(d);
  const double fs = in.fs;
  p.outputCeiling = in.outputCeiling;
  double offset = 0.0;
  switch (in.mode) {
    case ProcessingMode::stream:
      p.loadDepth = k;
      p.riderLift = 3.0 * k;
      offset = -0.8 - 0.6 * k;
      break;
    case ProcessingMode::limiter:
      p.loadDepth = 0.0;
      p.riderLift = 0.0;
      offset = -2.0 - d;
      break;
    default:
      p.loadDepth = 0.0;
      p.riderLift = 0.0;
      offset = -1.5;
      break;
  }
  p.outputLevelOffset = clampTo(offset, -24.0, 6.0);
  p.riderTargetBaseDb = -17.0;
  p.riderLiftRise = blockPole(6.0, fs, kLoadBlock);
  p.riderLiftFall = blockPole(1.5, fs, kLoadBlock);
  p.loadRise = blockPole(1.8, fs, kLoadBlock);
  p.loadFall = blockPole(8.0, fs, kLoadBlock);
}

void resetLoadFeedback(LoadFeedbackState& s, const LoadFeedbackParams& p, double& riderTarget) {
  s.reductionPressure = 0.0;
  s.loadDb = 0.0;
  s.riderLiftDb = 0.0;
  riderTarget = dbToLinear(p.riderTargetBaseDb);
}

void seedLoadTargets(const LoadFeedbackParams& p, LoadFeedbackState& s, double& riderTarget,
                     double& outputGainTarget) {
  if (p.loadDepth <= 1e-7) s.loadDb = 0.0;
  const double load = s.loadDb > 0.0 ? s.loadDb : 0.0;
  const double loadCap = 2.0 * p.loadDepth;
  s.loadDb = load < loadCap ? load : loadCap;
  s.reductionPressure = pressureOf(s.loadDb);
  const double lift = s.riderLiftDb > 0.0 ? s.riderLiftDb : 0.0;
  s.riderLiftDb = lift < p.riderLift ? lift : p.riderLift;
  writeTargets(p, s, riderTarget, outputGainTarget);
}

void runLoadFeedback(const LoadFeedbackParams& p, LoadFeedbackState& s,
                     const LoadFeedbackInputs& in, double& riderTarget, double& outputGainTarget) {
  const double c = p.outputCeiling;
  // Product of every reduction the final stages hold right now.
  const double e = (in.peakLevel - 0.55 * c) / (0.35 * c > 1e-6 ? 0.35 * c : 1e-6);
  const double over = e > 0.0 ? (e < 1.0 ? e : 1.0) : 0.0;
  const double dens = dbToLinear(-2.0 * in.densityDepth * over);
  double z = dens * in.boostGuardGain * (1.0 - (1.0 - in.peakLimitGain) * in.limitDepth) *
             (1.0 - (1.0 - in.repairGain) * in.repairAmount) * in.tpGain;
  z = z > 1e-6 ? (z < 1.0 ? z : 1.0) : 1e-6;

  // The lift moves only while programme is present; otherwise it holds.
  const bool present = in.silenceHold < 0.5 && in.inputPeakHold >= in.silenceThreshold;
  const double liftTarget = present ? p.riderLift : s.riderLiftDb;
  s.riderLiftDb = glide(s.riderLiftDb, liftTarget,
                        liftTarget > s.riderLiftDb ? p.riderLiftRise : p.riderLiftFall);

  const double loss = -linearToDb(z > 1e-7 ? z : 1e-7);
  const double lossDb = loss > 0.0 ? loss : 0.0;
  const double t = clampTo((lossDb - 0.6) * 0.8, 0.0, 2.0) * p.loadDepth;
  s.loadDb = glide(s.loadDb, t, t > s.loadDb ? p.loadRise : p.loadFall);
  s.reductionPressure = pressureOf(s.loadDb);

  writeTargets(p, s, riderTarget, outputGainTarget);
}

}  // namespace vantle
