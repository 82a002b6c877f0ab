// The soak: vantle-tonbrel, the real program, fed hostile signals in every
// mode, at adapt 0, 37, 50, 51 and 100, at 8000 to 192000 Hz, mono and
// stereo, at least a billion output samples in all. It counts the samples at
// or above the output ceiling, the samples that are not numbers and the runs
// whose output length differs from their input, and reports the worst true
// peak (4x oversampled) per mode and rate.
//
//   vantle-soak PROGRAM [--seconds S] [--jobs J] [--signal VANTLE_SIGNAL]
//
// The signals come from vantle-signal (beside this program unless given):
// per run, square waves, impulse trains, a sweep to Nyquist, DC steps and
// bursts out of silence, S/15 seconds each, then clipped noise at +18 dB
// input gain for S/3 seconds (S = 60 by default). J: runs at once (2 by
// default). Exit 0 when no run had an over, a sample that is not a number, a
// length change or a failed exit.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/settings.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr const char* kModes[] = {"podcast", "stream", "limiter"};
constexpr int kAdapts[] = {0, 37, 50, 51, 100};
constexpr int kRates[] = {8000, 22050, 44100, 48000, 96000, 192000};

struct Run {
  int mode;
  int adapt;
  int rate;
  int channels;
};

struct Outcome {
  std::uint64_t samples = 0;
  std::uint64_t overs = 0;
  std::uint64_t notNumbers = 0;
  int lengthChanges = 0;
  int failedRuns = 0;  // the program did not exit 0
  double truePeak = 0.0;
};

// The signals of a run, from vantle-signal, and whether each is played at
// +18 dB input gain.
struct Signal {
  const char* kind;
  double share;  // of the run's seconds
  bool hot;
};
constexpr Signal kSignals[] = {{"square", 2.0 / 15.0, false}, {"impulses", 2.0 / 15.0, false},
                               {"sweep", 2.0 / 15.0, false},  {"dc", 2.0 / 15.0, false},
                               {"bursts", 2.0 / 15.0, false}, {"clipped-noise", 1.0 / 3.0, true}};

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// 4x oversampling interpolator: a Hann-windowed sinc of 48 taps, 12 per
// phase; phase 0 is the sample itself.
struct Interpolator {
  static constexpr int kTaps = 12;
  double phase[3][kTaps];
  double gain = 0.0;  // the largest sum of |h| of a phase: bounds a peak by its window

  Interpolator() {
    for (int p = 1; p <= 3; ++p) {
      double sum = 0.0;
      for (int k = 0; k < kTaps; ++k) {
        // Tap k of phase p sits (k - 5) - p / 4 samples from the newest kept sample.
        const double x = (k - kTaps / 2 + 1) - p / 4.0;
        const double sinc = x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
        const double w = 0.5 + 0.5 * std::cos(kPi * x / (kTaps / 2.0 + 0.5));
        phase[p - 1][k] = sinc * w;
        sum += std::fabs(sinc * w);
      }
      gain = std::max(gain, sum);
    }
  }
};

// Per channel: the last 12 samples, and how long ago one was loud enough to
// let an interpolated value beat the worst peak so far.
struct PeakTracker {
  double history[Interpolator::kTaps] = {};
  int at = 0;
  int sinceLoud = 1 << 30;
};

void track(const Interpolator& ip, PeakTracker& t, double x, double& worst) {
  t.history[t.at] = x;
  t.at = (t.at + 1) % Interpolator::kTaps;
  const double ax = std::fabs(x);
  worst = std::max(worst, ax);
  t.sinceLoud = ax * ip.gain > worst ? 0 : t.sinceLoud + 1;
  if (t.sinceLoud >= Interpolator::kTaps) return;
  for (const auto& h : ip.phase) {
    double y = 0.0;
    for (int k = 0; k < Interpolator::kTaps; ++k) {
      y += h[k] * t.history[(t.at + k) % Interpolator::kTaps];
    }
    worst = std::max(worst, std::fabs(y));
  }
}

// Runs the program on one signal and checks what comes back.
void runProgram(const std::string& program, const std::string& signalProgram, const Run& run,
                const Signal& signal, double seconds, const std::string& scratch,
                Outcome& outcome) {
  const std::string make = quoted(signalProgram) + " " + signal.kind + " " +
                           std::to_string(run.rate) + " " + std::to_string(run.channels) + " " +
                           std::to_string(seconds * signal.share) + " > " + quoted(scratch);
  FILE* file = std::system(make.c_str()) == 0 ? std::fopen(scratch.c_str(), "rb") : nullptr;
  if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0) {
    std::fprintf(stderr, "soak: cannot make the %s signal with %s\n", signal.kind,
                 signalProgram.c_str());
    std::exit(2);
  }
  const auto inputSamples = static_cast<std::uint64_t>(std::ftell(file)) / sizeof(float);
  std::fclose(file);
  const std::string command =
      quoted(program) + " --mode " + kModes[run.mode] + " --rate " + std::to_string(run.rate) +
      " --channels " + std::to_string(run.channels) + " --adapt " + std::to_string(run.adapt) +
      (signal.hot ? " --input-db 18" : "") + " < " + quoted(scratch);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    std::fprintf(stderr, "soak: cannot run %s\n", program.c_str());
    std::exit(2);
  }
  Interpolator ip;
  PeakTracker trackers[2];
  std::vector<float> block(65536);
  std::uint64_t got = 0;
  for (;;) {
    const std::size_t n = std::fread(block.data(), sizeof(float), block.size(), pipe);
    for (std::size_t i = 0; i < n; ++i) {
      const double y = block[i];
      const int channel = static_cast<int>((got + i) % static_cast<std::uint64_t>(run.channels));
      if (!std::isfinite(y)) {
        ++outcome.notNumbers;
        continue;
      }
      if (std::fabs(y) >= vantle::kOutputCeiling) ++outcome.overs;
      track(ip, trackers[channel], y, outcome.truePeak);
    }
    got += n;
    if (n < block.size()) break;
  }
  const int status = pclose(pipe);
  if (status != 0) ++outcome.failedRuns;
  if (got != inputSamples) ++outcome.lengthChanges;
  outcome.samples += got;
}

double toDb(double x) { return x > 0.0 ? 20.0 * std::log10(x) : -999.0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: vantle-soak PROGRAM [--seconds S] [--jobs J] [--signal VANTLE_SIGNAL]\n");
    return 2;
  }
  const std::string program = argv[1];
  double seconds = 60.0;
  int jobs = 2;
  const std::string self = argv[0];
  const std::size_t slash = self.rfind('/');
  std::string signalProgram =
      (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/vantle-signal";
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--jobs") == 0) jobs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--signal") == 0) signalProgram = argv[i + 1];
  }

  std::vector<Run> runs;
  for (int m = 0; m < 3; ++m)
    for (int a : kAdapts)
      for (int r : kRates)
        for (int c = 1; c <= 2; ++c) runs.push_back(Run{m, a, r, c});
  std::vector<Outcome> outcomes(runs.size());
  std::atomic<std::size_t> next{0};
  std::mutex printing;
  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  auto worker = [&](int id) {
    const std::string scratch =
        "/tmp/vantle-soak-" + std::to_string(getpid()) + "-" + std::to_string(id) + ".f32";
    for (std::size_t k = next++; k < runs.size(); k = next++) {
      const Run& run = runs[k];
      Outcome& o = outcomes[k];
      for (const Signal& signal : kSignals) {
        runProgram(program, signalProgram, run, signal, seconds, scratch, o);
      }
      const std::lock_guard<std::mutex> lock(printing);
      std::printf(
          "[%3zu/%zu] %-7s adapt %3d %6d Hz %s: %10llu samples, overs %llu, not numbers "
          "%llu, length changes %d, true peak %.2f dBTP (%.0f s)\n",
          k + 1, runs.size(), kModes[run.mode], run.adapt, run.rate,
          run.channels == 1 ? "mono  " : "stereo", static_cast<unsigned long long>(o.samples),
          static_cast<unsigned long long>(o.overs), static_cast<unsigned long long>(o.notNumbers),
          o.lengthChanges, toDb(o.truePeak), elapsed());
      std::fflush(stdout);
    }
    std::remove(scratch.c_str());
  };
  std::vector<std::thread> threads;
  for (int j = 0; j < jobs; ++j) threads.emplace_back(worker, j);
  for (std::thread& t : threads) t.join();

  Outcome all;
  std::printf("\nworst true peak (4x oversampled), dBTP, per mode and rate:\n%-8s", "");
  for (int r : kRates) std::printf("%9d", r);
  std::printf("\n");
  for (int m = 0; m < 3; ++m) {
    std::printf("%-8s", kModes[m]);
    for (int r : kRates) {
      double worst = 0.0;
      for (std::size_t k = 0; k < runs.size(); ++k) {
        if (runs[k].mode == m && runs[k].rate == r) worst = std::max(worst, outcomes[k].truePeak);
      }
      std::printf("%9.2f", toDb(worst));
    }
    std::printf("\n");
  }
  for (const Outcome& o : outcomes) {
    all.samples += o.samples;
    all.overs += o.overs;
    all.notNumbers += o.notNumbers;
    all.lengthChanges += o.lengthChanges;
    all.failedRuns += o.failedRuns;
  }
  std::printf(
      "\n%zu runs, %llu samples, overs %llu, not numbers %llu, length changes %d, failed runs %d, "
      "%.0f s\n",
      runs.size(), static_cast<unsigned long long>(all.samples),
      static_cast<unsigned long long>(all.overs), static_cast<unsigned long long>(all.notNumbers),
      all.lengthChanges, all.failedRuns, elapsed());
  const bool clean =
      all.overs == 0 && all.notNumbers == 0 && all.lengthChanges == 0 && all.failedRuns == 0;
  return clean ? 0 : 1;
}
