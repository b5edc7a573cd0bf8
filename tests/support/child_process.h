#pragma once
// The one way the tests start a Windows program: the installer, the
// stand-ins, the release tool. RunOptions say what the program starts with
// and what is kept of its output; the started program is waited for with a
// time-out, its exit code and output collected, and it is killed when the
// object goes while it still runs. Unix programs run through RunUnix.
#include <windows.h>

#include <string>
#include <vector>

#include "common/win_handles.h"

namespace lbtest {

struct RunOptions {
  // "NAME=value" added to the program's environment. Wine takes a locale
  // from the Unix environment only, so such a program is started by `wine`
  // from a shell with these set, then found among the processes by its path.
  std::vector<std::string> environment;
  // Standard input from NUL, standard output and error kept for out() and
  // err(), no console window.
  bool capture_output = false;
};

class ChildProcess {
 public:
  // Starts `exe` with `arguments`, each quoted for CommandLineToArgvW. A
  // program that cannot be started fails the test.
  ChildProcess(const std::wstring& exe, const std::vector<std::wstring>& arguments,
               const RunOptions& options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when it could not be started (the test failed then).
  bool started() const { return started_; }
  HANDLE handle() const { return process_.get(); }
  DWORD pid() const { return pid_; }

  // Waits up to `timeout_ms`; true when the program has ended.
  bool Wait(DWORD timeout_ms) const;
  bool Ended() const { return Wait(0); }
  DWORD exit_code() const;  // STILL_ACTIVE while it runs
  void Kill();              // ends it (exit code 99) and waits for the end
  // Closes the handle: the program runs on, no longer watched nor killed.
  void Close() { process_.reset(); }

  // Its captured standard output and error so far, as written.
  std::string out() const;
  std::string err() const;

 private:
  void StartFromUnix(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                     const std::vector<std::string>& environment);
  bool started_ = false;
  KernelHandle process_;
  DWORD pid_ = 0;
  std::wstring output_;  // captured output: output_ + L".out" and L".err"
};

// Quotes one argument the way CommandLineToArgvW splits it back.
std::wstring QuoteArgumentForTest(const std::wstring& argument);

}  // namespace lbtest
