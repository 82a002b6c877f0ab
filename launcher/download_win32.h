// Download and start of the shared runtime's installer, with its progress
// window. Windows only.
#pragma once

// clang-format off
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>
// clang-format on

#include <urlmon.h>

#include "launcher/platform.h"

namespace vantle {

// The progress window of one download; cleared before use.
struct InstallProgress {
  HWND topWindow;    // null when the window could not be created
  HWND progressBar;  // range 0..1000
  HWND statusLabel;
  int lastPercent;  // percentage last written into the texts; -1 after creation
};

// Status callback of the blocking download: moves the progress window and
// keeps it responsive by pumping messages from inside the download.
class DownloadCallback final : public IBindStatusCallback {
 public:
  explicit DownloadCallback(InstallProgress &progress) : refCount_(1), progress_(progress) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding *binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG *priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG soFar, ULONG total, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD *flags, BINDINFO *info) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC *format,
                                            STGMEDIUM *medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown *object) override;

 private:
  // The object lives on its caller's stack: the count is kept for the
  // interface's sake but reaching 0 frees nothing.
  LONG refCount_;
  InstallProgress &progress_;
};

// Takes every pending message of this thread and dispatches it.
void pumpMessages();

// Creates and shows the progress window. Returns 0, or -1 when the window
// cannot be created (the download then runs without it).
int showInstallProgress(InstallProgress &progress);

// Asks the user, downloads the installer from `addressUtf8` into the
// temporary folder, runs it, waits and deletes it. The caller tells the user
// what went wrong.
InstallOutcome runRuntimeInstaller(const char *displayName, const char *addressUtf8);

}  // namespace vantle
