#include "engine/stages/bus_shaping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "engine/processor.h"

namespace vantle {
namespace {

constexpr double kTwoPi = 6.283185307179586;

BusShapingParams derived(ProcessingMode mode, double fs, double adapt) {
  BusShapingParams p;
  deriveBusShaping(p, DeriveInputs{mode, fs, adapt / 100.0, 0.0, kOutputCeiling});
  return p;
}

// Width is exactly 1 wherever no widening is voiced, so the detector never
// runs even on very wide programme; above adapt 40 in stream mode it opens.
TEST(StereoWidth, ExactlyOneUnlessStreamAboveAdapt40) {
  struct Case {
    ProcessingMode mode;
    double adapt;
    bool widens;
  } cases[] = {
      {ProcessingMode::podcast, 0, false}, {ProcessingMode::podcast, 100, false},
      {ProcessingMode::limiter, 0, false}, {ProcessingMode::limiter, 100, false},
      {ProcessingMode::stream, 0, false},  {ProcessingMode::stream, 25, false},
      {ProcessingMode::stream, 40, false}, {ProcessingMode::stream, 41, true},
      {ProcessingMode::stream, 100, true},
  };
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  for (const Case& c : cases) {
    const BusShapingParams p = derived(c.mode, 48000, c.adapt);
    BusShapingState s;
    resetBusShaping(s, p);
    double maxSideGain = 0.0;
    for (int n = 0; n < 48000; ++n) {
      const double mid = 0.4 * std::sin(kTwoPi * 220.0 * n / 48000.0);
      double l = mid + u(rng) * 0.1;
      double r = mid - 0.5 * l;
      runBusShaping(p, s, &l, &r, 1);
      maxSideGain = std::fmax(maxSideGain, s.width.result);
    }
    if (c.widens) {
      EXPECT_GT(p.stereoWidth, 1.0000001) << c.adapt;
      EXPECT_GT(maxSideGain, 0.0) << c.adapt;
    } else {
      EXPECT_EQ(p.stereoWidth, 1.0) << static_cast<int>(c.mode) << " " << c.adapt;
      EXPECT_EQ(s.width.midFast, 0.0);
      EXPECT_EQ(s.width.midAverage, 0.0);
      EXPECT_EQ(s.width.sideAverage, 0.0);
      EXPECT_EQ(s.width.result, 0.0);
    }
  }
  EXPECT_EQ(derived(ProcessingMode::stream, 48000, 100).stereoWidth, 1.5);
}

// Identical channels leave the bus identical in every voicing, and the whole
// chain keeps a mono input mono.
TEST(StereoWidth, MonoStaysMono) {
  for (ProcessingMode mode :
       {ProcessingMode::podcast, ProcessingMode::stream, ProcessingMode::limiter}) {
    for (double adapt : {0.0, 60.0, 100.0}) {
      const BusShapingParams p = derived(mode, 44100, adapt);
      BusShapingState s;
      resetBusShaping(s, p);
      std::mt19937 rng(11);
      std::uniform_real_distribution<double> u(-1.2, 1.2);
      for (int n = 0; n < 20000; ++n) {
        double l = u(rng);
        double r = l;
        runBusShaping(p, s, &l, &r, 1);
        ASSERT_EQ(l, r) << static_cast<int>(mode) << " " << adapt << " " << n;
      }
      auto proc = std::make_unique<Processor>();
      proc->setSampleRate(44100);
      proc->applySettings({mode, 6.0, adapt});
      std::vector<float> buf(2 * 8192);
      for (size_t i = 0; i < buf.size(); i += 2) {
        buf[i] = buf[i + 1] = static_cast<float>(u(rng) * std::sin(0.001 * static_cast<double>(i)));
      }
      proc->processBuffer(buf.data(), 8192, 2);
      for (size_t i = 0; i < buf.size(); i += 2) {
        ASSERT_EQ(buf[i], buf[i + 1]) << static_cast<int>(mode) << " " << adapt << " " << i;
      }
    }
  }
}

// The detector's result for steady programme, worked out by hand from its
// presence, side share, character and cap (punch is 0 on a steady mid).
TEST(StereoWidth, DetectorSettlesAtTheHandValue) {
  struct Case {
    double mid;
    double side;
    double extra;
    double expected;
  } cases[] = {
      {0.3, 0.09, 0.5, 0.35 + 0.25 * (0.15 * 2.85714285714286)},  // ratio 0.3
      {0.005, 0.0015, 0.5, (0.004 * 111.111111111111) * (0.35 + 0.25 * (0.15 * 2.85714285714286))},
      {0.3, 0.003, 0.5, 0.0},                               // ratio 0.01: no side share
      {0.3, 0.006, 0.5, (0.008 * 20.8333333333333) * 0.6},  // open saturates at 1
      {0.3, 0.24, 0.5, 0.35 * 0.3},                         // ratio 0.8: cap 0.3
      {0.3, 0.27, 0.5, 0.35 * ((0.92 / 0.9 - 1.0) / 0.5)},  // ratio 0.9
      {0.3, 0.3, 0.25, 0.0},                                // ratio 1: cap 0
  };
  const BusShapingParams p = derived(ProcessingMode::stream, 48000, 100);
  for (const Case& c : cases) {
    WidthDetectorState s;
    double t = 0.0;
    for (int n = 0; n < 3 * 48000; ++n) t = widthDetector(p, s, c.mid, c.side, c.extra);
    EXPECT_NEAR(t, c.expected, 1e-9) << c.mid << " " << c.side;
  }
}

// The detector never lets the widened side pass 0.92 of the mid, on steady
// and on punchy programme, and never widens a side already at 0.92 or more.
TEST(StereoWidth, WidenedSideStaysBelow092OfTheMid) {
  const BusShapingParams p = derived(ProcessingMode::stream, 48000, 100);
  for (double ratio : {0.05, 0.3, 0.6, 0.8, 0.88, 0.91, 0.93, 1.0, 2.5}) {
    for (double extra : {0.001, 0.2, 0.5}) {
      WidthDetectorState s;
      for (int n = 0; n < 96000; ++n) {
        // Bursts every 100 ms make the fast envelope punch above the slow one.
        const double burst = (n % 4800) < 600 ? 1.0 : 0.15;
        const double a = std::fabs(0.5 * burst * std::sin(kTwoPi * 150.0 * n / 48000.0));
        const double b = ratio * a;
        const double t = widthDetector(p, s, a, b, extra);
        ASSERT_GE(t, 0.0);
        if (ratio >= 0.92) {
          ASSERT_EQ(t, 0.0) << ratio << " " << extra << " " << n;
        } else {
          ASSERT_LE(b * (1.0 + extra * t), 0.92 * a * (1.0 + 1e-9) + 1e-300)
              << ratio << " " << extra << " " << n;
        }
      }
    }
  }
}

// Reset clears the saturation and the width detector but leaves the
// equaliser memories running.
TEST(BusShaping, ResetKeepsTheEqualiserMemories) {
  auto proc = std::make_unique<Processor>();
  proc->setSampleRate(48000);
  proc->applySettings({ProcessingMode::stream, 0.0, 100.0});
  std::vector<float> buf(2 * 4000);
  for (size_t i = 0; i < buf.size(); ++i) {
    buf[i] = 0.5f * std::sin(0.013f * static_cast<float>(i)) * (i % 2 ? 1.0f : 0.3f);
  }
  proc->processBuffer(buf.data(), 4000, 2);
  const BusShapingState before = proc->state.bus;
  ASSERT_NE(before.lowEq[0].y1, 0.0);
  ASSERT_NE(before.subEq[1].x1, 0.0);
  ASSERT_NE(before.width.result, 0.0);
  proc->reset();
  const BusShapingState& after = proc->state.bus;
  for (int ch = 0; ch < 2; ++ch) {
    for (auto pair : {std::make_pair(&before.lowEq[ch], &after.lowEq[ch]),
                      std::make_pair(&before.subEq[ch], &after.subEq[ch])}) {
      EXPECT_EQ(pair.first->x1, pair.second->x1);
      EXPECT_EQ(pair.first->x2, pair.second->x2);
      EXPECT_EQ(pair.first->y1, pair.second->y1);
      EXPECT_EQ(pair.first->y2, pair.second->y2);
    }
    EXPECT_EQ(after.saturation[ch].previous, 0.0);
  }
  EXPECT_EQ(after.width.result, 0.0);
  EXPECT_EQ(after.width.midSlow, 0.0);
}

}  // namespace
}  // namespace vantle
