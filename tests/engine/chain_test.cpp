// Properties of the whole chain, whatever the stages in between do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "engine/dsp/conversions.h"
#include "engine/processor.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

enum class Signal { noise, square, sweep, impulses, dc, nonFinite, denormal };

const char* nameOf(Signal s) {
  switch (s) {
    case Signal::noise:
      return "loud noise";
    case Signal::square:
      return "square";
    case Signal::sweep:
      return "sweep";
    case Signal::impulses:
      return "impulses";
    case Signal::dc:
      return "dc";
    case Signal::nonFinite:
      return "non-finite";
    default:
      return "denormal";
  }
}

// Interleaved stereo test signal of the given length.
std::vector<float> makeSignal(Signal kind, int frames, double fs, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> x(static_cast<size_t>(2 * frames));
  for (int f = 0; f < frames; ++f) {
    const double t = f / fs;
    float l = 0.0f;
    float r = 0.0f;
    switch (kind) {
      case Signal::noise:
        l = 4.0f * u(rng);  // 12 dB over full scale
        r = 4.0f * u(rng);
        break;
      case Signal::square:
        l = std::fmod(t * 441.0, 1.0) < 0.5 ? 1.0f : -1.0f;
        r = std::fmod(t * 97.0, 1.0) < 0.5 ? 1.0f : -1.0f;
        break;
      case Signal::sweep: {
        // 20 Hz up to near Nyquist, exponentially, at full scale.
        const double top = 0.45 * fs;
        const double len = frames / fs;
        const double k = std::log(top / 20.0);
        const double phase = 2.0 * kPi * 20.0 * len / k * (std::exp(k * t / len) - 1.0);
        l = static_cast<float>(std::sin(phase));
        r = static_cast<float>(std::cos(phase));
        break;
      }
      case Signal::impulses:
        l = f % 997 == 0 ? 1.0f : 0.0f;
        r = f % 1499 == 3 ? -1.0f : 0.0f;
        break;
      case Signal::dc:
        l = 1.0f;
        r = -1.0f;
        break;
      case Signal::nonFinite: {
        const float v = u(rng);
        l = v;
        r = -v;
        if (f % 7 == 0) l = std::nanf("");
        if (f % 11 == 0) r = inf;
        if (f % 13 == 0) l = -inf;
        if (f % 17 == 0) r = 1e30f;
        if (f % 19 == 0) l = -1e30f;
        break;
      }
      case Signal::denormal:
        l = (f % 2 ? 1 : -1) * std::numeric_limits<float>::denorm_min() * (1 + f % 50);
        r = 1e-39f * u(rng);
        break;
    }
    x[2 * f] = l;
    x[2 * f + 1] = r;
  }
  return x;
}

TEST(Chain, NoOutputSampleReachesTheCeiling) {
  const float cf = std::nextafter(static_cast<float>(kOutputCeiling), 0.0f);
  const Signal signals[] = {Signal::noise, Signal::square,    Signal::sweep,   Signal::impulses,
                            Signal::dc,    Signal::nonFinite, Signal::denormal};
  for (double fs : {8000.0, 44100.0, 48000.0, 96000.0, 384000.0}) {
    const int frames = static_cast<int>(0.15 * fs);
    for (Signal sig : signals) {
      const std::vector<float> in = makeSignal(sig, frames, fs);
      for (ProcessingMode mode :
           {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
        for (double adapt : {0.0, 50.0, 100.0}) {
          auto p = configured(mode, adapt, fs);
          std::vector<float> buf = in;
          p->processBuffer(buf.data(), frames, 2);
          float peak = 0.0f;
          bool finite = true;
          for (float y : buf) {
            finite = finite && std::isfinite(y);
            peak = std::fmax(peak, std::fabs(y));
          }
          SCOPED_TRACE(testing::Message() << nameOf(sig) << " mode " << static_cast<int>(mode)
                                          << " adapt " << adapt << " fs " << fs);
          EXPECT_TRUE(finite);
          EXPECT_LE(peak, cf);
        }
      }
    }
  }
}

// One call, blocks of 4096, single frames, and a second run: the same bits.
TEST(Chain, BlockSplitIdentity) {
  const int frames = 20000;
  std::vector<float> in = makeSignal(Signal::noise, frames, 48000.0, 5);
  const std::vector<float> sweep = makeSignal(Signal::sweep, frames, 48000.0);
  for (size_t k = 0; k < in.size(); ++k) in[k] = 0.2f * in[k] + 0.6f * sweep[k];
  for (ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    for (double adapt : {0.0, 100.0}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(mode) << " " << adapt);
      std::vector<float> whole = in;
      configured(mode, adapt, 48000)->processBuffer(whole.data(), frames, 2);

      std::vector<float> blocks = in;
      auto pb = configured(mode, adapt, 48000);
      for (int f = 0; f < frames; f += 4096) {
        pb->processBuffer(blocks.data() + 2 * f, std::min(4096, frames - f), 2);
      }

      std::vector<float> single(in.size());
      auto ps = configured(mode, adapt, 48000);
      for (int f = 0; f < frames; ++f) {
        const StereoFrame y = ps->processFrame(in[2 * f], in[2 * f + 1]);
        single[2 * f] = y.left;
        single[2 * f + 1] = y.right;
      }

      std::vector<float> again = in;
      configured(mode, adapt, 48000)->processBuffer(again.data(), frames, 2);

      const size_t bytes = in.size() * sizeof(float);
      EXPECT_EQ(std::memcmp(whole.data(), blocks.data(), bytes), 0);
      EXPECT_EQ(std::memcmp(whole.data(), single.data(), bytes), 0);
      EXPECT_EQ(std::memcmp(whole.data(), again.data(), bytes), 0);
    }
  }
}

// Calls of every length, none aligned to the chain's inner blocks, with the
// settings and the rate changed between calls: frame by frame gives the same
// bits. Stream mode at adapt 100 runs the band analysis, whose 16-frame block
// must see the split of exactly the frames before it.
TEST(Chain, OddCallsAndMidStreamChangesMatchFrameByFrame) {
  const int frames = 24000;
  // Far too hot, so that the load feedback moves its targets between blocks.
  std::vector<float> in = makeSignal(Signal::noise, frames, 48000.0, 9);
  const std::vector<float> sweep = makeSignal(Signal::sweep, frames, 48000.0);
  for (size_t k = 0; k < in.size(); ++k) in[k] = 2.0f * in[k] + 3.0f * sweep[k];
  // Call lengths, repeated; a change is made before every fifth call.
  const int lengths[] = {1, 7, 13, 64, 3, 100, 15, 17, 1, 250, 33, 2};
  const ProcessorSettings changes[] = {
      {ProcessingMode::stream, 0.0, 80.0},   {ProcessingMode::stream, 0.0, 100.0},
      {ProcessingMode::stream, 2.0, 10.0},   {ProcessingMode::podcast, 3.5, 60.0},
      {ProcessingMode::limiter, 0.0, 100.0}, {ProcessingMode::stream, 0.0, 100.0}};
  const auto change = [&](Processor& p, int call) {
    if (call % 5 != 4) return;
    const int which = call / 5;
    if (which == 3) p.setSampleRate(44100.0);
    p.applySettings(changes[which % 6]);
  };

  std::vector<float> buffered = in;
  auto pb = configured(ProcessingMode::stream, 100.0, 48000);
  std::vector<float> single(in.size());
  auto ps = configured(ProcessingMode::stream, 100.0, 48000);
  int call = 0;
  for (int f = 0; f < frames; ++call) {
    const int n = std::min(lengths[call % 12], frames - f);
    change(*pb, call);
    change(*ps, call);
    pb->processBuffer(buffered.data() + 2 * f, n, 2);
    // The split's sums that the next analysis block will read hold exactly the
    // frames since the last one (its own frame included): never a frame of
    // the block before, never one after.
    if (pb->params.analysis.runs) {
      ASSERT_EQ(pb->analysisFeeds.bandBalanceFrames,
                static_cast<std::uint64_t>(pb->state.analysis.blockCounter) + 1)
          << "call " << call;
    }
    for (int i = f; i < f + n; ++i) {
      const StereoFrame y = ps->processFrame(in[2 * i], in[2 * i + 1]);
      single[2 * i] = y.left;
      single[2 * i + 1] = y.right;
    }
    f += n;
    // The load feedback ran on the same frames and set the same targets.
    ASSERT_EQ(pb->loadBlockFrames, ps->loadBlockFrames) << "call " << call;
    ASSERT_EQ(pb->loadTargets.riderTarget, ps->loadTargets.riderTarget) << "call " << call;
    ASSERT_EQ(pb->loadTargets.outputGainTarget, ps->loadTargets.outputGainTarget);
    ASSERT_EQ(pb->loadTargets.reductionPressure, ps->loadTargets.reductionPressure);
  }
  for (size_t k = 0; k < in.size(); ++k) ASSERT_EQ(buffered[k], single[k]) << k / 2;
}

// The chain's two compiled copies (any x86-64 processor, and AVX2) give the
// same bits, on programme-like and hostile input, in every mode and at the
// edges of the rate range; switching copies in mid-stream changes nothing.
TEST(Chain, BaselineAndWideCopiesGiveTheSameBits) {
  if (!wideChainAvailable()) GTEST_SKIP() << "this processor runs the baseline copy only";
  for (double fs : {8000.0, 48000.0, 384000.0}) {
    const int frames = 12000;
    std::vector<float> mixed = makeSignal(Signal::noise, frames, fs, 3);
    const std::vector<float> sweep = makeSignal(Signal::sweep, frames, fs);
    for (size_t k = 0; k < mixed.size(); ++k) mixed[k] = 0.3f * mixed[k] + 0.8f * sweep[k];
    for (const std::vector<float>& in : {mixed, makeSignal(Signal::nonFinite, frames, fs),
                                         makeSignal(Signal::square, frames, fs)}) {
      for (ProcessingMode mode :
           {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
        for (double adapt : {0.0, 50.0, 100.0}) {
          SCOPED_TRACE(testing::Message()
                       << fs << " Hz, mode " << static_cast<int>(mode) << ", " << adapt);
          std::vector<float> baseline = in;
          auto pb = configured(mode, adapt, fs);
          pb->chainCode = ChainCode::baseline;
          pb->processBuffer(baseline.data(), frames, 2);

          std::vector<float> wide = in;
          auto pw = configured(mode, adapt, fs);
          ASSERT_EQ(pw->chainCode, ChainCode::wide);
          const int half = frames / 2 + 5;
          pw->processBuffer(wide.data(), half, 2);
          pw->chainCode = ChainCode::baseline;
          pw->processBuffer(wide.data() + 2 * half, 1000, 2);
          pw->chainCode = ChainCode::wide;
          pw->processBuffer(wide.data() + 2 * (half + 1000), frames - half - 1000, 2);

          ASSERT_EQ(std::memcmp(baseline.data(), wide.data(), in.size() * sizeof(float)), 0);
        }
      }
    }
  }
}

// The chain delays by exactly the sum of its look-ahead and delay lines. Limiter
// mode is nearly transparent, so a small click after the priming window comes
// out as a click, that many frames later.
TEST(Chain, LatencyIsTheSumOfTheDelayLines) {
  for (double fs : {44100.0, 48000.0, 96000.0}) {
    for (double adapt : {0.0, 100.0}) {
      auto p = configured(ProcessingMode::limiter, adapt, fs);
      const int expected = p->params.lookahead.lookaheadLength + p->params.bandSum.bandDelay +
                           p->params.output.outputDelay + p->params.repair.repairDelay +
                           p->params.truePeak.tpLookahead;
      const int quiet = static_cast<int>(0.4 * fs);  // past the priming window
      const int frames = quiet + 4 * expected;
      int peakAt = -1;
      float peak = 0.0f;
      for (int f = 0; f < frames; ++f) {
        const float x = f == quiet ? 0.1f : 0.0f;
        const StereoFrame y = p->processFrame(x, x);
        if (std::fabs(y.left) > peak) {
          peak = std::fabs(y.left);
          peakAt = f;
        }
      }
      SCOPED_TRACE(testing::Message() << "fs " << fs << " adapt " << adapt);
      EXPECT_GT(expected, 0);
      EXPECT_EQ(peakAt - quiet, expected);
      EXPECT_GT(peak, 0.05f);
    }
  }
}

}  // namespace
}  // namespace vantle
