// The sound of the whole chain, pinned: every mode at six adapt values and
// three rates, on a speech-like, a dense music-like and a far too loud
// programme, must give exactly the output recorded here, on Linux and on
// Windows alike. A change that is not meant to change the sound leaves every
// line of the table untouched; one that is meant to prints the new table with
// VANTLE_PRINT_GOLDENS=1 and says so in its commit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/processor.h"
#include "tests/engine/test_support.h"

namespace vantle {
namespace {

// The programmes are built from IEEE arithmetic alone (no library sine, no
// library random numbers), so every platform feeds the chain the same bits.
struct Lcg {
  std::uint64_t state;
  // Uniform in [-1, 1).
  double next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }
};

// sin(2 pi x) for any x, by reduction to a quarter turn and a Taylor series.
double turnSine(double x) {
  double t = x - static_cast<double>(static_cast<std::int64_t>(x));
  if (t < 0.0) t += 1.0;
  double sign = 1.0;
  if (t >= 0.5) {
    t -= 0.5;
    sign = -1.0;
  }
  if (t > 0.25) t = 0.5 - t;
  const double a = 6.283185307179586 * t;
  const double a2 = a * a;
  double term = a;
  double sum = a;
  for (int k = 1; k < 10; ++k) {
    term = -term * a2 / static_cast<double>((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sign * sum;
}

// Adds the harmonics 1..count (amplitude 1/h, below 0.45 fs) of each note at
// time t to left, and to right slightly detuned and shifted in phase.
void addHarmonics(const double* notes, int noteCount, int count, double detune, double phaseStep,
                  double t, double fs, double& left, double& right) {
  for (int i = 0; i < noteCount; ++i) {
    for (int h = 1; h <= count; ++h) {
      const double fh = notes[i] * h;
      if (fh > 0.45 * fs) break;
      left += turnSine(fh * t) / h;
      right += turnSine(fh * detune * t + phaseStep * h) / h;
    }
  }
}

enum class Programme { speech, music, hot };

// Speech-like: a voice of harmonics under three formant humps, a pitch that
// wanders, syllables of ~180 ms, phrases with short gaps and one long pause,
// breath noise, slightly different in each ear.
// Music-like: a loud dense mix of a detuned chord, a kick every 0.5 s, a
// bass line, hi-hat noise and a few full-scale overs, wide in stereo.
// Hot: a mix mastered far too loud, bright saw chords through the mids and
// highs, a kick and noise bursts, up to 8 dB over full scale: every clipper,
// limiter and the load feedback work hard.
std::vector<float> makeProgramme(Programme kind, double fs, int frames) {
  std::vector<float> x(static_cast<size_t>(2 * frames));
  Lcg rng{kind == Programme::speech ? 17u : (kind == Programme::music ? 29u : 41u)};
  double phase = 0.0;
  double hiss = 0.0;
  for (int f = 0; f < frames; ++f) {
    const double t = f / fs;
    double l = 0.0;
    double r = 0.0;
    if (kind == Programme::speech) {
      const double f0 = 120.0 + 35.0 * turnSine(0.7 * t) + 12.0 * turnSine(3.1 * t);
      phase += f0 / fs;
      double voice = 0.0;
      for (int h = 1; h <= 24; ++h) {
        const double fh = h * f0;
        if (fh > 0.45 * fs) break;
        // Formant humps near 500, 1500 and 2500 Hz.
        const double w = 1.0 / (1.0 + (fh - 500.0) * (fh - 500.0) * 1e-5) +
                         0.5 / (1.0 + (fh - 1500.0) * (fh - 1500.0) * 2e-5) +
                         0.25 / (1.0 + (fh - 2500.0) * (fh - 2500.0) * 3e-5);
        voice += w / h * turnSine(h * phase);
      }
      const double cycle = t - 1.7 * static_cast<int>(t / 1.7);
      const double syllable = 0.5 - 0.5 * turnSine(5.5 * t + 0.25);
      const bool talking = cycle < 1.25 && !(t > 2.0 && t < 2.9);
      const double env = talking ? syllable : 0.0;
      hiss = 0.7 * hiss + 0.3 * rng.next();
      const double breath = (talking ? 0.004 : 0.0008) * hiss;
      l = 0.22 * env * voice + breath;
      r = 0.19 * env * voice + 0.9 * breath + 0.0005 * rng.next();
    } else if (kind == Programme::hot) {
      const double notes[6] = {196.0, 246.9, 293.7, 392.0, 523.3, 659.3};
      double saw = 0.0;
      double sawR = 0.0;
      addHarmonics(notes, 6, 12, 1.004, 0.05, t, fs, saw, sawR);
      const double beat = t - 0.5 * static_cast<int>(t / 0.5);
      const double kickEnv = beat < 0.2 ? (1.0 - beat / 0.2) : 0.0;
      const double kick = kickEnv * turnSine((50.0 + 120.0 * kickEnv) * beat);
      const double snare = (beat > 0.25 && beat < 0.33) ? 0.9 * rng.next() : 0.08 * rng.next();
      l = 0.45 * saw + 1.2 * kick + snare;
      r = 0.45 * sawR + 1.2 * kick + 0.8 * snare;
    } else {
      const double chord[4] = {110.0, 138.6, 164.8, 220.5};
      double pad = 0.0;
      double padR = 0.0;
      addHarmonics(chord, 4, 6, 1.003, 0.1, t, fs, pad, padR);
      const double beat = t - 0.5 * static_cast<int>(t / 0.5);
      const double kickEnv = beat < 0.25 ? (1.0 - beat / 0.25) * (1.0 - beat / 0.25) : 0.0;
      const double kick = kickEnv * turnSine((55.0 + 90.0 * kickEnv) * beat);
      const double bass = 0.35 * turnSine((t < 1.0 ? 55.0 : 73.4) * t);
      const double n = rng.next();
      const double hat = (beat > 0.25 && beat < 0.3) ? 0.3 * n : 0.05 * n;
      const double over = (f % 7919 == 0) ? 1.3 : 0.0;
      l = 0.16 * pad + 0.7 * kick + bass + hat + over;
      r = 0.16 * padR + 0.7 * kick + bass - 0.8 * hat + 0.6 * rng.next() * 0.05;
    }
    x[2 * static_cast<size_t>(f)] = static_cast<float>(l);
    x[2 * static_cast<size_t>(f) + 1] = static_cast<float>(r);
  }
  return x;
}

constexpr int kQuarters = 4;

// FNV-1a over the output's bits, one hash per quarter of the run, so that a
// failure shows in which quarter the output first moves.
struct Fingerprint {
  std::uint64_t hash[kQuarters];
  float samples[3];  // left at a third, right at two thirds, left at the end
};

Fingerprint fingerprint(const std::vector<float>& y) {
  Fingerprint fp{};
  const size_t n = y.size();
  for (int q = 0; q < kQuarters; ++q) {
    std::uint64_t h = 1469598103934665603ULL;
    for (size_t k = n * q / kQuarters; k < n * (q + 1) / kQuarters; ++k) {
      std::uint32_t bits;
      std::memcpy(&bits, &y[k], sizeof bits);
      for (int b = 0; b < 4; ++b) {
        h ^= (bits >> (8 * b)) & 0xffu;
        h *= 1099511628211ULL;
      }
    }
    fp.hash[q] = h;
  }
  const size_t frames = n / 2;
  fp.samples[0] = y[2 * (frames / 3)];
  fp.samples[1] = y[2 * (2 * frames / 3) + 1];
  fp.samples[2] = y[n - 2];
  return fp;
}

struct Golden {
  ProcessingMode mode;
  int adapt;
  int rate;
  Programme programme;
  Fingerprint expected;
};

constexpr auto P = ProcessingMode::podcast;
constexpr auto S = ProcessingMode::stream;
constexpr auto L = ProcessingMode::limiter;
constexpr auto sp = Programme::speech;
constexpr auto mu = Programme::music;
constexpr auto ho = Programme::hot;

// Printed by this test with VANTLE_PRINT_GOLDENS=1.
const Golden kGoldens[] = {
#include "tests/engine/chain_goldens.inc"
};

constexpr double kSeconds = 3.2;

std::vector<float> runCase(ProcessingMode mode, int adapt, int rate, Programme programme) {
  const int frames = static_cast<int>(kSeconds * rate);
  std::vector<float> y = makeProgramme(programme, rate, frames);
  configured(mode, adapt, rate)->processBuffer(y.data(), frames, 2);
  return y;
}

const char* modeName(ProcessingMode m) { return m == P ? "P" : (m == S ? "S" : "L"); }

std::string describe(const Fingerprint& fp) {
  char text[256];
  std::snprintf(text, sizeof text,
                "{{0x%016" PRIx64 "ULL, 0x%016" PRIx64 "ULL, 0x%016" PRIx64 "ULL, 0x%016" PRIx64
                "ULL}, {%.9gf, %.9gf, %.9gf}}",
                fp.hash[0], fp.hash[1], fp.hash[2], fp.hash[3], static_cast<double>(fp.samples[0]),
                static_cast<double>(fp.samples[1]), static_cast<double>(fp.samples[2]));
  return text;
}

TEST(ChainGolden, EveryModeAdaptRateAndProgrammeGivesThePinnedOutput) {
  if (std::getenv("VANTLE_PRINT_GOLDENS") != nullptr) {
    for (ProcessingMode mode : {P, S, L}) {
      for (int adapt : {0, 35, 50, 51, 80, 100}) {
        for (int rate : {44100, 48000, 96000}) {
          for (Programme programme : {sp, mu, ho}) {
            const Fingerprint fp = fingerprint(runCase(mode, adapt, rate, programme));
            std::printf("    {%s, %d, %d, %s, %s},\n", modeName(mode), adapt, rate,
                        programme == sp ? "sp" : (programme == mu ? "mu" : "ho"),
                        describe(fp).c_str());
          }
        }
      }
    }
    GTEST_SKIP() << "printed the table instead of checking it";
  }
  ASSERT_EQ(sizeof kGoldens / sizeof kGoldens[0], 3u * 6u * 3u * 3u);
  for (const Golden& g : kGoldens) {
    const Fingerprint fp = fingerprint(runCase(g.mode, g.adapt, g.rate, g.programme));
    SCOPED_TRACE(testing::Message()
                 << "mode " << modeName(g.mode) << " adapt " << g.adapt << " rate " << g.rate << " "
                 << (g.programme == sp ? "speech" : (g.programme == mu ? "music" : "hot")));
    int firstMoved = -1;
    for (int q = kQuarters - 1; q >= 0; --q) {
      if (fp.hash[q] != g.expected.hash[q]) firstMoved = q;
    }
    EXPECT_EQ(firstMoved, -1) << "the output first moves in quarter " << firstMoved
                              << " of the run; now " << describe(fp);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(fp.samples[k], g.expected.samples[k]) << "sample " << k;
  }
}

// The programmes themselves must be what the table was made from.
TEST(ChainGolden, ProgrammesAreLoudAndVaried) {
  for (Programme programme : {sp, mu, ho}) {
    const std::vector<float> x =
        makeProgramme(programme, 48000, static_cast<int>(kSeconds * 48000));
    double peak = 0.0;
    int silentFrames = 0;
    for (size_t k = 0; k < x.size(); k += 2) {
      const double a = x[k] < 0 ? -x[k] : x[k];
      peak = a > peak ? a : peak;
      if (a < 0.001) ++silentFrames;
    }
    if (programme == sp) {
      EXPECT_GT(peak, 0.2);
      EXPECT_GT(silentFrames, 48000 / 2);  // pauses long enough to open the rider's gate
    } else if (programme == mu) {
      EXPECT_GT(peak, 1.0);  // overs for the clippers and limiters
      EXPECT_LT(silentFrames, 48000 / 100);
    } else {
      EXPECT_GT(peak, 2.0);
      EXPECT_LT(silentFrames, 48000 / 100);
    }
  }
  // The hot programme loads the final stages enough for the load feedback to
  // press on the band analysis.
  const int frames = static_cast<int>(kSeconds * 48000);
  std::vector<float> y = makeProgramme(ho, 48000, frames);
  auto p = configured(S, 100, 48000);
  double pressure = 0.0;
  for (int f = 0; f < frames; f += 64) {
    p->processBuffer(y.data() + 2 * f, frames - f < 64 ? frames - f : 64, 2);
    pressure =
        p->loadTargets.reductionPressure > pressure ? p->loadTargets.reductionPressure : pressure;
  }
  EXPECT_GT(pressure, 0.5);
}

// What a restart leaves in place on purpose: the memories of the fixed
// filter sections (the low bump, the bus equalisers, the output low-pass), so
// that a restart in the middle of programme does not click; the low-end
// equaliser the analysis designed last; and the output-gain target, which
// only the derivation and the load feedback write.
void carryKeptValues(const Processor& from, Processor& to) {
  to.state.lowEnd.lowBumpLeft = from.state.lowEnd.lowBumpLeft;
  to.state.lowEnd.lowBumpRight = from.state.lowEnd.lowBumpRight;
  for (int ch = 0; ch < 2; ++ch) {
    to.state.bus.lowEq[ch] = from.state.bus.lowEq[ch];
    to.state.bus.subEq[ch] = from.state.bus.subEq[ch];
    for (int k = 0; k < 2; ++k) {
      to.state.output.postLowPass[ch][k] = from.state.output.postLowPass[ch][k];
    }
  }
  to.state.analysis.lowEndShelfLeft.c = from.state.analysis.lowEndShelfLeft.c;
  to.state.analysis.lowEndPeakLeft.c = from.state.analysis.lowEndPeakLeft.c;
  to.loadTargets.outputGainTarget = from.loadTargets.outputGainTarget;
}

// Restarting a processor and switching its mode must leave nothing else of
// the programme before: after either, a processor that ran programme and one
// that ran none but was handed what a restart keeps give the same bits.
TEST(ChainGolden, ResetAndModeChangeLeaveNothingOfTheProgrammeBefore) {
  const int rate = 48000;
  const int frames = static_cast<int>(1.5 * rate);
  const std::vector<float> before = makeProgramme(mu, rate, frames);
  const std::vector<float> after = makeProgramme(sp, rate, frames);
  for (ProcessingMode from : {P, S, L}) {
    for (ProcessingMode to : {P, S, L}) {
      SCOPED_TRACE(testing::Message() << modeName(from) << " -> " << modeName(to));
      auto warm = configured(from, 80, rate);
      std::vector<float> y = before;
      warm->processBuffer(y.data(), frames, 2);
      auto fresh = configured(from, 80, rate);
      carryKeptValues(*warm, *fresh);
      for (Processor* p : {warm.get(), fresh.get()}) {
        if (from == to) {
          p->reset();
        } else {
          p->applySettings({to, 0.0, 80});
        }
      }
      y = after;
      warm->processBuffer(y.data(), frames, 2);
      std::vector<float> expected = after;
      fresh->processBuffer(expected.data(), frames, 2);
      size_t firstDiff = y.size();
      for (size_t k = 0; k < y.size() && firstDiff == y.size(); ++k) {
        if (std::memcmp(&y[k], &expected[k], sizeof(float)) != 0) firstDiff = k;
      }
      EXPECT_EQ(firstDiff, y.size()) << "first differs at frame " << firstDiff / 2;
    }
  }
}

}  // namespace
}  // namespace vantle
