#include "master/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vantle {

namespace {

constexpr double kWidth = 960;
constexpr double kHeight = 420;
constexpr double kLeft = 70;  // room for the LUFS labels
constexpr double kRight = 20;
constexpr double kTop = 40;     // room for the title and the legend
constexpr double kBottom = 50;  // room for the time labels
constexpr double kFloorLufs = -60;

std::string fixed(double v, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string minutesSeconds(double seconds) {
  const long total = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// A tick step of 1, 2 or 5 times a power of ten that gives about `count` ticks.
double niceStep(double span, int count) {
  const double raw = span / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

}  // namespace

std::string loudnessPlot(const PlotInput& in) {
  double duration = 1;
  double top = 0;
  for (const auto* series : {&in.before, &in.after}) {
    if (!series->empty()) duration = std::max(duration, series->back().first);
  }
  double bottom = -40;
  for (const auto* series : {&in.before, &in.after}) {
    for (const auto& p : *series) {
      if (std::isfinite(p.second)) bottom = std::min(bottom, std::floor(p.second / 10) * 10);
    }
  }
  bottom = std::max(bottom, kFloorLufs);
  const double plotWidth = kWidth - kLeft - kRight;
  const double plotHeight = kHeight - kTop - kBottom;
  auto x = [&](double seconds) { return kLeft + seconds / duration * plotWidth; };
  auto y = [&](double lufs) {
    const double v = std::isfinite(lufs) ? std::clamp(lufs, bottom, top) : bottom;
    return kTop + (top - v) / (top - bottom) * plotHeight;
  };

  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
      fixed(kWidth, 0) + "\" height=\"" + fixed(kHeight, 0) + "\" viewBox=\"0 0 " +
      fixed(kWidth, 0) + " " + fixed(kHeight, 0) +
      "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      "<text x=\"" +
      fixed(kLeft, 0) + "\" y=\"18\" font-size=\"14\">" + escaped(in.title) + "</text>\n";

  // Grid and labels: LUFS up the side, minutes:seconds along the bottom.
  for (double v = top; v >= bottom - 1e-9; v -= 10) {
    svg += "<line x1=\"" + fixed(kLeft) + "\" y1=\"" + fixed(y(v)) + "\" x2=\"" +
           fixed(kLeft + plotWidth) + "\" y2=\"" + fixed(y(v)) + "\" stroke=\"#ddd\"/>\n";
    svg += "<text x=\"" + fixed(kLeft - 8) + "\" y=\"" + fixed(y(v) + 4) +
           "\" text-anchor=\"end\">" + fixed(v, 0) + "</text>\n";
  }
  const double step = niceStep(duration, 8);
  for (double t = 0; t <= duration + 1e-9; t += step) {
    svg += "<line x1=\"" + fixed(x(t)) + "\" y1=\"" + fixed(kTop) + "\" x2=\"" + fixed(x(t)) +
           "\" y2=\"" + fixed(kTop + plotHeight) + "\" stroke=\"#eee\"/>\n";
    svg += "<text x=\"" + fixed(x(t)) + "\" y=\"" + fixed(kTop + plotHeight + 18) +
           "\" text-anchor=\"middle\">" + minutesSeconds(t) + "</text>\n";
  }
  svg += "<text x=\"" + fixed(kLeft + plotWidth / 2) + "\" y=\"" + fixed(kHeight - 8) +
         "\" text-anchor=\"middle\">time (minutes:seconds)</text>\n";
  svg += "<text transform=\"translate(16 " + fixed(kTop + plotHeight / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">short-term loudness (LUFS, 3 s)</text>\n";
  svg += "<rect x=\"" + fixed(kLeft) + "\" y=\"" + fixed(kTop) + "\" width=\"" + fixed(plotWidth) +
         "\" height=\"" + fixed(plotHeight) + "\" fill=\"none\" stroke=\"#888\"/>\n";

  auto level = [&](double v, const char* colour, const std::string& label) {
    svg += "<line x1=\"" + fixed(kLeft) + "\" y1=\"" + fixed(y(v)) + "\" x2=\"" +
           fixed(kLeft + plotWidth) + "\" y2=\"" + fixed(y(v)) + "\" stroke=\"" + colour +
           "\" stroke-dasharray=\"6 4\"/>\n";
    svg += "<text x=\"" + fixed(kLeft + plotWidth - 4) + "\" y=\"" + fixed(y(v) - 4) +
           "\" text-anchor=\"end\" fill=\"" + colour + "\">" + escaped(label) + "</text>\n";
  };
  if (in.haveTarget) level(in.targetLufs, "#c0392b", "target " + fixed(in.targetLufs) + " LUFS");
  level(in.truePeakLimit, "#8e44ad", "true-peak limit " + fixed(in.truePeakLimit) + " dBTP");

  auto line = [&](const std::vector<std::pair<double, double>>& series, const char* colour) {
    if (series.empty()) return;
    svg += "<polyline fill=\"none\" stroke=\"" + std::string(colour) +
           "\" stroke-width=\"1.5\" points=\"";
    for (const auto& p : series) svg += fixed(x(p.first)) + "," + fixed(y(p.second)) + " ";
    svg += "\"/>\n";
  };
  line(in.before, "#7f8c8d");
  line(in.after, "#2471a3");

  // Legend.
  const double lx = kLeft + plotWidth - 220;
  svg += "<line x1=\"" + fixed(lx) + "\" y1=\"24\" x2=\"" + fixed(lx + 24) +
         "\" y2=\"24\" stroke=\"#7f8c8d\" stroke-width=\"2\"/><text x=\"" + fixed(lx + 30) +
         "\" y=\"28\">before</text>\n";
  svg += "<line x1=\"" + fixed(lx + 100) + "\" y1=\"24\" x2=\"" + fixed(lx + 124) +
         "\" y2=\"24\" stroke=\"#2471a3\" stroke-width=\"2\"/><text x=\"" + fixed(lx + 130) +
         "\" y=\"28\">after</text>\n";
  svg += "</svg>\n";
  return svg;
}

}  // namespace vantle
