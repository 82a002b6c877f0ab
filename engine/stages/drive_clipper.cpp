#include "engine/stages/drive_clipper.h"

namespace vantle {

void deriveDriveClipper(DriveClipperParams& p, const DeriveInputs& in) {
  (void)p;
  (void)in;
}

void resetDriveClipper(DriveClipperState& s, const DriveClipperParams& p) {
  (void)s;
  (void)p;
}

void runDriveClipper(const DriveClipperParams& p, DriveClipperState& s, double& left, double& right) {
  (void)p; (void)s; (void)left; (void)right;
}

}  // namespace vantle
