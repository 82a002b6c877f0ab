#include "launcher/download_progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using vantle::ProgressView;
using vantle::updateProgressView;

TEST(DownloadPercent, WholePercentClampedAndSafeFromOverflow) {
  struct Case {
    std::uint32_t soFar, total;
    int percent;
  } cases[] = {
      {0, 0, 0},
      {5000, 0, 0},  // unknown total
      {1, 100, 1},
      {199, 200, 99},  // rounded down
      {200, 200, 100},
      {300, 200, 100},                  // more than announced
      {0xFFFFFFFFu, 0xFFFFFFFFu, 100},  // 32-bit product would overflow
      {0x80000000u, 0xFFFFFFFFu, 50},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vantle::downloadPercent(c.soFar, c.total), c.percent) << c.soFar << " of " << c.total;
  }
}

TEST(ProgressView, TextsChangeOnlyWithTheWholePercentage) {
  int last = -1;
  ProgressView view;
  const std::uint32_t total = 3u << 20;  // 3 MiB

  updateProgressView(last, 0, total, view);
  EXPECT_TRUE(view.textsChanged);
  EXPECT_EQ(view.barPosition, 0);
  EXPECT_EQ(std::wstring(view.label), L"Downloading the Korvane Runtime... 0%  (0 of 3 MB)");
  EXPECT_EQ(std::wstring(view.title), L"Installing the Korvane Runtime - 0%");

  updateProgressView(last, 100, total, view);  // still 0 %: bar only
  EXPECT_FALSE(view.textsChanged);
  EXPECT_EQ(view.barPosition, 0);

  // 1.5 MiB of 3 MiB: half way, and shown as whole mebibytes.
  updateProgressView(last, 3u << 19, total, view);
  EXPECT_TRUE(view.textsChanged);
  EXPECT_EQ(last, 50);
  EXPECT_EQ(view.barPosition, 500);
  EXPECT_EQ(std::wstring(view.label), L"Downloading the Korvane Runtime... 50%  (1 of 3 MB)");
  EXPECT_EQ(std::wstring(view.title), L"Installing the Korvane Runtime - 50%");

  updateProgressView(last, total, total, view);
  EXPECT_EQ(view.barPosition, 1000);
  EXPECT_EQ(std::wstring(view.label), L"Downloading the Korvane Runtime... 100%  (3 of 3 MB)");
}

TEST(ProgressView, UnknownTotalSetsTheShortTextOnce) {
  int last = -1;
  ProgressView view;
  updateProgressView(last, 1000, 0, view);
  EXPECT_TRUE(view.textsChanged);
  EXPECT_EQ(view.barPosition, 0);
  EXPECT_EQ(std::wstring(view.label), L"Downloading the Korvane Runtime... 0%");
  updateProgressView(last, 5u << 20, 0, view);
  EXPECT_FALSE(view.textsChanged);
  EXPECT_EQ(view.barPosition, 0);
}

}  // namespace
