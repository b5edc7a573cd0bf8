#pragma once
// Runs the real LanternbrookInstaller.exe (or any program with a window) as a
// child process and watches it as a user would: its main window's labels and
// bar, the message boxes it shows (read, then dismissed), its exit code.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lbtest {

struct SeenMessageBox {
  std::wstring caption;
  std::wstring text;
  DWORD seen_at_ms = 0;  // since the start of the process
};

struct WindowSnapshot {
  bool found = false;
  std::wstring title;
  std::wstring status;  // control 101
  std::wstring detail;  // control 102
  int bar = -1;         // control 103, PBM_GETPOS
};

class InstallerRun {
 public:
  // Starts `exe` with `arguments` (each quoted for the command line). With
  // `unix_environment` ("NAME=value", e.g. a locale, which Wine reads from the
  // Unix environment only) it is started by `wine` from a shell with those set.
  InstallerRun(const std::wstring& exe, const std::vector<std::wstring>& arguments,
               const std::vector<std::string>& unix_environment = {});
  ~InstallerRun();  // kills the process if it still runs
  InstallerRun(const InstallerRun&) = delete;
  InstallerRun& operator=(const InstallerRun&) = delete;

  DWORD pid() const { return pid_; }
  HANDLE process() const { return process_; }

  // Called for every message box seen before it is dismissed; the window's
  // state at that moment is passed along. Returning false leaves the box open.
  using BoxHandler = std::function<bool(const SeenMessageBox&, const WindowSnapshot&)>;
  void OnMessageBox(BoxHandler handler) { handler_ = std::move(handler); }

  // Pumps until the process ends or `timeout_ms` passes; dismisses message
  // boxes (after the handler). Returns true when the process ended.
  bool Wait(DWORD timeout_ms);
  // Pumps until `condition` holds, the process ends or `timeout_ms` passes.
  bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms);

  DWORD exit_code() const;
  void Kill();

  // The installer's main window right now.
  WindowSnapshot Snapshot() const;
  HWND MainWindow() const;
  const std::vector<SeenMessageBox>& boxes() const { return boxes_; }
  // The last state of the main window seen while pumping.
  const WindowSnapshot& last_snapshot() const { return last_; }

 private:
  void Pump();
  void StartFromUnix(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                     const std::vector<std::string>& unix_environment);
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  DWORD started_ = 0;
  BoxHandler handler_;
  std::vector<SeenMessageBox> boxes_;
  std::vector<HWND> handled_;
  WindowSnapshot last_;
};

// Quotes one argument the way CommandLineToArgvW splits it back.
std::wstring QuoteArgumentForTest(const std::wstring& argument);

}  // namespace lbtest
