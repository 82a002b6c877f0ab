// Second-order sections with their designers, the two gain trackers and the
// block fill used to prime a delay line.
#pragma once

#include "engine/dsp/elementary.h"
#include "engine/dsp/minmax.h"

namespace vantle {

// Coefficients of a second-order section, already divided by a0.
struct BiquadCoefficients {
  double b0 = 1.0;
  double b1 = 0.0;
  double b2 = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;
};

// Direct form I section: coefficients plus the last two inputs and outputs.
// Designers write only the coefficients, so a running section can be redesigned.
struct BiquadSection {
  BiquadCoefficients c;
  double x1 = 0.0;
  double x2 = 0.0;
  double y1 = 0.0;
  double y2 = 0.0;
};

// Runs the section's memories with the given coefficients. Fixed sections keep
// their design in the derived parameters and only their memories in the stage
// state, so a redesign never touches the memories and reset need not know them.
inline double runBiquad(const BiquadCoefficients& c, BiquadSection& s, double x) {
  const double y = c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a1 * s.y1 - c.a2 * s.y2;
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

inline double runBiquad(BiquadSection& s, double x) { return runBiquad(s.c, s, x); }

// The memories of a left and a right section over a run of frames, side by
// side, with coefficients cl and cr: x holds the frames as (left, right) pairs
// and receives the output. Each lane does what runBiquad does for its
// channel, with the memories in registers for the run.
inline void runBiquadPairs(const BiquadCoefficients& cl, const BiquadCoefficients& cr,
                           BiquadSection& left, BiquadSection& right, DoublePair* x, int frames) {
  const DoublePair b0 = {cl.b0, cr.b0};
  const DoublePair b1 = {cl.b1, cr.b1};
  const DoublePair b2 = {cl.b2, cr.b2};
  const DoublePair a1 = {cl.a1, cr.a1};
  const DoublePair a2 = {cl.a2, cr.a2};
  DoublePair x1 = {left.x1, right.x1};
  DoublePair x2 = {left.x2, right.x2};
  DoublePair y1 = {left.y1, right.y1};
  DoublePair y2 = {left.y2, right.y2};
  for (int n = 0; n < frames; ++n) {
    const DoublePair y = b0 * x[n] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x[n];
    y2 = y1;
    y1 = y;
    x[n] = y;
  }
  storePair(x1, left.x1, right.x1);
  storePair(x2, left.x2, right.x2);
  storePair(y1, left.y1, right.y1);
  storePair(y2, left.y2, right.y2);
}

// Both sections with their own coefficients.
inline void runBiquadPairs(BiquadSection& left, BiquadSection& right, DoublePair* x, int frames) {
  runBiquadPairs(left.c, right.c, left, right, x, frames);
}

inline void clearBiquad(BiquadSection& s) { s.x1 = s.x2 = s.y1 = s.y2 = 0.0; }

// Pass-through coefficients (b0 = 1, everything else 0).
inline BiquadCoefficients passThrough() { return BiquadCoefficients{}; }

// Design frequencies are clamped to 20 Hz .. 0.45 fs before use.
void designLowShelf(BiquadCoefficients& out, double hz, double slope, double gainDb, double fs);
void designLowPass(BiquadCoefficients& out, double hz, double q, double fs);
void designPeaking(BiquadCoefficients& out, double hz, double q, double gainDb, double fs);

// Smoothed level and smoothed linear gain of a tracker. A stored gain of 0 or
// less reads as 1.
struct GainTrackerState {
  double level = 0.0;
  double gain = 1.0;
};

// Infinite-ratio tracker: the gain is threshold over level, never below 0.1.
// Releases slide from releaseA to releaseB the deeper the tracker works.
double trackLimitGain(GainTrackerState& s, double x, double threshold, double attack,
                      double releaseA, double releaseB, double depth);

// The exponent of a ratio tracker's gain curve for a ratio (at least 1.01):
// the gain over the threshold is (level / threshold)^exponent. Derived once,
// outside the frames.
inline double ratioExponent(double ratio) { return 1.0 / maxOf(1.01, ratio) - 1.0; }

// Ratio tracker with a soft knee of width knee and a gain floor; exponent
// from ratioExponent.
double trackRatioGain(GainTrackerState& s, double x, double threshold, double attack,
                      double releaseA, double releaseB, double depth, double exponent, double knee,
                      double floor);

// The trackers in their three steps, for a run of frames: the level follows
// the input, the gain curve gives each level's target, and the gain follows
// the targets. The level and the gain each depend on the frame before; the
// curve does not, so a block's targets can all be worked out in one pass
// while no chain waits for them.
double followTrackerLevel(GainTrackerState& s, double x, double threshold, double attack,
                          double releaseA, double releaseB, double depth);
double limitTarget(double level, double threshold);
double ratioTarget(double level, double threshold, double exponent, double knee, double floor);
double stepTrackerGain(GainTrackerState& s, double target, double attack, double releaseA,
                       double releaseB, double depth);

constexpr int kFillBlockLength = 4096;

// Sets all 4096 entries of a block to v.
void fillBlock(double* block, double v);

}  // namespace vantle
