// Test signals for the comparison scripts: writes raw interleaved f32le PCM on
// standard output, the same bytes for the same arguments on every run.
//   vantle-signal KIND RATE CHANNELS SECONDS
// KIND is one of the names printed by `vantle-signal --list`. Mono is the left
// channel of the stereo signal.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Frame {
  double l = 0.0;
  double r = 0.0;
};

// Integer generator, so the noise is the same on every machine.
struct Random {
  std::uint64_t state;
  explicit Random(std::uint64_t seed) : state(seed) {}
  std::uint64_t next() {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [-1, 1).
  double bipolar() { return static_cast<double>(next() >> 11) / 4503599627370496.0 - 1.0; }
  // Uniform in [lo, hi).
  double between(double lo, double hi) { return lo + (hi - lo) * 0.5 * (bipolar() + 1.0); }
};

// Band-pass biquad with 0 dB gain at its centre, for the formants.
struct Resonator {
  double b0 = 0.0, a1 = 0.0, a2 = 0.0, x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
  void tune(double hz, double bandwidthHz, double rate) {
    hz = std::fmin(hz, 0.45 * rate);
    const double w = 2.0 * kPi * hz / rate;
    const double alpha = std::sin(w) * bandwidthHz / (2.0 * hz);
    b0 = alpha / (1.0 + alpha);
    a1 = -2.0 * std::cos(w) / (1.0 + alpha);
    a2 = (1.0 - alpha) / (1.0 + alpha);
  }
  double step(double x) {
    const double y = b0 * (x - x2) - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

// A talker: syllables of a buzzy voiced source through two formants, some
// with a hiss in front, words separated by short gaps and phrases by pauses.
class Talker {
 public:
  Talker(double rate, std::uint64_t seed) : rate_(rate), random_(seed) { startSyllable(0.0); }

  double step() {
    const double t = static_cast<double>(position_) / rate_;
    ++position_;
    if (t >= syllableEnd_ + gapAfter_) startSyllable(t);
    if (t >= syllableEnd_) return 0.0;
    const double into = t - syllableStart_;
    const double left = syllableEnd_ - t;
    const double attack = std::fmin(1.0, into / 0.015);
    const double release = std::fmin(1.0, left / 0.04);
    const double envelope = attack * attack * release;
    const double pitch = pitchStart_ + (pitchEnd_ - pitchStart_) * into / length_;
    phase_ += pitch / rate_;
    phase_ -= std::floor(phase_);
    const double buzz = 1.0 - 2.0 * phase_;
    body_ += 0.02 * (buzz - body_);
    double voiced = 2.0 * f1_.step(buzz) + 1.2 * f2_.step(buzz) + 0.8 * body_;
    double hiss = 0.0;
    if (into < hissLength_) {
      const double white = random_.bipolar();
      hiss = 0.5 * (white - lastWhite_);
      lastWhite_ = white;
      voiced *= into / hissLength_;
    }
    return 0.5 * level_ * envelope * (voiced + hiss);
  }

 private:
  void startSyllable(double now) {
    static const double kVowels[][2] = {{730, 1090}, {270, 2290}, {530, 1840}, {570, 840},
                                        {440, 1020}, {300, 870},  {660, 1720}, {490, 1350}};
    syllableStart_ = now;
    length_ = random_.between(0.08, 0.28);
    syllableEnd_ = now + length_;
    if (random_.between(0.0, 1.0) < 0.2) {
      gapAfter_ = random_.between(0.35, 0.9);  // end of a phrase
      level_ = random_.between(0.35, 1.1);     // the next phrase louder or quieter
    } else {
      gapAfter_ = random_.between(0.02, 0.12);
    }
    const auto& vowel = kVowels[random_.next() % 8];
    f1_.tune(vowel[0], 90.0, rate_);
    f2_.tune(vowel[1], 140.0, rate_);
    pitchStart_ = random_.between(95.0, 230.0);
    pitchEnd_ = pitchStart_ * random_.between(0.8, 1.15);
    hissLength_ = random_.between(0.0, 1.0) < 0.3 ? random_.between(0.03, 0.08) : 0.0;
  }

  double rate_;
  Random random_;
  std::int64_t position_ = 0;
  double syllableStart_ = 0.0, syllableEnd_ = 0.0, length_ = 0.1, gapAfter_ = 0.0;
  double pitchStart_ = 120.0, pitchEnd_ = 120.0, phase_ = 0.0, level_ = 0.7;
  double hissLength_ = 0.0, lastWhite_ = 0.0, body_ = 0.0;
  Resonator f1_, f2_;
};

// Dense music at 120 beats a minute: kick, snare, hi-hat, a bass line and a
// wide four-note pad, pushed into a soft saturation as mastered music is.
class Band {
 public:
  Band(double rate, std::uint64_t seed) : rate_(rate), random_(seed) {}

  Frame step() {
    const double t = static_cast<double>(position_) / rate_;
    ++position_;
    const double beat = t / 0.5;
    const int beatIndex = static_cast<int>(beat);
    const double sinceBeat = (beat - beatIndex) * 0.5;
    const double sinceEighth = std::fmod(t, 0.25);
    const int bar = beatIndex / 4;
    static const int kRoots[] = {0, 7, 9, 5};   // I V vi IV
    static const int kChord[] = {0, 4, 7, 12};  // major, root position
    static const int kMinor[] = {0, 3, 7, 12};
    const int root = kRoots[bar % 4];
    const int* chord = (bar % 4 == 2) ? kMinor : kChord;

    const double kickHz = 45.0 + 90.0 * std::exp(-sinceBeat / 0.03);
    kickPhase_ += kickHz / rate_;
    const double kick = 0.9 * std::sin(2.0 * kPi * kickPhase_) * std::exp(-sinceBeat / 0.15);
    const double white = random_.bipolar();
    const double snare = (beatIndex % 2 == 1)
                             ? (0.45 * white + 0.3 * std::sin(2.0 * kPi * 185.0 * sinceBeat)) *
                                   std::exp(-sinceBeat / 0.08)
                             : 0.0;
    const double hat = 0.18 * (white - lastWhite_) * std::exp(-sinceEighth / 0.02);
    lastWhite_ = white;

    const double bassHz = 55.0 * std::pow(2.0, root / 12.0);
    double bass = 0.0;
    for (int k = 1; k <= 4; ++k) bass += std::sin(2.0 * kPi * k * bassHz * t) / k;
    bass *= 0.3 * (0.6 + 0.4 * std::exp(-sinceBeat / 0.2));

    Frame pad;
    for (int n = 0; n < 4; ++n) {
      const double hz = 220.0 * std::pow(2.0, (root + chord[n]) / 12.0);
      double note = 0.0;
      for (int k = 1; k <= 5; ++k) note += std::sin(2.0 * kPi * k * hz * t + n) / k;
      const double pan = 0.2 + 0.2 * n;
      pad.l += 0.07 * note * (1.0 - pan);
      pad.r += 0.07 * note * pan;
    }
    Frame out;
    out.l = 0.95 * std::tanh(1.4 * (kick + snare + 0.8 * hat + bass + pad.l));
    out.r = 0.95 * std::tanh(1.4 * (kick + 0.8 * snare + hat + bass + pad.r));
    return out;
  }

 private:
  double rate_;
  Random random_;
  std::int64_t position_ = 0;
  double kickPhase_ = 0.0, lastWhite_ = 0.0;
};

// Pinkish noise near full scale, partly correlated between the channels.
class LoudNoise {
 public:
  explicit LoudNoise(std::uint64_t seed) : random_(seed) {}
  Frame step() {
    const double common = random_.bipolar();
    const double a = 0.75 * random_.bipolar() + 0.25 * common;
    const double b = 0.75 * random_.bipolar() + 0.25 * common;
    lowL_ += 0.05 * (a - lowL_);
    lowR_ += 0.05 * (b - lowR_);
    return {0.47 * a + 1.9 * lowL_, 0.47 * b + 1.9 * lowR_};
  }

 private:
  Random random_;
  double lowL_ = 0.0, lowR_ = 0.0;
};

// Speech with pauses, dense music, loud noise and digital silence, in that
// order, repeated every 12 s (or once over the whole length when shorter).
std::vector<Frame> programme(double rate, std::int64_t frames, double scale = 1.0) {
  std::vector<Frame> out(static_cast<size_t>(frames));
  const std::int64_t cycle = std::min<std::int64_t>(frames, static_cast<std::int64_t>(12.0 * rate));
  Talker talker(rate, 11);
  Band band(rate, 12);
  LoudNoise noise(13);
  for (std::int64_t i = 0; i < frames; ++i) {
    const double part = static_cast<double>(i % cycle) / static_cast<double>(cycle);
    Frame f;
    if (part < 0.375) {
      const double v = talker.step();
      f = {v, 0.97 * v};
    } else if (part < 0.75) {
      f = band.step();
    } else if (part < 0.875) {
      f = noise.step();
    }
    out[static_cast<size_t>(i)] = {scale * f.l, scale * f.r};
  }
  return out;
}

using Generator = std::vector<Frame> (*)(double rate, std::int64_t frames);

std::vector<Frame> whiteNoise(std::int64_t frames, double peak) {
  std::vector<Frame> out(static_cast<size_t>(frames));
  Random random(21);
  for (auto& f : out) f = {peak * random.bipolar(), peak * random.bipolar()};
  return out;
}

// Square waves from 40 Hz to a quarter of the rate, at full scale and at 2.
std::vector<Frame> squares(double rate, std::int64_t frames) {
  std::vector<Frame> out(static_cast<size_t>(frames));
  const double hz[] = {40.0, 1000.0, 5000.0, rate / 4.0, 220.0, 12000.0};
  for (std::int64_t i = 0; i < frames; ++i) {
    const int section = static_cast<int>(i * 6 / frames);
    const double freq = std::fmin(hz[section], rate / 4.0);
    const double amplitude = (section % 2 == 0) ? 1.0 : 2.0;
    const double cycles = static_cast<double>(i) * freq / rate;
    const double l = (cycles - std::floor(cycles) < 0.5) ? amplitude : -amplitude;
    const double cyclesR = static_cast<double>(i) * freq * 1.5 / rate;
    const double r = (cyclesR - std::floor(cyclesR) < 0.5) ? -amplitude : amplitude;
    out[static_cast<size_t>(i)] = {l, r};
  }
  return out;
}

// An exponential sine sweep from 20 Hz up to the Nyquist frequency at
// 0.99, the right channel a quarter turn ahead.
std::vector<Frame> sweep(double rate, std::int64_t frames) {
  std::vector<Frame> out(static_cast<size_t>(frames));
  const double f0 = 20.0;
  const double f1 = rate / 2.0;
  const double duration = static_cast<double>(frames) / rate;
  const double k = std::log(f1 / f0);
  for (std::int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2.0 * kPi * f0 * duration / k * (std::exp(t * k / duration) - 1.0);
    out[static_cast<size_t>(i)] = {0.99 * std::sin(phase), 0.99 * std::sin(phase + kPi / 2.0)};
  }
  return out;
}

// Single-sample spikes of 1 and 8 of either sign, alone, in pairs and in
// dense trains, on silence and then on a quiet tone.
std::vector<Frame> impulses(double rate, std::int64_t frames) {
  std::vector<Frame> out(static_cast<size_t>(frames));
  Random random(31);
  const std::int64_t half = frames / 2;
  for (std::int64_t i = half; i < frames; ++i) {
    const double v = 0.05 * std::sin(2.0 * kPi * 330.0 * static_cast<double>(i) / rate);
    out[static_cast<size_t>(i)] = {v, v};
  }
  std::int64_t i = static_cast<std::int64_t>(0.05 * rate);
  int n = 0;
  while (i + 1 < frames) {
    const double height = (n % 5 == 4) ? 8.0 : 1.0;
    const double sign = (n % 2 == 0) ? 1.0 : -1.0;
    Frame& f = out[static_cast<size_t>(i)];
    f.l = sign * height;
    if (n % 3 != 1) f.r = -sign * height;
    if (n % 7 == 3) out[static_cast<size_t>(i + 1)] = {sign * height, sign * height};
    ++n;
    // Mostly far apart; every eighth a train ten samples apart.
    i += (n % 8 < 5) ? static_cast<std::int64_t>(random.between(0.01, 0.2) * rate) : 10;
  }
  return out;
}

// Steps of DC between -1 and +3, one with a tone riding on it.
std::vector<Frame> directCurrent(double rate, std::int64_t frames) {
  std::vector<Frame> out(static_cast<size_t>(frames));
  const double levels[][2] = {{1.0, -1.0}, {0.5, 0.5}, {3.0, 0.0}, {-0.25, 1.0}, {0.0, 0.0}};
  for (std::int64_t i = 0; i < frames; ++i) {
    const int section = static_cast<int>(i * 6 / frames);
    const double tone = 0.3 * std::sin(2.0 * kPi * 440.0 * static_cast<double>(i) / rate);
    if (section < 5) {
      out[static_cast<size_t>(i)] = {levels[section][0], levels[section][1]};
    } else {
      out[static_cast<size_t>(i)] = {0.6 + tone, -0.6 + tone};
    }
  }
  return out;
}

// Programme with NaN, infinities and huge values: single samples in one
// channel, short bursts in both, and a long stretch of NaN.
std::vector<Frame> nonFinite(double rate, std::int64_t frames) {
  std::vector<Frame> out = programme(rate, frames);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double bad[] = {
      nan, inf, -inf, 1e30, -1e30, static_cast<double>(FLT_MAX), -static_cast<double>(FLT_MAX)};
  Random random(41);
  int n = 0;
  for (std::int64_t i = static_cast<std::int64_t>(0.02 * rate); i < frames;
       i += static_cast<std::int64_t>(random.between(0.02, 0.25) * rate), ++n) {
    const double v = bad[n % 7];
    if (n % 4 == 3) {
      for (std::int64_t j = i; j < std::min(frames, i + 64); ++j)
        out[static_cast<size_t>(j)] = {v, v};
    } else if (n % 2 == 0) {
      out[static_cast<size_t>(i)].l = v;
    } else {
      out[static_cast<size_t>(i)].r = v;
    }
  }
  const std::int64_t start = frames * 2 / 3;
  const std::int64_t end = std::min(frames, start + static_cast<std::int64_t>(0.5 * rate));
  for (std::int64_t j = start; j < end; ++j) out[static_cast<size_t>(j)] = {nan, nan};
  return out;
}

// Programme scaled down into the subnormal range, then the smallest
// subnormals of either sign, then silence.
std::vector<Frame> denormals(double rate, std::int64_t frames) {
  std::vector<Frame> out = programme(rate, frames, 1e-39);
  const double tiniest = static_cast<double>(std::numeric_limits<float>::denorm_min());
  for (std::int64_t i = frames / 2; i < frames; ++i) {
    const double v = (i < frames * 3 / 4) ? ((i % 2 == 0) ? tiniest : -tiniest) : 0.0;
    out[static_cast<size_t>(i)] = {v, 3.0 * v};
  }
  return out;
}

// A loud passage (music and noise pushed 6 dB over) and then digital silence
// for two thirds of the length, where every state decays towards zero.
std::vector<Frame> loudThenSilence(double rate, std::int64_t frames) {
  const std::int64_t loud = frames / 3;
  std::vector<Frame> out(static_cast<size_t>(frames));
  Band band(rate, 51);
  LoudNoise noise(52);
  for (std::int64_t i = 0; i < loud; ++i) {
    const Frame f = (i < loud / 2) ? band.step() : noise.step();
    out[static_cast<size_t>(i)] = {2.0 * f.l, 2.0 * f.r};
  }
  return out;
}

// Bursts out of silence every 0.3 s: 0.1 s of full-scale noise or of a 3 kHz
// tone at full scale, in turn, then 0.2 s of digital silence.
std::vector<Frame> bursts(double rate, std::int64_t frames) {
  std::vector<Frame> out(static_cast<size_t>(frames));
  Random random(61);
  for (std::int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const int burst = static_cast<int>(t / 0.3);
    if (t - 0.3 * burst >= 0.1) continue;
    if (burst % 2 == 0) {
      out[static_cast<size_t>(i)] = {random.bipolar(), random.bipolar()};
    } else {
      const double v = std::sin(2.0 * kPi * 3000.0 * t);
      out[static_cast<size_t>(i)] = {v, v};
    }
  }
  return out;
}

// White noise four times over full scale, clipped to full scale.
std::vector<Frame> clippedNoise(double, std::int64_t frames) {
  std::vector<Frame> out = whiteNoise(frames, 4.0);
  for (Frame& f : out) f = {std::clamp(f.l, -1.0, 1.0), std::clamp(f.r, -1.0, 1.0)};
  return out;
}

std::vector<Frame> programmeSignal(double rate, std::int64_t frames) {
  return programme(rate, frames);
}
std::vector<Frame> fullScaleNoise(double, std::int64_t frames) { return whiteNoise(frames, 1.0); }
std::vector<Frame> overFullScaleNoise(double, std::int64_t frames) {
  return whiteNoise(frames, 4.0);
}

struct Kind {
  const char* name;
  Generator make;
  const char* what;
};

const Kind kKinds[] = {
    {"programme", programmeSignal, "speech with pauses, dense music, loud noise, silence"},
    {"noise", fullScaleNoise, "white noise at full scale"},
    {"hot-noise", overFullScaleNoise, "white noise 12 dB over full scale"},
    {"square", squares, "square waves 40 Hz to rate/4, at 1 and 2"},
    {"sweep", sweep, "sine sweep from 20 Hz to the Nyquist frequency"},
    {"impulses", impulses, "spikes of 1 and 8, alone, paired and in trains"},
    {"dc", directCurrent, "steps of DC up to 3, one with a tone on it"},
    {"nonfinite", nonFinite, "programme with NaN, infinities, 1e30 and FLT_MAX"},
    {"denormal", denormals, "programme scaled into subnormals, then tiniest values"},
    {"loud-silence", loudThenSilence, "loud music and noise, then digital silence"},
    {"bursts", bursts, "0.1 s of noise or tone out of silence every 0.3 s"},
    {"clipped-noise", clippedNoise, "white noise 12 dB over full scale, clipped"},
};

int usage() {
  std::fputs(
      "usage: vantle-signal KIND RATE CHANNELS SECONDS > out.f32\n"
      "       vantle-signal --list\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const Kind& k : kKinds) std::printf("%-13s %s\n", k.name, k.what);
    return 0;
  }
  if (argc != 5) return usage();
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds) {
    if (std::strcmp(k.name, argv[1]) == 0) kind = &k;
  }
  const double rate = std::atof(argv[2]);
  const int channels = std::atoi(argv[3]);
  const double seconds = std::atof(argv[4]);
  if (kind == nullptr || !(rate >= 1000.0) || (channels != 1 && channels != 2) ||
      !(seconds > 0.0)) {
    return usage();
  }
  const auto frames = static_cast<std::int64_t>(std::llround(seconds * rate));
  const std::vector<Frame> signal = kind->make(rate, frames);
  std::vector<float> block;
  block.reserve(static_cast<size_t>(channels) * 65536);
  for (size_t i = 0; i < signal.size(); ++i) {
    block.push_back(static_cast<float>(signal[i].l));
    if (channels == 2) block.push_back(static_cast<float>(signal[i].r));
    if (block.size() >= static_cast<size_t>(channels) * 65536 || i + 1 == signal.size()) {
      if (std::fwrite(block.data(), sizeof(float), block.size(), stdout) != block.size()) {
        std::fputs("vantle-signal: write failed\n", stderr);
        return 3;
      }
      block.clear();
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 3;
}
