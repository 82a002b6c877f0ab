// Process entry of VantleCast.exe, a GUI program without a console.
// clang-format off
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>
// clang-format on

#include <shellapi.h>

#include "launcher/main_flow.h"
#include "launcher/main_flow_win32.h"
#include "launcher/platform_win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  // The whole command line, so that element 0 is the program path.
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) {
    vantle::reportUnreadableCommandLine(vantle::win32Platform());
    return vantle::kExitBadCommandLine;
  }
  const int result = vantle::launcherMain(count, arguments);
  LocalFree(arguments);
  return result;
}
