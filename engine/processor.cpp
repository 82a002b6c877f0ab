#include "engine/processor.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/denormals.h"

#if defined(__GNUC__) && defined(__x86_64__)
#define VANTLE_WIDE_CHAIN 1
#else
#define VANTLE_WIDE_CHAIN 0
#endif

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
  block = BlockSignals{};
  analysisFeeds = AnalysisFeeds{};
  loadBlockFrames = 0;
}

void Processor::processBuffer(float* buffer, std::int64_t frames, int channels) {
  if (buffer == nullptr || channels <= 0) return;
  const FlushDenormalsScope flush;
  BlockSignals& b = block;
  std::int64_t done = 0;
  while (done < frames) {
    const int n = nextBlockLength(frames - done);
    float* at = buffer + done * channels;
    for (int i = 0; i < n; ++i) {
      const float* frame = at + i * channels;
      b.inLeft[i] = frame[0];
      b.inRight[i] = channels >= 2 ? frame[1] : frame[0];
    }
    runChain(n);
    for (int i = 0; i < n; ++i) {
      float* frame = at + i * channels;
      frame[0] = b.out[i].left;
      if (channels >= 2) frame[1] = b.out[i].right;
      for (int c = 2; c < channels; ++c) frame[c] = 0.0f;
    }
    done += n;
  }
}

StereoFrame Processor::processFrame(float inL, float inR) {
  const FlushDenormalsScope flush;
  block.inLeft[0] = inL;
  block.inRight[0] = inR;
  runChain(1);
  return block.out[0];
}

int Processor::latencyFrames() const {
  const DerivedParams& p = params;
  // A clip-repair delay under one frame means the stage is not entered.
  const int repair = p.repair.repairDelay >= 1 ? p.repair.repairDelay : 0;
  return p.lookahead.lookaheadLength + p.bandSum.bandDelay + p.output.outputDelay + repair +
         p.truePeak.tpLookahead;
}

int Processor::nextBlockLength(std::int64_t remaining) const {
  const int load = kLoadBlock - loadBlockFrames;
  const int analysis = framesBeforeAnalysisBlock(params.analysis, state.analysis);
  int n = kChainBlock;
  if (load < n) n = load;
  if (analysis < n) n = analysis;
  return remaining < n ? static_cast<int>(remaining) : n;
}

namespace {

// The stages in their order, each over the whole block. Besides the signal,
// the only values that cross between stages are named here: the rider's
// detectors (to the band gains and the load feedback), the low-end taps (to
// the band analysis), the analysis feeds (from the input stage and the split),
// the limiters' make-up update and peaks (to the band mix) and the output
// stage's gains (to the repair and, after the block, the load feedback). The
// load feedback's targets change only between blocks.
inline void runStages(const DerivedParams& p, ChainState& s, BlockSignals& b,
                      AnalysisFeeds& analysisFeeds, const LoadTargets& targets, int n) {
  runInputStage(p.input, s.input, b.inLeft, b.inRight, b.rawLeft, b.rawRight, b.left, b.right,
                b.inputFeeds, n);
  runGainRider(p.rider, s.rider, targets.riderTarget, b.left, b.right, b.rider, n);
  runLookaheadLimiter(p.lookahead, s.lookahead, b.rawLeft, b.rawRight, b.left, b.right, n);
  runLowEndShaper(p.lowEnd, s.lowEnd, b.left, b.right, b.lowEnd, n);
  runBandAnalysis(p.analysis, s.analysis, analysisFeeds, b.inputFeeds, targets.reductionPressure,
                  b.lowEnd, b.left, b.right, n);
  runDriveClipper(p.drive, s.drive, b.left, b.right, n);

  runBandSplit(p.split, s.split, b.left, b.right, b.bands, analysisFeeds, n);
  runBandGains(p.bandGains, s.bandGains, b.rider, b.bands, n);
  runBandLimiters(p.bandLimiters, s.bandLimiters, b.bands, b.limiters, n);
  runBandMix(p.bandMix, s.bandMix, b.limiters, b.bands, n);
  runSpectralBalance(p.balance, s.balance, b.bands, n);
  runBandSum(p.bandSum, s.bandSum, b.bands, b.left, b.right, n);

  runBusShaping(p.bus, s.bus, b.left, b.right, n);
  runOutputControl(p.output, s.output, targets.outputGainTarget, b.left, b.right, b.output, n);
  runClipRepair(p.repair, s.repair, b.output, b.left, b.right, n);
  runTruePeakLimiter(p.truePeak, s.truePeak, b.left, b.right, b.out, n);
}

// The stages compiled twice, each copy with every stage inlined into it: one
// for any x86-64 CPU, one for CPUs with AVX2, whose three-operand and wider
// instructions run the same arithmetic in fewer steps. Both do the same IEEE
// operations in the same order (multiply-adds are never fused), so both give
// the same bits.
__attribute__((flatten)) void runStagesBaseline(const DerivedParams& p, ChainState& s,
                                                BlockSignals& b, AnalysisFeeds& analysisFeeds,
                                                const LoadTargets& targets, int n) {
  runStages(p, s, b, analysisFeeds, targets, n);
}

// Where there is no AVX2 to build for, the wide copy is a second baseline
// one, never picked (wideChainAvailable says no).
#if VANTLE_WIDE_CHAIN
#define VANTLE_WIDE_TARGET __attribute__((flatten, target("avx2")))
#else
#define VANTLE_WIDE_TARGET __attribute__((flatten))
#endif

VANTLE_WIDE_TARGET void runStagesWide(const DerivedParams& p, ChainState& s, BlockSignals& b,
                                      AnalysisFeeds& analysisFeeds, const LoadTargets& targets,
                                      int n) {
  runStages(p, s, b, analysisFeeds, targets, n);
}

}  // namespace

bool wideChainAvailable() {
#if VANTLE_WIDE_CHAIN
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return available;
#else
  return false;
#endif
}

void Processor::runChain(int frames) {
  BlockSignals& b = block;
  if (!configured) {
    for (int i = 0; i < frames; ++i) b.out[i] = StereoFrame{0.0f, 0.0f};
    return;
  }
  // A wide copy asked for on a CPU without AVX2 would fault: the baseline runs.
  if (chainCode == ChainCode::wide && wideChainAvailable()) {
    runStagesWide(params, state, b, analysisFeeds, loadTargets, frames);
  } else {
    runStagesBaseline(params, state, b, analysisFeeds, loadTargets, frames);
  }

  loadBlockFrames += frames;
  if (loadBlockFrames >= kLoadBlock) {
    loadBlockFrames = 0;
    const ChainState& s = state;
    const OutputControlOutput& output = s.output.out;
    const LoadFeedbackInputs watched{
        output.peakLevel,  output.boostGuardGain,   output.peakLimitGain,     s.repair.repairGain,
        s.truePeak.tpGain, s.rider.out.silenceHold, s.rider.out.inputPeakHold};
    runLoadFeedback(params.load, state.load, watched, loadTargets);
  }
}

}  // namespace vantle
