// Drive clipper of the 28 to 145 Hz region.
#pragma once

#include "engine/dsp/curves.h"
#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct DriveClipperParams {
  double driveAmount = 0.0;     // 0..1; 0 lets the pair pass unchanged
  double driveSplitCoef = 0.0;  // one-pole coefficient, 145 Hz (top of the driven region)
  double driveLowCoef = 0.0;    // one-pole coefficient, 28 Hz (bottom of the driven region)
  double driveErrorCoef = 0.0;  // one-pole coefficient, 220 Hz, of the clipping-error low-pass
  double driveCeiling = 0.0;    // clipper threshold, linear
  double driveFactor = 1.0;     // drive into the clipper
  double driveMix = 0.0;        // share of the clipping error applied
  double driveMidGain = 1.0;    // make-up of the driven region
};

// Per-channel state, all signal units, per frame, 0 after reset:
//   driveSplit1, driveSplit2  cascaded 145 Hz one-poles
//   driveLow                  28 Hz one-pole on the 145 Hz low-pass
//   clip                      the clipper's two-stage error low-pass
struct DriveChannelState {
  double driveSplit1 = 0.0;
  double driveSplit2 = 0.0;
  double driveLow = 0.0;
  DrivenClipState clip;
};

struct DriveClipperState {
  DriveChannelState left;
  DriveChannelState right;
};

void deriveDriveClipper(DriveClipperParams& p, const DeriveInputs& in);
void resetDriveClipper(DriveClipperState& s, const DriveClipperParams& p);
void runDriveClipper(const DriveClipperParams& p, DriveClipperState& s, double* left, double* right,
                     int frames);

}  // namespace vantle
