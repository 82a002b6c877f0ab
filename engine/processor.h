// The audio engine of vantle-tonbrel: one object per stream that owns the
// settings, the derived parameters, every stage's state and all delay rings.
// All storage is acquired at construction; nothing is allocated per frame.
#pragma once

#include <cstdint>

#include "engine/bands.h"
#include "engine/dsp/block_rates.h"
#include "engine/settings.h"
#include "engine/stages/band_analysis.h"
#include "engine/stages/band_gains.h"
#include "engine/stages/band_limiters.h"
#include "engine/stages/band_mix.h"
#include "engine/stages/band_split.h"
#include "engine/stages/band_sum.h"
#include "engine/stages/bus_shaping.h"
#include "engine/stages/clip_repair.h"
#include "engine/stages/drive_clipper.h"
#include "engine/stages/gain_rider.h"
#include "engine/stages/input_stage.h"
#include "engine/stages/load_feedback.h"
#include "engine/stages/lookahead_limiter.h"
#include "engine/stages/low_end_shaper.h"
#include "engine/stages/output_control.h"
#include "engine/stages/spectral_balance.h"
#include "engine/stages/true_peak_limiter.h"

namespace vantle {

// Derived parameter block, one group per stage. Only the derivation writes it.
struct DerivedParams {
  double d = 0.0;  // adapt fraction of the last derivation
  InputStageParams input;
  GainRiderParams rider;
  LookaheadLimiterParams lookahead;
  LowEndShaperParams lowEnd;
  DriveClipperParams drive;
  BandSplitParams split;
  BandGainsParams bandGains;
  BandLimitersParams bandLimiters;
  BandAnalysisParams analysis;
  BandMixParams bandMix;
  SpectralBalanceParams balance;
  BandSumParams bandSum;
  BusShapingParams bus;
  OutputControlParams output;
  ClipRepairParams repair;
  TruePeakLimiterParams truePeak;
  LoadFeedbackParams load;
};

// Run-time state of every stage, with the delay and history rings each owns.
struct ChainState {
  InputStageState input;
  GainRiderState rider;
  LookaheadLimiterState lookahead;
  LowEndShaperState lowEnd;
  DriveClipperState drive;
  BandSplitState split;
  BandGainsState bandGains;
  BandLimitersState bandLimiters;
  BandAnalysisState analysis;
  BandMixState bandMix;
  SpectralBalanceState balance;
  BandSumState bandSum;
  BusShapingState bus;
  OutputControlState output;
  ClipRepairState repair;
  TruePeakLimiterState truePeak;
  LoadFeedbackState load;
};

// The block in flight: frame i of every array comes from the same input
// frame. These are the signals and the per-frame values that travel from one
// stage to a later one.
struct BlockSignals {
  float inLeft[kChainBlock] = {};
  float inRight[kChainBlock] = {};
  double rawLeft[kChainBlock] = {};  // sanitised input before the input gain
  double rawRight[kChainBlock] = {};
  double left[kChainBlock] = {};  // the pair, rewritten stage by stage
  double right[kChainBlock] = {};
  InputFeed inputFeeds[kChainBlock] = {};
  RiderOutput rider[kChainBlock] = {};
  LowEndTaps lowEnd[kChainBlock] = {};
  BandSignals bands[kChainBlock] = {};
  BandLimitersOutput limiters[kChainBlock] = {};
  OutputControlOutput output[kChainBlock] = {};
  StereoFrame out[kChainBlock] = {};
};

// The chain is compiled twice for x86-64: a baseline copy for any such CPU
// and a wide one for CPUs with AVX2. Both give the same bits.
enum class ChainCode : std::int32_t { baseline, wide };

// True when the wide copy exists in this build and the CPU can run it.
bool wideChainAvailable();

struct Processor {
  ProcessorSettings settings{ProcessingMode::podcast, 3.5, 0.0};
  // The copy of the chain that runs: the wide one wherever the CPU has AVX2
  // (on a CPU without it, asking for the wide copy runs the baseline one).
  // Switching is allowed at any time and changes nothing in the output.
  ChainCode chainCode = wideChainAvailable() ? ChainCode::wide : ChainCode::baseline;
  double sampleRate = 48000.0;
  std::int32_t lastAppliedMode = -1;  // mode of the last applySettings, -1 since setSampleRate
  DerivedParams params;
  ChainState state;
  BlockSignals block;
  // The values that run against the signal: the band analysis's sums of the
  // input stage's feeds and of the powers the six-band split (later in the
  // chain) adds, and the targets the load feedback at the end of the chain
  // sets for the rider, the band analysis and the output gain.
  AnalysisFeeds analysisFeeds;
  LoadTargets loadTargets;
  int loadBlockFrames = 0;  // frames since the last load-feedback update, 0..63
  // False until the first setSampleRate: no parameters exist yet, and
  // processFrame answers silence without touching any state.
  bool configured = false;

  Processor();
  Processor(const Processor&) = delete;
  Processor& operator=(const Processor&) = delete;

  void setSampleRate(double rate);
  static ProcessorSettings defaultSettings(ProcessingMode mode);
  void applySettings(const ProcessorSettings& s);
  void reset();
  void processBuffer(float* buffer, std::int64_t frames, int channels);
  StereoFrame processFrame(float left, float right);
  // Frames by which the output trails the input with the current parameters:
  // the sum of the chain's look-ahead and delay lines. Fixed for a given
  // mode, adapt and rate; a host compensates it, a file program drops it.
  int latencyFrames() const;

  // Recomputes the derived parameter block from settings and sample rate.
  void derive();

 private:
  // Frames that may run as the next block, at most `remaining`: a block ends
  // where block-rate work must see a later stage's frames first.
  int nextBlockLength(std::int64_t remaining) const;
  // The block's frames through every stage; callers hold subnormals flushed.
  void runChain(int frames);
};

}  // namespace vantle
