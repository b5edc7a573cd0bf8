#include "tests/support/installer_run.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "tests/support/expected_texts.h"
#include "tests/support/test_support.h"

namespace lbtest {

WindowSnapshot SnapshotOf(HWND window) {
  WindowSnapshot snapshot;
  if (!window) return snapshot;
  snapshot.found = true;
  snapshot.title = WindowText(window);
  snapshot.status = WindowText(GetDlgItem(window, 101));
  snapshot.detail = WindowText(GetDlgItem(window, 102));
  DWORD_PTR position = 0;
  if (SendMessageTimeoutW(GetDlgItem(window, 103), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position))
    snapshot.bar = static_cast<int>(position);
  return snapshot;
}

InstallerRun::InstallerRun(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                           const RunOptions& options)
    : process_(exe, arguments, options), box_reader_(process_.pid()) {}

HWND InstallerRun::MainWindow() const {
  auto windows = TopLevelWindows(pid(), L"LanternbrookOnlineInstaller");
  return windows.empty() ? nullptr : windows.front();
}

void InstallerRun::Pump() {
  WindowSnapshot now = Snapshot();
  if (now.found) last_ = now;
  box_reader_.ReadNew([&](SeenMessageBox& box) {
    box.seen_at_ms = GetTickCount() - started_;
    // The window's state as the box shows: taken after the box was found, so
    // the labels set before it was opened are there.
    now = Snapshot();
    const bool dismiss = !handler_ || handler_(box, now);
    boxes_.push_back(box);
    return dismiss;
  });
}

bool InstallerRun::WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  if (!process_.handle()) return false;
  DWORD start = GetTickCount();
  for (;;) {
    Pump();
    if (condition && condition()) return true;
    if (process_.Wait(50)) return !condition;
    if (GetTickCount() - start >= timeout_ms) return false;
  }
}

bool InstallerRun::Wait(DWORD timeout_ms) { return WaitUntil(nullptr, timeout_ms); }

bool InstallerRun::RunToEnd(DWORD timeout_ms) {
  WaitUntil(
      [&] {
        const bool failed = !boxes_.empty() && boxes_.back().caption == Widen(texts::kFailureCaption);
        if (HWND window = failed ? MainWindow() : nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
        return false;
      },
      timeout_ms);
  if (process_.Ended()) return true;
  ADD_FAILURE() << "the installer did not end within " << timeout_ms << " ms; last status "
                << Narrow(last_.status) << " / " << Narrow(last_.detail);
  Kill();
  return false;
}

std::wstring InstallerExe() { return BuildDir() + L"\\bin\\LanternbrookInstaller.exe"; }

std::wstring SignedInstallerExe() { return BuildDir() + L"\\signed\\LanternbrookInstaller.exe"; }

std::wstring TestKeyPath(const wchar_t* name) { return BuildDir() + L"\\test-keys\\" + name; }

}  // namespace lbtest
