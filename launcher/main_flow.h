// The launcher's main flow: from the split command line to the exit code,
// over the platform interface, so that every branch runs in native tests.
#pragma once

#include <cstddef>

#include "launcher/platform.h"
#include "vantle_version.h"

namespace vantle {

// Fixed texts of the program.
constexpr char kProductName[] = "VantleCast";
constexpr char kDisplayName[] = "VANTLE Reda";
constexpr char kProductVersion[] = VANTLE_VERSION;
constexpr char kApplicationModule[] = "vantle.apps.podcasts";

// Exit codes of the launcher's own failures; any other code is the
// application's. kExitBadCommandLine also covers memory running short and an
// application whose end could not be read.
constexpr int kExitBadCommandLine = 1;
constexpr int kExitNoRuntime = 2;
constexpr int kExitCouldNotStart = 3;
constexpr int kExitNoOwnPath = 4;

// Where the runtime installer is downloaded from, before its slot is filled
// in (see installer_address.cpp); scratch holds it when it is not the
// built-in address.
const char* installerAddress(Platform& platform, char* scratch, std::size_t size);

// The part of path after its last "\" or "/" (the whole path when it has
// neither).
const char* fileNameOf(const char* path);

// path cut at its last "\" or "/" (the separator removed); false, with out
// empty, when it has neither.
bool folderOf(const char* path, char* out, std::size_t size);

// When pythonPath ends in "\python.exe" (any case) and a pythonw.exe that is
// a file lies beside it, pythonPath becomes that: the application then starts
// without a console window. pythonPath holds kPathSize bytes.
void preferWindowlessInterpreter(Platform& platform, char* pythonPath);

// The message for a runtime that is missing and was not installed.
void formatNoRuntimeMessage(const char* ownPath, char* out, std::size_t size);

// The user-facing failure route of this flow: standard error and error box,
// captioned with the display name.
void reportError(Platform& platform, const char* text);

// Reports a command line that could not be read or converted.
void reportUnreadableCommandLine(Platform& platform);

// Reports that memory ran out before the application could be started.
void reportOutOfMemory(Platform& platform);

// The whole flow: resolve the runtime (offering the installer when it is
// missing), set the environment, open the launch log, start the application
// suspended, put it in a job, let it run, wait, and explain a failed run.
// arguments are the UTF-8 command-line arguments, entry 0 the program path
// (not used); count >= 1. Returns the process exit code: the application's,
// or kExit... for the launcher's own failures, each reported to the user.
int runLauncher(Platform& platform, int count, const char* const* arguments);

}  // namespace vantle
