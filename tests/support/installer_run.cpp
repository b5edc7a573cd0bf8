#include "tests/support/installer_run.h"

#include <commctrl.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"

namespace lbtest {
namespace {

BOOL CALLBACK FindMainWindow(HWND window, LPARAM lparam) {
  auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (owner != found->first || !IsWindowVisible(window)) return TRUE;
  if (lstrcmpW(name, L"LanternbrookOnlineInstaller") != 0) return TRUE;
  found->second = window;
  return FALSE;
}

}  // namespace

std::wstring InstallerExe() { return BuildDir() + L"\\bin\\LanternbrookInstaller.exe"; }

std::wstring QuoteArgumentForTest(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

bool StartProcess(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                  const RunOptions& options, KernelHandle* process, DWORD* pid) {
  std::wstring line = QuoteArgumentForTest(exe);
  for (const auto& argument : arguments) line += L" " + QuoteArgumentForTest(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  FileHandle in, out, err;
  const bool console = !options.output.empty();
  if (console) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto open = [&](const std::wstring& path, DWORD access, DWORD disposition) {
      return FileHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    in = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
    out = open(options.output + L".out", GENERIC_WRITE, CREATE_ALWAYS);
    err = open(options.output + L".err", GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_TRUE(in && out && err) << "cannot open the standard handles for " << Narrow(exe);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
  }
  // No application name: the first word of the line names the program, so
  // that a Unix program (/bin/sh) is found as Wine finds it.
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, console, console ? CREATE_NO_WINDOW : 0,
                      nullptr, nullptr, &startup, &info)) {
    ADD_FAILURE() << "cannot start " << Narrow(exe) << " (error " << GetLastError() << ")";
    return false;
  }
  KernelHandle thread(info.hThread), owned(info.hProcess);
  if (process) *process = std::move(owned);
  if (pid) *pid = info.dwProcessId;
  return true;
}

InstallerRun::InstallerRun(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                           const RunOptions& options) {
  started_ = GetTickCount();
  if (options.unix_environment.empty()) StartProcess(exe, arguments, options, &process_, &pid_);
  else StartFromUnix(exe, arguments, options.unix_environment);
  boxes_reader_ = MessageBoxReader(pid_);
}

// Wine takes a program's locale from the Unix environment it was started in,
// not from the Windows environment a parent hands down: such a program is
// started by `wine` from a shell, then found among the processes by its image.
void InstallerRun::StartFromUnix(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                                 const std::vector<std::string>& unix_environment) {
  const std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
  auto running = [&] {  // the ids of the processes running `exe`
    std::vector<DWORD> ids;
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));  // invalid as a file handle
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
      if (CompareStringOrdinal(entry.szExeFile, -1, name.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
      KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      wchar_t image[MAX_PATH * 4] = {};
      DWORD length = MAX_PATH * 4;
      if (process && QueryFullProcessImageNameW(process.get(), 0, image, &length) &&
          CompareStringOrdinal(image, -1, exe.c_str(), -1, TRUE) == CSTR_EQUAL) {
        ids.push_back(entry.th32ProcessID);
      }
    }
    return ids;
  };
  const std::vector<DWORD> before = running();
  std::string command = "setsid env";
  for (const std::string& variable : unix_environment) command += " " + ShellQuote(variable);
  command += " wine " + ShellQuote(WindowsToUnixPath(exe));
  for (const std::wstring& argument : arguments) command += " " + ShellQuote(Narrow(argument));
  started_ = GetTickCount();
  RunUnix(command + " </dev/null >/dev/null 2>&1 &");
  for (int attempt = 0; attempt < 3000 && !process_; ++attempt) {
    for (DWORD id : running()) {
      if (std::find(before.begin(), before.end(), id) != before.end()) continue;
      process_.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                                 FALSE, id));
      pid_ = id;
    }
    if (!process_) Sleep(10);
  }
  if (!process_) ADD_FAILURE() << "the program started from the Unix side never appeared";
}

InstallerRun::~InstallerRun() {
  if (!Ended()) Kill();
}

bool InstallerRun::Ended(DWORD wait_ms) const {
  return !process_ || WaitForSingleObject(process_.get(), wait_ms) == WAIT_OBJECT_0;
}

void InstallerRun::Kill() {
  if (!process_) return;
  TerminateProcess(process_.get(), 99);
  WaitForSingleObject(process_.get(), 10000);
}

DWORD InstallerRun::exit_code() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_.get(), &code);
  return code;
}

HWND InstallerRun::MainWindow() const {
  std::pair<DWORD, HWND> found{pid_, nullptr};
  EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&found));
  return found.second;
}

WindowSnapshot InstallerRun::Snapshot() const {
  WindowSnapshot snapshot;
  HWND window = MainWindow();
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

void InstallerRun::Pump() {
  WindowSnapshot now = Snapshot();
  if (now.found) last_ = now;
  boxes_reader_.Poll([&](SeenMessageBox& seen) {
    seen.seen_at_ms = GetTickCount() - started_;
    // The window's state as the box shows: taken after the box was found, so
    // the labels set before it was opened are there.
    now = Snapshot();
    const bool dismiss = !handler_ || handler_(seen, now);
    boxes_.push_back(seen);
    return dismiss;
  });
}

bool InstallerRun::WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  if (!process_) return false;
  DWORD start = GetTickCount();
  for (;;) {
    Pump();
    if (condition && condition()) return true;
    if (Ended(50)) return !condition;
    if (GetTickCount() - start >= timeout_ms) return false;
  }
}

bool InstallerRun::Wait(DWORD timeout_ms) { return WaitUntil(nullptr, timeout_ms); }

bool InstallerRun::RunToEnd(DWORD timeout_ms) {
  bool close_sent = false;
  WaitUntil(
      [&] {
        if (!close_sent && !boxes_.empty() && boxes_.back().caption == L"Instalacao do Lanternbrook") {
          if (HWND window = MainWindow()) close_sent = PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return false;
      },
      timeout_ms);
  if (Ended()) return true;
  ADD_FAILURE() << "the program did not end within " << timeout_ms << " ms; last status "
                << Narrow(last_.status) << " / " << Narrow(last_.detail);
  Kill();
  return false;
}

}  // namespace lbtest
