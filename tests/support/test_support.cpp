#include "tests/support/test_support.h"

#include <shlobj.h>

#include "app/globals.h"
#include "app/messages.h"
#include "common/com_ptr.h"
#include "common/files.h"
#include "common/text.h"
#include "common/win_handles.h"
#include "tests/support/child_process.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace lbtest {
namespace {

std::wstring EnvPath(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) {
    ADD_FAILURE() << name << " is not set: run the tests through ctest (tests/support/wine-run)";
    return L"";
  }
  return UnixToWindowsPath(value);
}

// The test program's own Wine error channel is on (tests/support/wine-run
// keeps it apart and shows it when the program fails); the programs a test
// starts get the harness's setting back, as their output is compared.
const bool child_wine_debug_restored = [] {
  if (const char* setting = std::getenv("LB_CHILD_WINEDEBUG")) {
    SetEnvironmentVariableA("WINEDEBUG", setting);
  }
  return true;
}();

}  // namespace

std::wstring BuildDir() { return EnvPath("LB_BUILD_DIR"); }
std::wstring SourceDir() { return EnvPath("LB_SOURCE_DIR"); }
std::wstring TestRunDir() { return EnvPath("LB_TEST_RUN_DIR"); }
std::wstring CertsDir() { return TestRunDir() + L"\\certs"; }

std::wstring DesktopFolder() {
  PWSTR raw = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_CREATE, nullptr, &raw);
  CoTaskMemory owned(raw);
  EXPECT_TRUE(SUCCEEDED(hr) && raw) << "no Desktop in the test prefix";
  return raw ? std::wstring(raw) : std::wstring();
}

std::wstring UnixToWindowsPath(const std::string& unix_path) {
  std::wstring result = L"Z:";
  for (wchar_t c : Widen(unix_path)) result += (c == L'/') ? L'\\' : c;
  return result;
}

std::string WindowsToUnixPath(const std::wstring& windows_path) {
  using Converter = char* (*)(const wchar_t*);
  static auto convert = reinterpret_cast<Converter>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
  if (!convert) {
    ADD_FAILURE() << "not running under Wine";
    return {};
  }
  char* unix_name = convert(windows_path.c_str());
  if (!unix_name) return {};
  std::string result(unix_name);
  HeapFree(GetProcessHeap(), 0, unix_name);
  return result;
}

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(length, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
  return result;
}

std::string ReadFileBytes(const std::wstring& path) {
  // Shared for deletion too: a file that another program has just renamed
  // into place may still be open there for the rename.
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    ADD_FAILURE() << "cannot read " << Narrow(path) << " (error " << GetLastError() << ")";
    return {};
  }
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << Narrow(path);
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint64_t FileSize(const std::wstring& path) { return RegularFileSize(path).value_or(0); }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

// The last line of a command file (see unix_runner.py).
constexpr char kUnixCommandEnd[] = "# end of command\n";

int RunUnix(const std::string& command) {
  // The command goes to the harness's runner (tests/support/unix_runner.py)
  // as a file, and its status comes back as one: a Unix program started by
  // Wine itself would cost the wineserver a file descriptor for good.
  // Process ids come round again within a run: the names carry a token of
  // this process's own.
  static const std::wstring token = [] {
    std::random_device random;
    return std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(random()) + L"-";
  }();
  static std::atomic<int> counter{0};
  const std::wstring name = TestRunDir() + L"\\unix-runner\\" + token + std::to_wstring(counter++);
  wchar_t folder[MAX_PATH * 4] = {};
  GetCurrentDirectoryW(MAX_PATH * 4, folder);
  // Written in place, not renamed into place: the runner takes the file once
  // its last line is there.
  WriteFileBytes(name + L".cmd", WindowsToUnixPath(folder) + "\n" + command + "\n" + kUnixCommandEnd);
  const std::wstring status_file = name + L".status";
  for (DWORD waited = 0; !PathExists(status_file); waited += 5) {
    if (waited > 10000 && PathExists(name + L".cmd")) {
      DeleteFileW((name + L".cmd").c_str());
      ADD_FAILURE() << "no command runner takes the command (tests/support/harness start): " << command;
      return -1;
    }
    if (waited > 30 * 60 * 1000) {
      ADD_FAILURE() << "the command never ended: " << command;
      return -1;
    }
    Sleep(5);
  }
  const std::string status = ReadFileBytes(status_file);
  const std::string output = ReadFileBytes(name + L".log");
  if (!output.empty()) std::fwrite(output.data(), 1, output.size(), stdout);
  DeleteFileW(status_file.c_str());
  DeleteFileW((name + L".log").c_str());
  return std::atoi(status.c_str());
}

std::string RunUnixOutput(const std::string& command) {
  static std::atomic<int> counter{0};
  std::wstring out = TestRunDir() + L"\\unix-output-" + std::to_wstring(GetCurrentProcessId()) +
                     L"-" + std::to_wstring(counter++) + L".txt";
  RunUnix(command + " > " + ShellQuote(WindowsToUnixPath(out)));
  std::string text = ReadFileBytes(out);
  DeleteFileW(out.c_str());
  return text;
}

std::string ReferenceSha256(const std::string& bytes) {
  std::wstring file = TestRunDir() + L"\\sha-input-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
  WriteFileBytes(file, bytes);
  std::string output = RunUnixOutput("sha256sum " + ShellQuote(WindowsToUnixPath(file)));
  DeleteFileW(file.c_str());
  return output.substr(0, 64);
}

void TempDirTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/' || c == '\\' || c == ':') c = '_';
  }
  dir_ = TestRunDir() + L"\\tmp\\" + Widen(name) + L"-" + std::to_wstring(GetCurrentProcessId());
  // Removed from the Unix side: Wine lists names it cannot open (a trailing
  // dot, bytes that are not UTF-8), and a Windows-side removal would stall.
  RunUnix("rm -rf " + ShellQuote(WindowsToUnixPath(dir_)));
  std::filesystem::create_directories(std::filesystem::path(dir_));
}

void TempDirTest::TearDown() {
  if (!HasFailure()) RunUnix("rm -rf " + ShellQuote(WindowsToUnixPath(dir_)));
}

std::wstring TempDirTest::Path(const std::wstring& relative) const { return dir_ + L"\\" + relative; }

MessageSink::MessageSink(bool as_main_window) : main_window_(as_main_window) {
  window_ = CreateWindowExW(0, L"STATIC", L"lanternbrook-test-sink", 0, 0, 0, 0, 0, HWND_MESSAGE,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  EXPECT_NE(window_, nullptr) << "cannot create the message window";
  if (main_window_) g_mainWindow = window_;
}

MessageSink::~MessageSink() {
  if (main_window_) g_mainWindow = nullptr;
  Drain();
  if (window_) DestroyWindow(window_);
}

std::vector<PostedMessage> MessageSink::Drain() {
  std::vector<PostedMessage> received;
  MSG msg;
  while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
    if (msg.message == ProgressMessage || msg.message == CompletionMessage) {
      std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(msg.lParam));
      received.push_back({msg.message, msg.wParam, text ? *text : std::wstring()});
    }
  }
  return received;
}

std::vector<PostedMessage> MessageSink::WaitForCompletion(DWORD timeout_ms) {
  std::vector<PostedMessage> received;
  DWORD start = GetTickCount();
  for (;;) {
    for (auto& m : Drain()) received.push_back(std::move(m));
    if (!received.empty() && received.back().message == CompletionMessage) return received;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) return received;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms - elapsed, QS_POSTMESSAGE);
  }
}

}  // namespace lbtest
