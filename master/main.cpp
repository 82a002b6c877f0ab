// vantle-master: from an audio file to a delivery-ready file. Decodes any
// input with the FFmpeg libraries, runs it through the vantle-tonbrel chain
// with the chain's latency removed, measures loudness before and after, and
// meets a delivery target with one static gain found by a first pass.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "engine/processor.h"
#include "master/decoder.h"
#include "master/encoder.h"
#include "master/loudness.h"
#include "master/plot.h"
#include "vantle_version.h"

namespace {

using vantle::ProcessingMode;

constexpr char kUsage[] =
    "usage: vantle-master [options] INPUT OUTPUT\n"
    "  --mode podcast|stream|limiter   voicing (default podcast)\n"
    "  --adapt 0..100                  gentle to strong (default 0)\n"
    "  --input-db DB                   input gain, -12..18 (default: the mode's)\n"
    "  --target podcast|stream|broadcast|none|LUFS\n"
    "                                  podcast -16, stream -14, broadcast -23 LUFS, each at\n"
    "                                  -1 dBTP; a number: that many LUFS; none: the chain's\n"
    "                                  own level (default)\n"
    "  --true-peak DBTP                the target's true-peak limit (default -1)\n"
    "  --report FILE.json              machine-readable report\n"
    "  --plot FILE.svg                 short-term loudness over time, before and after\n"
    "  --float                         32-bit float WAV instead of 24-bit\n"
    "  -y, --overwrite                 replace OUTPUT if it exists\n"
    "  -q, --quiet                     no progress and no summary\n"
    "  --version\n"
    "OUTPUT's extension picks the format: .wav (24-bit PCM), .flac (24-bit), .mp3, .m4a (AAC)\n"
    "or .opus (48000 Hz).\n";

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 3;
constexpr int kExitInterrupted = 130;
constexpr long long kBlockFrames = 4096;
// Aim a hair under the true-peak limit: the written samples are rounded.
constexpr double kTruePeakMargin = 0.02;
// A lossy file is written at most this often while its gain is searched,
// until it lands within the tolerance of its target or under its limit.
constexpr int kLossyAttempts = 8;
// When the true-peak limit would stop the gain more than this many dB short
// of the target, pass one runs again with more input gain, at most this often.
constexpr double kInputGainShortfall = 1.0;
constexpr int kInputGainRounds = 3;
// A lossy try is kept when it lands within this many dB under the limit or
// LU of the target; the next one aims this far under the limit.
constexpr double kLossyTolerance = 0.1;
constexpr double kLossyMargin = 0.05;
// Gains closer than this give the same encoding.
constexpr double kLossyDistinct = 0.005;

std::atomic<int> gInterrupt{0};
void onSignal(int signal) { gInterrupt = signal; }

struct Options {
  std::string input;
  std::string output;
  ProcessingMode mode = ProcessingMode::podcast;
  double adapt = 0;
  bool haveInputDb = false;
  double inputDb = 0;
  bool haveTarget = false;
  double targetLufs = 0;
  std::string targetName = "none";
  double truePeakLimit = -1.0;
  bool haveTruePeak = false;
  std::string report;
  std::string plot;
  bool asFloat = false;
  bool overwrite = false;
  bool quiet = false;
};

bool parseNumber(const char* text, double low, double high, double& out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= low && v <= high)) return false;
  out = v;
  return true;
}

// Fills o from the command line; an empty result means go on, otherwise it
// is the message (or "version").
std::string parseArguments(int argc, char** argv, Options& o) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    auto value = [&]() { return argv[++i]; };
    if (a == "--version") return "version";
    if (a == "-y" || a == "--overwrite") {
      o.overwrite = true;
    } else if (a == "-q" || a == "--quiet") {
      o.quiet = true;
    } else if (a == "--float") {
      o.asFloat = true;
    } else if (a == "--mode" && hasValue) {
      const std::string m = value();
      if (m == "podcast")
        o.mode = ProcessingMode::podcast;
      else if (m == "stream")
        o.mode = ProcessingMode::stream;
      else if (m == "limiter")
        o.mode = ProcessingMode::limiter;
      else
        return "unknown mode: " + m;
    } else if (a == "--adapt" && hasValue) {
      if (!parseNumber(value(), 0, 100, o.adapt)) return "--adapt takes a number from 0 to 100";
    } else if (a == "--input-db" && hasValue) {
      if (!parseNumber(value(), vantle::kMinInputGainDb, vantle::kMaxInputGainDb, o.inputDb)) {
        return "--input-db takes a number from -12 to 18";
      }
      o.haveInputDb = true;
    } else if (a == "--target" && hasValue) {
      const std::string t = value();
      o.targetName = t;
      o.haveTarget = true;
      if (t == "podcast")
        o.targetLufs = -16;
      else if (t == "stream")
        o.targetLufs = -14;
      else if (t == "broadcast")
        o.targetLufs = -23;
      else if (t == "none")
        o.haveTarget = false;
      else if (!parseNumber(t.c_str(), -70, 0, o.targetLufs)) {
        return "--target takes podcast, stream, broadcast, none or a loudness from -70 to 0 LUFS";
      }
    } else if (a == "--true-peak" && hasValue) {
      if (!parseNumber(value(), -20, 0, o.truePeakLimit)) {
        return "--true-peak takes a number from -20 to 0 dBTP";
      }
      o.haveTruePeak = true;
    } else if (a == "--report" && hasValue) {
      o.report = value();
    } else if (a == "--plot" && hasValue) {
      o.plot = value();
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return "unknown or incomplete option: " + a;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) return "needs INPUT and OUTPUT";
  o.input = positional[0];
  o.output = positional[1];
  vantle::OutputKind kind;
  if (!vantle::outputKindFor(o.output, kind)) return "unknown output format: " + o.output;
  return "";
}

const char* modeName(ProcessingMode m) {
  return m == ProcessingMode::podcast  ? "podcast"
         : m == ProcessingMode::stream ? "stream"
                                       : "limiter";
}

// One run of the whole input through the chain, aligned with the input:
// the first `latency` output frames are dropped and the end is flushed with
// as many frames of silence. before (when given) measures the input, after
// the result times gain, and encoder (when given) writes it.
struct PassResult {
  long long frames = 0;
  int latency = 0;
  vantle::Loudness before;
  vantle::Loudness after;
};

// The progress line: one line on a terminal, redrawn in place about four
// times a second, and cleared when the pass ends.
struct Progress {
  bool shown = false;  // standard error is a terminal and --quiet is not given
  std::string label;   // "pass 1 of 2", ...
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point lastDrawn;

  void begin(const std::string& what) {
    label = what;
    started = std::chrono::steady_clock::now();
    lastDrawn = started - std::chrono::seconds(1);  // the first block draws at once
  }
  void update(long long frames, long long totalFrames, int rate) {
    if (!shown) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn < std::chrono::milliseconds(250)) return;
    lastDrawn = now;
    const double elapsed = std::chrono::duration<double>(now - started).count();
    const double audio = static_cast<double>(frames) / rate;
    const double speed = elapsed > 0 ? audio / elapsed : 0;
    std::string line = "\r" + label;
    char text[128];
    if (totalFrames > 0 && speed > 0) {
      const double left = std::max(0.0, static_cast<double>(totalFrames - frames) / rate / speed);
      std::snprintf(text, sizeof text, "  %3.0f%%  %.0fx realtime  %ld:%02ld left",
                    100.0 * std::min(1.0, static_cast<double>(frames) / totalFrames), speed,
                    std::lround(left) / 60, std::lround(left) % 60);
    } else {
      std::snprintf(text, sizeof text, "  %ld:%02ld of audio  %.0fx realtime",
                    std::lround(audio) / 60, std::lround(audio) % 60, speed);
    }
    line += text;
    line += "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  }
  void end() {
    if (!shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
};

// Hands blocks of frames to a second thread, which gives each, in the
// order handed, to one of two sinks (the input's and the output's): the
// chain then runs beside the meters and the encoder instead of taking turns
// with them. Every sink still sees its blocks in order, so the results are
// those of one thread.
class SinkThread {
 public:
  using Sink = std::function<bool(float* samples, long long frames, std::string& error)>;
  enum Which { input = 0, output = 1 };

  SinkThread(Sink forInput, Sink forOutput, int channels)
      : sinks_{std::move(forInput), std::move(forOutput)},
        channels_(channels),
        thread_([this]() { run(); }) {}
  ~SinkThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      queue_.clear();  // after a failure or an interruption nothing more is wanted
    }
    changed_.notify_all();
    thread_.join();
  }
  SinkThread(const SinkThread&) = delete;
  SinkThread& operator=(const SinkThread&) = delete;

  // Queues a copy of frames for a sink; false once a sink has failed.
  bool put(Which which, const float* samples, long long frames) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this]() { return failed_ || queue_.size() < kDepth; });
    if (failed_) return false;
    Item item{which, frames, {}};
    if (!spare_.empty()) {
      item.samples = std::move(spare_.back());
      spare_.pop_back();
    }
    lock.unlock();
    item.samples.assign(samples, samples + frames * channels_);
    lock.lock();
    queue_.push_back(std::move(item));
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  // Waits until every block queued has been through its sink; false with
  // the first sink's error.
  bool drain(std::string& error) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this]() { return failed_ || (queue_.empty() && !busy_); });
    if (failed_) error = error_;
    return !failed_;
  }

 private:
  // Blocks in flight: enough to ride out an uneven block, little memory.
  static constexpr std::size_t kDepth = 8;
  struct Item {
    Which which;
    long long frames;
    std::vector<float> samples;
  };

  void run() {
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this]() { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        item = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
      }
      std::string error;
      const bool ok = sinks_[item.which](item.samples.data(), item.frames, error);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
        if (!ok && !failed_) {
          failed_ = true;
          error_ = error;
          queue_.clear();
        }
        spare_.push_back(std::move(item.samples));
      }
      changed_.notify_all();
    }
  }

  Sink sinks_[2];
  int channels_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  std::vector<std::vector<float>> spare_;
  bool stopping_ = false;
  bool busy_ = false;
  bool failed_ = false;
  std::string error_;
  std::thread thread_;  // last: it starts once everything above is ready
};

// Pass one's output, kept in a temporary file beside OUTPUT: pass two (and
// every further encoding of a lossy file) reads the chain's samples back
// instead of decoding and running the chain again, which is most of the
// work. Where it cannot be written whole (no room, a file-size limit) pass
// two runs the chain again, which gives the same samples.
struct ChainCache {
  static constexpr std::size_t kBufferBytes = 1 << 20;
  std::string path;
  FILE* file = nullptr;
  bool written = false;  // holds the whole of the last pass one
  std::vector<char> buffer;

  ~ChainCache() { close(); }
  void open(const std::string& name) {
    close();
    path = name;
    file = std::fopen(path.c_str(), "w+b");
    if (file != nullptr) {
      buffer.resize(kBufferBytes);
      std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    }
  }
  void close() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    written = false;
    if (!path.empty()) std::remove(path.c_str());
    path.clear();
  }
};

// Multiplies count samples by a static gain (none to do at 1).
void applyGain(float* samples, long long count, double gain) {
  if (gain == 1.0) return;
  const auto g = static_cast<float>(gain);
  for (long long i = 0; i < count; ++i) samples[i] *= g;
}

bool runPass(const Options& o, int forcedRate, double inputDb, double gain,
             vantle::Encoder* encoder, bool measureBefore, bool measureAfter,
             vantle::InputFacts& facts, int& rate, int& channels, PassResult& result,
             Progress& progress, std::string& error, ChainCache* keep = nullptr) {
  vantle::Decoder decoder;
  struct DecoderCloser {
    vantle::Decoder& d;
    ~DecoderCloser() { vantle::closeDecoder(d); }
  } closeIt{decoder};
  if (!vantle::openDecoder(decoder, o.input, error, forcedRate)) return false;
  facts = decoder.facts;
  rate = decoder.outRate;
  channels = decoder.outChannels;

  auto processor = std::make_unique<vantle::Processor>();
  processor->setSampleRate(rate);
  vantle::ProcessorSettings settings = vantle::Processor::defaultSettings(o.mode);
  settings.inputGainDb = inputDb;
  settings.adapt = o.adapt;
  processor->applySettings(settings);
  result.latency = processor->latencyFrames();
  const auto totalFrames = static_cast<long long>(facts.duration * rate);

  vantle::LoudnessMeter before;
  vantle::LoudnessMeter after;
  struct MeterCloser {
    vantle::LoudnessMeter& a;
    vantle::LoudnessMeter& b;
    ~MeterCloser() {
      vantle::closeMeter(a);
      vantle::closeMeter(b);
    }
  } closeMeters{before, after};
  if ((measureBefore && !vantle::openMeter(before, channels, rate, error)) ||
      (measureAfter && !vantle::openMeter(after, channels, rate, error))) {
    return false;
  }
  const bool toOutput = measureAfter || encoder != nullptr || keep != nullptr;
  bool kept = keep != nullptr && keep->file != nullptr;
  auto toBefore = [&before](float* samples, long long n, std::string& e) {
    return vantle::addFrames(before, samples, n, e);
  };
  auto toAfter = [&](float* samples, long long n, std::string& e) {
    applyGain(samples, n * channels, gain);
    const auto count = static_cast<std::size_t>(n * channels);
    kept = kept && std::fwrite(samples, sizeof(float), count, keep->file) == count;
    return (!measureAfter || vantle::addFrames(after, samples, n, e)) &&
           (encoder == nullptr || vantle::writeFrames(*encoder, samples, n, e));
  };
  // Declared after the meters: it is stopped before they are closed.
  SinkThread sinks(toBefore, toAfter, channels);

  std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * channels);
  long long toDrop = result.latency;
  long long silence = result.latency;  // frames of silence still to feed at the end
  bool inputDone = false;
  while (!inputDone || silence > 0) {
    if (gInterrupt != 0) {
      error = "interrupted";
      return false;
    }
    long long n = 0;
    if (!inputDone) {
      n = vantle::readFrames(decoder, block.data(), kBlockFrames, error);
      if (n < 0) return false;
      if (n == 0) inputDone = true;
      if (n > 0 && measureBefore && !sinks.put(SinkThread::input, block.data(), n)) break;
      result.frames += n;
      progress.update(result.frames, totalFrames, rate);
    }
    if (inputDone && n == 0) {
      n = std::min(silence, kBlockFrames);
      std::fill(block.begin(), block.begin() + n * channels, 0.0f);
      silence -= n;
    }
    if (n == 0) continue;
    processor->processBuffer(block.data(), n, channels);
    const long long skip = std::min(toDrop, n);
    toDrop -= skip;
    const long long ready = n - skip;
    if (ready == 0 || !toOutput) continue;
    if (!sinks.put(SinkThread::output, block.data() + skip * channels, ready)) break;
  }
  if (!sinks.drain(error)) return false;
  if (keep != nullptr) keep->written = kept && std::fflush(keep->file) == 0;
  if (measureBefore) result.before = vantle::readMeter(before);
  if (measureAfter) result.after = vantle::readMeter(after);
  return true;
}

// Pass two from pass one's kept output: its frames times gain, written.
bool replayPass(ChainCache& cache, const PassResult& first, int rate, int channels, double gain,
                vantle::Encoder& encoder, PassResult& result, Progress& progress,
                std::string& error) {
  result.latency = first.latency;
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * channels);
  if (std::fseek(cache.file, 0, SEEK_SET) != 0) {
    error = std::string("cannot read back the first pass: ") + std::strerror(errno);
    return false;
  }
  while (result.frames < first.frames) {
    if (gInterrupt != 0) {
      error = "interrupted";
      return false;
    }
    const long long n = std::min(kBlockFrames, first.frames - result.frames);
    const auto count = static_cast<std::size_t>(n * channels);
    if (std::fread(block.data(), sizeof(float), count, cache.file) != count) {
      error = "cannot read back the first pass";
      return false;
    }
    applyGain(block.data(), n * channels, gain);
    if (!vantle::writeFrames(encoder, block.data(), n, error)) return false;
    result.frames += n;
    progress.update(result.frames, first.frames, rate);
  }
  return true;
}

// What a measurement becomes under a static gain: every level moves by it
// (the meters are linear in the signal), the range stays.
vantle::Loudness shifted(vantle::Loudness l, double gainDb) {
  l.integrated += gainDb;
  l.truePeak += gainDb;
  l.samplePeak += gainDb;
  for (auto& point : l.shortTerm) point.second += gainDb;
  return l;
}

// The loudness of a written file, decoded as a listener's player would.
bool measureFile(const std::string& path, vantle::Loudness& out, std::string& error) {
  vantle::Decoder decoder;
  vantle::LoudnessMeter meter;
  bool ok = vantle::openDecoder(decoder, path, error) &&
            vantle::openMeter(meter, decoder.outChannels, decoder.outRate, error);
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * 2);
  while (ok) {
    const long long n = vantle::readFrames(decoder, block.data(), kBlockFrames, error);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = vantle::addFrames(meter, block.data(), n, error);
  }
  if (ok) out = vantle::readMeter(meter);
  vantle::closeMeter(meter);
  vantle::closeDecoder(decoder);
  return ok;
}

std::string number(double v) {
  if (!std::isfinite(v)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string fixedNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string loudnessJson(const vantle::Loudness& l) {
  return "{\"integrated_lufs\": " + number(l.integrated) + ", \"range_lu\": " + number(l.range) +
         ", \"true_peak_dbtp\": " + number(l.truePeak) +
         ", \"sample_peak_dbfs\": " + number(l.samplePeak) + "}";
}

// A hidden name beside path for a file that becomes path only when it is
// complete; tag tells apart several at once.
std::string temporaryBeside(const std::string& path, const std::string& tag) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name) + "." + path.substr(name) + ".partial-" + std::to_string(getpid()) +
         tag;
}

// Writes text to path whole or not at all.
bool writeWhole(const std::string& path, const std::string& text, std::string& error) {
  const std::string temporary = temporaryBeside(path, "");
  FILE* f = std::fopen(temporary.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f != nullptr) ok = std::fclose(f) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    std::remove(temporary.c_str());
    error = "cannot write " + path + ": " + std::strerror(errno);
  }
  return ok;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int fail(const std::string& message, int code) {
  std::fprintf(stderr, "vantle-master: %s\n", message.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const std::string problem = parseArguments(argc, argv, o);
  if (problem == "version") {
    std::printf("vantle-master %s\n", VANTLE_VERSION);
    return 0;
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "vantle-master: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
  }
  struct stat st;
  if (stat(o.input.c_str(), &st) != 0)
    return fail("cannot read " + o.input + ": " + std::strerror(errno), kExitFailure);
  if (sameFile(o.input, o.output)) return fail("INPUT and OUTPUT are the same file", kExitUsage);
  if (!o.overwrite && stat(o.output.c_str(), &st) == 0) {
    return fail(o.output + " exists (use -y to replace it)", kExitUsage);
  }
  // The libraries' own notes would mix with the summary; their errors come
  // back as this program's messages.
  av_log_set_level(AV_LOG_QUIET);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  // A file-size limit then fails a write, which is reported and cleaned up,
  // instead of killing the program with its temporary file left behind.
  std::signal(SIGXFSZ, SIG_IGN);

  const auto started = std::chrono::steady_clock::now();
  Progress progress;
  progress.shown = !o.quiet && isatty(STDERR_FILENO) != 0;
  vantle::InputFacts facts;
  vantle::Loudness before;
  int rate = 0;
  int channels = 0;
  std::string error;

  // Pass one: process and measure. The chain is deterministic, so pass two
  // gives the same samples, and one static gain meets the target.
  PassResult first;
  double inputDb =
      o.haveInputDb ? o.inputDb : vantle::Processor::defaultSettings(o.mode).inputGainDb;
  double gainDb = 0;
  std::string decidedBy = "none";
  ChainCache cache;
  if (o.haveTarget) {
    vantle::OutputKind firstKind;
    vantle::outputKindFor(o.output, firstKind);
    for (int round = 0;; ++round) {
      first = PassResult{};
      cache.open(temporaryBeside(o.output, "-chain"));
      progress.begin(round == 0 ? "pass 1 of 2" : "pass 1 of 2, more input gain");
      const bool passed =
          runPass(o, vantle::requiredRate(firstKind), inputDb, 1.0, nullptr, round == 0, true,
                  facts, rate, channels, first, progress, error, &cache);
      progress.end();
      if (!passed) {
        return fail(error, error == "interrupted" ? kExitInterrupted : kExitFailure);
      }
      // A file that could not be kept whole gives its room back to OUTPUT.
      if (!cache.written) cache.close();
      if (round == 0) before = first.before;
      const double toTarget = o.targetLufs - first.after.integrated;
      const double toLimit = o.truePeakLimit - kTruePeakMargin - first.after.truePeak;
      if (!std::isfinite(toTarget) || !std::isfinite(toLimit)) break;
      gainDb = std::min(toTarget, toLimit);
      decidedBy = toTarget <= toLimit ? "loudness target" : "true-peak limit";
      // A quiet recording leaves the chain quiet, with peaks far above its
      // loudness, and a gain after the chain then meets the limit long
      // before the target. More gain into the chain lets it work at its own
      // level; the user's own input gain is left alone.
      const double shortfall = toTarget - toLimit;
      if (o.haveInputDb || shortfall <= kInputGainShortfall || round == kInputGainRounds ||
          inputDb >= vantle::kMaxInputGainDb) {
        break;
      }
      inputDb = std::min(vantle::kMaxInputGainDb, inputDb + shortfall);
    }
  }

  // Pass two (the only pass without a target): process, gain and write. A
  // lossy file is measured as written. Its encoder quantises: the level it
  // writes moves in jumps, not with the gain, and its own overs come and go
  // with the smallest change of it, so when a limit applies each try is
  // written to its own temporary file and measured, and the best one that
  // is not above the limit (the one nearest the target) is kept. A format
  // with an output gain (Opus) is then written once more with the same
  // samples and that gain set to what the try missed by, which its decoders
  // apply exactly. Otherwise the next try aims the middle of the window
  // under the limit with the overs the tries so far typically added.
  vantle::OutputKind kind;
  vantle::outputKindFor(o.output, kind);
  const int forcedRate = vantle::requiredRate(kind);
  const bool search = vantle::isLossy(kind) && (o.haveTarget || o.haveTruePeak);
  std::vector<std::string> temporaries;
  PassResult second;
  int best = -1;  // index into temporaries of the try that is kept
  double bestGain = 0;
  double bestScore = 0;
  double outputGainDb = 0;    // in the file, for a format that has one
  std::vector<double> gains;  // the gain before the encoder of every try
  std::vector<double> overs;  // each try's true peak less the gain it was written with
  bool outputGainSet = false;
  // The encoder needs the rate and channels before the first frame.
  vantle::Decoder probe;
  bool ok = vantle::openDecoder(probe, o.input, error, forcedRate);
  rate = probe.outRate;
  channels = probe.outChannels;
  vantle::closeDecoder(probe);
  for (int attempt = 0; ok && attempt < kLossyAttempts; ++attempt) {
    const std::string temporary = temporaryBeside(o.output, "-" + std::to_string(attempt));
    temporaries.push_back(temporary);
    vantle::Encoder encoder;
    if (ok) {
      ok = vantle::openEncoder(encoder, temporary, kind, o.asFloat, rate, channels, error,
                               outputGainDb);
    }
    PassResult tried;
    if (ok) {
      progress.begin(std::string(o.haveTarget ? "pass 2 of 2" : "processing") +
                     (attempt > 0 ? ", encoding " + std::to_string(attempt + 1) : ""));
      // A lossy file is measured as written; a lossless one after a first
      // pass is that pass's measurement moved by the gain.
      const double gain = std::pow(10.0, gainDb / 20.0);
      if (cache.written) {
        ok = replayPass(cache, first, rate, channels, gain, encoder, tried, progress, error);
      } else {
        ok = runPass(o, forcedRate, inputDb, gain, &encoder, !o.haveTarget,
                     !o.haveTarget && !vantle::isLossy(kind), facts, rate, channels, tried,
                     progress, error);
      }
      if (ok && o.haveTarget && !vantle::isLossy(kind)) tried.after = shifted(first.after, gainDb);
      progress.end();
    }
    if (ok) ok = vantle::finishEncoder(encoder, error);
    vantle::closeEncoder(encoder);
    if (ok && vantle::isLossy(kind)) ok = measureFile(temporary, tried.after, error);
    if (!ok) break;
    if (!search) {
      second = tried;
      best = attempt;
      break;
    }
    const double total = gainDb + outputGainDb;
    const double room = o.truePeakLimit - tried.after.truePeak;
    const double toTarget = o.haveTarget ? o.targetLufs - tried.after.integrated : 0.0;
    if (room >= 0) {
      // Under the limit: the try nearest the target (without a target, the
      // loudest) is the one to keep.
      const double score = o.haveTarget ? std::fabs(toTarget) : -total;
      if (best < 0 || score < bestScore) {
        second = tried;
        best = attempt;
        bestGain = total;
        bestScore = score;
      }
      if (std::fabs(toTarget) < kLossyTolerance || room <= kLossyTolerance) break;
    }
    if (vantle::hasOutputGain(kind) && !outputGainSet) {
      // The same samples into the encoder give the same stream; the output
      // gain then moves both figures by exactly itself, so it can aim as
      // close under the limit as a lossless file.
      const double step = std::min(room - kTruePeakMargin, toTarget);
      outputGainDb = vantle::writableOutputGain(outputGainDb + step);
      outputGainSet = true;
      continue;
    }
    gains.push_back(gainDb);
    overs.push_back(tried.after.truePeak - total);
    std::vector<double> sorted = overs;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    const double typical =
        sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    // The middle of the window under the limit with the typical overs, or
    // what would have met the target (without one, no more than the gain
    // tried) if that is less.
    double next = std::min(o.truePeakLimit - kLossyMargin - typical, total + toTarget);
    next -= outputGainDb;
    // The same gain gives the same file: each try gets one of its own.
    for (bool repeated = true; repeated;) {
      repeated = false;
      for (const double g : gains) {
        if (std::fabs(g - next) < kLossyDistinct) {
          next -= 2 * kLossyDistinct;
          repeated = true;
        }
      }
    }
    gainDb = next;
  }
  if (ok && best < 0) {
    ok = false;
    error = "every encoding of the output stays above the true-peak limit; try another format";
  }
  if (ok && gInterrupt != 0) {
    ok = false;
    error = "interrupted";
  }
  if (ok && std::rename(temporaries[best].c_str(), o.output.c_str()) != 0) {
    ok = false;
    error = "cannot write " + o.output + ": " + std::strerror(errno);
  }
  for (const std::string& t : temporaries) std::remove(t.c_str());
  if (!ok) return fail(error, error == "interrupted" ? kExitInterrupted : kExitFailure);
  if (search) gainDb = bestGain;
  if (!o.haveTarget) before = second.before;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double seconds = static_cast<double>(second.frames) / rate;

  // What was changed about the input's form, said in the report and (unless
  // quiet) on standard error.
  std::vector<std::string> notes;
  if (facts.rate != rate) {
    notes.push_back("resampled from " + std::to_string(facts.rate) + " Hz to " +
                    std::to_string(rate) + " Hz" +
                    (vantle::requiredRate(kind) != 0 ? " (the format needs it)"
                                                     : " (the chain runs at 8000 to 384000 Hz)"));
  }
  if (facts.channels > 2) {
    notes.push_back("mixed down from " + std::to_string(facts.channels) + " channels to stereo");
  }
  if (!o.quiet) {
    for (const std::string& note : notes) std::fprintf(stderr, "note: %s\n", note.c_str());
  }

  if (!o.report.empty()) {
    std::string json = "{\n";
    json += "  \"program\": " + quoted(std::string("vantle-master ") + VANTLE_VERSION) + ",\n";
    json += "  \"input\": {\"path\": " + quoted(o.input) + ", \"format\": " + quoted(facts.format) +
            ", \"codec\": " + quoted(facts.codec) + ", \"rate\": " + std::to_string(facts.rate) +
            ", \"channels\": " + std::to_string(facts.channels) +
            ", \"duration_s\": " + number(seconds) + "},\n";
    json += "  \"output\": {\"path\": " + quoted(o.output) + ", \"rate\": " + std::to_string(rate) +
            ", \"channels\": " + std::to_string(channels) + "},\n";
    json += "  \"notes\": [";
    for (std::size_t i = 0; i < notes.size(); ++i) json += (i > 0 ? ", " : "") + quoted(notes[i]);
    json += "],\n";
    json += "  \"settings\": {\"mode\": " + quoted(modeName(o.mode)) +
            ", \"adapt\": " + number(o.adapt) + ", \"input_db\": " + number(inputDb) +
            ", \"target\": " + quoted(o.targetName) +
            ", \"target_lufs\": " + (o.haveTarget ? number(o.targetLufs) : "null") +
            ", \"true_peak_limit_dbtp\": " + number(o.truePeakLimit) + "},\n";
    json += "  \"before\": " + loudnessJson(before) + ",\n";
    json += "  \"after\": " + loudnessJson(second.after) + ",\n";
    json += "  \"gain_db\": " + number(gainDb) + ",\n";
    json += "  \"decided_by\": " + quoted(decidedBy) + ",\n";
    json += "  \"encodings_tried\": " + std::to_string(temporaries.size()) + ",\n";
    json += "  \"latency_frames\": " + std::to_string(second.latency) + ",\n";
    json += "  \"elapsed_s\": " + number(elapsed) + ",\n";
    json += "  \"realtime_factor\": " + number(elapsed > 0 ? seconds / elapsed : 0) + "\n}\n";
    if (!writeWhole(o.report, json, error)) return fail(error, kExitFailure);
  }
  if (!o.plot.empty()) {
    vantle::PlotInput plot;
    plot.before = before.shortTerm;
    plot.after = second.after.shortTerm;
    plot.haveTarget = o.haveTarget;
    plot.targetLufs = o.targetLufs;
    plot.truePeakLimit = o.truePeakLimit;
    const std::size_t cut = o.input.rfind('/');
    plot.title = (cut == std::string::npos ? o.input : o.input.substr(cut + 1)) + ", " +
                 modeName(o.mode) + ", adapt " + fixedNumber(o.adapt) + ": before " +
                 number(before.integrated) + " LUFS, after " + number(second.after.integrated) +
                 " LUFS";
    if (!writeWhole(o.plot, vantle::loudnessPlot(plot), error)) return fail(error, kExitFailure);
  }
  if (!o.quiet) {
    std::fprintf(stderr,
                 "            integrated   range   true peak   sample peak\n"
                 "  before   %8s LUFS %5s LU %7s dBTP %7s dBFS\n"
                 "  after    %8s LUFS %5s LU %7s dBTP %7s dBFS\n"
                 "  input gain %s dB, gain %s dB (%s), %s s of audio in %.1f s (%.0fx realtime)\n",
                 number(before.integrated).c_str(), number(before.range).c_str(),
                 number(before.truePeak).c_str(), number(before.samplePeak).c_str(),
                 number(second.after.integrated).c_str(), number(second.after.range).c_str(),
                 number(second.after.truePeak).c_str(), number(second.after.samplePeak).c_str(),
                 number(inputDb).c_str(), number(gainDb).c_str(), decidedBy.c_str(),
                 number(seconds).c_str(), elapsed, elapsed > 0 ? seconds / elapsed : 0.0);
  }
  return 0;
}
