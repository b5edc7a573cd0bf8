#include "tests/support/installer_run.h"

#include <commctrl.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"

namespace lbtest {
namespace {

struct FindContext {
  DWORD pid;
  const wchar_t* class_name;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lparam) {
  auto* context = reinterpret_cast<FindContext*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != context->pid || !IsWindowVisible(window)) return TRUE;
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (lstrcmpW(name, context->class_name) == 0) context->found.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* class_name) {
  FindContext context{pid, class_name, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

std::wstring TextOf(HWND window) {
  if (!window) return {};
  wchar_t buffer[4096] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

BOOL CALLBACK FindBoxText(HWND child, LPARAM lparam) {
  wchar_t name[32] = {};
  GetClassNameW(child, name, 32);
  // The message text is the static control with id 0xFFFF.
  if (lstrcmpiW(name, L"Static") == 0 && GetDlgCtrlID(child) == 0xFFFF) {
    *reinterpret_cast<std::wstring*>(lparam) = TextOf(child);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

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

InstallerRun::InstallerRun(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                           const std::vector<std::string>& unix_environment) {
  std::wstring line = QuoteArgumentForTest(exe);
  for (const auto& argument : arguments) line += L" " + QuoteArgumentForTest(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  started_ = GetTickCount();
  if (!unix_environment.empty()) {
    StartFromUnix(exe, arguments, unix_environment);
    return;
  }
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    ADD_FAILURE() << "cannot start the program (error " << GetLastError() << ")";
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
}

// Wine takes a program's locale from the Unix environment it was started in,
// not from the Windows environment a parent hands down: such a program is
// started by `wine` from a shell, then found among the processes by its image.
void InstallerRun::StartFromUnix(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                                 const std::vector<std::string>& unix_environment) {
  const std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
  auto running = [&] {  // the ids of the processes running `exe`
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
      if (CompareStringOrdinal(entry.szExeFile, -1, name.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
      HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
      wchar_t image[MAX_PATH * 4] = {};
      DWORD length = MAX_PATH * 4;
      if (process && QueryFullProcessImageNameW(process, 0, image, &length) &&
          CompareStringOrdinal(image, -1, exe.c_str(), -1, TRUE) == CSTR_EQUAL) {
        ids.push_back(entry.th32ProcessID);
      }
      if (process) CloseHandle(process);
    }
    CloseHandle(snapshot);
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
      process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                             FALSE, id);
      pid_ = id;
    }
    if (!process_) Sleep(10);
  }
  if (!process_) ADD_FAILURE() << "the program started from the Unix side never appeared";
}

InstallerRun::~InstallerRun() {
  if (process_) {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) Kill();
    CloseHandle(process_);
  }
}

void InstallerRun::Kill() {
  if (!process_) return;
  TerminateProcess(process_, 99);
  WaitForSingleObject(process_, 10000);
}

DWORD InstallerRun::exit_code() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_, &code);
  return code;
}

HWND InstallerRun::MainWindow() const {
  auto windows = TopLevelWindows(pid_, L"LanternbrookOnlineInstaller");
  return windows.empty() ? nullptr : windows.front();
}

WindowSnapshot InstallerRun::Snapshot() const {
  WindowSnapshot snapshot;
  HWND window = MainWindow();
  if (!window) return snapshot;
  snapshot.found = true;
  snapshot.title = TextOf(window);
  snapshot.status = TextOf(GetDlgItem(window, 101));
  snapshot.detail = TextOf(GetDlgItem(window, 102));
  DWORD_PTR position = 0;
  if (SendMessageTimeoutW(GetDlgItem(window, 103), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position))
    snapshot.bar = static_cast<int>(position);
  return snapshot;
}

void InstallerRun::Pump() {
  WindowSnapshot now = Snapshot();
  if (now.found) last_ = now;
  for (HWND box : TopLevelWindows(pid_, L"#32770")) {
    if (std::find(handled_.begin(), handled_.end(), box) != handled_.end()) continue;
    SeenMessageBox seen;
    seen.caption = TextOf(box);
    EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&seen.text));
    seen.seen_at_ms = GetTickCount() - started_;
    if (seen.text.empty()) continue;  // not painted yet; look again next time
    // The window's state as the box shows: taken after the box was found, so
    // the labels set before it was opened are there.
    now = Snapshot();
    bool dismiss = !handler_ || handler_(seen, now);
    boxes_.push_back(seen);
    handled_.push_back(box);
    if (dismiss) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

bool InstallerRun::WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  if (!process_) return false;
  DWORD start = GetTickCount();
  for (;;) {
    Pump();
    if (condition && condition()) return true;
    if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) return !condition;
    if (GetTickCount() - start >= timeout_ms) return false;
  }
}

bool InstallerRun::Wait(DWORD timeout_ms) { return WaitUntil(nullptr, timeout_ms); }

}  // namespace lbtest
