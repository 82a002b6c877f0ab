// Throughput of the processing chain: feeds a generated stereo programme at
// 48 kHz through a Processor in each mode, block by block as the tool does,
// and prints the realtime factor (audio seconds per CPU second) and the peak
// resident memory. Run by hand:  throughput [seconds]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "engine/processor.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

// Speech-like bursts, a chord, noise and stretches of silence, so every
// detector and every quiet-programme path is exercised.
std::vector<float> makeProgramme(double fs, int seconds) {
  const size_t frames = static_cast<size_t>(fs) * static_cast<size_t>(seconds);
  std::vector<float> pcm(frames * 2);
  unsigned state = 12345u;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / fs;
    state = state * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(state >> 8) / 8388608.0) - 1.0;
    const int segment = static_cast<int>(t) % 6;
    double l = 0.0;
    double r = 0.0;
    if (segment < 2) {  // syllables: a buzzy voice gated at 4 Hz
      const double gate = std::sin(2.0 * 3.14159265358979 * 4.0 * t) > 0.0 ? 1.0 : 0.05;
      const double voice = 0.3 * std::sin(2.0 * 3.14159265358979 * 140.0 * t) +
                           0.15 * std::sin(2.0 * 3.14159265358979 * 280.0 * t) + 0.05 * noise;
      l = r = gate * voice;
    } else if (segment < 4) {  // music: a chord with a bass line and some width
      l = 0.25 * std::sin(2.0 * 3.14159265358979 * 55.0 * t) +
          0.2 * std::sin(2.0 * 3.14159265358979 * 440.0 * t) +
          0.1 * std::sin(2.0 * 3.14159265358979 * 3300.0 * t) + 0.05 * noise;
      r = 0.25 * std::sin(2.0 * 3.14159265358979 * 55.0 * t) +
          0.2 * std::sin(2.0 * 3.14159265358979 * 554.4 * t) - 0.05 * noise;
    } else if (segment == 4) {  // loud noise
      l = 0.9 * noise;
      r = -0.8 * noise;
    }  // segment 5: digital silence
    pcm[2 * i] = static_cast<float>(l);
    pcm[2 * i + 1] = static_cast<float>(r);
  }
  return pcm;
}

long peakMemoryKiB() {
#ifndef _WIN32
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#else
  return -1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const double fs = 48000.0;
  const std::vector<float> programme = makeProgramme(fs, seconds);
  const char* names[] = {"podcast", "stream", "limiter"};
  const vantle::ProcessingMode modes[] = {vantle::ProcessingMode::podcast,
                                          vantle::ProcessingMode::stream,
                                          vantle::ProcessingMode::limiter};
  std::printf("%d s of stereo programme at 48000 Hz, blocks of 4096 frames\n", seconds);
  for (int m = 0; m < 3; ++m) {
    for (double adapt : {0.0, 50.0, 100.0}) {
      auto processor = std::make_unique<vantle::Processor>();
      processor->setSampleRate(fs);
      vantle::ProcessorSettings s = vantle::Processor::defaultSettings(modes[m]);
      s.adapt = adapt;
      processor->applySettings(s);
      std::vector<float> buffer = programme;
      const std::clock_t start = std::clock();
      const size_t frames = buffer.size() / 2;
      for (size_t f = 0; f < frames; f += 4096) {
        const size_t n = frames - f < 4096 ? frames - f : 4096;
        processor->processBuffer(buffer.data() + 2 * f, static_cast<std::int64_t>(n), 2);
      }
      const double cpu = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
      std::printf("%-8s adapt %3.0f: realtime factor %7.1f  (%.2f s CPU)\n", names[m], adapt,
                  cpu > 0.0 ? seconds / cpu : 0.0, cpu);
    }
  }
  // The programme and its working copy account for most of the peak; the
  // processor itself is its object plus the clip-repair heap blocks.
  std::printf(
      "peak resident memory: %ld KiB (programme buffers %zu KiB, Processor object %zu KiB)\n",
      peakMemoryKiB(), 2 * programme.size() * sizeof(float) / 1024,
      sizeof(vantle::Processor) / 1024);
  return 0;
}
