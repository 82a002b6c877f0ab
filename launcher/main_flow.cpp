#include "launcher/main_flow.h"

#include <cstring>

#include "launcher/runtime.h"
#include "launcher/text.h"

namespace vantle {

namespace {

const char kNoRuntimeFormat[] =
    "%s could not find a Python runtime.\n\nPlease reinstall %s. The application will now exit.";

const char kInterpreterName[] = "\\python.exe";
const std::size_t kInterpreterNameLength = sizeof(kInterpreterName) - 1;

const char* lastSeparator(const char* path) {
  const char* back = std::strrchr(path, '\\');
  const char* forward = std::strrchr(path, '/');
  if (back == nullptr) {
    return forward;
  }
  if (forward == nullptr) {
    return back;
  }
  return back > forward ? back : forward;
}

}  // namespace

const char* fileNameOf(const char* path) {
  const char* separator = lastSeparator(path);
  return separator == nullptr ? path : separator + 1;
}

bool folderOf(const char* path, char* out, std::size_t size) {
  const char* separator = lastSeparator(path);
  if (separator == nullptr) {
    copyInto(out, size, "");
    return false;
  }
  return formatInto(out, size, "%.*s", static_cast<int>(separator - path), path);
}

void preferWindowlessInterpreter(Platform& platform, char* pythonPath) {
  const std::size_t length = std::strlen(pythonPath);
  if (length < kInterpreterNameLength ||
      !equalsIgnoreCase(pythonPath + length - kInterpreterNameLength, kInterpreterName,
                        kInterpreterNameLength)) {
    return;
  }
  char candidate[kPathSize];
  if (!formatInto(candidate, sizeof(candidate), "%.*s\\pythonw.exe",
                  static_cast<int>(length - kInterpreterNameLength), pythonPath)) {
    return;
  }
  if (platform.fileKind(candidate) == FileKind::file) {
    copyInto(pythonPath, kPathSize, candidate);
  }
}

void formatNoRuntimeMessage(const char* ownPath, char* out, std::size_t size) {
  if (startedFromArchive(ownPath)) {
    formatArchiveMessage(out, size, kDisplayName, fileNameOf(ownPath));
  } else {
    formatInto(out, size, kNoRuntimeFormat, kDisplayName, kDisplayName);
  }
}

void reportError(Platform& platform, const char* text) {
  reportToUser(platform, kDisplayName, text);
}

}  // namespace vantle
