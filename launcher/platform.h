// The operating-system services the launcher's decisions need, behind one
// small interface: the Windows build implements it over the ANSI ("A") file
// functions (platform_win32.h), the tests over an in-memory file system. All
// paths are byte strings in the ANSI code page with "\" separators.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantle {

enum class FileKind { absent, file, directory };

// An open file handle as the platform knows it (a Windows HANDLE on Windows).
using FileHandle = void*;

// The value that stands for "no file": INVALID_HANDLE_VALUE on Windows.
inline FileHandle invalidFileHandle() { return reinterpret_cast<FileHandle>(~std::uintptr_t{0}); }

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
};

// The portable form of removeFileSpec, for platforms without the shell's
// own: cuts at the last "\" (keeping the root's "\" of "C:\x" and "\x"),
// after a drive's ":", or empties a bare name.
bool removeFileSpecPortable(char* path);

// Reports a failure to the user: the line "<caption>: <text>\n" on standard
// error, then the error box. The launcher's one route for such messages.
void reportToUser(Platform& platform, const char* caption, const char* text);

}  // namespace vantle
