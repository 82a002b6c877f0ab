#include "engine/processor.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
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
  DerivedParams& p = params;
  deriveInputStage(p.input, state.input, in);
  deriveGainRider(p.rider, in);
  deriveLookaheadLimiter(p.lookahead, in);
  deriveLowEndShaper(p.lowEnd, state.lowEnd, in);
  deriveDriveClipper(p.drive, in);
  deriveBandSplit(p.split, in, p.lowEnd.bandAnalysisMix);
  deriveBandGains(
      p.bandGains, in,
      NeighbourVoicing{p.rider.releaseFactor, p.rider.resumeStrength, p.rider.resumeRecovery,
                       p.rider.releaseShaping, p.split.bandTrimDb, p.lowEnd.bumpDb});
  deriveBandLimiters(p.bandLimiters, in);
  deriveBandAnalysis(p.analysis, state.analysis, in, p.lowEnd.levellerAmount,
                     p.lowEnd.bandAnalysisMix);
  deriveBandMix(p.bandMix, in);
  deriveSpectralBalance(p.balance, in, p.bandLimiters.streamBandDynamics, p.bandMix.clipMakeupScale,
                        p.bandMix.upperBalanceScale);
  deriveBandSum(p.bandSum, in);
  deriveBusShaping(p.bus, in);
  deriveOutputControl(p.output, in);
  deriveClipRepair(p.repair, in);
  deriveTruePeakLimiter(p.truePeak, in);
  deriveLoadFeedback(
      p.load, in,
      WatchedVoicing{p.output.densityStart, p.output.densityRange, p.output.densityDepth,
                     p.output.limitDepth, p.repair.repairAmount, p.rider.silenceThreshold});
  seedLoadTargets(p.load, state.load, loadTargets);
}

void Processor::reset() {
  const DerivedParams& p = params;
  resetInputStage(state.input, p.input);
  resetGainRider(state.rider, p.rider);
  resetLookaheadLimiter(state.lookahead, p.lookahead);
  resetLowEndShaper(state.lowEnd, p.lowEnd);
  resetDriveClipper(state.drive, p.drive);
  resetBandSplit(state.split, p.split);
  resetBandGains(state.bandGains, p.bandGains);
  resetBandLimiters(state.bandLimiters, p.bandLimiters);
  resetBandAnalysis(state.analysis, p.analysis);
  resetBandMix(state.bandMix, p.bandMix);
  resetSpectralBalance(state.balance, p.balance);
  resetBandSum(state.bandSum, p.bandSum);
  resetBusShaping(state.bus, p.bus);
  resetOutputControl(state.output, p.output, loadTargets.outputGainTarget);
  resetClipRepair(state.repair, p.repair);
  resetTruePeakLimiter(state.truePeak, p.truePeak);
  resetLoadFeedback(state.load, p.load, loadTargets);
  bands = BandSignals{};
  analysisFeeds = AnalysisFeeds{};
  loadBlockFrames = 0;
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

// The stages in their order. Besides the signal, the only values that cross
// between stages are named here: the rider's detectors (to the band gains and
// the load feedback), the low-end taps (to the band analysis), the analysis
// feeds (from the input stage and the split), the limiters' make-up update and
// peaks (to the band mix), the output stage's gains (to the repair and the load
// feedback) and the load feedback's targets.
StereoFrame Processor::runChain(float inL, float inR) {
  if (!configured) return StereoFrame{0.0f, 0.0f};
  const DerivedParams& p = params;
  ChainState& s = state;
  double rawL = 0.0;
  double rawR = 0.0;
  double l = 0.0;
  double r = 0.0;

  runInputStage(p.input, s.input, analysisFeeds, inL, inR, rawL, rawR, l, r);
  runGainRider(p.rider, s.rider, loadTargets.riderTarget, l, r);
  runLookaheadLimiter(p.lookahead, s.lookahead, rawL, rawR, l, r);
  LowEndTaps lowEndTaps;
  runLowEndShaper(p.lowEnd, s.lowEnd, l, r, lowEndTaps);
  runBandAnalysis(p.analysis, s.analysis, analysisFeeds, loadTargets.reductionPressure, lowEndTaps,
                  l, r);
  runDriveClipper(p.drive, s.drive, l, r);

  runBandSplit(p.split, s.split, l, r, bands, analysisFeeds);
  runBandGains(p.bandGains, s.bandGains, s.rider.out, bands);
  runBandLimiters(p.bandLimiters, s.bandLimiters, bands);
  runBandMix(p.bandMix, s.bandMix, s.bandLimiters.out, bands);
  runSpectralBalance(p.balance, s.balance, bands);
  runBandSum(p.bandSum, s.bandSum, bands, l, r);

  runBusShaping(p.bus, s.bus, l, r);
  runOutputControl(p.output, s.output, loadTargets.outputGainTarget, l, r);
  runClipRepair(p.repair, s.repair, s.output.out, l, r);
  const StereoFrame out = runTruePeakLimiter(p.truePeak, s.truePeak, l, r);

  if (++loadBlockFrames >= kLoadBlock) {
    loadBlockFrames = 0;
    const OutputControlOutput& output = s.output.out;
    const LoadFeedbackInputs watched{
        output.peakLevel,  output.boostGuardGain,   output.peakLimitGain,     s.repair.repairGain,
        s.truePeak.tpGain, s.rider.out.silenceHold, s.rider.out.inputPeakHold};
    runLoadFeedback(p.load, s.load, watched, loadTargets);
  }
  return out;
}

}  // namespace vantle
