#include "engine/stages/drive_clipper.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/conversions.h"
#include "engine/dsp/curves.h"
#include "engine/dsp/minmax.h"

namespace vantle {

namespace {

constexpr double kDriveKnee = 0.42;
constexpr double kDriveErrorGain = 0.22;

struct DriveVoicing {
  double amount;  // V, the drive amount as a fraction
  double tilt;    // T2, extra make-up per unit of drive
};

DriveVoicing driveVoicing(ProcessingMode mode, double d) {
  switch (mode) {
    case ProcessingMode::podcast:
      return {0.08, 0.0};
    case ProcessingMode::stream:
      return {(32.0 + 8.0 * ramp(d, 0.18, 0.64)) / 100.0, 0.06};
    case ProcessingMode::limiter:
      break;
  }
  return {0.25, 0.0};
}

}  // namespace

void deriveDriveClipper(DriveClipperParams& p, const DeriveInputs& in) {
  const DriveVoicing v = driveVoicing(in.mode, in.d);
  p.driveAmount = v.amount;
  p.driveSplitCoef = onePoleCoef(145.0, in.fs);
  p.driveLowCoef = onePoleCoef(28.0, in.fs);
  p.driveErrorCoef = onePoleCoef(220.0, in.fs);
  p.driveCeiling = (0.2 - 0.1 * v.amount) * in.outputCeiling;
  p.driveFactor = 1.0 + 4.2 * v.amount;
  p.driveMix = minOf(1.0, (0.95 + 0.15 * v.amount) * v.amount);
  p.driveMidGain = 1.0 + 0.08 * v.amount + 0.55 * v.amount * v.tilt;
}

void resetDriveClipper(DriveClipperState& s, const DriveClipperParams& p) {
  (void)p;
  s = DriveClipperState{};
}

namespace {

// The stage over at most kChainBlock frames, both channels side by side.
void runBlock(const DriveClipperParams& p, DriveClipperState& s, double* left, double* right,
              int frames) {
  if (!(p.driveAmount > 0.0)) return;
  DriveChannelState& l = s.left;
  DriveChannelState& r = s.right;
  // The split: the mid band goes to the clip, the rest (high plus low)
  // around it.
  DoublePair mid[kChainBlock];
  DoublePair rest[kChainBlock];
  DoublePair split1 = {l.driveSplit1, r.driveSplit1};
  DoublePair split2 = {l.driveSplit2, r.driveSplit2};
  DoublePair low = {l.driveLow, r.driveLow};
  for (int i = 0; i < frames; ++i) {
    const DoublePair x = {left[i], right[i]};
    split1 = split1 + p.driveSplitCoef * (x - split1);
    split2 = split2 + p.driveSplitCoef * (split1 - split2);
    low = low + p.driveLowCoef * (split2 - low);
    mid[i] = split2 - low;
    rest[i] = (x - split2) + low;
  }
  storePair(split1, l.driveSplit1, r.driveSplit1);
  storePair(split2, l.driveSplit2, r.driveSplit2);
  storePair(low, l.driveLow, r.driveLow);

  // The clip keeps no memory, so the block's frames pass it in one go.
  DoublePair err[kChainBlock];
  for (int i = 0; i < frames; ++i) {
    double errLeft = mid[i][0];
    double errRight = mid[i][1];
    drivenClipErrorPair(errLeft, errRight, p.driveCeiling, kDriveKnee, p.driveFactor);
    err[i] = DoublePair{errLeft, errRight};
  }

  DoublePair s0 = {l.clip.s0, r.clip.s0};
  DoublePair s1 = {l.clip.s1, r.clip.s1};
  for (int i = 0; i < frames; ++i) {
    const DoublePair clipped = applyDrivenErrorLanes(s0, s1, mid[i], err[i], p.driveMix,
                                                     kDriveErrorGain, p.driveErrorCoef);
    const DoublePair y = rest[i] + clipped * p.driveMidGain;
    storePair(y, left[i], right[i]);
  }
  storePair(s0, l.clip.s0, r.clip.s0);
  storePair(s1, l.clip.s1, r.clip.s1);
}

}  // namespace

void runDriveClipper(const DriveClipperParams& p, DriveClipperState& s, double* left, double* right,
                     int frames) {
  forEachChainBlock(
      frames, [&](int first, int count) { runBlock(p, s, left + first, right + first, count); });
}

}  // namespace vantle
