#include "launcher/launch_log.h"

#include <cstring>

#include "launcher/text.h"

namespace vantle {

namespace {

// The folder-creation copy of the log path and the data-folder test path.
constexpr std::size_t kFolderPathSize = 2048;
constexpr std::size_t kHeadlineSize = 256;
constexpr std::size_t kExplanationSize = 1024;
constexpr std::size_t kFinalMessageSize = 4096;

// Windows status codes that get their own explanation.
constexpr std::uint32_t kAccessViolation = 0xC0000005u;
constexpr std::uint32_t kHeapCorruption = 0xC0000374u;
constexpr std::uint32_t kStackBufferOverrun = 0xC0000409u;
constexpr std::uint32_t kAccessDenied = 0xC0000022u;
constexpr std::uint32_t kInvalidImageFormat = 0xC000007Bu;
constexpr std::uint32_t kDllNotFound = 0xC0000135u;
constexpr std::uint32_t kDllInitFailed = 0xC0000142u;

struct Span {
  const char* data;
  std::size_t length;
};

// White space removed at both ends, then cut to a log line's length.
Span trimmedLine(const char* data, std::size_t length) {
  while (length > 0 && isWhiteSpace(data[0])) {
    ++data;
    --length;
  }
  while (length > 0 && isWhiteSpace(data[length - 1])) --length;
  if (length > kLogLineLength) length = kLogLineLength;
  return {data, length};
}

// The hint that follows a quoted Python error line, chosen by what it says.
const char* hintFor(const char* lastLine) {
  if (std::strstr(lastLine, "No module named") != nullptr) {
    return " Part of the program is missing: this copy is incomplete, or its files are mixed with "
           "another version's. Extract the whole zip again into an empty folder.";
  }
  if (std::strstr(lastLine, "DLL load failed") != nullptr) {
    return " A component could not be loaded. Check the antivirus quarantine, and extract the "
           "whole zip again, keeping every file together.";
  }
  if (std::strstr(lastLine, "PermissionError") != nullptr ||
      std::strstr(lastLine, "Permission denied") != nullptr) {
    return " It is not allowed to write where it is. Move the folder somewhere you own, such as "
           "Documents, or run it from a different drive.";
  }
  return "";
}

void formatExplanation(char* out, std::size_t size, const char* displayName, std::uint32_t exitCode,
                       const char* lastLine) {
  switch (exitCode) {
    case kAccessViolation:
    case kHeapCorruption:
    case kStackBufferOverrun:
      copyInto(out, size, "It crashed inside a component (a memory fault), not in its own code.");
      return;
    case kAccessDenied:
      copyInto(out, size,
               "Windows refused to run its files. Antivirus, application control or a folder "
               "permission is blocking it. Try extracting it to a folder of your own, such as "
               "Documents, and check the antivirus quarantine.");
      return;
    case kInvalidImageFormat:
      formatInto(out, size,
                 "A file in its folder is damaged, or is the wrong kind for this computer (%s "
                 "needs 64-bit Windows). Download and extract it again.",
                 displayName);
      return;
    case kDllNotFound:
      copyInto(out, size,
               "A file it needs is missing (Windows reported that a DLL could not be found). If "
               "this is a portable copy, extract the whole zip again, keeping every file "
               "together, and check whether antivirus quarantined a file from its folder.");
      return;
    case kDllInitFailed:
      copyInto(out, size,
               "A file it needs could not be started (a DLL failed to initialise). Sign out of "
               "Windows and back in, or restart the computer, then try again.");
      return;
    default:
      break;
  }
  if (lastLine[0] != '\0') {
    formatInto(out, size, "Python reported: %s%s", lastLine, hintFor(lastLine));
  } else {
    formatInto(out, size, "It exited with code %lu and left no message.",
               static_cast<unsigned long>(exitCode));
  }
}

}  // namespace

bool chooseLaunchLogPath(Platform& platform, const char* appLocalDir, const char* productName,
                         char* out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  if (productName == nullptr) productName = "";

  // A portable copy keeps its log beside its data; the data folder must be
  // there already (creating it would make any copy portable).
  if (appLocalDir != nullptr && appLocalDir[0] != '\0') {
    char dataFolder[kFolderPathSize];
    if (formatInto(dataFolder, sizeof dataFolder, "%s\\data", appLocalDir) &&
        platform.fileKind(dataFolder) == FileKind::directory) {
      if (formatInto(out, size, "%s\\data\\logs\\launch.log", appLocalDir)) return true;
      out[0] = '\0';
    }
  }

  char value[kPathSize];
  std::size_t length = platform.getEnv("APPDATA", value, sizeof value);
  if (length > 0 && length < sizeof value) {
    if (formatInto(out, size, "%s\\Vantle\\logs\\%s-launch.log", value, productName)) return true;
    out[0] = '\0';
  }
  length = platform.getEnv("TEMP", value, sizeof value);
  if (length > 0 && length < sizeof value) {
    if (formatInto(out, size, "%s\\%s-launch.log", value, productName)) return true;
    out[0] = '\0';
  }
  return false;
}

FileHandle openLaunchLog(Platform& platform, const char* path, const char* header) {
  if (path == nullptr || path[0] == '\0') return invalidFileHandle();

  // Create the log's folders one level at a time; any that exist already
  // simply fail. Prefixes of 2 characters or less are drives (C:).
  char folder[kFolderPathSize];
  copyInto(folder, sizeof folder, path);
  char* cut = std::strrchr(folder, '\\');
  if (cut != nullptr) {
    *cut = '\0';
    if (folder[0] != '\0') {
      for (char* p = folder + 1; *p != '\0'; ++p) {
        if (*p != '\\' || p - folder <= 2) continue;
        *p = '\0';
        platform.createFolder(folder);
        *p = '\\';
      }
      platform.createFolder(folder);
    }
  }

  const FileHandle file = platform.createInheritableFile(path);
  if (file == invalidFileHandle()) return file;
  if (header != nullptr && header[0] != '\0') {
    platform.writeFile(file, header, std::strlen(header));
    platform.writeFile(file, "\n", 1);
  }
  return file;
}

bool lastLogLine(Platform& platform, const char* path, const char* header, char* out,
                 std::size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
  if (path == nullptr || path[0] == '\0' || out == nullptr || size == 0) return false;

  char tail[kLogTailSize];
  const long long got = platform.readFileTail(path, tail, sizeof tail);
  if (got < 0) return false;

  if (header == nullptr) header = "";
  const Span reference = trimmedLine(header, std::strlen(header));

  const char* end = tail + got;
  const char* piece = tail;
  while (piece <= end) {
    const char* feed = static_cast<const char*>(std::memchr(piece, '\n', end - piece));
    const char* pieceEnd = feed != nullptr ? feed : end;
    const Span line = trimmedLine(piece, pieceEnd - piece);
    const bool isHeader =
        line.length == reference.length && std::memcmp(line.data, reference.data, line.length) == 0;
    if (line.length > 0 && !isHeader) {
      const std::size_t kept = line.length < size ? line.length : size - 1;
      std::memcpy(out, line.data, kept);
      out[kept] = '\0';
    }
    if (feed == nullptr) break;
    piece = feed + 1;
  }
  return true;
}

void explainFailure(Platform& platform, const char* displayName, std::uint32_t exitCode,
                    std::uint64_t runTimeMs, const char* logPath, const char* header) {
  if (displayName == nullptr) displayName = "";
  const bool haveLog = logPath != nullptr && logPath[0] != '\0';

  char lastLine[kLogLineLength + 1] = "";
  if (haveLog) lastLogLine(platform, logPath, header, lastLine, sizeof lastLine);

  char headline[kHeadlineSize];
  if (runTimeMs < kStartedRunTimeMs) {
    formatInto(headline, sizeof headline, "%s did not start.", displayName);
  } else {
    formatInto(headline, sizeof headline, "%s stopped unexpectedly.", displayName);
  }

  char explanation[kExplanationSize];
  formatExplanation(explanation, sizeof explanation, displayName, exitCode, lastLine);

  char message[kFinalMessageSize];
  if (haveLog) {
    formatInto(message, sizeof message,
               "%s\n\n%s\n\nWhat happened was written to:\n%s\n\nIf it keeps happening, send that "
               "file to %s.",
               headline, explanation, logPath, kSupportEmail);
  } else {
    formatInto(message, sizeof message,
               "%s\n\n%s\n\nNo launch log could be written. If it keeps happening, write to %s.",
               headline, explanation, kSupportEmail);
  }
  reportToUser(platform, displayName, message);
}

}  // namespace vantle
