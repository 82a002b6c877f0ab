// The loudness plot: short-term loudness over time before and after, with
// the target and the true-peak limit, as an SVG picture.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vantle {

struct PlotInput {
  std::vector<std::pair<double, double>> before;  // {seconds, LUFS}
  std::vector<std::pair<double, double>> after;
  bool haveTarget = false;
  double targetLufs = 0;
  double truePeakLimit = 0;  // dBTP
  std::string title;
};

// The whole SVG document.
std::string loudnessPlot(const PlotInput& in);

}  // namespace vantle
