// An in-memory stand-in for the launcher's platform: a file system of
// folders and files keyed by their exact path, an environment, an installer
// and an application that do what a test says, and a record of every folder
// creation, read, error box, standard-error write and process call.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/platform.h"

namespace vantle {

struct ShownBox {
  std::string caption;
  std::string text;
};

class FakePlatform : public Platform {
 public:
  struct Node {
    FileKind kind = FileKind::absent;
    std::string content;
  };

  // Adds a folder and every folder above it (a drive such as C: always exists).
  void addFolder(const std::string& path);
  // Adds a file with its folders.
  void addFile(const std::string& path, const std::string& content);
  // The content of a file, or nullptr when there is no such file.
  const std::string* content(const std::string& path) const;

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

  std::map<std::string, Node> nodes;
  std::map<std::string, std::string> environment;
  std::set<std::string> unreadable;         // files whose reads fail
  std::vector<std::string> folderRequests;  // every createFolder, in order
  std::vector<std::string> readRequests;    // every file opened for reading
  std::vector<std::string> openFiles;       // handle n is openFiles[n - 1]; "" once closed
  std::vector<ShownBox> boxes;
  std::string errorOutput;

  // The launcher's own program; empty when it cannot be told.
  std::string ownPath = "C:\\Apps\\Vantle\\VantleCast.exe";
  bool setEnvFails = false;
  std::vector<std::string> variablesSet;  // "NAME=value", in order

  // The runtime installer: how an offer ends, and what a successful one does.
  InstallOutcome installOutcome = InstallOutcome::declined;
  std::function<void(FakePlatform&)> installerInstalls;
  std::vector<std::string> installOffers;  // the addresses offered

  // The application: which step fails, how it ends, what it writes.
  bool jobFails = false;
  bool startFails = false;
  bool assignFails = false;
  bool resumeFails = false;
  bool exitCodeUnreadable = false;
  std::uint32_t applicationExitCode = 0;
  std::uint64_t applicationRunMs = 1500;
  std::string applicationOutput;
  // What happened: every process and job call in order ("job", "start",
  // "assign", "log closed" when the launcher's copy of the log is closed
  // while the application exists, "resume", "terminate", "wait",
  // "close process", "close job"), and what the application was started with.
  std::vector<std::string> calls;
  std::string startedProgram;
  std::string startedCommandLine;
  std::string startedOutput;  // the log's path; empty when it had none
  std::map<std::string, std::string> startedEnvironment;

 private:
  bool parentIsFolder(const std::string& path) const;
  std::uint64_t clock_ = 1000;
  const Node* readable(const char* path);
};

}  // namespace vantle
