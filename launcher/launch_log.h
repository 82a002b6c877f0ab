// The launch log that collects the application's output, and the plain-words
// explanation of a failed run built from its exit code and the log's last line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/platform.h"

namespace vantle {

// Where users send a launch log; ends every failure explanation.
constexpr char kSupportEmail[] = "support@example.com";

// Longest log line (and header reference) that is compared or shown.
constexpr std::size_t kLogLineLength = 300;
// How much of the end of the log is searched for its last line.
constexpr std::size_t kLogTailSize = 8192;
// Runs shorter than this did not get going; longer ones stopped.
constexpr std::uint64_t kStartedRunTimeMs = 60000;

// The first usable log location: the portable data folder, then APPDATA,
// then TEMP. out is emptied first; false when there is none.
bool chooseLaunchLogPath(Platform& platform, const char* appLocalDir, const char* productName,
                         char* out, std::size_t size);

// Creates the log's folders and the log itself (truncated), writes the header
// and one line feed; an inheritable handle, or invalidFileHandle().
FileHandle openLaunchLog(Platform& platform, const char* path, const char* header);

// The last non-empty line of the log's last 8192 bytes that is not the
// header, trimmed and cut to 300 characters. out is emptied first; false
// when the log cannot be read.
bool lastLogLine(Platform& platform, const char* path, const char* header, char* out,
                 std::size_t size);

// Shows (message box and standard error) why the application ended with a
// non-zero exit code.
void explainFailure(Platform& platform, const char* displayName, std::uint32_t exitCode,
                    std::uint64_t runTimeMs, const char* logPath, const char* header);

}  // namespace vantle
