// The operating-system services the launcher needs, behind one small
// interface: the Windows build implements it over the wide ("W") functions
// (platform_win32.h), the tests over an in-memory world. Every string that
// crosses it, paths and messages alike, is UTF-8, so any folder name works
// whatever the system's code page; paths use "\" separators.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantle {

enum class FileKind { absent, file, directory };

// An open file handle as the platform knows it (a Windows HANDLE on Windows).
using FileHandle = void*;

// The value that stands for "no file": INVALID_HANDLE_VALUE on Windows.
inline FileHandle invalidFileHandle() { return reinterpret_cast<FileHandle>(~std::uintptr_t{0}); }

// A job that ends every process still in it when it is closed, and a started
// process; nullptr stands for none.
using JobHandle = void*;
using ProcessHandle = void*;

// How an offer of the runtime installer ended.
enum class InstallOutcome {
  installed,       // the installer ran and exited with 0
  declined,        // the user answered No
  downloadFailed,  // the installer could not be downloaded
  notInstalled,    // no temporary folder for it, or it could not start or failed
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Existence test; a directory is told apart from any other kind of file.
  virtual FileKind fileKind(const char* path) = 0;

  // Removes the last component of a path in place, the way the Windows shell
  // does; false when there was nothing to remove.
  virtual bool removeFileSpec(char* path) = 0;

  // The length of an environment variable's value, 0 when it is unset or
  // empty. out holds the value when the length is below size, else it is
  // left empty (a value cut short would name some other place).
  virtual std::size_t getEnv(const char* name, char* out, std::size_t size) = 0;

  // Reads up to size raw bytes from offset; the number read (0 at the end),
  // or -1 when the file cannot be opened or read.
  virtual long long readFileAt(const char* path, std::uint64_t offset, char* out,
                               std::size_t size) = 0;

  // Reads the last size bytes of a file (all of it when it is shorter); the
  // number read, or -1 when the file cannot be opened, measured or read.
  virtual long long readFileTail(const char* path, char* out, std::size_t size) = 0;

  // Creates one folder; false when it exists already or cannot be created.
  virtual bool createFolder(const char* path) = 0;

  // Creates (or truncates) a file for writing, shared for reading, with a
  // handle that child processes inherit; invalidFileHandle() on failure.
  virtual FileHandle createInheritableFile(const char* path) = 0;

  // Writes all size bytes; false when they could not be written.
  virtual bool writeFile(FileHandle file, const char* data, std::size_t size) = 0;

  virtual void closeFile(FileHandle file) = 0;

  // Modal error box with no owner window (MB_ICONERROR | MB_SETFOREGROUND);
  // returns when the user closes it.
  virtual void showErrorBox(const char* caption, const char* text) = 0;

  // Writes the bytes to standard error as they are.
  virtual void writeStderr(const char* data, std::size_t size) = 0;

  // The full path of the launcher's own program; false, with out empty, when
  // it cannot be told or does not fit.
  virtual bool ownProgramPath(char* out, std::size_t size) = 0;

  // Sets a variable of the launcher's own environment, which the application
  // inherits; false when it could not be set.
  virtual bool setEnv(const char* name, const char* value) = 0;

  // Asks the user whether to install the shared runtime; on yes downloads the
  // installer from address (with a progress window), runs it and waits.
  virtual InstallOutcome offerRuntimeInstall(const char* displayName, const char* address) = 0;

  // A steady clock, milliseconds.
  virtual std::uint64_t milliseconds() = 0;

  // A job whose processes all end when it is closed; nullptr when it cannot
  // be created or given that limit.
  virtual JobHandle createJob() = 0;

  // Starts program with the whole command line (program path first),
  // suspended and without a window, inheriting the launcher's environment;
  // with an output file, that file is its standard output and standard error
  // and the launcher's standard input its standard input. nullptr when it
  // could not be started.
  virtual ProcessHandle startSuspended(const char* program, const char* commandLine,
                                       FileHandle output) = 0;

  // Puts a process in a job; false when the system refuses.
  virtual bool assignToJob(JobHandle job, ProcessHandle process) = 0;

  // Lets a suspended process run; false when it could not be resumed.
  virtual bool resume(ProcessHandle process) = 0;

  // Ends a process that will not be run after all.
  virtual void terminate(ProcessHandle process) = 0;

  // Waits for the process to end; false when its exit code cannot be read.
  virtual bool waitForExit(ProcessHandle process, std::uint32_t& exitCode) = 0;

  virtual void closeProcess(ProcessHandle process) = 0;

  // Closes the job, which ends every process still in it.
  virtual void closeJob(JobHandle job) = 0;
};

// The portable form of removeFileSpec, for platforms without the shell's
// own: cuts at the last "\" (keeping the root's "\" of "C:\x" and "\x"),
// after a drive's ":", or empties a bare name.
bool removeFileSpecPortable(char* path);

// How a report reaches the user.
enum class ReportRoute {
  boxAndStderr,  // a failure: the line on standard error, then the error box
  boxOnly,       // the download failure, shown while the installer's offer is on screen
  stderrAndLog,  // a notice that must not stop the user: standard error and the launch log
};

// The launcher's one route for what it tells the user: the line
// "<caption>: <text>\n" on standard error and in the log (when the route
// has them and the log is open), then the error box (when it has one).
void reportToUser(Platform& platform, const char* caption, const char* text,
                  ReportRoute route = ReportRoute::boxAndStderr,
                  FileHandle log = invalidFileHandle());

}  // namespace vantle
