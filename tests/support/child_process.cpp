#include "tests/support/child_process.h"

#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "tests/support/test_support.h"

namespace lbtest {
namespace {

// An inheritable handle on `path`, for one of the child's standard handles.
FileHandle InheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  FileHandle file(CreateFileW(path.c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file) << "cannot open " << Narrow(path) << " for the child";
  return file;
}

// The ids of the processes whose image is `exe`.
std::vector<DWORD> ProcessesOf(const std::wstring& exe) {
  const std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
  std::vector<DWORD> ids;
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
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

ChildProcess::ChildProcess(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                           const RunOptions& options) {
  if (exe.starts_with(L"/")) {
    // Wine would start it without a process to watch, and with stale stack
    // bytes for its thread handle and ids.
    ADD_FAILURE() << "a Unix program runs through RunUnix: " << Narrow(exe);
    return;
  }
  if (!options.environment.empty()) {
    StartFromUnix(exe, arguments, options.environment);
    return;
  }
  std::wstring line = QuoteArgumentForTest(exe);
  for (const std::wstring& argument : arguments) line += L" " + QuoteArgumentForTest(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  FileHandle in, out, err;
  if (options.capture_output) {
    static std::atomic<int> counter{0};
    output_ = TestRunDir() + L"\\child-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(counter++);
    in = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    out = InheritableFile(output_ + L".out", GENERIC_WRITE, CREATE_ALWAYS);
    err = InheritableFile(output_ + L".err", GENERIC_WRITE, CREATE_ALWAYS);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, options.capture_output,
                      options.capture_output ? CREATE_NO_WINDOW : 0, nullptr, nullptr, &startup,
                      &info)) {
    ADD_FAILURE() << "cannot start " << Narrow(exe) << " (error " << GetLastError() << ")";
    return;
  }
  started_ = true;
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  pid_ = info.dwProcessId;
}

void ChildProcess::StartFromUnix(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                                 const std::vector<std::string>& environment) {
  const std::vector<DWORD> before = ProcessesOf(exe);
  std::string command = "setsid env";
  for (const std::string& variable : environment) command += " " + ShellQuote(variable);
  command += " wine " + ShellQuote(WindowsToUnixPath(exe));
  for (const std::wstring& argument : arguments) command += " " + ShellQuote(Narrow(argument));
  RunUnix(command + " </dev/null >/dev/null 2>&1 &");
  for (int attempt = 0; attempt < 3000 && !process_; ++attempt) {
    for (DWORD id : ProcessesOf(exe)) {
      if (std::find(before.begin(), before.end(), id) != before.end()) continue;
      process_.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                                 FALSE, id));
      pid_ = id;
    }
    if (!process_) Sleep(10);
  }
  started_ = process_.valid();
  if (!started_) ADD_FAILURE() << "the program started from the Unix side never appeared";
}

ChildProcess::~ChildProcess() {
  if (!Ended()) Kill();
  if (!output_.empty()) {
    DeleteFileW((output_ + L".out").c_str());
    DeleteFileW((output_ + L".err").c_str());
  }
}

bool ChildProcess::Wait(DWORD timeout_ms) const {
  return process_ && WaitForSingleObject(process_.get(), timeout_ms) == WAIT_OBJECT_0;
}

DWORD ChildProcess::exit_code() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_.get(), &code);
  return code;
}

void ChildProcess::Kill() {
  if (!process_) return;
  TerminateProcess(process_.get(), 99);
  WaitForSingleObject(process_.get(), 10000);
}

std::string ChildProcess::out() const { return output_.empty() ? "" : ReadFileBytes(output_ + L".out"); }
std::string ChildProcess::err() const { return output_.empty() ? "" : ReadFileBytes(output_ + L".err"); }

}  // namespace lbtest
