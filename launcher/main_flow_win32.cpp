#include "launcher/main_flow_win32.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "launcher/command_line.h"
#include "launcher/download_win32.h"
#include "launcher/launch_log.h"
#include "launcher/main_flow.h"
#include "launcher/platform_win32.h"
#include "launcher/runtime.h"
#include "launcher/text.h"

namespace vantle {

namespace {

const char kNoOwnPath[] = "Could not determine install location.";
const char kDevSlotFormat[] =
    "%s is a Dev version, and the engine it runs on is missing from this computer.\n\n"
    "Dev versions don't repair themselves. Reinstall the Dev build of %s, or install the Stable "
    "version from the Korvane website. The application will now exit.";
const char kCouldNotStartFormat[] =
    "%s could not start Python.\n\nPython path: %s\n\nPlease reinstall %s.";

// The 144-byte extended limit record: kill whatever the application leaves
// running when the job handle closes, but let it start processes outside the
// job on purpose.
constexpr DWORD kJobLimits = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == 144, "job limit record size");
static_assert(kJobLimits == 0x2800, "job limit flags");

// A null-terminated list of heap strings.
template <typename Char>
void freeList(Char** list) {
  if (list == nullptr) {
    return;
  }
  for (Char** entry = list; *entry != nullptr; ++entry) {
    std::free(*entry);
  }
  std::free(list);
}

char* toMultiByte(UINT codePage, const wchar_t* text) {
  const int size = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    return nullptr;
  }
  auto* out = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)));
  if (out == nullptr) {
    return nullptr;
  }
  if (WideCharToMultiByte(codePage, 0, text, -1, out, size, nullptr, nullptr) <= 0) {
    std::free(out);
    return nullptr;
  }
  return out;
}

wchar_t* toWide(UINT codePage, const char* text) {
  const int size = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (size <= 0) {
    return nullptr;
  }
  auto* out = static_cast<wchar_t*>(std::calloc(static_cast<std::size_t>(size), sizeof(wchar_t)));
  if (out == nullptr) {
    return nullptr;
  }
  if (MultiByteToWideChar(codePage, 0, text, -1, out, size) <= 0) {
    std::free(out);
    return nullptr;
  }
  return out;
}

char* copyOf(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  auto* out = static_cast<char*>(std::malloc(size));
  if (out != nullptr) {
    std::memcpy(out, text, size);
  }
  return out;
}

// The user's arguments as UTF-8, entry 0 included; null when a conversion or
// allocation fails.
char** utf8Arguments(int count, wchar_t** arguments) {
  auto** list =
      static_cast<char**>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(char*)));
  if (list == nullptr) {
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    list[i] = toMultiByte(CP_UTF8, arguments[i]);
    if (list[i] == nullptr) {
      freeList(list);
      return nullptr;
    }
  }
  return list;
}

// pythonPath, "-m", the module, then the user's arguments 1 to count - 1.
char** narrowChildList(const char* pythonPath, int count, char** userArguments) {
  const std::size_t entries = static_cast<std::size_t>(count) + 2;
  auto** list = static_cast<char**>(std::calloc(entries + 1, sizeof(char*)));
  if (list == nullptr) {
    return nullptr;
  }
  const char* fixed[] = {pythonPath, "-m", kApplicationModule};
  for (std::size_t i = 0; i < entries; ++i) {
    list[i] = copyOf(i < 3 ? fixed[i] : userArguments[i - 2]);
    if (list[i] == nullptr) {
      freeList(list);
      return nullptr;
    }
  }
  return list;
}

// The same entries in UTF-16: the interpreter path comes from the ANSI code
// page like every path of the launcher, the rest from UTF-8 so that the
// user's arguments reach the application unchanged.
wchar_t** wideChildList(int count, char** narrow) {
  const std::size_t entries = static_cast<std::size_t>(count) + 2;
  auto** list = static_cast<wchar_t**>(std::calloc(entries + 1, sizeof(wchar_t*)));
  if (list == nullptr) {
    return nullptr;
  }
  for (std::size_t i = 0; i < entries; ++i) {
    list[i] = toWide(i == 0 ? CP_ACP : CP_UTF8, narrow[i]);
    if (list[i] == nullptr) {
      freeList(list);
      return nullptr;
    }
  }
  return list;
}

void setEnvironment(Platform& platform, const char* ownPath, const RuntimeLocation& location) {
  char scratch[kPathSize];
  if (folderOf(ownPath, scratch, sizeof(scratch))) {
    SetEnvironmentVariableA("VANTLE_LAUNCHER_DIR", scratch);
  }
  if (location.runtimeHome[0] != '\0') {
    SetEnvironmentVariableA("VANTLE_APP_ROOT", location.runtimeHome);
  }
  if (location.appLocalDir[0] != '\0' &&
      formatInto(scratch, sizeof(scratch), "%s\\data", location.appLocalDir) &&
      platform.fileKind(scratch) == FileKind::directory) {
    SetEnvironmentVariableA("VANTLE_PORTABLE", "1");
  }
  SetEnvironmentVariableA("VANTLE_PRODUCT_NAME", kProductName);
  SetEnvironmentVariableA("VANTLE_PRODUCT_DISPLAY", kDisplayName);
  SetEnvironmentVariableA("VANTLE_PRODUCT_VERSION", kProductVersion);
}

// Resolves the runtime, offering the installer when it is missing. Returns 0
// when there is an interpreter to start, else the exit code after the
// message has been shown.
int findOrInstallRuntime(Platform& platform, const char* ownPath, RuntimeLocation& location) {
  if (resolveRuntime(platform, ownPath, location) && location.pythonPath[0] != '\0') {
    return 0;
  }
  char message[kMessageSize];
  char address[kPathSize];
  if (!installerUrlForSlot(installerAddress(), location.slot, address, 1024)) {
    formatInto(message, sizeof(message), kDevSlotFormat, kDisplayName, kDisplayName);
    reportError(platform, message);
    return kExitNoRuntime;
  }
  if (offerRuntimeInstall(kDisplayName, address) == 0 &&
      resolveRuntime(platform, ownPath, location) && location.pythonPath[0] != '\0') {
    return 0;
  }
  formatNoRuntimeMessage(ownPath, message, sizeof(message));
  reportError(platform, message);
  return kExitNoRuntime;
}

void reportCouldNotStart(Platform& platform, const char* pythonPath) {
  char message[kMessageSize];
  formatInto(message, sizeof(message), kCouldNotStartFormat, kDisplayName, pythonPath,
             kDisplayName);
  reportError(platform, message);
}

// Starts the application suspended, puts it in a job that kills whatever it
// leaves behind, and waits for it. A process assigned to the job only after
// it ran could start children outside the job; hence the suspended start.
// Returns false when the process could not be created.
bool runInJob(wchar_t* applicationName, wchar_t* commandLine, STARTUPINFOW& startup,
              DWORD& exitCode) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = kJobLimits;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  }
  PROCESS_INFORMATION process = {};
  const BOOL started =
      CreateProcessW(applicationName, commandLine, nullptr, nullptr, TRUE,
                     CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  // The child holds its own inherited copy of the log.
  if (startup.hStdOutput != nullptr && startup.hStdOutput != INVALID_HANDLE_VALUE) {
    CloseHandle(startup.hStdOutput);
  }
  if (!started) {
    if (job != nullptr) {
      CloseHandle(job);
    }
    return false;
  }
  if (job != nullptr) {
    AssignProcessToJobObject(job, process.hProcess);
  }
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &exitCode)) {
    exitCode = 0;
  }
  CloseHandle(process.hProcess);
  if (job != nullptr) {
    CloseHandle(job);  // ends every process still in the job
  }
  return true;
}

}  // namespace

int launcherMain(int count, wchar_t** arguments) {
  Platform& platform = win32Platform();
  // The vector always holds at least the program path; without it the child
  // lists below would lose the module name.
  char** userArguments = count >= 1 ? utf8Arguments(count, arguments) : nullptr;
  if (userArguments == nullptr) {
    return kExitBadCommandLine;
  }

  char ownPath[kPathSize];
  const DWORD ownLength = GetModuleFileNameA(nullptr, ownPath, sizeof(ownPath));
  if (ownLength == 0 || ownLength >= sizeof(ownPath)) {
    reportError(platform, kNoOwnPath);
    freeList(userArguments);
    return kExitNoOwnPath;
  }

  static RuntimeLocation location;
  const int runtimeResult = findOrInstallRuntime(platform, ownPath, location);
  if (runtimeResult != 0) {
    freeList(userArguments);
    return runtimeResult;
  }
  preferWindowlessInterpreter(platform, location.pythonPath);
  setEnvironment(platform, ownPath, location);

  char** narrow = narrowChildList(location.pythonPath, count, userArguments);
  if (narrow == nullptr) {
    freeList(userArguments);
    reportCouldNotStart(platform, location.pythonPath);
    return kExitCouldNotStart;
  }
  wchar_t** wide = wideChildList(count, narrow);
  if (wide == nullptr) {
    freeList(narrow);
    freeList(userArguments);
    return kExitBadCommandLine;
  }
  static wchar_t applicationName[kPathSize];
  if (MultiByteToWideChar(CP_ACP, 0, location.pythonPath, -1, applicationName, kPathSize) <= 0) {
    applicationName[0] = L'\0';
  }
  wchar_t* commandLine = buildCommandLine(wide, static_cast<std::size_t>(count) + 2);
  if (commandLine == nullptr) {
    freeList(wide);
    freeList(narrow);
    freeList(userArguments);
    return kExitBadCommandLine;
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  static char header[kPathSize];
  formatInto(header, sizeof(header), "%s %s launcher: %s -m %s", kDisplayName, kProductVersion,
             location.pythonPath, kApplicationModule);
  static char logPath[kPathSize];
  if (chooseLaunchLogPath(platform, location.appLocalDir, kProductName, logPath, sizeof(logPath))) {
    const FileHandle log = openLaunchLog(platform, logPath, header);
    if (log == invalidFileHandle()) {
      logPath[0] = '\0';
    } else {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput = static_cast<HANDLE>(log);
      startup.hStdError = static_cast<HANDLE>(log);
    }
  }

  const ULONGLONG startTime = GetTickCount64();
  DWORD exitCode = 0;
  const bool ran = runInJob(applicationName, commandLine, startup, exitCode);
  std::free(commandLine);
  freeList(wide);
  freeList(narrow);
  freeList(userArguments);
  if (!ran) {
    reportCouldNotStart(platform, location.pythonPath);
    return kExitCouldNotStart;
  }
  if (exitCode != 0) {
    explainFailure(platform, kDisplayName, static_cast<std::uint32_t>(exitCode),
                   static_cast<std::uint64_t>(GetTickCount64() - startTime), logPath, header);
  }
  return static_cast<int>(exitCode);
}

}  // namespace vantle
