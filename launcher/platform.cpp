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

void reportToUser(Platform& platform, const char* caption, const char* text) {
  platform.writeStderr(caption, std::strlen(caption));
  platform.writeStderr(": ", 2);
  platform.writeStderr(text, std::strlen(text));
  platform.writeStderr("\n", 1);
  platform.showErrorBox(caption, text);
}

}  // namespace vantle
