// Stand-in for the programs the launcher starts: the interpreter
// (python.exe, pythonw.exe), the shared runtime (KorvaneRuntime.exe) and the
// runtime installer (Korvane-Runtime-Setup.exe). Its role comes from its own
// file name; what it does is chosen by STANDIN_ variables that the test
// driver sets and the launcher passes on by inheritance.
//
//   STANDIN_REPORT_DIR    write <dir>\<own file name>.txt: own path, argv and
//                         the VANTLE_ variables, every text hex-encoded UTF-8
//   STANDIN_STDOUT        a line written to standard output
//   STANDIN_STDERR        a line written to standard error
//   STANDIN_GRANDCHILD    start a copy of this program that writes its process
//                         id into this file and stays alive for a minute
//   STANDIN_EXIT          exit code (decimal or 0x hex); default 0
//   STANDIN_INSTALL_SLOT  installer: install a runtime for this slot (the
//                         manifest and a copy of itself as KorvaneRuntime.exe)
//   STANDIN_INSTALL_EXIT  installer: exit code; default 0
// clang-format off
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>
// clang-format on

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "tests/launcher/e2e/wide_text.h"

namespace {

bool getEnv(const wchar_t *name, std::wstring &value) {
  wchar_t buffer[4096];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
  if (n == 0 || n >= 4096) {
    return false;
  }
  value.assign(buffer, n);
  return true;
}

std::wstring ownPath() {
  wchar_t buffer[4096];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, 4096);
  return std::wstring(buffer, n);
}

std::wstring baseName(const std::wstring &path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::wstring lower(std::wstring text) {
  for (wchar_t &c : text) {
    if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c - L'A' + L'a');
    }
  }
  return text;
}

void writeFile(const std::wstring &path, const std::string &bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

void writeLine(DWORD which, const std::wstring &text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return;
  }
  const std::string bytes = toUtf8(text) + "\n";
  DWORD written = 0;
  WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void report(const std::wstring &dir, int argc, wchar_t **argv) {
  std::string text = "exe=" + hex(ownPath()) + "\n";
  text += "cmdline=" + hex(GetCommandLineW()) + "\n";
  text += "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) {
    text += "arg" + std::to_string(i) + "=" + hex(argv[i]) + "\n";
  }
  static const wchar_t *const names[] = {L"VANTLE_LAUNCHER_DIR",    L"VANTLE_APP_ROOT",
                                         L"VANTLE_PORTABLE",        L"VANTLE_PRODUCT_NAME",
                                         L"VANTLE_PRODUCT_DISPLAY", L"VANTLE_PRODUCT_VERSION"};
  for (const wchar_t *name : names) {
    std::wstring value;
    if (getEnv(name, value)) {
      text += toUtf8(name) + "=" + hex(value) + "\n";
    } else {
      text += toUtf8(name) + "!\n";
    }
  }
  writeFile(dir + L"\\" + lower(baseName(ownPath())) + L".txt", text);
}

void startGrandchild(const std::wstring &pidFile) {
  std::wstring line = L"\"" + ownPath() + L"\" --grandchild \"" + pidFile + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Leave only once the grandchild is surely running.
  for (int i = 0; i < 500 && GetFileAttributesW(pidFile.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(10);
  }
}

unsigned long envCode(const wchar_t *name) {
  std::wstring value;
  return getEnv(name, value) ? std::wcstoul(value.c_str(), nullptr, 0) : 0;
}

int install(const std::wstring &slot) {
  std::wstring root;
  if (!getEnv(L"LOCALAPPDATA", root)) {
    return 1;
  }
  std::wstring folder = root + L"\\Korvane";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\Runtime";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\" + slot;
  CreateDirectoryW(folder.c_str(), nullptr);
  writeFile(folder + L"\\korvane-runtime.json", "{\n  \"python\": \"3.14.2\"\n}\n");
  return CopyFileW(ownPath().c_str(), (folder + L"\\KorvaneRuntime.exe").c_str(), FALSE) ? 0 : 1;
}

}  // namespace

int wmain() {
  int argc = 0;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) {
    return 90;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"--grandchild") == 0) {
    writeFile(argv[2], std::to_string(GetCurrentProcessId()));
    Sleep(60000);
    return 0;
  }
  std::wstring value;
  if (getEnv(L"STANDIN_REPORT_DIR", value)) {
    report(value, argc, argv);
  }
  if (lower(baseName(ownPath())) == L"korvane-runtime-setup.exe") {
    if (getEnv(L"STANDIN_INSTALL_SLOT", value) && install(value) != 0) {
      return 91;
    }
    ExitProcess(static_cast<UINT>(envCode(L"STANDIN_INSTALL_EXIT")));
  }
  if (getEnv(L"STANDIN_STDOUT", value)) {
    writeLine(STD_OUTPUT_HANDLE, value);
  }
  if (getEnv(L"STANDIN_STDERR", value)) {
    writeLine(STD_ERROR_HANDLE, value);
  }
  if (getEnv(L"STANDIN_GRANDCHILD", value)) {
    startGrandchild(value);
  }
  ExitProcess(static_cast<UINT>(envCode(L"STANDIN_EXIT")));
}
