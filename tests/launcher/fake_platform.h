// An in-memory stand-in for the launcher's platform: a file system of
// folders and files keyed by their exact path, an environment, and a record
// of every folder creation, read, error box and standard-error write.
#pragma once

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

  std::map<std::string, Node> nodes;
  std::map<std::string, std::string> environment;
  std::set<std::string> unreadable;         // files whose reads fail
  std::vector<std::string> folderRequests;  // every createFolder, in order
  std::vector<std::string> readRequests;    // every file opened for reading
  std::vector<std::string> openFiles;       // handle n is openFiles[n - 1]; "" once closed
  std::vector<ShownBox> boxes;
  std::string errorOutput;

 private:
  bool parentIsFolder(const std::string& path) const;
  const Node* readable(const char* path);
};

}  // namespace vantle
