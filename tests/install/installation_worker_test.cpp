// The installation run up to the network: options, the wait for a running
// application, the application folder, and how failures are reported. No
// server listens at the build's update origin, so a run that gets as far as
// the manifest request ends with the network failure; only the manifest
// checks that come before any download serve one.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/messages.h"
#include "install/installation_worker.h"
#include "tests/support/child_process.h"
#include "tests/support/expected_texts.h"
#include "tests/support/same_file_paths.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;
using namespace lbtest::texts;

constexpr char kStillOpen[] = "O Lanternbrook ainda esta aberto. Feche o programa e tente novamente.";
const std::string kFirstProgress = std::string(kPreparing) + "\n" + kAskingForVersion;

// A running stand-in application, ended when the test is done.
lbtest::ChildProcess StandIn(DWORD stay_ms) {
  return {lbtest::BuildDir() + L"\\stand-ins\\LanternbrookEmulator.exe",
          {L"--stay-ms", std::to_wstring(stay_ms)}};
}

class InstallationRunTest : public lbtest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    g_quiet = false;
    g_launchPath.clear();
    g_launchArgs.clear();
  }

  // Runs the installation on this thread with `options` after the program
  // name; returns what it posted and how long it took.
  std::vector<lbtest::PostedMessage> Run(const std::vector<std::wstring>& options) {
    std::vector<std::wstring> arguments{L"LanternbrookInstaller.exe"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    DWORD start = GetTickCount();
    RunInstallationWithArguments(arguments);
    elapsed_ms_ = GetTickCount() - start;
    return sink_.Drain();
  }

  // Exactly one completion, the last message, a failure; returns its text.
  static std::string FailureOf(const std::vector<lbtest::PostedMessage>& messages) {
    int completions = 0;
    for (const auto& m : messages) completions += m.message == CompletionMessage;
    EXPECT_EQ(completions, 1);
    if (messages.empty() || messages.back().message != CompletionMessage) {
      ADD_FAILURE() << "the run did not end with a CompletionMessage";
      return {};
    }
    EXPECT_EQ(messages.back().wparam, 0u) << "expected a failure";
    return Narrow(messages.back().text);
  }

  lbtest::MessageSink sink_{true};
  DWORD elapsed_ms_ = 0;
};

struct EndedProcessCase {
  const char* scenario;
  bool keep_handle;  // a handle keeps the ended process's object (and id) alive
};

void PrintTo(const EndedProcessCase& c, std::ostream* out) { *out << c.scenario; }

class WaitForEndedProcessTest : public InstallationRunTest,
                                public ::testing::WithParamInterface<EndedProcessCase> {};

TEST_P(WaitForEndedProcessTest, DoesNotWait) {
  lbtest::ChildProcess application = StandIn(0);
  ASSERT_TRUE(application.Wait(30000));
  if (!GetParam().keep_handle) application.Close();
  const std::wstring app_dir = Path(L"Lanternbrook");

  auto messages = Run({L"--app-dir", app_dir, L"--wait-pid", std::to_wstring(application.pid()),
                       L"--no-shortcut", L"--no-launch"});

  EXPECT_LT(elapsed_ms_, 30000u) << "the run waited";
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0].message, ProgressMessage);
  EXPECT_EQ(messages[0].wparam, 0u);
  EXPECT_EQ(Narrow(messages[0].text), kFirstProgress);
  EXPECT_EQ(FailureOf(messages), kNetworkFailure);
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(app_dir)));
  EXPECT_TRUE(g_launchPath.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, WaitForEndedProcessTest,
                         ::testing::Values(EndedProcessCase{"ended, handle still open", true},
                                           EndedProcessCase{"ended and released", false}));

TEST_F(InstallationRunTest, ProcessIdThatNamesNoProcessDoesNotWait) {
  // -1 becomes 4294967295, an id no process has.
  auto messages = Run({L"--app-dir", Path(L"app"), L"--wait-pid", L"-1", L"--quiet"});
  EXPECT_LT(elapsed_ms_, 30000u);
  EXPECT_EQ(FailureOf(messages), kNetworkFailure);
  EXPECT_TRUE(g_quiet) << "--quiet reaches the window's flag";
}

// Slow: waits the full minute for an application that stays open.
TEST_F(InstallationRunTest, ApplicationThatStaysOpenFailsAfterAMinute) {
  lbtest::ChildProcess application = StandIn(90000);
  Sleep(500);
  const std::wstring app_dir = Path(L"Lanternbrook");

  auto messages = Run({L"--app-dir", app_dir, L"--wait-pid", std::to_wstring(application.pid())});

  EXPECT_GE(elapsed_ms_, 59000u);
  EXPECT_LT(elapsed_ms_, 85000u);
  EXPECT_EQ(FailureOf(messages), kStillOpen);
  EXPECT_EQ(messages.size(), 1u) << "no progress before the wait ends";
  EXPECT_FALSE(lbtest::PathExists(app_dir)) << "the folder is made only after the wait";
}

struct FolderCase {
  const char* scenario;
  std::wstring blocker;   // a file created first, relative to the test folder; may be empty
  std::wstring app_dir;   // relative to the test folder, or absolute when it has a colon
  bool last_argument;     // --app-dir given as the last argument (empty value)
};

void PrintTo(const FolderCase& c, std::ostream* out) { *out << c.scenario; }

class UncreatableFolderTest : public InstallationRunTest,
                              public ::testing::WithParamInterface<FolderCase> {};

TEST_P(UncreatableFolderTest, ReportsTheFilesystemError) {
  const FolderCase& c = GetParam();
  if (!c.blocker.empty()) lbtest::WriteFileBytes(Path(c.blocker), "not a folder");
  std::wstring app_dir = c.app_dir.find(L':') != std::wstring::npos ? c.app_dir : Path(c.app_dir);
  std::vector<std::wstring> options{L"--no-shortcut"};
  if (c.last_argument) {
    app_dir.clear();
    options.push_back(L"--app-dir");
  } else {
    options.insert(options.begin(), {L"--app-dir", app_dir});
  }

  auto messages = Run(options);

  std::string text = FailureOf(messages);
  EXPECT_EQ(text.rfind("create_directories: ", 0), 0u) << text;
  const std::string quoted_path = ": \"" + Narrow(app_dir) + "\"";
  ASSERT_GE(text.size(), quoted_path.size()) << text;
  EXPECT_EQ(text.substr(text.size() - quoted_path.size()), quoted_path) << text;
  EXPECT_GT(text.size(), std::string("create_directories: ").size() + quoted_path.size())
      << "the system's message is missing: " << text;
  EXPECT_EQ(messages.size(), 1u) << "nothing else is reported before the failure";
}

INSTANTIATE_TEST_SUITE_P(
    Table, UncreatableFolderTest,
    ::testing::Values(
        FolderCase{"a file stands where a parent folder should be", L"blocker",
                   L"blocker\\Lanternbrook", false},
        FolderCase{"the folder itself is a file", L"Lanternbrook", L"Lanternbrook", false},
        FolderCase{"non-ASCII path is shown as written", L"\u00c1rea de Trabalho",
                   L"\u00c1rea de Trabalho\\Lanternbrook", false},
        FolderCase{"empty folder from --app-dir as last argument", L"", L"", true}));

// Two entries that Windows takes for one file: the manifest is refused before
// any file is requested; two that differ are both installed.
class SameFileManifestTest : public InstallationRunTest,
                             public ::testing::WithParamInterface<lbtest::SameFilePair> {};

TEST_P(SameFileManifestTest, IsRefusedBeforeAnyDownload) {
  const lbtest::SameFilePair& c = GetParam();
  lbtest::FaultServer server({.port = lbtest::UpdateOriginPort()});
  auto entry = [&](const std::string& path, const std::string& bytes) {
    server.PutFile("files/" + std::to_string(bytes.size()), bytes);
    return "{\"path\":" + lbtest::JsonString(path) + ",\"url\":\"/files/" +
           std::to_string(bytes.size()) + "\",\"hash\":\"" + lbtest::ReferenceSha256(bytes) +
           "\",\"size\":" + std::to_string(bytes.size()) + "}";
  };
  const bool second_is_updater = c.second == "LanternbrookUpdater.exe";
  std::string files = entry(c.first, "first");
  if (!second_is_updater) files += "," + entry(c.second, "second!");
  const std::string updater =
      entry("LanternbrookUpdater.exe", second_is_updater ? "second!" : "updater!!");
  server.PutFile("updates/manifest.json", "{\"version\":\"1.0\",\"build\":1,\"total_size\":1,"
                                          "\"files\":[" + files + "],\"bootstrap_updater\":" +
                                          updater + "}");

  auto messages = Run({L"--app-dir", Path(L"app"), L"--no-shortcut", L"--no-launch", L"--quiet"});

  ASSERT_FALSE(messages.empty());
  const std::vector<lbtest::ServerRequest> requests = server.Requests();
  if (c.same) {
    EXPECT_EQ(FailureOf(messages), kUnsafePath);
    EXPECT_EQ(requests.size(), 1u) << "only the manifest is requested";
    EXPECT_FALSE(lbtest::PathExists(Path(L"app\\.install-staging")));
  } else {
    EXPECT_EQ(messages.back().wparam, 1u) << Narrow(messages.back().text);
    EXPECT_EQ(lbtest::ReadFileBytes(Path(L"app\\" + lbtest::Widen(c.first))), "first");
    EXPECT_EQ(lbtest::ReadFileBytes(Path(L"app\\" + lbtest::Widen(c.second))), "second!");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SameFileManifestTest, ::testing::ValuesIn(lbtest::SameFilePairs()),
                         lbtest::CaseName());

struct TextCase {
  const char* scenario;
  std::string bytes;
  std::wstring expected;  // empty: only the ANSI-code-page checks apply
};

void PrintTo(const TextCase& c, std::ostream* out) { *out << c.scenario; }

class FailureTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(FailureTextTest, StaysReadable) {
  const TextCase& c = GetParam();
  std::wstring text = ExceptionTextToWide(c.bytes);
  if (!c.expected.empty() || c.bytes.empty()) {
    EXPECT_EQ(Narrow(text), Narrow(c.expected));
    return;
  }
  // Not UTF-8: read in the ANSI code page, one character per byte in the
  // single-byte code pages, and never the replacement character.
  EXPECT_EQ(text.rfind(L"Acesso negado: ", 0), 0u) << Narrow(text);
  EXPECT_EQ(text.find(L'\uFFFD'), std::wstring::npos) << Narrow(text);
  if (GetACP() == 1252) {
    EXPECT_EQ(Narrow(text), "Acesso negado: pasta \xC3\xA1rea \xC3\xA7");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailureTextTest,
    ::testing::Values(
        TextCase{"plain program message", kManifestRefused, lbtest::Widen(kManifestRefused)},
        TextCase{"UTF-8 is read as UTF-8", "remove: erro: \"C:\\\xC3\x81rea\"",
                 L"remove: erro: \"C:\\\u00c1rea\""},
        TextCase{"empty text", "", L""},
        TextCase{"code-page text is read in the ANSI code page",
                 "Acesso negado: pasta \xE1rea \xE7", L""}));

}  // namespace
