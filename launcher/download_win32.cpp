#include "launcher/download_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "launcher/download_progress.h"
#include "launcher/platform_win32.h"

namespace vantle {

namespace {

const wchar_t kWindowClass[] = L"KorvaneRuntimeBootstrap";
const wchar_t kWindowTitle[] = L"Installing the Korvane Runtime";
const wchar_t kInstallerFileName[] = L"Korvane-Runtime-Setup.exe";
constexpr int kWindowWidth = 440;
constexpr int kWindowHeight = 150;
constexpr int kTempPathUnits = 260;
constexpr int kInstallerPathUnits = 260;
constexpr int kQuestionBytes = 1024;

const char kQuestionFormat[] =
    "%s needs the Korvane Runtime, a one-time shared download of about 230 MB.\n\n"
    "Every Korvane app reuses it, so this happens only once -- after that, all of them start "
    "instantly.\n\nDownload and install it now?";

// The window cannot be closed while the download runs: WM_CLOSE (close
// button, Alt+F4) is swallowed.
LRESULT CALLBACK progressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HRESULT STDMETHODCALLTYPE DownloadCallback::QueryInterface(REFIID riid, void **object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
    *object = static_cast<IBindStatusCallback *>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE DownloadCallback::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

ULONG STDMETHODCALLTYPE DownloadCallback::Release() {
  return static_cast<ULONG>(InterlockedDecrement(&refCount_));
}

HRESULT STDMETHODCALLTYPE DownloadCallback::OnStartBinding(DWORD, IBinding *) { return S_OK; }

HRESULT STDMETHODCALLTYPE DownloadCallback::GetPriority(LONG *priority) {
  if (priority != nullptr) {
    *priority = 0;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadCallback::OnLowResource(DWORD) { return S_OK; }

HRESULT STDMETHODCALLTYPE DownloadCallback::OnProgress(ULONG soFar, ULONG total, ULONG, LPCWSTR) {
  ProgressView view;
  updateProgressView(progress_.lastPercent, soFar, total, view);
  if (progress_.progressBar != nullptr) {
    SendMessageW(progress_.progressBar, PBM_SETPOS, static_cast<WPARAM>(view.barPosition), 0);
  }
  if (view.textsChanged) {
    if (progress_.statusLabel != nullptr) {
      SetWindowTextW(progress_.statusLabel, view.label);
    }
    if (progress_.topWindow != nullptr) {
      SetWindowTextW(progress_.topWindow, view.title);
    }
  }
  // The download blocks this thread; this is where the window gets serviced.
  pumpMessages();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadCallback::OnStopBinding(HRESULT, LPCWSTR) { return S_OK; }

HRESULT STDMETHODCALLTYPE DownloadCallback::GetBindInfo(DWORD *, BINDINFO *) { return S_OK; }

HRESULT STDMETHODCALLTYPE DownloadCallback::OnDataAvailable(DWORD, DWORD, FORMATETC *,
                                                            STGMEDIUM *) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadCallback::OnObjectAvailable(REFIID, IUnknown *) { return S_OK; }

void pumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int showInstallProgress(InstallProgress &progress) {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);

  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = progressWindowProc;
  windowClass.hInstance = module;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);  // already registered by an earlier call: fine

  progress.lastPercent = -1;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  progress.topWindow =
      CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT, kWindowClass,
                      kWindowTitle, WS_CAPTION | WS_SYSMENU | WS_VISIBLE, left, top, kWindowWidth,
                      kWindowHeight, nullptr, nullptr, module, nullptr);
  if (progress.topWindow == nullptr) {
    return -1;
  }
  progress.statusLabel = CreateWindowExW(
      0, L"STATIC", L"Preparing to download the shared runtime...", WS_CHILD | WS_VISIBLE, 16, 16,
      400, 40, progress.topWindow, nullptr, module, nullptr);
  progress.progressBar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 16, 64,
                                         400, 22, progress.topWindow, nullptr, module, nullptr);
  if (progress.progressBar != nullptr) {
    SendMessageW(progress.progressBar, PBM_SETRANGE32, 0, 1000);
    SetWindowTextW(progress.progressBar, L"Runtime download progress");
  }
  ShowWindow(progress.topWindow, SW_SHOW);
  UpdateWindow(progress.topWindow);
  pumpMessages();
  return 0;
}

InstallOutcome runRuntimeInstaller(const char *displayName, const char *addressUtf8) {
  if (addressUtf8 == nullptr || addressUtf8[0] == '\0') {
    return InstallOutcome::notInstalled;
  }
  char question[kQuestionBytes];
  std::snprintf(question, sizeof(question), kQuestionFormat, displayName);
  std::wstring wideQuestion;
  std::wstring wideCaption;
  toWide(question, wideQuestion);
  toWide(displayName, wideCaption);
  if (MessageBoxW(nullptr, wideQuestion.c_str(), wideCaption.c_str(),
                  MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES) {
    return InstallOutcome::declined;
  }

  // A temporary folder longer than the buffer is reported by its length
  // alone, with the buffer left unfilled; and a cut installer path would be
  // saved and started under some other name. Both count as no folder.
  wchar_t tempFolder[kTempPathUnits];
  const DWORD tempLength = GetTempPathW(kTempPathUnits, tempFolder);
  if (tempLength == 0 || tempLength >= kTempPathUnits) {
    return InstallOutcome::notInstalled;
  }
  wchar_t installerPath[kInstallerPathUnits];
  const int pathLength =
      std::swprintf(installerPath, kInstallerPathUnits, L"%ls%ls", tempFolder, kInstallerFileName);
  if (pathLength < 0 || pathLength >= kInstallerPathUnits) {
    return InstallOutcome::notInstalled;
  }
  std::wstring address;
  // An address that does not convert cannot be downloaded.
  if (!toWide(addressUtf8, address)) {
    return InstallOutcome::notInstalled;
  }

  InstallProgress progress = {};
  showInstallProgress(progress);
  DownloadCallback callback(progress);
  const HRESULT status = URLDownloadToFileW(nullptr, address.c_str(), installerPath, 0, &callback);
  if (progress.topWindow != nullptr) {
    DestroyWindow(progress.topWindow);
  }
  pumpMessages();
  if (FAILED(status)) {
    return InstallOutcome::downloadFailed;
  }

  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof(run);
  run.fMask = SEE_MASK_NOCLOSEPROCESS;
  run.lpVerb = L"open";
  run.lpFile = installerPath;
  run.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&run) || run.hProcess == nullptr) {
    return InstallOutcome::notInstalled;
  }
  WaitForSingleObject(run.hProcess, INFINITE);
  DWORD exitCode = 1;
  if (!GetExitCodeProcess(run.hProcess, &exitCode)) {
    exitCode = 1;
  }
  CloseHandle(run.hProcess);
  DeleteFileW(installerPath);
  return exitCode == 0 ? InstallOutcome::installed : InstallOutcome::notInstalled;
}

}  // namespace vantle
