#include "launcher/download_progress.h"

#include <cwchar>

namespace vantle {

int downloadPercent(std::uint32_t soFar, std::uint32_t total) {
  if (total == 0) {
    return 0;
  }
  const std::uint64_t percent = static_cast<std::uint64_t>(soFar) * 100u / total;
  return percent > 100u ? 100 : static_cast<int>(percent);
}

void updateProgressView(int &lastPercent, std::uint32_t soFar, std::uint32_t total,
                        ProgressView &view) {
  const int percent = downloadPercent(soFar, total);
  view.barPosition = percent * 10;
  view.textsChanged = percent != lastPercent;
  view.label[0] = L'\0';
  view.title[0] = L'\0';
  if (!view.textsChanged) {
    return;
  }
  lastPercent = percent;
  // Whole mebibytes, rounded down.
  const unsigned long soFarMb = soFar >> 20;
  const unsigned long totalMb = total >> 20;
  if (total != 0) {
    std::swprintf(view.label, kProgressTextUnits,
                  L"Downloading the Korvane Runtime... %d%%  (%lu of %lu MB)", percent, soFarMb,
                  totalMb);
  } else {
    std::swprintf(view.label, kProgressTextUnits, L"Downloading the Korvane Runtime... %d%%",
                  percent);
  }
  std::swprintf(view.title, kProgressTextUnits, L"Installing the Korvane Runtime - %d%%", percent);
  view.label[kProgressTextUnits - 1] = L'\0';
  view.title[kProgressTextUnits - 1] = L'\0';
}

}  // namespace vantle
