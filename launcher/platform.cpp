#include "launcher/platform.h"

#include <cstring>

namespace vantle {

bool removeFileSpecPortable(char* path) {
  if (path == nullptr) return false;
  char* p = path;
  // A leading "\" or "\\" belongs to the root and is never removed.
  if (*p == '\\') ++p;
  if (*p == '\\') ++p;
  char* cut = p;
  while (*p != '\0') {
    if (*p == '\\') {
      cut = p;
    } else if (*p == ':') {
      // After a drive the root's "\" stays: C:\x becomes C:\, not C:.
      cut = p + 1;
      if (p[1] == '\\') {
        ++cut;
        ++p;
      }
    }
    ++p;
  }
  if (*cut == '\0') return false;
  *cut = '\0';
  return true;
}

void reportToUser(Platform& platform, const char* caption, const char* text, ReportRoute route,
                  FileHandle log) {
  const char* parts[] = {caption, ": ", text, "\n"};
  if (route != ReportRoute::boxOnly) {
    for (const char* part : parts) platform.writeStderr(part, std::strlen(part));
  }
  if (route == ReportRoute::stderrAndLog && log != invalidFileHandle()) {
    for (const char* part : parts) platform.writeFile(log, part, std::strlen(part));
  }
  if (route != ReportRoute::stderrAndLog) platform.showErrorBox(caption, text);
}

}  // namespace vantle
