// The launcher's platform services over the wide ("W") Windows functions,
// with UTF-8 on the launcher's side. Built only for Windows.
#pragma once

#include <string>

#include "launcher/platform.h"

namespace vantle {

class Win32Platform : public Platform {
 public:
  FileKind fileKind(const char* path) override;
  bool removeFileSpec(char* path) override;
  std::size_t getEnv(const char* name, char* out, std::size_t size) override;
  long long readFileAt(const char* path, std::uint64_t offset, char* out,
                       std::size_t size) override;
  long long readFileTail(const char* path, char* out, std::size_t size) override;
  bool createFolder(const char* path) override;
  FileHandle createInheritableFile(const char* path) override;
  bool writeFile(FileHandle file, const char* data, std::size_t size) override;
  void closeFile(FileHandle file) override;
  void showErrorBox(const char* caption, const char* text) override;
  void writeStderr(const char* data, std::size_t size) override;
  bool ownProgramPath(char* out, std::size_t size) override;
  bool setEnv(const char* name, const char* value) override;
  InstallOutcome offerRuntimeInstall(const char* displayName, const char* address) override;
  std::uint64_t milliseconds() override;
  JobHandle createJob() override;
  ProcessHandle startSuspended(const char* program, const char* commandLine,
                               FileHandle output) override;
  bool assignToJob(JobHandle job, ProcessHandle process) override;
  bool resume(ProcessHandle process) override;
  void terminate(ProcessHandle process) override;
  bool waitForExit(ProcessHandle process, std::uint32_t& exitCode) override;
  void closeProcess(ProcessHandle process) override;
  void closeJob(JobHandle job) override;
};

// The process's one instance.
Win32Platform& win32Platform();

// UTF-8 to UTF-16 and back; false when the text does not convert (invalid
// UTF-8, or memory ran out).
bool toWide(const char* utf8, std::wstring& out);
bool toUtf8(const wchar_t* wide, std::string& out);

}  // namespace vantle
