#pragma once
// Shared test support: a fresh temporary folder per test, file helpers, the
// paths of the build, Unix commands from inside Wine, and a window whose
// message queue collects what the code under test posts.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "tests/support/table_helpers.h"
#include "tests/support/test_release.h"  // JsonString

namespace lbtest {

// Environment of the test run (set by tests/support/wine-env), as Windows paths.
std::wstring BuildDir();    // the CMake build directory
std::wstring SourceDir();   // the repository
std::wstring TestRunDir();  // build/test-run: certificates, server logs, display
std::wstring CertsDir();    // build/test-run/certs
// The prefix's Desktop folder, created when missing; fails the test when
// there is none. Found here independently of the installer's own lookup.
std::wstring DesktopFolder();

// Z:\a\b <-> /a/b (Wine maps the host root to Z:).
std::wstring UnixToWindowsPath(const std::string& unix_path);
std::string WindowsToUnixPath(const std::wstring& windows_path);

std::string Narrow(const std::wstring& text);  // UTF-16 -> UTF-8
std::wstring Widen(const std::string& text);   // UTF-8 -> UTF-16

std::string ReadFileBytes(const std::wstring& path);  // fails the test when unreadable
void WriteFileBytes(const std::wstring& path, const std::string& bytes);  // creates parents
bool PathExists(const std::wstring& path);
std::uint64_t FileSize(const std::wstring& path);

// `text` with its ASCII letters in upper case.
std::string Upper(std::string text);

// Deterministic pseudo-random bytes.
std::string RandomBytes(std::size_t size, std::uint32_t seed);

// SHA-256 as lower-case hex, computed with an independent implementation
// (the host's openssl through a Unix command), for reference digests.
std::string ReferenceSha256(const std::string& bytes);

// Runs `command` with /bin/sh -c on the host, through the harness's command
// runner (tests/support/unix_runner.py), waits, returns its exit code; what
// the command prints ends up in this test's output. The harness must run.
int RunUnix(const std::string& command);
// Same, returning what it printed on standard output.
std::string RunUnixOutput(const std::string& command);

// Shell-quotes one argument for /bin/sh.
std::string ShellQuote(const std::string& text);


// A fresh, empty folder under the run directory for each test, removed after
// a passing test (kept after a failure, for inspection).
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::wstring& dir() const { return dir_; }
  std::wstring Path(const std::wstring& relative) const;

 private:
  std::wstring dir_;
};

// One posted message as the window received it.
struct PostedMessage {
  UINT message = 0;
  WPARAM wparam = 0;
  std::wstring text;  // the heap text of lParam, freed after copying
};

// A message-only window on the creating thread. Messages posted to it are
// collected by Drain(), which frees each payload as the real window would.
// With `as_main_window` it is g_mainWindow, where the worker posts, while it lives.
class MessageSink {
 public:
  explicit MessageSink(bool as_main_window = false);
  ~MessageSink();
  MessageSink(const MessageSink&) = delete;
  MessageSink& operator=(const MessageSink&) = delete;
  HWND window() const { return window_; }
  // Collects every ProgressMessage/CompletionMessage posted so far.
  std::vector<PostedMessage> Drain();
  // Pumps until a CompletionMessage arrives or `timeout_ms` passes.
  std::vector<PostedMessage> WaitForCompletion(DWORD timeout_ms);

 private:
  HWND window_ = nullptr;
  bool main_window_ = false;
};

}  // namespace lbtest
