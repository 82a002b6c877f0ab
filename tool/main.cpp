// vantle-tonbrel: reads interleaved f32le PCM on stdin, runs every frame through
// the processing chain and writes the result on stdout, block by block.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/processor.h"
#include "tool/arguments.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <csignal>
#endif

namespace {

constexpr int kBlockFrames = 4096;

int commandLineError(const std::string& message) {
  std::fprintf(stderr, "vantle-tonbrel: %s\n", message.c_str());
  std::fputs(vantle::kUsageText, stderr);
  return 2;
}

int ioFailure(const char* line) {
  std::fputs(line, stderr);
  return 3;
}

void useBinaryStreams() {
#ifdef _WIN32
  // Text mode would stop reading at the first 0x1A byte and turn 0x0A into
  // 0x0D 0x0A on the way out.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#else
  // A reader that goes away must give "write failed" and exit 3, not a silent
  // death by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const vantle::ScanResult scan = vantle::scanArguments(argc, argv);
  if (scan.outcome == vantle::ScanOutcome::version) {
    std::fputs(vantle::kVersionLine, stdout);
    return std::fflush(stdout) == 0 ? 0 : ioFailure("vantle-tonbrel: flush failed\n");
  }
  if (scan.outcome == vantle::ScanOutcome::error) return commandLineError(scan.message);
  const vantle::CommandLine& line = scan.line;

  useBinaryStreams();

  auto processor = std::make_unique<vantle::Processor>();
  processor->setSampleRate(line.rate);
  vantle::ProcessorSettings settings = vantle::Processor::defaultSettings(line.mode);
  // The processor clamps both to its own limits (kMinInputGainDb..kMaxInputGainDb, adapt 0..100).
  if (line.haveInputDb) settings.inputGainDb = line.inputDb;
  settings.adapt = line.adapt;
  processor->applySettings(settings);

  const int channels = line.channels;
  const size_t capacity = static_cast<size_t>(channels) * kBlockFrames;
  std::vector<float> buffer(capacity, 0.0f);

  for (;;) {
    const size_t n = std::fread(buffer.data(), sizeof(float), capacity, stdin);
    if (n == 0) {
      if (std::ferror(stdin)) return ioFailure("vantle-tonbrel: read failed\n");
      if (std::fflush(stdout) != 0) return ioFailure("vantle-tonbrel: flush failed\n");
      return 0;
    }
    const std::int64_t frames = static_cast<std::int64_t>(n / static_cast<size_t>(channels));
    if (frames > 0) processor->processBuffer(buffer.data(), frames, channels);
    // A trailing partial frame goes back out as it came in.
    if (std::fwrite(buffer.data(), sizeof(float), n, stdout) < n) {
      return ioFailure("vantle-tonbrel: write failed\n");
    }
  }
}
