#include "launcher/platform_win32.h"

#include <shlwapi.h>
#include <windows.h>

namespace vantle {

namespace {

HANDLE openForReading(const char* path) {
  // Shared for writing too: the application (or a process it left behind)
  // may still hold the log open for writing when it is read back.
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

long long readAll(HANDLE file, char* out, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    const std::size_t left = size - total;
    const DWORD want = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(file, out + total, want, &got, nullptr)) return -1;
    if (got == 0) break;
    total += got;
  }
  return static_cast<long long>(total);
}

}  // namespace

FileKind Win32Platform::fileKind(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::absent;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::directory : FileKind::file;
}

bool Win32Platform::removeFileSpec(char* path) { return PathRemoveFileSpecA(path) != FALSE; }

std::size_t Win32Platform::getEnv(const char* name, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return 0;
  out[0] = '\0';
  const DWORD capacity = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
  const DWORD result = GetEnvironmentVariableA(name, out, capacity);
  if (result == 0) {
    out[0] = '\0';
    return 0;
  }
  if (result >= capacity) {
    // Too small: the result is the size needed, terminator included.
    out[0] = '\0';
    return static_cast<std::size_t>(result) - 1 >= size ? result - 1 : size;
  }
  return result;
}

long long Win32Platform::readFileAt(const char* path, std::uint64_t offset, char* out,
                                    std::size_t size) {
  const HANDLE file = openForReading(path);
  if (file == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  long long result = -1;
  if (SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) result = readAll(file, out, size);
  CloseHandle(file);
  return result;
}

long long Win32Platform::readFileTail(const char* path, char* out, std::size_t size) {
  const HANDLE file = openForReading(path);
  if (file == INVALID_HANDLE_VALUE) return -1;
  long long result = -1;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER length;
  if (SetFilePointerEx(file, zero, &length, FILE_END) && length.QuadPart >= 0) {
    LARGE_INTEGER start;
    start.QuadPart = static_cast<unsigned long long>(length.QuadPart) > size
                         ? length.QuadPart - static_cast<LONGLONG>(size)
                         : 0;
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) result = readAll(file, out, size);
  }
  CloseHandle(file);
  return result;
}

bool Win32Platform::createFolder(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

FileHandle Win32Platform::createInheritableFile(const char* path) {
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof security;
  security.bInheritHandle = TRUE;
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? invalidFileHandle() : static_cast<FileHandle>(file);
}

bool Win32Platform::writeFile(FileHandle file, const char* data, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    const std::size_t left = size - total;
    const DWORD want = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(file), data + total, want, &written, nullptr) ||
        written == 0) {
      return false;
    }
    total += written;
  }
  return true;
}

void Win32Platform::closeFile(FileHandle file) {
  if (file != invalidFileHandle() && file != nullptr) CloseHandle(static_cast<HANDLE>(file));
}

void Win32Platform::showErrorBox(const char* caption, const char* text) {
  MessageBoxA(nullptr, text, caption, MB_ICONERROR | MB_SETFOREGROUND);
}

void Win32Platform::writeStderr(const char* data, std::size_t size) {
  // A GUI program has no standard error unless its starter gave it one.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  std::size_t total = 0;
  while (total < size) {
    DWORD written = 0;
    const std::size_t left = size - total;
    const DWORD want = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    if (!WriteFile(error, data + total, want, &written, nullptr) || written == 0) return;
    total += written;
  }
}

Win32Platform& win32Platform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace vantle
