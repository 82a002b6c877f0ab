// The stages that work a block in passes (memoryless curves first, the
// frame-by-frame memories after) must give the same bits whatever number of
// frames a call hands them: one at a time, a chain block, or more than a
// chain block in one call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
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
  std::vector<OutputControlOutput> outputs;
  std::vector<float> inLeft;
  std::vector<float> inRight;
  std::vector<double> rawLeft;
  std::vector<double> rawRight;
  std::vector<InputFeed> inputFeeds;
  std::vector<LowEndTaps> taps;
  AnalysisFeeds analysisFeeds;

  explicit Programme(int frames)
      : bands(frames),
        left(frames),
        right(frames),
        rider(frames),
        limiters(frames),
        outputs(frames),
        inLeft(frames),
        inRight(frames),
        rawLeft(frames),
        rawRight(frames),
        inputFeeds(frames),
        taps(frames) {
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
      inLeft[i] = static_cast<float>(loud(random));
      inRight[i] = static_cast<float>(loud(random));
      inputFeeds[i] = InputFeed{i % 3 != 0, 0.1 * left[i] * left[i], 0.2 * right[i] * right[i]};
      taps[i] = LowEndTaps{left[i], right[i], 1.1 * left[i], 0.9 * right[i]};
    }
  }
};

constexpr int kFrames = 3 * kChainBlock + 5;

bool sameProgramme(const Programme& a, const Programme& b) {
  return sameBits(a.bands.data(), b.bands.data(), kFrames * sizeof(BandSignals)) &&
         sameBits(a.left.data(), b.left.data(), kFrames * sizeof(double)) &&
         sameBits(a.right.data(), b.right.data(), kFrames * sizeof(double)) &&
         sameBits(a.outputs.data(), b.outputs.data(), kFrames * sizeof(OutputControlOutput)) &&
         sameBits(a.rider.data(), b.rider.data(), kFrames * sizeof(RiderOutput)) &&
         sameBits(a.rawLeft.data(), b.rawLeft.data(), kFrames * sizeof(double)) &&
         sameBits(a.rawRight.data(), b.rawRight.data(), kFrames * sizeof(double)) &&
         sameBits(a.taps.data(), b.taps.data(), kFrames * sizeof(LowEndTaps)) &&
         std::equal(a.inputFeeds.begin(), a.inputFeeds.end(), b.inputFeeds.begin(),
                    [](const InputFeed& x, const InputFeed& y) {
                      return x.counted == y.counted &&
                             sameBits(&x.lowContentPower, &y.lowContentPower, sizeof(double)) &&
                             sameBits(&x.inputPower, &y.inputPower, sizeof(double));
                    }) &&
         sameBits(&a.analysisFeeds.lowContentSum, &b.analysisFeeds.lowContentSum, sizeof(double)) &&
         sameBits(&a.analysisFeeds.inputPowerSum, &b.analysisFeeds.inputPowerSum, sizeof(double));
}

// Runs a stage, run(state, programme, first, count), over the programme once
// a frame per call and once `step` frames per call, each from a copy of the
// start state (what the state carries from call to call shows in the later
// frames), and compares everything the two runs wrote.
template <typename State, typename Run>
void expectSameForAnyStep(const State& start, int step, Run run) {
  Programme one(kFrames);
  Programme many(kFrames);
  for (auto [programme, perCall] : {std::pair{&one, 1}, std::pair{&many, step}}) {
    auto s = std::make_unique<State>(start);
    for (int first = 0; first < kFrames; first += perCall) {
      run(*s, *programme, first, perCall < kFrames - first ? perCall : kFrames - first);
    }
  }
  EXPECT_TRUE(sameProgramme(one, many));
}

TEST(StageRuns, AnyNumberOfFramesPerCallGivesTheSameBits) {
  const auto processor = configured(ProcessingMode::stream, 100.0, 48000.0);
  const DerivedParams& p = processor->params;
  const ChainState& start = processor->state;
  ASSERT_GT(p.bandGains.clipMix, 0.0);
  ASSERT_GT(p.bandSum.hfShapeAmount, 0.0);
  ASSERT_GT(p.drive.driveAmount, 0.0);
  ASSERT_TRUE(p.bandMix.streamBandDynamics);
  ASSERT_TRUE(p.analysis.runs);
  ASSERT_GT(p.input.rotatorSections, 0);
  ASSERT_GT(p.output.clipFeedbackAmount, 0.0);
  ASSERT_GT(p.rider.saturationAmount, 1e-7);

  for (int step : {kChainBlock, kChainBlock + 3, kFrames}) {
    SCOPED_TRACE(step);
    expectSameForAnyStep(start.input, step, [&](InputStageState& s, Programme& g, int f, int n) {
      runInputStage(p.input, s, &g.inLeft[f], &g.inRight[f], &g.rawLeft[f], &g.rawRight[f],
                    &g.left[f], &g.right[f], &g.inputFeeds[f], n);
    });
    expectSameForAnyStep(start.rider, step, [&](GainRiderState& s, Programme& g, int f, int n) {
      runGainRider(p.rider, s, 0.3, &g.left[f], &g.right[f], &g.rider[f], n);
    });
    expectSameForAnyStep(start.lowEnd, step, [&](LowEndShaperState& s, Programme& g, int f, int n) {
      runLowEndShaper(p.lowEnd, s, &g.left[f], &g.right[f], &g.taps[f], n);
    });
    expectSameForAnyStep(start.analysis, step,
                         [&](BandAnalysisState& s, Programme& g, int f, int n) {
                           runBandAnalysis(p.analysis, s, g.analysisFeeds, &g.inputFeeds[f], 0.3,
                                           &g.taps[f], &g.left[f], &g.right[f], n);
                         });
    expectSameForAnyStep(start.bandGains, step, [&](BandGainsState& s, Programme& g, int f, int n) {
      runBandGains(p.bandGains, s, &g.rider[f], &g.bands[f], n);
    });
    expectSameForAnyStep(start.bandMix, step, [&](BandMixState& s, Programme& g, int f, int n) {
      runBandMix(p.bandMix, s, &g.limiters[f], &g.bands[f], n);
    });
    expectSameForAnyStep(start.bandSum, step, [&](BandSumState& s, Programme& g, int f, int n) {
      runBandSum(p.bandSum, s, &g.bands[f], &g.left[f], &g.right[f], n);
    });
    expectSameForAnyStep(start.drive, step, [&](DriveClipperState& s, Programme& g, int f, int n) {
      runDriveClipper(p.drive, s, &g.left[f], &g.right[f], n);
    });
    expectSameForAnyStep(start.bus, step, [&](BusShapingState& s, Programme& g, int f, int n) {
      runBusShaping(p.bus, s, &g.left[f], &g.right[f], n);
    });
    expectSameForAnyStep(
        start.output, step, [&](OutputControlState& s, Programme& g, int f, int n) {
          runOutputControl(p.output, s, 1.4, &g.left[f], &g.right[f], &g.outputs[f], n);
        });
  }
}

}  // namespace
}  // namespace vantle
