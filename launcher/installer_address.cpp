// The address the runtime installer is downloaded from. It must be https: the
// downloaded file is executed, so it must not travel in clear text. Its
// "/runtime-3.14/" segment is replaced by the slot the application needs.
#include "launcher/main_flow.h"

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
const char* installerAddress(Platform& platform, char* scratch, std::size_t size) {
  const std::size_t n = platform.getEnv("VANTLE_E2E_INSTALLER_ADDRESS", scratch, size);
  return n > 0 && n < size ? scratch : kInstallerAddress;
}
#else
const char* installerAddress(Platform&, char*, std::size_t) { return kInstallerAddress; }
#endif

}  // namespace vantle
