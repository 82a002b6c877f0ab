// The stages that work a block in passes (memoryless curves first, the
// frame-by-frame memories after) must give the same bits whatever number of
// frames a call hands them: one at a time, a chain block, or more than a
// chain block in one call.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "engine/processor.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

bool sameBits(const void* a, const void* b, std::size_t size) {
  return std::memcmp(a, b, size) == 0;
}

// Loud, wide-band stereo bands and signals: every knee, clipper and shaper of
// stream mode at full adapt has work to do.
struct Programme {
  std::vector<BandSignals> bands;
  std::vector<double> left;
  std::vector<double> right;
  std::vector<RiderOutput> rider;
  std::vector<BandLimitersOutput> limiters;

  explicit Programme(int frames)
      : bands(frames), left(frames), right(frames), rider(frames), limiters(frames) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> loud(-1.6, 1.6);
    for (int i = 0; i < frames; ++i) {
      for (int c = 0; c < kChannels; ++c) {
        for (int b = 0; b < kBands; ++b) {
          const double v = loud(random) * (b + 1) / 4.0;
          bands[i].bandSignal[c][b] = v;
          bands[i].limitedBand[c][b] = 0.9 * v;
          bands[i].gainedBand[c][b] = 0.8 * v;
          bands[i].mixedBand[c][b] = 0.7 * v;
        }
      }
      left[i] = loud(random);
      right[i] = loud(random);
      rider[i].silenceGate = i % 50 < 10 ? 0.5 : 0.0;
      rider[i].resumeAmount = i % 50 == 12 ? 0.3 : 0.0;
      limiters[i].makeupUpdate = i % kMakeupBlock == 0;
      for (double& peak : limiters[i].bandPeak) peak = 1.2;
    }
  }
};

// Runs `run(state, first, count)` over all frames in calls of `step` frames
// on a fresh copy of the state (what the state carries from call to call
// shows in the later frames' output).
template <typename State, typename Run>
void runInSteps(const State& start, int frames, int step, Run run) {
  auto s = std::make_unique<State>(start);
  for (int first = 0; first < frames; first += step) {
    run(*s, first, step < frames - first ? step : frames - first);
  }
}

TEST(StageRuns, AnyNumberOfFramesPerCallGivesTheSameBits) {
  constexpr int kFrames = 3 * kChainBlock + 5;
  const auto processor = configured(ProcessingMode::stream, 100.0, 48000.0);
  const DerivedParams& p = processor->params;
  const ChainState& start = processor->state;
  ASSERT_GT(p.bandGains.clipMix, 0.0);
  ASSERT_GT(p.bandSum.hfShapeAmount, 0.0);
  ASSERT_GT(p.drive.driveAmount, 0.0);
  ASSERT_TRUE(p.bandMix.streamBandDynamics);

  for (int step : {kChainBlock, kChainBlock + 3, kFrames}) {
    SCOPED_TRACE(step);
    {
      Programme one(kFrames);
      Programme many(kFrames);
      runInSteps(start.bandGains, kFrames, 1, [&](BandGainsState& s, int f, int n) {
        runBandGains(p.bandGains, s, &one.rider[f], &one.bands[f], n);
      });
      runInSteps(start.bandGains, kFrames, step, [&](BandGainsState& s, int f, int n) {
        runBandGains(p.bandGains, s, &many.rider[f], &many.bands[f], n);
      });
      EXPECT_TRUE(sameBits(one.bands.data(), many.bands.data(), kFrames * sizeof(BandSignals)));
    }
    {
      Programme one(kFrames);
      Programme many(kFrames);
      runInSteps(start.bandMix, kFrames, 1, [&](BandMixState& s, int f, int n) {
        runBandMix(p.bandMix, s, &one.limiters[f], &one.bands[f], n);
      });
      runInSteps(start.bandMix, kFrames, step, [&](BandMixState& s, int f, int n) {
        runBandMix(p.bandMix, s, &many.limiters[f], &many.bands[f], n);
      });
      EXPECT_TRUE(sameBits(one.bands.data(), many.bands.data(), kFrames * sizeof(BandSignals)));
    }
    {
      Programme one(kFrames);
      Programme many(kFrames);
      runInSteps(start.bandSum, kFrames, 1, [&](BandSumState& s, int f, int n) {
        runBandSum(p.bandSum, s, &one.bands[f], &one.left[f], &one.right[f], n);
      });
      runInSteps(start.bandSum, kFrames, step, [&](BandSumState& s, int f, int n) {
        runBandSum(p.bandSum, s, &many.bands[f], &many.left[f], &many.right[f], n);
      });
      EXPECT_TRUE(sameBits(one.left.data(), many.left.data(), kFrames * sizeof(double)));
      EXPECT_TRUE(sameBits(one.right.data(), many.right.data(), kFrames * sizeof(double)));
    }
    {
      Programme one(kFrames);
      Programme many(kFrames);
      runInSteps(start.drive, kFrames, 1, [&](DriveClipperState& s, int f, int n) {
        runDriveClipper(p.drive, s, &one.left[f], &one.right[f], n);
      });
      runInSteps(start.drive, kFrames, step, [&](DriveClipperState& s, int f, int n) {
        runDriveClipper(p.drive, s, &many.left[f], &many.right[f], n);
      });
      EXPECT_TRUE(sameBits(one.left.data(), many.left.data(), kFrames * sizeof(double)));
      EXPECT_TRUE(sameBits(one.right.data(), many.right.data(), kFrames * sizeof(double)));
    }
    {
      Programme one(kFrames);
      Programme many(kFrames);
      std::vector<OutputControlOutput> outOne(kFrames);
      std::vector<OutputControlOutput> outMany(kFrames);
      runInSteps(start.output, kFrames, 1, [&](OutputControlState& s, int f, int n) {
        runOutputControl(p.output, s, 1.4, &one.left[f], &one.right[f], &outOne[f], n);
      });
      runInSteps(start.output, kFrames, step, [&](OutputControlState& s, int f, int n) {
        runOutputControl(p.output, s, 1.4, &many.left[f], &many.right[f], &outMany[f], n);
      });
      EXPECT_TRUE(sameBits(one.left.data(), many.left.data(), kFrames * sizeof(double)));
      EXPECT_TRUE(sameBits(one.right.data(), many.right.data(), kFrames * sizeof(double)));
      EXPECT_TRUE(sameBits(outOne.data(), outMany.data(), kFrames * sizeof(OutputControlOutput)));
    }
  }
}

}  // namespace
}  // namespace vantle
