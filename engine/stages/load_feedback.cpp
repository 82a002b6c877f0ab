#include "engine/stages/load_feedback.h"

#include "engine/dsp/block_rates.h"
#include "engine/dsp/clamp.h"
#include "engine/dsp/conversions.h"
#include "engine/stages/gain_rider.h"
#include "engine/stages/output_control.h"

namespace vantle {

namespace {

inline double pressureOf(double loadDb) { return clampTo(loadDb / 0.6, 0.0, 1.0); }

// Both targets follow from the load and the lift: the output gain loses
// 0.9 dB and the rider target 0.35 dB per dB of load.
void writeTargets(const LoadFeedbackParams& p, const LoadFeedbackState& s, LoadTargets& targets) {
  targets.outputGainTarget = outputGainTargetFor(s.loadDb, p.outputLevelOffset);
  targets.riderTarget = dbToLinear(s.riderLiftDb + kRiderTargetDb - 0.35 * s.loadDb);
}

}  // namespace

void deriveLoadFeedback(LoadFeedbackParams& p, const DeriveInputs& in, const WatchedVoicing& w) {
  const double k = streamVoicing(in.d);
  const double fs = in.fs;
  const bool stream = in.mode == ProcessingMode::stream;
  p.loadDepth = stream ? k : 0.0;
  p.riderLift = stream ? 3.0 * k : 0.0;
  p.outputLevelOffset = outputLevelOffsetDb(in.mode, in.d);
  p.riderLiftRise = blockPole(6.0, fs, kLoadBlock);
  p.riderLiftFall = blockPole(1.5, fs, kLoadBlock);
  p.loadRise = blockPole(1.8, fs, kLoadBlock);
  p.loadFall = blockPole(8.0, fs, kLoadBlock);
  p.watched = w;
}

void resetLoadFeedback(LoadFeedbackState& s, const LoadFeedbackParams& p, LoadTargets& targets) {
  (void)p;
  s = LoadFeedbackState{};
  targets.reductionPressure = 0.0;
  targets.riderTarget = dbToLinear(kRiderTargetDb);
}

void seedLoadTargets(const LoadFeedbackParams& p, LoadFeedbackState& s, LoadTargets& targets) {
  if (p.loadDepth <= 1e-7) s.loadDb = 0.0;
  const double load = s.loadDb > 0.0 ? s.loadDb : 0.0;
  const double loadCap = 2.0 * p.loadDepth;
  s.loadDb = load < loadCap ? load : loadCap;
  targets.reductionPressure = pressureOf(s.loadDb);
  const double lift = s.riderLiftDb > 0.0 ? s.riderLiftDb : 0.0;
  s.riderLiftDb = lift < p.riderLift ? lift : p.riderLift;
  writeTargets(p, s, targets);
}

void runLoadFeedback(const LoadFeedbackParams& p, LoadFeedbackState& s,
                     const LoadFeedbackInputs& in, LoadTargets& targets) {
  const WatchedVoicing& w = p.watched;
  // Product of every reduction the final stages hold right now.
  const double dens = densityGain(in.peakLevel, w.densityStart, w.densityRange, w.densityDepth);
  double z = dens * in.boostGuardGain * (1.0 - (1.0 - in.peakLimitGain) * w.limitDepth) *
             (1.0 - (1.0 - in.repairGain) * w.repairAmount) * in.tpGain;
  z = z > 1e-6 ? (z < 1.0 ? z : 1.0) : 1e-6;

  // The lift moves only while programme is present; otherwise it holds.
  const bool present = in.silenceHold < 0.5 && in.inputPeakHold >= w.silenceThreshold;
  const double liftTarget = present ? p.riderLift : s.riderLiftDb;
  s.riderLiftDb = glide(s.riderLiftDb, liftTarget,
                        liftTarget > s.riderLiftDb ? p.riderLiftRise : p.riderLiftFall);

  const double loss = -linearToDb(z > 1e-7 ? z : 1e-7);
  const double lossDb = loss > 0.0 ? loss : 0.0;
  const double t = clampTo((lossDb - 0.6) * 0.8, 0.0, 2.0) * p.loadDepth;
  s.loadDb = glide(s.loadDb, t, t > s.loadDb ? p.loadRise : p.loadFall);
  targets.reductionPressure = pressureOf(s.loadDb);

  writeTargets(p, s, targets);
}

}  // namespace vantle
