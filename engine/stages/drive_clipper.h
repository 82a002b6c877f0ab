// Drive clipper of the 28 to 145 Hz region.
#pragma once

#include "engine/settings.h"

namespace vantle {

// Derived parameters (written by the derivation only).
struct DriveClipperParams {};

// Run-time state.
struct DriveClipperState {};

void deriveDriveClipper(DriveClipperParams& p, const DeriveInputs& in);
void resetDriveClipper(DriveClipperState& s, const DriveClipperParams& p);
void runDriveClipper(const DriveClipperParams& p, DriveClipperState& s, double& left, double& right);

}  // namespace vantle
