#include "tests/launcher/fake_platform.h"

#include <cstring>

#include "launcher/text.h"

namespace vantle {

namespace {

// "C:" and other names of 2 characters or less stand for drives.
bool isDrive(const std::string& path) { return path.size() <= 2; }

}  // namespace

void FakePlatform::addFolder(const std::string& path) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '\\') continue;
    const std::string prefix = path.substr(0, i);
    if (!isDrive(prefix)) nodes[prefix].kind = FileKind::directory;
  }
  if (!isDrive(path)) nodes[path].kind = FileKind::directory;
}

void FakePlatform::addFile(const std::string& path, const std::string& content) {
  const std::size_t cut = path.rfind('\\');
  if (cut != std::string::npos) addFolder(path.substr(0, cut));
  nodes[path] = Node{FileKind::file, content};
}

const std::string* FakePlatform::content(const std::string& path) const {
  const auto found = nodes.find(path);
  if (found == nodes.end() || found->second.kind != FileKind::file) return nullptr;
  return &found->second.content;
}

bool FakePlatform::parentIsFolder(const std::string& path) const {
  const std::size_t cut = path.rfind('\\');
  if (cut == std::string::npos) return true;
  const std::string parent = path.substr(0, cut);
  if (isDrive(parent)) return true;
  const auto found = nodes.find(parent);
  return found != nodes.end() && found->second.kind == FileKind::directory;
}

const FakePlatform::Node* FakePlatform::readable(const char* path) {
  readRequests.push_back(path);
  const auto found = nodes.find(path);
  if (found == nodes.end() || found->second.kind != FileKind::file) return nullptr;
  if (unreadable.count(path) != 0) return nullptr;
  return &found->second;
}

FileKind FakePlatform::fileKind(const char* path) {
  if (isDrive(path) && path[0] != '\0') return FileKind::directory;
  const auto found = nodes.find(path);
  return found == nodes.end() ? FileKind::absent : found->second.kind;
}

bool FakePlatform::removeFileSpec(char* path) { return removeFileSpecPortable(path); }

std::size_t FakePlatform::getEnv(const char* name, char* out, std::size_t size) {
  if (size > 0) out[0] = '\0';
  const auto found = environment.find(name);
  if (found == environment.end()) return 0;
  const std::string& value = found->second;
  if (value.size() < size) std::memcpy(out, value.c_str(), value.size() + 1);
  return value.size();
}

long long FakePlatform::readFileAt(const char* path, std::uint64_t offset, char* out,
                                   std::size_t size) {
  const Node* node = readable(path);
  if (node == nullptr) return -1;
  if (offset >= node->content.size()) return 0;
  const std::size_t count = std::min<std::size_t>(size, node->content.size() - offset);
  std::memcpy(out, node->content.data() + offset, count);
  return static_cast<long long>(count);
}

long long FakePlatform::readFileTail(const char* path, char* out, std::size_t size) {
  const Node* node = readable(path);
  if (node == nullptr) return -1;
  const std::size_t length = node->content.size();
  const std::size_t start = length > size ? length - size : 0;
  std::memcpy(out, node->content.data() + start, length - start);
  return static_cast<long long>(length - start);
}

bool FakePlatform::createFolder(const char* path) {
  folderRequests.push_back(path);
  if (fileKind(path) != FileKind::absent || !parentIsFolder(path)) return false;
  nodes[path].kind = FileKind::directory;
  return true;
}

FileHandle FakePlatform::createInheritableFile(const char* path) {
  if (fileKind(path) == FileKind::directory || !parentIsFolder(path)) return invalidFileHandle();
  nodes[path] = Node{FileKind::file, ""};
  openFiles.push_back(path);
  return reinterpret_cast<FileHandle>(static_cast<std::uintptr_t>(openFiles.size()));
}

bool FakePlatform::writeFile(FileHandle file, const char* data, std::size_t size) {
  const std::size_t index = reinterpret_cast<std::uintptr_t>(file);
  if (index == 0 || index > openFiles.size() || openFiles[index - 1].empty()) return false;
  nodes[openFiles[index - 1]].content.append(data, size);
  return true;
}

void FakePlatform::closeFile(FileHandle file) {
  const std::size_t index = reinterpret_cast<std::uintptr_t>(file);
  if (index != 0 && index <= openFiles.size()) {
    if (!startedOutput.empty() && openFiles[index - 1] == startedOutput)
      calls.push_back("log closed");
    openFiles[index - 1].clear();
  }
}

void FakePlatform::showErrorBox(const char* caption, const char* text) {
  boxes.push_back(ShownBox{caption, text});
}

void FakePlatform::writeStderr(const char* data, std::size_t size) {
  errorOutput.append(data, size);
}

bool FakePlatform::ownProgramPath(char* out, std::size_t size) {
  if (ownPath.empty() || !copyInto(out, size, ownPath.c_str())) {
    copyInto(out, size, "");
    return false;
  }
  return true;
}

bool FakePlatform::setEnv(const char* name, const char* value) {
  if (setEnvFails) return false;
  variablesSet.push_back(std::string(name) + "=" + value);
  environment[name] = value;
  return true;
}

InstallOutcome FakePlatform::offerRuntimeInstall(const char*, const char* address) {
  installOffers.push_back(address);
  if (installOutcome == InstallOutcome::installed && installerInstalls) installerInstalls(*this);
  return installOutcome;
}

std::uint64_t FakePlatform::milliseconds() { return clock_; }

// One job and one process at most: their handles are fixed tokens.
namespace {
int jobToken;
int processToken;
}  // namespace

JobHandle FakePlatform::createJob() {
  calls.push_back("job");
  return jobFails ? nullptr : &jobToken;
}

ProcessHandle FakePlatform::startSuspended(const char* program, const char* commandLine,
                                           FileHandle output) {
  calls.push_back("start");
  if (startFails) return nullptr;
  startedProgram = program;
  startedCommandLine = commandLine;
  const std::size_t index = reinterpret_cast<std::uintptr_t>(output);
  startedOutput = output != invalidFileHandle() && index >= 1 && index <= openFiles.size()
                      ? openFiles[index - 1]
                      : "";
  startedEnvironment = environment;
  return &processToken;
}

bool FakePlatform::assignToJob(JobHandle, ProcessHandle) {
  calls.push_back("assign");
  return !assignFails;
}

bool FakePlatform::resume(ProcessHandle) {
  calls.push_back("resume");
  return !resumeFails;
}

void FakePlatform::terminate(ProcessHandle) { calls.push_back("terminate"); }

bool FakePlatform::waitForExit(ProcessHandle, std::uint32_t& exitCode) {
  calls.push_back("wait");
  clock_ += applicationRunMs;
  // The application writes through its own copy of the log handle.
  if (!startedOutput.empty()) nodes[startedOutput].content += applicationOutput;
  if (exitCodeUnreadable) return false;
  exitCode = applicationExitCode;
  return true;
}

void FakePlatform::closeProcess(ProcessHandle) { calls.push_back("close process"); }

void FakePlatform::closeJob(JobHandle) { calls.push_back("close job"); }

}  // namespace vantle
