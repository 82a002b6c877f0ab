// Finding the Python interpreter to start: an application-local one beside
// the launcher, or the shared Korvane Runtime in the slot that the version
// file names; the installer address for a slot; and telling whether the
// launcher was started from inside an archive.
#pragma once

#include <cstddef>

#include "launcher/platform.h"
#include "launcher/text.h"

namespace vantle {

// The required interpreter version, which is also the default slot.
constexpr char kRequiredPythonVersion[] = "3.14";
constexpr char kDefaultSlot[] = "3.14";

// Result of a resolution; every field is cleared at its start.
struct RuntimeLocation {
  char pythonPath[kPathSize];   // full path of the executable to start
  char runtimeHome[kPathSize];  // launcher folder (application-local) or slot folder (shared)
  char appLocalDir[kPathSize];  // launcher folder when an application-local interpreter was found
  char slot[kSlotSize];         // slot named by the version file; empty when none was read
};

// Finds the interpreter for the launcher at ownPath. On success pythonPath
// and runtimeHome are set.
bool resolveRuntime(Platform& platform, const char* ownPath, RuntimeLocation& location);

// Looks for _internal\python.exe, python.exe and pythonw.exe in folder, in
// that order; the home becomes folder itself.
bool findAppLocalPython(Platform& platform, const char* folder, char* pythonPath,
                        std::size_t pythonPathSize, char* home, std::size_t homeSize);

// Reads the slot from folder\vantle-app-version.ini; slot is empty unless
// this succeeds.
bool readRuntimeSlot(Platform& platform, const char* folder, char* slot, std::size_t slotSize);

// Finds KorvaneRuntime.exe of the slot (the default slot when slot is empty)
// under %LOCALAPPDATA%\Korvane\Runtime, checked against its manifest.
bool findSharedRuntime(Platform& platform, const char* slot, char* pythonPath,
                       std::size_t pythonPathSize, char* home, std::size_t homeSize);

// The installer address for a slot: the "/runtime-..." segment of address
// replaced by "/runtime-<slot>". False (refused, out empty) for a dev slot
// or when there is no output buffer.
bool installerUrlForSlot(const char* address, const char* slot, char* out, std::size_t size);

// True when a folder of path is one into which Windows or an archiver
// extracts a single program started from inside an archive.
bool startedFromArchive(const char* path);

// folder and name joined with one "\" (none when folder already ends in a
// separator; name alone when folder is empty). True when it fitted; a path
// that did not fit is never used.
bool joinPath(char* out, std::size_t size, const char* folder, const char* name);

// The message shown when no runtime is found and startedFromArchive holds,
// formatted with the display name and the launcher's file name.
bool formatArchiveMessage(char* out, std::size_t size, const char* displayName,
                          const char* launcherFileName);

}  // namespace vantle
