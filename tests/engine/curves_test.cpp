#include "engine/dsp/curves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vantle {
namespace {

TEST(SoftKneeLimit, ReferenceValues) {
  // T = 0.8, k = 0.2: K = 0.16 and the curve approaches 0.96.
  const struct {
    double x, t, k, expected, tolerance;
  } cases[] = {
      {0.5, 0.8, 0.2, 0.5, 0.0},
      {0.8, 0.8, 0.2, 0.8, 0.0},
      {1.0, 0.8, 0.2, 0.8 + 0.16 * (1.0 - std::exp(-1.25)), 1e-15},
      {1.0, 0.8, 0.2, 0.91416, 5e-6},
      {-10.0, 0.8, 0.2, -0.96, 2e-16},
      {-0.3, 0.8, 0.2, -0.3, 0.0},
      // k = 0 is a hard clip at T, up to the 1e-6 floor of the knee.
      {2.0, 0.8, 0.0, 0.8, 1.0000001e-6},
      {-50.0, 0.8, 0.0, -0.8, 1.0000001e-6},
  };
  for (const auto& c : cases) {
    const double y = softKneeLimit(c.x, c.t, c.k);
    if (c.tolerance == 0.0) {
      EXPECT_EQ(y, c.expected) << c.x << " " << c.k;
    } else {
      EXPECT_NEAR(y, c.expected, c.tolerance) << c.x << " " << c.k;
    }
  }
}

TEST(SoftKneeLimit, ContinuousWithSlopeOneAtTheThresholdAndBounded) {
  for (double t : {0.1, 0.5, 0.8, 1.0}) {
    for (double k : {0.05, 0.2, 1.0}) {
      const double kk = t * k;
      const double h = 1e-7;
      // Just above the threshold the curve leaves with slope 1 - h / (2K).
      const double slope = (softKneeLimit(t + h, t, k) - t) / h;
      EXPECT_NEAR(slope, 1.0, h / kk + 1e-8) << t << " " << k;
      EXPECT_NEAR(softKneeLimit(t + 1e-12, t, k), t, 2e-12);
      double previous = 0.0;
      for (double x = 0.0; x < 20.0 * (t + kk); x += 0.01 * t) {
        const double y = softKneeLimit(x, t, k);
        EXPECT_GE(y, previous);
        EXPECT_LT(y, t + kk + 1e-15);
        EXPECT_EQ(softKneeLimit(-x, t, k), -y);
        previous = y;
      }
    }
  }
}

TEST(KneeClip, HardAndDryLimits) {
  const double c = 0.9;
  const struct {
    double x, expected;
  } hard[] = {{2.0, c}, {-2.0, -c}, {0.9, 0.9}, {0.5, 0.5}, {-0.89, -0.89}};
  for (const auto& h : hard) EXPECT_EQ(kneeClip(h.x, c, 1.0, 0.0), h.expected) << h.x;
  // Any negative knee is hard mode too.
  EXPECT_EQ(kneeClip(5.0, c, 1.0, -1.0), c);
  for (double k : {0.0, 0.3, 1.0}) {
    for (double x : {-3.0, -0.5, 0.0, 0.7, 4.0}) EXPECT_EQ(kneeClip(x, c, 0.0, k), x);
  }
  // Half mix of a hard clip: halfway between dry and clipped.
  EXPECT_DOUBLE_EQ(kneeClip(2.0, c, 0.5, 0.0), 0.5 * 2.0 + 0.5 * c);
}

TEST(KneeClip, KneeStartsAtItsShareOfTheCeilingAndStaysBelowIt) {
  const double c = 0.9;
  for (double k : {0.2, 0.5, 1.0}) {
    const double g = (1.0 - 0.7 * k) * c;  // with k = 1 the knee starts at 0.3 C
    EXPECT_EQ(kneeClip(g, c, 1.0, k), g);
    EXPECT_EQ(kneeClip(-0.999 * g, c, 1.0, k), -0.999 * g);
    // Continuous with slope 1 at the knee start.
    const double h = 1e-7;
    EXPECT_NEAR((kneeClip(g + h, c, 1.0, k) - g) / h, 1.0, h / (c - g) + 1e-8);
    for (double x : {1.0, 2.0, 100.0}) {
      // Far above the knee the exponential underflows and the result rounds to C.
      const double y = kneeClip(x, c, 1.0, k);
      EXPECT_LE(y, c);
      if (x < 2.5) {
        EXPECT_LT(y, c);
      }
      EXPECT_GT(y, g);
      EXPECT_EQ(kneeClip(-x, c, 1.0, k), -y);
    }
  }
  EXPECT_NEAR(kneeClip(0.3 * c, c, 1.0, 1.0), 0.3 * c, 1e-15);
}

TEST(ErrorFeedbackClip, NoFeedbackIsTheMixedSoftLimitAndKeepsState) {
  for (double m : {0.0, 0.4, 1.0}) {
    for (double x : {-2.0, 0.3, 0.95, 3.0}) {
      ErrorClipState s;
      s.error = 0.123;
      const double y = errorFeedbackClip(s, x, 0.8, m, 0.2, 0.0, 0.5);
      EXPECT_EQ(y, (1.0 - m) * x + m * softKneeLimit(x, 0.8, 0.2));
      EXPECT_EQ(s.error, 0.123);
      errorFeedbackClip(s, x, 0.8, m, 0.2, -1.0, 0.5);
      EXPECT_EQ(s.error, 0.123);
    }
  }
}

TEST(ErrorFeedbackClip, FeedbackTakesTheLowPassedErrorOff) {
  // By hand: g = 0.8 + 0.16 (1 - e^-1.25); error g - 1 low-passed with a = 0.5
  // from 0, taken off once (f = 1).
  ErrorClipState s;
  const double g = 0.8 + 0.16 * (1.0 - std::exp(-1.25));
  const double e = 0.5 * (g - 1.0);
  EXPECT_NEAR(errorFeedbackClip(s, 1.0, 0.8, 1.0, 0.2, 1.0, 0.5), g - e, 1e-15);
  EXPECT_NEAR(s.error, e, 1e-15);
  // Below the threshold the error is 0 and the state decays towards it.
  EXPECT_NEAR(errorFeedbackClip(s, 0.1, 0.8, 1.0, 0.2, 1.0, 0.5), 0.1 - 0.5 * e, 1e-15);
  EXPECT_NEAR(s.error, 0.5 * e, 1e-15);
}

TEST(DrivenErrorClip, DryMixReturnsInputButUpdatesState) {
  DrivenClipState s;
  EXPECT_EQ(drivenErrorClip(s, 1.0, 0.8, 0.0, 0.2, 1.0, 1.0, 0.5), 1.0);
  const double err = 0.8 + 0.16 * (1.0 - std::exp(-1.25)) - 1.0;
  EXPECT_NEAR(s.s0, 0.5 * err, 1e-15);
  EXPECT_NEAR(s.s1, 0.25 * err, 1e-15);
  EXPECT_EQ(drivenErrorClip(s, -0.4, 0.8, 0.0, 0.2, 3.0, -2.0, 0.5), -0.4);
}

TEST(DrivenErrorClip, FullMixWithoutErrorGainIsTheSoftLimitAtInputScale) {
  for (double drive : {0.5, 1.0, 2.0, 4.0}) {
    const double h = std::fmax(1.0, drive);
    for (double x : {-1.5, -0.1, 0.2, 0.6, 1.0, 3.0}) {
      DrivenClipState s;
      const double y = drivenErrorClip(s, x, 0.8, 1.0, 0.2, drive, 0.0, 0.3);
      EXPECT_NEAR(y, softKneeLimit(h * x, 0.8, 0.2) / h, 1e-15) << drive << " " << x;
    }
  }
  // A drive only moves where the clipping starts: 0.3 x 2 stays below 0.8.
  DrivenClipState s;
  EXPECT_EQ(drivenErrorClip(s, 0.3, 0.8, 1.0, 0.2, 2.0, 1.0, 0.3), 0.3);
  EXPECT_EQ(s.s0, 0.0);
}

TEST(DrivenErrorClip, ErrorGainAddsTheTwiceLowPassedError) {
  // Two frames at 1.0: the second adds m e (0.65 m + 0.35) s1 with s1 from both.
  DrivenClipState s;
  const double err = 0.8 + 0.16 * (1.0 - std::exp(-1.25)) - 1.0;
  drivenErrorClip(s, 1.0, 0.8, 1.0, 0.2, 1.0, 2.0, 0.5);
  const double s0 = 0.5 * err + 0.5 * (err - 0.5 * err);
  const double s1 = 0.25 * err + 0.5 * (s0 - 0.25 * err);
  EXPECT_NEAR(drivenErrorClip(s, 1.0, 0.8, 1.0, 0.2, 1.0, 2.0, 0.5), 1.0 + err + 2.0 * s1, 1e-15);
}

TEST(SineShape, ReferenceValues) {
  for (double x : {-3.0, -0.2, 0.0, 0.5, 7.0}) EXPECT_EQ(sineShape(x, 1.0, 0.0, 2.0), x);
  EXPECT_NEAR(sineShape(2.0, 1.0, 1.0, 1.0), 1.0, 1e-15);
  EXPECT_NEAR(sineShape(0.5, 1.0, 1.0, 1.0), std::sin(0.5), 1e-15);
  EXPECT_NEAR(sineShape(0.5, 1.0, 1.0, 1.0), 0.47943, 5e-6);
  // Saturates at +-C / g with a flat top, passes small signals with slope 1.
  EXPECT_NEAR(sineShape(10.0, 0.5, 1.0, 1.0), 0.5, 1e-15);
  EXPECT_NEAR(sineShape(-10.0, 0.5, 1.0, 2.0), -0.25, 1e-15);
  EXPECT_NEAR(sineShape(1e-6, 0.9, 1.0, 3.0) / 1e-6, 1.0, 1e-9);
  // Half mix.
  EXPECT_NEAR(sineShape(2.0, 1.0, 0.5, 1.0), 1.5, 1e-15);
}

TEST(LevelSineShape, AmountZeroKeepsStateAndFollowsTheMeanMagnitude) {
  SineShapeState p;
  p.previous = 0.3;
  EXPECT_EQ(levelSineShape(p, 0.7, 0.0), 0.7);
  EXPECT_EQ(levelSineShape(p, 0.7, 1e-8), 0.7);
  EXPECT_EQ(p.previous, 0.3);

  // By hand from a fresh state with amount 1 (and an amount above 1 clamps to it).
  for (double amount : {1.0, 5.0}) {
    SineShapeState q;
    const double s1 = std::sin(0.5);
    const double b1 = std::fabs(s1) * 0.5;
    EXPECT_NEAR(levelSineShape(q, 0.5, amount), (1.0 - b1) * 0.5 + b1 * s1, 1e-15);
    EXPECT_EQ(q.previous, s1);
    // Beyond pi/2 the shaped sample is 1; the wet share is the mean magnitude.
    const double b2 = std::fabs(1.0 + s1) * 0.5;
    EXPECT_NEAR(levelSineShape(q, 3.0, amount), (1.0 - b2) * 3.0 + b2 * 1.0, 1e-15);
    EXPECT_EQ(q.previous, 1.0);
  }
}

// Each channel of a pair form is the single form on that channel, bit for
// bit, whichever side of the knee the other channel stands on.
TEST(CurvePairs, EachChannelIsTheSingleCurve) {
  const double samples[] = {0.0, 0.05, -0.3, 0.39, 0.41, -0.47, 0.8, -0.8, 0.81, 1.2, -3.0, 40.0};
  ErrorClipState single[2];
  ErrorClipState paired[2];
  for (double l : samples) {
    for (double r : samples) {
      double a = l;
      double b = r;
      softKneeLimitPair(a, b, 0.4, 0.3);
      EXPECT_EQ(a, softKneeLimit(l, 0.4, 0.3));
      EXPECT_EQ(b, softKneeLimit(r, 0.4, 0.3));
      for (double knee : {0.0, 0.24}) {
        a = l;
        b = r;
        kneeClipPair(a, b, 0.8, 0.7, knee);
        EXPECT_EQ(a, kneeClip(l, 0.8, 0.7, knee));
        EXPECT_EQ(b, kneeClip(r, 0.8, 0.7, knee));
      }
      // The clipper with feedback in its two steps, knees of both channels first.
      a = l;
      b = r;
      softKneeLimitPair(a, b, 0.4, 0.36);
      EXPECT_EQ(applyClipFeedback(paired[0], l, a, 0.75, 0.55, 0.2),
                errorFeedbackClip(single[0], l, 0.4, 0.75, 0.36, 0.55, 0.2));
      EXPECT_EQ(applyClipFeedback(paired[1], r, b, 0.75, 0.55, 0.2),
                errorFeedbackClip(single[1], r, 0.4, 0.75, 0.36, 0.55, 0.2));
      EXPECT_EQ(paired[0].error, single[0].error);
      EXPECT_EQ(paired[1].error, single[1].error);
      a = l;
      b = r;
      sineShapePair(a, b, 0.5, 0.6, 0.9);
      EXPECT_EQ(a, sineShape(l, 0.5, 0.6, 0.9));
      EXPECT_EQ(b, sineShape(r, 0.5, 0.6, 0.9));
    }
  }
}

// The block form, two frames' sines at a time with a lone frame at the end of
// an odd run, gives each channel the single curve scaled by the make-up, and
// carries the previous shaped sample from call to call; with no amount it
// applies the make-up alone and leaves the state as it is.
TEST(CurvePairs, LevelSineShapeBlockIsTheSingleCurveFrameByFrame) {
  const double samples[] = {0.0, 0.05, -0.3, 0.41, -0.47, 0.8, 1.2, -3.0, 40.0, -1e-300};
  std::vector<double> left;
  std::vector<double> right;
  for (double l : samples) {
    for (double r : samples) {
      left.push_back(l);
      right.push_back(r);
    }
  }
  for (double amount : {0.45, 1.0, 0.0}) {
    for (int run : {1, 2, 3, 7, 16}) {
      SCOPED_TRACE(::testing::Message() << "amount " << amount << ", run " << run);
      SineShapeState single[2] = {{0.2}, {-0.6}};
      SineShapeState block[2] = {{0.2}, {-0.6}};
      std::vector<double> l = left;
      std::vector<double> r = right;
      const int frames = static_cast<int>(l.size());
      for (int first = 0; first < frames; first += run) {
        const int n = run < frames - first ? run : frames - first;
        levelSineShapeBlock(block, &l[first], &r[first], n, amount, 1.3);
      }
      for (int i = 0; i < frames; ++i) {
        ASSERT_EQ(l[i], levelSineShape(single[0], left[i], amount) * 1.3) << i;
        ASSERT_EQ(r[i], levelSineShape(single[1], right[i], amount) * 1.3) << i;
      }
      EXPECT_EQ(block[0].previous, single[0].previous);
      EXPECT_EQ(block[1].previous, single[1].previous);
    }
  }
}

}  // namespace
}  // namespace vantle
