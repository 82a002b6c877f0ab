#include "engine/processor.h"

#include <cmath>

#include "engine/dsp/conversions.h"
#include "engine/dsp/denormals.h"

namespace vantle {

namespace {

double defaultInputGainDb(ProcessingMode mode) {
  return mode == ProcessingMode::podcast ? 3.5 : 0.0;
}

}  // namespace

Processor::Processor() = default;

void Processor::setSampleRate(double rate) {
  if (!std::isfinite(rate) || rate < kMinSampleRate || rate > kMaxSampleRate) rate = 48000.0;
  sampleRate = rate;
  lastAppliedMode = -1;
  derive();
  reset();
  configured = true;
}

ProcessorSettings Processor::defaultSettings(ProcessingMode mode) {
  return ProcessorSettings{mode, defaultInputGainDb(mode), 0.0};
}

void Processor::applySettings(const ProcessorSettings& s) {
  const ProcessingMode previous = settings.mode;
  settings.mode = s.mode;
  settings.inputGainDb = s.inputGainDb;
  // Comparisons are written so that a value that is not a number passes
  // unchanged; the derivation repairs it.
  settings.adapt = s.adapt < 0.0 ? 0.0 : (s.adapt > 100.0 ? 100.0 : s.adapt);
  if (settings.inputGainDb < kMinInputGainDb) settings.inputGainDb = kMinInputGainDb;
  if (settings.inputGainDb > kMaxInputGainDb) settings.inputGainDb = kMaxInputGainDb;
  if (lastAppliedMode >= 0 && previous != settings.mode) {
    settings.inputGainDb = defaultInputGainDb(settings.mode);
    reset();
  }
  derive();
  lastAppliedMode = static_cast<std::int32_t>(settings.mode);
}

void Processor::derive() {
  DeriveInputs in{settings.mode, sampleRate, adaptFraction(settings.adapt), settings.inputGainDb,
                  kOutputCeiling};
  params.d = in.d;
  deriveInputStage(params.input, state.input, in);
  deriveGainRider(params.rider, in);
  deriveLookaheadLimiter(params.lookahead, in);
  deriveLowEndShaper(params.lowEnd, state.lowEnd, in);
  deriveDriveClipper(params.drive, in);
  deriveBandSplit(params.split, in);
  deriveBandGains(
      params.bandGains, in,
      NeighbourVoicing{params.rider.releaseFactor, params.split.bandTrimDb, params.lowEnd.bumpDb});
  deriveBandLimiters(params.bandLimiters, in);
  deriveBandAnalysis(params.analysis, state.analysis, in, params.lowEnd.levellerAmount,
                     params.lowEnd.bandAnalysisMix);
  deriveBandMix(params.bandMix, in);
  deriveSpectralBalance(params.balance, in, params.bandLimiters.streamBandDynamics,
                        params.bandMix.clipMakeupScale, params.bandMix.upperBalanceScale);
  deriveBandSum(params.bandSum, in);
  deriveBusShaping(params.bus, in);
  deriveOutputControl(params.output, in);
  deriveClipRepair(params.repair, in);
  deriveTruePeakLimiter(params.truePeak, in);
  deriveLoadFeedback(params.load, in);
  seedLoadTargets(params.load, state.load, state.rider.riderTarget, params.output.outputGainTarget);
}

void Processor::reset() {
  resetInputStage(state.input, params.input);
  resetGainRider(state.rider, params.rider);
  resetLookaheadLimiter(state.lookahead, params.lookahead);
  resetLowEndShaper(state.lowEnd, params.lowEnd);
  resetDriveClipper(state.drive, params.drive);
  resetBandSplit(state.split, params.split);
  resetBandGains(state.bandGains, params.bandGains);
  resetBandLimiters(state.bandLimiters, params.bandLimiters);
  resetBandAnalysis(state.analysis, params.analysis);
  resetBandMix(state.bandMix, params.bandMix);
  resetSpectralBalance(state.balance, params.balance);
  resetBandSum(state.bandSum, params.bandSum);
  resetBusShaping(state.bus, params.bus);
  resetOutputControl(state.output, params.output);
  resetClipRepair(state.repair, params.repair);
  resetTruePeakLimiter(state.truePeak, params.truePeak);
  resetLoadFeedback(state.load, params.load, state.rider.riderTarget);
  bands = BandSignals{};
}

void Processor::processBuffer(float* buffer, std::int64_t frames, int channels) {
  if (buffer == nullptr || channels <= 0) return;
  const FlushDenormalsScope flush;
  for (std::int64_t f = 0; f < frames; ++f) {
    float* frame = buffer + f * channels;
    const float left = frame[0];
    const float right = channels >= 2 ? frame[1] : left;
    const StereoFrame out = runChain(left, right);
    frame[0] = out.left;
    if (channels >= 2) frame[1] = out.right;
    for (int c = 2; c < channels; ++c) frame[c] = 0.0f;
  }
}

StereoFrame Processor::processFrame(float inL, float inR) {
  const FlushDenormalsScope flush;
  return runChain(inL, inR);
}

StereoFrame Processor::runChain(float inL, float inR) {
  if (!configured) return StereoFrame{0.0f, 0.0f};
  double rawL = 0.0;
  double rawR = 0.0;
  double l = 0.0;
  double r = 0.0;

  runInputStage(params.input, state.input, state.analysis.feeds, inL, inR, rawL, rawR, l, r);

  runGainRider(params.rider, state.rider, l, r);

  runLookaheadLimiter(params.lookahead, state.lookahead, rawL, rawR, l, r);

  runLowEndShaper(params.lowEnd, state.lowEnd, params.analysis, state.analysis,
                  state.load.reductionPressure, l, r);

  runDriveClipper(params.drive, state.drive, l, r);

  runBandSplit(params.split, state.split, params.lowEnd.bandAnalysisMix, l, r, bands,
               state.analysis.feeds);

  runBandGains(
      params.bandGains, state.bandGains,
      RiderRelease{state.rider.silenceGate, state.rider.resumeAmount, params.rider.resumeStrength,
                   params.rider.resumeRecovery, params.rider.releaseShaping},
      bands);

  runBandLimiters(params.bandLimiters, state.bandLimiters, bands);

  runBandMix(params.bandMix, state.bandMix, params.bandLimiters.streamBandDynamics,
             state.bandLimiters.makeupUpdate, state.bandLimiters.bandPeak, bands);

  runSpectralBalance(params.balance, state.balance, bands);

  runBandSum(params.bandSum, state.bandSum, bands, l, r);

  runBusShaping(params.bus, state.bus, l, r);

  runOutputControl(params.output, state.output, l, r);

  if (params.repair.repairDelay >= 1) {
    runClipRepair(params.repair, state.repair, state.output.outputGain, l, r);
  }

  bool loadBlockDue = false;
  const StereoFrame out = runTruePeakLimiter(params.truePeak, state.truePeak, l, r, loadBlockDue);
  if (loadBlockDue) {
    const LoadFeedbackInputs watched{
        state.output.peakLevel,     params.output.densityDepth,   state.output.boostGuardGain,
        state.output.peakLimitGain, params.output.limitDepth,     state.repair.repairGain,
        params.repair.repairAmount, state.truePeak.tpGain,        state.rider.silenceHold,
        state.rider.inputPeakHold,  params.rider.silenceThreshold};
    runLoadFeedback(params.load, state.load, watched, state.rider.riderTarget,
                    params.output.outputGainTarget);
  }
  return out;
}

}  // namespace vantle
