#include "launcher/main_flow_win32.h"

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "launcher/main_flow.h"
#include "launcher/platform_win32.h"

namespace vantle {

int launcherMain(int count, wchar_t** arguments) {
  Platform& platform = win32Platform();
  // Containers below may throw only when memory runs out; that, too, is told
  // to the user instead of ending the launcher without a word.
  try {
    std::vector<std::string> utf8;
    for (int i = 0; i < count; ++i) {
      std::string argument;
      if (!toUtf8(arguments[i], argument)) {
        reportUnreadableCommandLine(platform);
        return kExitBadCommandLine;
      }
      utf8.push_back(std::move(argument));
    }
    std::vector<const char*> pointers;
    for (const std::string& argument : utf8) pointers.push_back(argument.c_str());
    return runLauncher(platform, count, pointers.data());
  } catch (const std::bad_alloc&) {
    reportOutOfMemory(platform);
    return kExitBadCommandLine;
  }
}

}  // namespace vantle
