// The launcher's platform services over the Windows ANSI ("A") functions.
// Built only for Windows.
#pragma once

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
};

// The process's one instance.
Win32Platform& win32Platform();

}  // namespace vantle
