// The command line of vantle-tonbrel: option/value pairs scanned in order.
#pragma once

#include <cstdint>
#include <string>

#include "engine/settings.h"

namespace vantle {

// The tool's accepted sample rates, Hz, as its usage documents them: from the
// engine's lowest rate up to this, below the engine's own maximum.
constexpr double kToolMaxSampleRate = 384000.0;

struct CommandLine {
  bool haveMode = false;
  ProcessingMode mode = ProcessingMode::podcast;
  double rate = 0.0;  // a missing rate stays 0 and fails the range check
  std::int32_t channels = 2;
  bool haveInputDb = false;
  double inputDb = 0.0;
  double adapt = 0.0;
};

enum class ScanOutcome { run, version, error };

struct ScanResult {
  ScanOutcome outcome = ScanOutcome::error;
  CommandLine line;
  std::string message;  // for errors: the text after "vantle-tonbrel: "
};

// argv[0] is the program; options start at argv[1].
ScanResult scanArguments(int argc, const char* const* argv);

// Decimal text to a double the way C99 strtod reads it (leading blanks
// skipped, trailing junk ignored, no number gives 0), the same on every platform.
double parseReal(const char* text);

// Decimal text to a 32-bit integer the way strtol reads it; a value outside the
// 32-bit range never wraps: it comes back as 0, which no check accepts.
std::int32_t parseChannels(const char* text);

extern const char* const kUsageText;
extern const char* const kVersionLine;

}  // namespace vantle
