#pragma once
// The one way the tests start a program and wait for it: the installer, the
// stand-ins, the release tool and the shell of RunUnix. A running program is
// watched as a user would: its main window's labels and bar, the message
// boxes it shows (read, then dismissed), its exit code. Test main thread.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/win_handles.h"
#include "tests/support/message_boxes.h"

namespace lbtest {

struct WindowSnapshot {
  bool found = false;
  std::wstring title;
  std::wstring status;  // control 101
  std::wstring detail;  // control 102
  int bar = -1;         // control 103, PBM_GETPOS
};

struct RunOptions {
  // "NAME=value" (a locale, which Wine reads from the Unix environment only):
  // the program is started by `wine` from a shell with these set.
  std::vector<std::string> unix_environment;
  // When set, a console program: standard input from NUL, output and error
  // into `output` + ".out" and ".err", no console window.
  std::wstring output;
};

// Starts `exe` with `arguments` (each quoted for the command line) and hands
// out its process and id; false, failing the test, when it cannot be started.
// Wine starts a Unix program (/bin/sh) without a process to wait for.
bool StartProcess(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                  const RunOptions& options = {}, KernelHandle* process = nullptr, DWORD* pid = nullptr);

class InstallerRun {
 public:
  InstallerRun(const std::wstring& exe, const std::vector<std::wstring>& arguments,
               const RunOptions& options = {});
  ~InstallerRun();  // kills the process if it still runs
  InstallerRun(const InstallerRun&) = delete;
  InstallerRun& operator=(const InstallerRun&) = delete;

  DWORD pid() const { return pid_; }
  HANDLE process() const { return process_.get(); }
  // Whether the process ended, waiting up to `wait_ms` for it.
  bool Ended(DWORD wait_ms = 0) const;
  // Closes the handle: the process runs on, no longer watched nor killed.
  void Detach() { process_.reset(); }

  // Called for every message box seen before it is dismissed; the window's
  // state at that moment is passed along. Returning false leaves the box open.
  using BoxHandler = std::function<bool(const SeenMessageBox&, const WindowSnapshot&)>;
  void OnMessageBox(BoxHandler handler) { handler_ = std::move(handler); }

  // Pumps until the process ends or `timeout_ms` passes; dismisses message
  // boxes (after the handler). Returns true when the process ended.
  bool Wait(DWORD timeout_ms);
  // Pumps until `condition` holds, the process ends or `timeout_ms` passes.
  bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms);
  // Wait, closing the window a failed run keeps open after its box, as the
  // user does; a run that does not end fails the test and is killed.
  bool RunToEnd(DWORD timeout_ms = 180000);

  DWORD exit_code() const;
  void Kill();

  // The installer's main window right now.
  WindowSnapshot Snapshot() const;
  HWND MainWindow() const;
  bool BoxOpen() const { return boxes_reader_.AnyOpen(); }
  const std::vector<SeenMessageBox>& boxes() const { return boxes_; }
  // The last state of the main window seen while pumping.
  const WindowSnapshot& last_snapshot() const { return last_; }

 private:
  void Pump();
  void StartFromUnix(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                     const std::vector<std::string>& unix_environment);
  KernelHandle process_;
  DWORD pid_ = 0;
  DWORD started_ = 0;
  BoxHandler handler_;
  MessageBoxReader boxes_reader_{0};
  std::vector<SeenMessageBox> boxes_;
  WindowSnapshot last_;
};

// Quotes one argument the way CommandLineToArgvW splits it back.
std::wstring QuoteArgumentForTest(const std::wstring& argument);

std::wstring InstallerExe();  // build\bin\LanternbrookInstaller.exe

}  // namespace lbtest
