#pragma once
// Runs the real LanternbrookInstaller.exe (or any program with a window) as a
// child process and watches it as a user would: its main window's labels and
// bar, the message boxes it shows (read, then dismissed), its exit code.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/message_boxes.h"

namespace lbtest {

struct WindowSnapshot {
  bool found = false;
  std::wstring title;
  std::wstring status;  // control 101
  std::wstring detail;  // control 102
  int bar = -1;         // control 103, PBM_GETPOS
};

// The installer's main window `window` right now (not found when null).
WindowSnapshot SnapshotOf(HWND window);

class InstallerRun {
 public:
  // Starts `exe` with `arguments` (see ChildProcess); killed by the destructor
  // when it still runs.
  InstallerRun(const std::wstring& exe, const std::vector<std::wstring>& arguments,
               const RunOptions& options = {});

  const ChildProcess& process() const { return process_; }  // its Wait does not pump
  DWORD pid() const { return process_.pid(); }
  DWORD exit_code() const { return process_.exit_code(); }
  void Kill() { process_.Kill(); }

  // Called for every message box seen before it is dismissed; the window's
  // state at that moment is passed along. Returning false leaves the box open.
  using BoxHandler = std::function<bool(const SeenMessageBox&, const WindowSnapshot&)>;
  void OnMessageBox(BoxHandler handler) { handler_ = std::move(handler); }

  // Pumps until the process ends or `timeout_ms` passes; dismisses message
  // boxes (after the handler). Returns true when the process ended.
  bool Wait(DWORD timeout_ms);
  // Pumps until `condition` holds, the process ends or `timeout_ms` passes.
  bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms);
  // Wait, closing the main window that a failed run keeps open after its box
  // as the user does. A run that does not end fails the test and is killed.
  bool RunToEnd(DWORD timeout_ms = 180000);

  // The installer's main window right now.
  WindowSnapshot Snapshot() const { return SnapshotOf(MainWindow()); }
  HWND MainWindow() const;
  bool BoxOpen() const { return box_reader_.AnyOpen(); }
  const std::vector<SeenMessageBox>& boxes() const { return boxes_; }
  // The last state of the main window seen while pumping.
  const WindowSnapshot& last_snapshot() const { return last_; }

 private:
  void Pump();
  DWORD started_ = GetTickCount();
  ChildProcess process_;
  MessageBoxReader box_reader_;
  BoxHandler handler_;
  std::vector<SeenMessageBox> boxes_;
  WindowSnapshot last_;
};

std::wstring InstallerExe();  // build\bin\LanternbrookInstaller.exe
// build\signed\LanternbrookInstaller.exe: the installer built with the public
// key of the build's test key pair, build\test-keys\release.pub (made by
// lanternbrook-release keygen while the tests build; release.key signs).
std::wstring SignedInstallerExe();
std::wstring TestKeyPath(const wchar_t* name);  // build\test-keys\<name>

}  // namespace lbtest
