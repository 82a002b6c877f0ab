// The argument scan of vantle-tonbrel with any command line: the bytes,
// split at NUL bytes, are the arguments after the program name. It must never
// crash, and a line it accepts has a mode, a rate in range (or one that is
// not a number) and one or two channels.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "tests/fuzz/fuzz_check.h"
#include "tool/arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1, "vantle-tonbrel");
  std::string word;
  for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (!word.empty()) words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  argv.push_back(nullptr);

  const vantle::ScanResult r = vantle::scanArguments(static_cast<int>(words.size()), argv.data());
  if (r.outcome == vantle::ScanOutcome::run) {
    FUZZ_CHECK(r.line.haveMode, "accepted without a mode");
    // A rate that reads as not a number is let through on purpose: the
    // processor then runs at 48000 Hz, as its documentation says.
    FUZZ_CHECK(std::isnan(r.line.rate) || (r.line.rate >= vantle::kMinSampleRate &&
                                           r.line.rate <= vantle::kToolMaxSampleRate),
               "accepted rate %.17g", r.line.rate);
    FUZZ_CHECK(r.line.channels == 1 || r.line.channels == 2, "accepted %d channels",
               static_cast<int>(r.line.channels));
  } else if (r.outcome == vantle::ScanOutcome::error) {
    FUZZ_CHECK(!r.message.empty(), "an error without a message");
  }
  for (const std::string& w : words) {
    vantle::parseReal(w.c_str());
    vantle::parseChannels(w.c_str());
  }
  return 0;
}
