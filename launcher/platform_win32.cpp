#include "launcher/platform_win32.h"

// clang-format off
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>
// clang-format on

#include <shlwapi.h>

#include <cstring>
#include <new>

#include "launcher/download_win32.h"
#include "launcher/text.h"

namespace vantle {

namespace {

// The 144-byte extended limit record: kill whatever the application leaves
// running when the job handle closes, but let it start processes outside the
// job on purpose.
constexpr DWORD kJobLimits = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == 144, "job limit record size");
static_assert(kJobLimits == 0x2800, "job limit flags");

// The launcher's UTF-8 text as UTF-16 for one call; empty (and not ok) when
// it does not convert, which then reads as a path that does not exist.
struct Wide {
  std::wstring text;
  bool ok;
  explicit Wide(const char* utf8) : ok(toWide(utf8, text)) {}
  const wchar_t* c_str() const { return text.c_str(); }
};

// Copies a UTF-16 result into out as UTF-8; false, with out empty, when it
// does not convert or fit (a path cut short would name some other place).
bool copyOut(const wchar_t* wide, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  std::string utf8;
  if (!toUtf8(wide, utf8) || utf8.size() >= size) {
    out[0] = '\0';
    return false;
  }
  copyInto(out, size, utf8.c_str());
  return true;
}

HANDLE openForReading(const char* path) {
  const Wide wide(path);
  if (!wide.ok) return INVALID_HANDLE_VALUE;
  // Shared for writing too: the application (or a process it left behind)
  // may still hold the log open for writing when it is read back.
  return CreateFileW(wide.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool writeAll(HANDLE file, const char* data, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    const std::size_t left = size - total;
    const DWORD want = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, data + total, want, &written, nullptr) || written == 0) return false;
    total += written;
  }
  return true;
}

}  // namespace

bool toWide(const char* utf8, std::wstring& out) {
  out.clear();
  if (utf8 == nullptr) return false;
  if (utf8[0] == '\0') return true;
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (units <= 0) return false;
  out.resize(static_cast<std::size_t>(units));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &out[0], units) <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(units) - 1);  // the terminator
  return true;
}

bool toUtf8(const wchar_t* wide, std::string& out) {
  out.clear();
  if (wide == nullptr) return false;
  if (wide[0] == L'\0') return true;
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  out.resize(static_cast<std::size_t>(bytes));
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], bytes, nullptr, nullptr) <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(bytes) - 1);
  return true;
}

FileKind Win32Platform::fileKind(const char* path) {
  const Wide wide(path);
  if (!wide.ok) return FileKind::absent;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::absent;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::directory : FileKind::file;
}

bool Win32Platform::removeFileSpec(char* path) {
  Wide wide(path);
  if (!wide.ok || wide.text.empty()) return false;
  if (PathRemoveFileSpecW(&wide.text[0]) == FALSE) return false;
  // The result is a prefix of the path, so it always fits.
  return copyOut(wide.c_str(), path, std::strlen(path) + 1);
}

std::size_t Win32Platform::getEnv(const char* name, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return 0;
  out[0] = '\0';
  const Wide wideName(name);
  if (!wideName.ok) return 0;
  const DWORD units = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (units == 0) return 0;
  std::wstring value(units, L'\0');
  const DWORD got = GetEnvironmentVariableW(wideName.c_str(), &value[0], units);
  if (got == 0 || got >= units) return 0;
  value.resize(got);
  std::string utf8;
  if (!toUtf8(value.c_str(), utf8)) return 0;
  // Too small: the length alone, out left empty.
  if (utf8.size() < size) copyInto(out, size, utf8.c_str());
  return utf8.size();
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

bool Win32Platform::createFolder(const char* path) {
  const Wide wide(path);
  return wide.ok && CreateDirectoryW(wide.c_str(), nullptr) != 0;
}

FileHandle Win32Platform::createInheritableFile(const char* path) {
  const Wide wide(path);
  if (!wide.ok) return invalidFileHandle();
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof security;
  security.bInheritHandle = TRUE;
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? invalidFileHandle() : static_cast<FileHandle>(file);
}

bool Win32Platform::writeFile(FileHandle file, const char* data, std::size_t size) {
  return writeAll(static_cast<HANDLE>(file), data, size);
}

void Win32Platform::closeFile(FileHandle file) {
  if (file != invalidFileHandle() && file != nullptr) CloseHandle(static_cast<HANDLE>(file));
}

void Win32Platform::showErrorBox(const char* caption, const char* text) {
  const Wide wideCaption(caption);
  const Wide wideText(text);
  MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), MB_ICONERROR | MB_SETFOREGROUND);
}

void Win32Platform::writeStderr(const char* data, std::size_t size) {
  // A GUI program has no standard error unless its starter gave it one.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  writeAll(error, data, size);
}

bool Win32Platform::ownProgramPath(char* out, std::size_t size) {
  // Long paths exceed MAX_PATH; the buffer grows until the path fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD got = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (got == 0) break;
    if (got < path.size()) {
      path.resize(got);
      return copyOut(path.c_str(), out, size);
    }
    if (path.size() >= 32768) break;
    path.resize(path.size() * 2);
  }
  if (out != nullptr && size > 0) out[0] = '\0';
  return false;
}

bool Win32Platform::setEnv(const char* name, const char* value) {
  const Wide wideName(name);
  const Wide wideValue(value);
  return wideName.ok && wideValue.ok &&
         SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str()) != 0;
}

InstallOutcome Win32Platform::offerRuntimeInstall(const char* displayName, const char* address) {
  return runRuntimeInstaller(displayName, address);
}

std::uint64_t Win32Platform::milliseconds() { return GetTickCount64(); }

JobHandle Win32Platform::createJob() {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = kJobLimits;
  // Without its limit the job would end nothing: as good as none.
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

ProcessHandle Win32Platform::startSuspended(const char* program, const char* commandLine,
                                            FileHandle output) {
  Wide wideProgram(program);
  Wide wideLine(commandLine);
  if (!wideProgram.ok || !wideLine.ok) return nullptr;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (output != invalidFileHandle()) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = static_cast<HANDLE>(output);
    startup.hStdError = static_cast<HANDLE>(output);
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(wideProgram.c_str(), &wideLine.text[0], nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  // The process handle stands for the process; its main thread is found
  // again when it is resumed.
  auto* handles = new (std::nothrow) PROCESS_INFORMATION(process);
  if (handles == nullptr) {
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return nullptr;
  }
  return handles;
}

bool Win32Platform::assignToJob(JobHandle job, ProcessHandle process) {
  return AssignProcessToJobObject(static_cast<HANDLE>(job),
                                  static_cast<PROCESS_INFORMATION*>(process)->hProcess) != 0;
}

bool Win32Platform::resume(ProcessHandle process) {
  return ResumeThread(static_cast<PROCESS_INFORMATION*>(process)->hThread) !=
         static_cast<DWORD>(-1);
}

void Win32Platform::terminate(ProcessHandle process) {
  TerminateProcess(static_cast<PROCESS_INFORMATION*>(process)->hProcess, 1);
}

bool Win32Platform::waitForExit(ProcessHandle process, std::uint32_t& exitCode) {
  const HANDLE handle = static_cast<PROCESS_INFORMATION*>(process)->hProcess;
  DWORD code = 0;
  if (WaitForSingleObject(handle, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(handle, &code)) {
    return false;
  }
  exitCode = code;
  return true;
}

void Win32Platform::closeProcess(ProcessHandle process) {
  auto* handles = static_cast<PROCESS_INFORMATION*>(process);
  CloseHandle(handles->hThread);
  CloseHandle(handles->hProcess);
  delete handles;
}

void Win32Platform::closeJob(JobHandle job) { CloseHandle(static_cast<HANDLE>(job)); }

Win32Platform& win32Platform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace vantle
