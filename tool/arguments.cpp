#include "tool/arguments.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "vantle_version.h"

namespace vantle {

const char* const kUsageText =
    "usage: vantle-tonbrel --mode <podcast|stream|limiter> --rate <hz>\n"
    "                     [--channels <n>] [--input-db <db>] [--adapt <0-100>]\n"
    "\n"
    "Reads interleaved f32le PCM on stdin, writes it on stdout.\n"
    "Processing core: the Vantle broadcast chain, 64-bit floating point throughout.\n";

const char* const kVersionLine = "vantle-tonbrel " VANTLE_VERSION "\n";

double parseReal(const char* text) {
#ifdef _WIN32
  // The C runtime's own strtod on Windows may not read "inf", "nan" or hex
  // floats; mingw's C99 reader does, so both builds read the same numbers.
  return __mingw_strtod(text, nullptr);
#else
  return std::strtod(text, nullptr);
#endif
}

std::int32_t parseChannels(const char* text) {
  // long is 32 bits on Windows and 64 on Linux: read 64 bits everywhere and
  // reject what does not fit 32, instead of letting 4294967298 wrap to 2.
  const long long v = std::strtoll(text, nullptr, 10);
  if (v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<std::int32_t>(v);
}

namespace {

bool isValueOption(const char* a) {
  return std::strcmp(a, "--mode") == 0 || std::strcmp(a, "--rate") == 0 ||
         std::strcmp(a, "--channels") == 0 || std::strcmp(a, "--input-db") == 0 ||
         std::strcmp(a, "--adapt") == 0;
}

std::string wholeHz(double hz) { return std::to_string(static_cast<long long>(hz)); }

ScanResult failure(std::string message) {
  ScanResult r;
  r.outcome = ScanOutcome::error;
  r.message = std::move(message);
  return r;
}

}  // namespace

ScanResult scanArguments(int argc, const char* const* argv) {
  if (argc <= 1) return failure("--mode is required");
  CommandLine line;
  int i = 1;
  while (i < argc) {
    const char* option = argv[i];
    if (isValueOption(option) && i + 1 < argc) {
      const char* value = argv[i + 1];
      if (std::strcmp(option, "--mode") == 0) {
        if (std::strcmp(value, "podcast") == 0) {
          line.mode = ProcessingMode::podcast;
        } else if (std::strcmp(value, "stream") == 0) {
          line.mode = ProcessingMode::stream;
        } else if (std::strcmp(value, "limiter") == 0) {
          line.mode = ProcessingMode::limiter;
        } else {
          return failure("--mode must be podcast, stream or limiter");
        }
        line.haveMode = true;
      } else if (std::strcmp(option, "--rate") == 0) {
        line.rate = parseReal(value);
      } else if (std::strcmp(option, "--channels") == 0) {
        line.channels = parseChannels(value);
      } else if (std::strcmp(option, "--input-db") == 0) {
        line.inputDb = parseReal(value);
        line.haveInputDb = true;
      } else {
        line.adapt = parseReal(value);
      }
      i += 2;
      continue;
    }
    if (std::strcmp(option, "--version") == 0) {
      ScanResult r;
      r.outcome = ScanOutcome::version;
      r.line = line;
      return r;
    }
    return failure(std::string("unknown or incomplete argument: ") + option);
  }
  if (!line.haveMode) return failure("--mode is required");
  // Written as two failing comparisons, so a rate that is not a number passes
  // (the processor then runs at 48000 Hz).
  if (line.rate < kMinSampleRate || line.rate > kToolMaxSampleRate) {
    return failure("--rate must be a sample rate between " + wholeHz(kMinSampleRate) + " and " +
                   wholeHz(kToolMaxSampleRate));
  }
  if (line.channels != 1 && line.channels != 2) return failure("--channels must be 1 or 2");
  ScanResult r;
  r.outcome = ScanOutcome::run;
  r.line = line;
  return r;
}

}  // namespace vantle
