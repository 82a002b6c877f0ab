// Test parent of the launcher under Wine. Wine gives its programs their own
// LOCALAPPDATA, APPDATA and TEMP whatever the Linux environment says, so the
// variables are set here, in a Windows process, and inherited by the
// launcher. While the launcher runs, the driver answers its message boxes and
// watches its progress window; at the end it prints one report line per
// observation (texts hex-encoded UTF-8) and the full 32-bit exit code.
//
//   driver.exe [options] -- <launcher path> [--arg=<hex utf-8>]...
//     --env NAME=VALUE     set a variable for the launcher
//     --unset NAME         remove a variable
//     --answer ok|yes|no   answer the next message box so (in order)
//     --stderr FILE        the launcher's standard error (and output) go here
//     --timeout-ms N       stop the launcher after N ms (default 30000)
//     --grandchild FILE    after the end, tell whether the process whose id
//                          is in FILE is still alive
// clang-format off
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>
// clang-format on

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "tests/launcher/e2e/wide_text.h"

namespace {

std::wstring fromUtf8(const std::string &text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

std::wstring unhex(const std::wstring &text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const wchar_t pair[3] = {text[i], text[i + 1], L'\0'};
    bytes += static_cast<char>(std::wcstoul(pair, nullptr, 16));
  }
  return fromUtf8(bytes);
}

void say(const std::string &line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::wstring windowText(HWND window) {
  wchar_t buffer[4096];
  const int n = GetWindowTextW(window, buffer, 4096);
  return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::wstring className(HWND window) {
  wchar_t buffer[256];
  const int n = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

struct Watch {
  DWORD processId;
  std::vector<HWND> boxes;
  HWND progress;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM context) {
  Watch &watch = *reinterpret_cast<Watch *>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != watch.processId || !IsWindowVisible(window)) {
    return TRUE;
  }
  const std::wstring name = className(window);
  if (name == L"#32770") {
    watch.boxes.push_back(window);
  } else if (name == L"KorvaneRuntimeBootstrap") {
    watch.progress = window;
  }
  return TRUE;
}

struct Texts {
  std::vector<HWND> statics;
  std::vector<HWND> bars;
};

BOOL CALLBACK collectChild(HWND window, LPARAM context) {
  Texts &texts = *reinterpret_cast<Texts *>(context);
  const std::wstring name = className(window);
  if (lstrcmpiW(name.c_str(), L"Static") == 0) {
    texts.statics.push_back(window);
  } else if (lstrcmpiW(name.c_str(), PROGRESS_CLASSW) == 0) {
    texts.bars.push_back(window);
  }
  return TRUE;
}

// The message text is the longest static text of the box (the icon is a
// static too, without text).
std::wstring boxText(HWND box) {
  Texts texts;
  EnumChildWindows(box, collectChild, reinterpret_cast<LPARAM>(&texts));
  std::wstring best;
  for (HWND s : texts.statics) {
    std::wstring t = windowText(s);
    if (t.size() > best.size()) {
      best = t;
    }
  }
  return best;
}

std::string boxButtons(HWND box) {
  std::string out;
  const struct {
    int id;
    const char *name;
  } buttons[] = {{IDOK, "ok"}, {IDCANCEL, "cancel"}, {IDYES, "yes"}, {IDNO, "no"}};
  for (const auto &b : buttons) {
    if (GetDlgItem(box, b.id) != nullptr) {
      out += out.empty() ? "" : ",";
      out += b.name;
    }
  }
  return out;
}

int answerId(const std::wstring &answer) {
  if (answer == L"yes") {
    return IDYES;
  }
  if (answer == L"no") {
    return IDNO;
  }
  return IDOK;
}

// Records what the progress window shows, once per distinct value, and checks
// that asking it to close is refused.
struct ProgressSeen {
  bool seen = false;
  bool closeAsked = false;
  ULONGLONG closeAskedAt = 0;
  bool survivedClose = false;
  std::set<std::wstring> titles;
  std::set<std::wstring> labels;
  std::vector<std::wstring> titleOrder;
  std::vector<std::wstring> labelOrder;
  int maxBar = -1;
};

void watchProgress(HWND window, ProgressSeen &seen) {
  if (!seen.seen) {
    seen.seen = true;
    RECT rect;
    GetWindowRect(window, &rect);
    const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    say("progress-window=" + std::to_string(rect.right - rect.left) + "x" +
        std::to_string(rect.bottom - rect.top) +
        " topmost=" + std::to_string((exStyle & WS_EX_TOPMOST) != 0 ? 1 : 0));
  }
  const std::wstring title = windowText(window);
  if (seen.titles.insert(title).second) {
    seen.titleOrder.push_back(title);
  }
  Texts texts;
  EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&texts));
  for (HWND s : texts.statics) {
    const std::wstring label = windowText(s);
    if (seen.labels.insert(label).second) {
      seen.labelOrder.push_back(label);
    }
  }
  for (HWND bar : texts.bars) {
    DWORD_PTR position = 0;
    if (SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 200, &position) != 0 &&
        static_cast<int>(position) > seen.maxBar) {
      seen.maxBar = static_cast<int>(position);
    }
  }
  if (!seen.closeAsked) {
    seen.closeAsked = true;
    seen.closeAskedAt = GetTickCount64();
    PostMessageW(window, WM_CLOSE, 0, 0);
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (!seen.survivedClose && GetTickCount64() - seen.closeAskedAt > 300) {
    // Still there well after the close request was delivered.
    seen.survivedClose = true;
  }
}

HANDLE openInheritable(const std::wstring &path) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int wmain() {
  int argc = 0;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) {
    return 100;
  }
  std::vector<std::wstring> answers;
  std::wstring stderrPath;
  std::wstring grandchildFile;
  DWORD timeoutMs = 30000;
  int i = 1;
  for (; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) {
      say("driver-error=missing value");
      return 100;
    }
    const std::wstring value = argv[++i];
    if (option == L"--env") {
      const std::size_t eq = value.find(L'=');
      SetEnvironmentVariableW(value.substr(0, eq).c_str(), value.substr(eq + 1).c_str());
    } else if (option == L"--unset") {
      SetEnvironmentVariableW(value.c_str(), nullptr);
    } else if (option == L"--answer") {
      answers.push_back(value);
    } else if (option == L"--stderr") {
      stderrPath = value;
    } else if (option == L"--timeout-ms") {
      timeoutMs = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
    } else if (option == L"--grandchild") {
      grandchildFile = value;
    } else {
      say("driver-error=unknown option");
      return 100;
    }
  }
  if (i >= argc) {
    say("driver-error=no launcher");
    return 100;
  }
  std::vector<std::wstring> entries = {argv[i]};
  for (++i; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.compare(0, 6, L"--arg=") != 0) {
      say("driver-error=launcher arguments must be --arg=<hex>");
      return 100;
    }
    entries.push_back(unhex(arg.substr(6)));
  }
  std::vector<const wchar_t *> pointers;
  for (const std::wstring &e : entries) {
    pointers.push_back(e.c_str());
  }
  wchar_t *line = vantle::buildCommandLine(pointers.data(), pointers.size());

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  HANDLE errFile = INVALID_HANDLE_VALUE;
  if (!stderrPath.empty()) {
    errFile = openInheritable(stderrPath);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = errFile;
    startup.hStdError = errFile;
  }
  PROCESS_INFORMATION process = {};
  if (line == nullptr || !CreateProcessW(entries[0].c_str(), line, nullptr, nullptr, TRUE, 0,
                                         nullptr, nullptr, &startup, &process)) {
    say("driver-error=launcher not started " + std::to_string(GetLastError()));
    return 100;
  }
  std::free(line);
  if (errFile != INVALID_HANDLE_VALUE) {
    CloseHandle(errFile);
  }
  CloseHandle(process.hThread);

  std::set<HWND> answered;
  std::size_t nextAnswer = 0;
  ProgressSeen progress;
  const ULONGLONG start = GetTickCount64();
  bool timedOut = false;
  while (WaitForSingleObject(process.hProcess, 15) == WAIT_TIMEOUT) {
    if (GetTickCount64() - start > timeoutMs) {
      timedOut = true;
      TerminateProcess(process.hProcess, 0xDEAD);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
    Watch watch = {process.dwProcessId, {}, nullptr};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&watch));
    if (watch.progress != nullptr) {
      watchProgress(watch.progress, progress);
    }
    for (HWND box : watch.boxes) {
      if (answered.count(box) != 0) {
        continue;
      }
      const std::wstring text = boxText(box);
      if (text.empty()) {
        continue;  // not filled in yet
      }
      answered.insert(box);
      say("box caption=" + hex(windowText(box)) + " buttons=" + boxButtons(box) +
          " text=" + hex(text));
      if (nextAnswer >= answers.size()) {
        say("box-unanswered");
        continue;
      }
      const int id = answerId(answers[nextAnswer++]);
      HWND button = GetDlgItem(box, id);
      if (button == nullptr) {
        say("box-missing-button");
        continue;
      }
      PostMessageW(button, BM_CLICK, 0, 0);
    }
  }
  if (progress.seen) {
    for (const std::wstring &t : progress.titleOrder) {
      say("progress-title=" + hex(t));
    }
    for (const std::wstring &t : progress.labelOrder) {
      say("progress-label=" + hex(t));
    }
    say("progress-max-bar=" + std::to_string(progress.maxBar));
    say("progress-survived-close=" + std::to_string(progress.survivedClose ? 1 : 0));
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (timedOut) {
    say("timeout");
  }
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "exit=0x%08lX", static_cast<unsigned long>(code));
  say(buffer);

  if (!grandchildFile.empty()) {
    HANDLE file = CreateFileW(grandchildFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    char pidText[32] = {};
    DWORD got = 0;
    if (file != INVALID_HANDLE_VALUE) {
      ReadFile(file, pidText, sizeof(pidText) - 1, &got, nullptr);
      CloseHandle(file);
    }
    const DWORD pid = static_cast<DWORD>(std::strtoul(pidText, nullptr, 10));
    HANDLE grandchild =
        pid != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid) : nullptr;
    if (pid == 0) {
      say("grandchild=never-started");
    } else if (grandchild == nullptr || WaitForSingleObject(grandchild, 3000) == WAIT_OBJECT_0) {
      say("grandchild=gone");
    } else {
      say("grandchild=alive");
      TerminateProcess(grandchild, 0);
    }
    if (grandchild != nullptr) {
      CloseHandle(grandchild);
    }
  }
  LocalFree(argv);
  return 0;
}
