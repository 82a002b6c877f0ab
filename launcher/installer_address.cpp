// The address the runtime installer is downloaded from. It must be https: the
// downloaded file is executed, so it must not travel in clear text. Its
// "/runtime-3.14/" segment is replaced by the slot the application needs.
#include "launcher/main_flow.h"

#ifdef VANTLE_E2E_INSTALLER_ADDRESS
#include <windows.h>
#endif

namespace vantle {

namespace {

constexpr char kInstallerAddress[] =
    "https://downloads.example.com/korvane/releases/download/runtime-3.14/"
    "Korvane-Runtime-Setup.exe";

}  // namespace

#ifdef VANTLE_E2E_INSTALLER_ADDRESS
// Only the copy of the program built for the end-to-end tests has this: it
// downloads from the tests' loopback server named by this variable. The
// program that ships never reads it.
const char* installerAddress() {
  static char fromTest[1024];
  const DWORD n =
      GetEnvironmentVariableA("VANTLE_E2E_INSTALLER_ADDRESS", fromTest, sizeof(fromTest));
  return n > 0 && n < sizeof(fromTest) ? fromTest : kInstallerAddress;
}
#else
const char* installerAddress() { return kInstallerAddress; }
#endif

}  // namespace vantle
