// What the runtime download's progress window shows for one progress report.
// Kept apart from the window code so the arithmetic and texts can be checked
// on any platform.
#pragma once

#include <cstdint>

namespace vantle {

constexpr int kProgressTextUnits = 256;

struct ProgressView {
  int barPosition;                    // 0..1000
  bool textsChanged;                  // label and title need rewriting
  wchar_t label[kProgressTextUnits];  // valid when textsChanged
  wchar_t title[kProgressTextUnits];  // valid when textsChanged
};

// Whole percent of `soFar` in `total` (0 when the total is unknown), clamped
// to 0..100.
int downloadPercent(std::uint32_t soFar, std::uint32_t total);

// Computes the view for one report. `lastPercent` is the percentage last
// written into the texts (-1 before the first report) and is updated when the
// texts change, which happens only when the whole percentage moves.
void updateProgressView(int &lastPercent, std::uint32_t soFar, std::uint32_t total,
                        ProgressView &view);

}  // namespace vantle
