#include "engine/stages/drive_clipper.h"

#include <cmath>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/conversions.h"
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

// The split of one channel's frame: the mid band goes to the clip, the
// rest (high plus low) around it.
struct DriveSplit {
  double mid;
  double rest;
};

DriveSplit splitChannel(const DriveClipperParams& p, DriveChannelState& s, double x) {
  onePole(s.driveSplit1, x, p.driveSplitCoef);
  const double lp = onePole(s.driveSplit2, s.driveSplit1, p.driveSplitCoef);
  onePole(s.driveLow, lp, p.driveLowCoef);
  const double mid = lp - s.driveLow;
  const double high = x - lp;
  const double low = s.driveLow;
  return {mid, high + low};
}

double joinChannel(const DriveClipperParams& p, DriveChannelState& s, const DriveSplit& split,
                   double err) {
  const double clipped =
      applyDrivenError(s.clip, split.mid, err, p.driveMix, kDriveErrorGain, p.driveErrorCoef);
  return split.rest + clipped * p.driveMidGain;
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

// The stage over at most kChainBlock frames.
void runBlock(const DriveClipperParams& p, DriveClipperState& s, double* left, double* right,
              int frames) {
  if (!(p.driveAmount > 0.0)) return;
  // The split filters and the error filters run frame by frame; the clip
  // between them keeps no memory, so the block's frames pass it in one go.
  DriveSplit splitLeft[kChainBlock];
  DriveSplit splitRight[kChainBlock];
  double errLeft[kChainBlock];
  double errRight[kChainBlock];
  for (int i = 0; i < frames; ++i) {
    splitLeft[i] = splitChannel(p, s.left, left[i]);
    splitRight[i] = splitChannel(p, s.right, right[i]);
  }
  for (int i = 0; i < frames; ++i) {
    errLeft[i] = splitLeft[i].mid;
    errRight[i] = splitRight[i].mid;
    drivenClipErrorPair(errLeft[i], errRight[i], p.driveCeiling, kDriveKnee, p.driveFactor);
  }
  for (int i = 0; i < frames; ++i) {
    left[i] = joinChannel(p, s.left, splitLeft[i], errLeft[i]);
    right[i] = joinChannel(p, s.right, splitRight[i], errRight[i]);
  }
}

}  // namespace

void runDriveClipper(const DriveClipperParams& p, DriveClipperState& s, double* left, double* right,
                     int frames) {
  forEachChainBlock(
      frames, [&](int first, int count) { runBlock(p, s, left + first, right + first, count); });
}

}  // namespace vantle
