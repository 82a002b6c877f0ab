#include "launcher/main_flow.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "launcher/command_line.h"
#include "launcher/launch_log.h"
#include "launcher/runtime.h"
#include "launcher/text.h"

namespace vantle {

namespace {

const char kNoRuntimeFormat[] =
    "%s could not find a Python runtime.\n\nPlease reinstall %s. The application will now exit.";

const char kNoOwnPath[] = "Could not determine install location.";
const char kDevSlotFormat[] =
    "%s is a Dev version, and the engine it runs on is missing from this computer.\n\n"
    "Dev versions don't repair themselves. Reinstall the Dev build of %s, or install the Stable "
    "version from the Korvane website. The application will now exit.";
const char kCouldNotStartFormat[] =
    "%s could not start Python.\n\nPython path: %s\n\nPlease reinstall %s.";
const char kDownloadFailed[] =
    "The Korvane Runtime could not be downloaded. Please check your internet connection and try "
    "again, or install the runtime manually from the Korvane releases page.";
const char kNoJobNotice[] =
    "the application runs outside the launcher's job, so programs it leaves running will not be "
    "closed when it ends.";
const char kUnknownEndFormat[] =
    "%s could not tell how the application ended.\n\nIf something went wrong, the launch log "
    "may say what:\n%s";

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

void reportUnreadableCommandLine(Platform& platform) {
  char message[kMessageSize];
  formatInto(message, sizeof(message), "%s could not read the command line it was started with.",
             kDisplayName);
  reportError(platform, message);
}

void reportOutOfMemory(Platform& platform) {
  char message[kMessageSize];
  formatInto(message, sizeof(message),
             "%s ran out of memory before it could start the application. Close some programs "
             "and try again.",
             kDisplayName);
  reportError(platform, message);
}

namespace {

void reportCouldNotStart(Platform& platform, const char* pythonPath) {
  char message[kMessageSize];
  formatInto(message, sizeof(message), kCouldNotStartFormat, kDisplayName, pythonPath,
             kDisplayName);
  reportError(platform, message);
}

// Resolves the runtime, offering the installer when it is missing. Returns 0
// when there is an interpreter to start, else the exit code after the
// message has been shown.
int findOrInstallRuntime(Platform& platform, const char* ownPath, RuntimeLocation& location) {
  if (resolveRuntime(platform, ownPath, location) && location.pythonPath[0] != '\0') {
    return 0;
  }
  char message[kMessageSize];
  char scratch[kPathSize];
  const char* base = installerAddress(platform, scratch, sizeof(scratch));
  char address[kPathSize];
  if (!installerUrlForSlot(base, location.slot, address, 1024)) {
    formatInto(message, sizeof(message), kDevSlotFormat, kDisplayName, kDisplayName);
    reportError(platform, message);
    return kExitNoRuntime;
  }
  const InstallOutcome outcome = platform.offerRuntimeInstall(kDisplayName, address);
  if (outcome == InstallOutcome::installed && resolveRuntime(platform, ownPath, location) &&
      location.pythonPath[0] != '\0') {
    return 0;
  }
  if (outcome == InstallOutcome::downloadFailed) {
    reportToUser(platform, kDisplayName, kDownloadFailed, ReportRoute::boxOnly);
  }
  formatNoRuntimeMessage(ownPath, message, sizeof(message));
  reportError(platform, message);
  return kExitNoRuntime;
}

// The VANTLE_ variables the application reads; false when one could not be set.
bool setEnvironment(Platform& platform, const char* ownPath, const RuntimeLocation& location) {
  char scratch[kPathSize];
  bool ok = true;
  if (folderOf(ownPath, scratch, sizeof(scratch))) {
    ok = platform.setEnv("VANTLE_LAUNCHER_DIR", scratch) && ok;
  }
  if (location.runtimeHome[0] != '\0') {
    ok = platform.setEnv("VANTLE_APP_ROOT", location.runtimeHome) && ok;
  }
  if (location.appLocalDir[0] != '\0' &&
      formatInto(scratch, sizeof(scratch), "%s\\data", location.appLocalDir) &&
      platform.fileKind(scratch) == FileKind::directory) {
    ok = platform.setEnv("VANTLE_PORTABLE", "1") && ok;
  }
  ok = platform.setEnv("VANTLE_PRODUCT_NAME", kProductName) && ok;
  ok = platform.setEnv("VANTLE_PRODUCT_DISPLAY", kDisplayName) && ok;
  ok = platform.setEnv("VANTLE_PRODUCT_VERSION", kProductVersion) && ok;
  return ok;
}

// The interpreter, "-m", the module, then the user's arguments 1 to count - 1,
// quoted into one command line; nullptr when memory runs out. Release it
// with std::free.
char* childCommandLine(const char* pythonPath, int count, const char* const* arguments) {
  std::vector<const char*> entries = {pythonPath, "-m", kApplicationModule};
  for (int i = 1; i < count; ++i) entries.push_back(arguments[i]);
  return buildCommandLine(entries.data(), entries.size());
}

// What one run of the application needs released, whichever way it ends.
struct RunResources {
  Platform& platform;
  FileHandle log = invalidFileHandle();
  JobHandle job = nullptr;
  ProcessHandle process = nullptr;
  char* commandLine = nullptr;

  explicit RunResources(Platform& p) : platform(p) {}
  RunResources(const RunResources&) = delete;
  RunResources& operator=(const RunResources&) = delete;
  void closeLog() {
    if (log != invalidFileHandle()) platform.closeFile(log);
    log = invalidFileHandle();
  }
  ~RunResources() {
    closeLog();
    if (process != nullptr) platform.closeProcess(process);
    if (job != nullptr) platform.closeJob(job);  // ends whatever is still in it
    std::free(commandLine);
  }
};

}  // namespace

int runLauncher(Platform& platform, int count, const char* const* arguments) {
  if (count < 1 || arguments == nullptr) {
    reportUnreadableCommandLine(platform);
    return kExitBadCommandLine;
  }
  char ownPath[kPathSize];
  if (!platform.ownProgramPath(ownPath, sizeof(ownPath))) {
    reportError(platform, kNoOwnPath);
    return kExitNoOwnPath;
  }

  RuntimeLocation location;
  const int runtimeResult = findOrInstallRuntime(platform, ownPath, location);
  if (runtimeResult != 0) return runtimeResult;
  preferWindowlessInterpreter(platform, location.pythonPath);

  RunResources run(platform);
  run.commandLine = childCommandLine(location.pythonPath, count, arguments);
  if (run.commandLine == nullptr || !setEnvironment(platform, ownPath, location)) {
    reportCouldNotStart(platform, location.pythonPath);
    return kExitCouldNotStart;
  }

  char header[kPathSize];
  formatInto(header, sizeof(header), "%s %s launcher: %s -m %s", kDisplayName, kProductVersion,
             location.pythonPath, kApplicationModule);
  char logPath[kPathSize];
  if (chooseLaunchLogPath(platform, location.appLocalDir, kProductName, logPath, sizeof(logPath))) {
    run.log = openLaunchLog(platform, logPath, header);
    if (run.log == invalidFileHandle()) logPath[0] = '\0';
  }

  // Started suspended and put in the job before it runs: a process that ran
  // first could start children outside the job.
  const std::uint64_t startTime = platform.milliseconds();
  run.job = platform.createJob();
  run.process = platform.startSuspended(location.pythonPath, run.commandLine, run.log);
  if (run.process == nullptr) {
    reportCouldNotStart(platform, location.pythonPath);
    return kExitCouldNotStart;
  }
  if (run.job == nullptr || !platform.assignToJob(run.job, run.process)) {
    // The application is what the user asked for: it still runs, and the
    // log says why what it leaves behind may outlive it.
    reportToUser(platform, kDisplayName, kNoJobNotice, ReportRoute::stderrAndLog, run.log);
  }
  run.closeLog();  // the application holds its own copy
  if (!platform.resume(run.process)) {
    platform.terminate(run.process);
    reportCouldNotStart(platform, location.pythonPath);
    return kExitCouldNotStart;
  }
  std::uint32_t exitCode = 0;
  if (!platform.waitForExit(run.process, exitCode)) {
    char message[kMessageSize];
    formatInto(message, sizeof(message), kUnknownEndFormat, kDisplayName,
               logPath[0] != '\0' ? logPath : "(no launch log could be written)");
    reportError(platform, message);
    return kExitBadCommandLine;
  }
  if (exitCode != 0) {
    explainFailure(platform, kDisplayName, exitCode, platform.milliseconds() - startTime, logPath,
                   header);
  }
  return static_cast<int>(exitCode);
}

}  // namespace vantle
