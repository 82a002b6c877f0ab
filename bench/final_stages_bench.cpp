// Throughput of the last three stages (clip-event repair, true-peak limiter
// with the load feedback), driven directly, on signals that keep them idle,
// lightly loaded and fully loaded. Run by hand: final_stages_bench.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "engine/dsp/block_rates.h"
#include "engine/dsp/conversions.h"
#include "engine/stages/clip_repair.h"
#include "engine/stages/load_feedback.h"
#include "engine/stages/true_peak_limiter.h"

using namespace vantle;

namespace {

struct Stages {
  ClipRepairParams rp;
  ClipRepairState rs;
  TruePeakLimiterParams tp;
  TruePeakLimiterState ts;
  LoadFeedbackParams lp;
  LoadFeedbackState ls;
  LoadTargets targets;
  OutputControlOutput output;  // the output stage as the repair sees it: boosting
};

double run(ProcessingMode mode, double fs, const std::vector<double>& x, double& sink) {
  auto s = std::make_unique<Stages>();
  const DeriveInputs in{mode, fs, 1.0, 0.0, kOutputCeiling};
  deriveClipRepair(s->rp, in);
  deriveTruePeakLimiter(s->tp, in);
  deriveLoadFeedback(s->lp, in, WatchedVoicing{0.55, 0.35, 0.4, 0.5, s->rp.repairAmount, 0.01});
  resetClipRepair(s->rs, s->rp);
  resetTruePeakLimiter(s->ts, s->tp);
  resetLoadFeedback(s->ls, s->lp, s->targets);
  s->output.outputGain = 1.2;
  int loadBlockFrames = 0;
  const std::clock_t t0 = std::clock();  // processor time: the machine is shared
  const size_t frames = x.size() / 2;
  for (size_t f = 0; f < frames; ++f) {
    double l = x[2 * f];
    double r = x[2 * f + 1];
    runClipRepair(s->rp, s->rs, &s->output, &l, &r, 1);
    StereoFrame y;
    runTruePeakLimiter(s->tp, s->ts, &l, &r, &y, 1);
    if (++loadBlockFrames >= kLoadBlock) {
      loadBlockFrames = 0;
      const LoadFeedbackInputs w{0.5, 1.0, 1.0, s->rs.repairGain, s->ts.tpGain, 0.0, 0.5};
      runLoadFeedback(s->lp, s->ls, w, s->targets);
    }
    sink += y.left + y.right;
  }
  const double seconds = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
  return (frames / fs) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const char* only = argc > 1 ? argv[1] : nullptr;
  const double fs = 48000.0;
  const size_t frames = static_cast<size_t>(fs * 20);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> silence(2 * frames, 0.0);
  std::vector<double> programme(2 * frames);
  std::vector<double> loud(2 * frames);
  for (size_t f = 0; f < frames; ++f) {
    const double t = f / fs;
    // Tones at about -8 dBFS with a full-scale click every 100 ms.
    const double v =
        0.2 * std::sin(2 * kPi * 220 * t) + 0.15 * std::sin(2 * kPi * 1375 * t) + 0.05 * u(rng);
    programme[2 * f] = f % 4800 == 0 ? kOutputCeiling : v;
    programme[2 * f + 1] = -v;
    loud[2 * f] = kOutputCeiling * u(rng);
    loud[2 * f + 1] = kOutputCeiling * u(rng);
  }
  double sink = 0.0;
  const struct {
    const char* name;
    const std::vector<double>* x;
  } signals[] = {{"silence", &silence}, {"programme", &programme}, {"loud noise", &loud}};
  const struct {
    const char* name;
    ProcessingMode mode;
  } modes[] = {{"podcast", ProcessingMode::podcast},
               {"stream", ProcessingMode::stream},
               {"limiter", ProcessingMode::limiter}};
  for (const auto& m : modes) {
    for (const auto& s : signals) {
      if (only != nullptr && std::strcmp(only, m.name) != 0) continue;
      std::printf("%-8s %-11s %8.0fx realtime\n", m.name, s.name, run(m.mode, fs, *s.x, sink));
    }
  }
  std::printf("(checksum %g)\n", sink);
  return 0;
}
