// The progress window, created in this process under Xvfb with a test worker
// procedure in place of the installation run; the test plays the worker by
// posting the two messages itself.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "install/launch_arguments.h"
#include "tests/support/expected_texts.h"
#include "tests/support/launch_record.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_release.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;
using lbtest::Widen;
using lbtest::WindowText;
namespace texts = lbtest::texts;

std::atomic<int> g_workerStarts{0};
std::atomic<HWND> g_windowSeenByWorker{nullptr};

void RecordingWorker() {
  g_windowSeenByWorker = g_mainWindow;
  ++g_workerStarts;
}

using lbtest::LaunchRecord;
using lbtest::ParseLaunchRecord;

class InstallerWindowTest : public lbtest::TempDirTest {
 protected:
  static void SetUpTestSuite() {
    static const bool registered = RegisterInstallerWindowClass(GetModuleHandleW(nullptr));
    ASSERT_TRUE(registered);
  }

  void SetUp() override {
    TempDirTest::SetUp();
    g_installRunning = true;
    g_quiet = false;
    g_launchPath.clear();
    g_launchArgs.clear();
    g_mainWindow = nullptr;
    SetWorkerProcedure(&RecordingWorker);
    starts_before_ = g_workerStarts;
    window_ = CreateInstallerWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window_, nullptr);
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
  }

  void TearDown() override {
    if (IsWindow(window_)) {
      g_installRunning = false;
      DestroyWindow(window_);
    }
    PumpPending();
    TempDirTest::TearDown();
  }

  // Dispatches what is queued for this thread; notes a WM_QUIT.
  void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit_seen_ = true;
        quit_code_ = msg.wParam;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  bool PumpUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
      PumpPending();
      if (condition()) return true;
      if (GetTickCount() - start >= timeout_ms) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
  }

  void Post(UINT message, WPARAM wparam, const std::wstring& text) {
    ASSERT_TRUE(PostTextMessage(window_, message, wparam, text));
  }

  std::string Label(int id) const { return Narrow(WindowText(GetDlgItem(window_, id))); }
  int Bar() const {
    return static_cast<int>(SendMessageW(GetDlgItem(window_, 103), PBM_GETPOS, 0, 0));
  }
  bool Gone() const { return !IsWindow(window_); }

  // A copy of the stand-in application in a folder with a blank in its name.
  std::wstring InstallStandIn() {
    const std::wstring exe = Path(L"app folder\\LanternbrookEmulator.exe");
    lbtest::WriteFileBytes(exe, lbtest::StandIn("LanternbrookEmulator.exe"));
    return exe;
  }

  std::wstring RecordPath() const { return Path(L"app folder\\LanternbrookEmulator.launch.txt"); }

  bool WaitForRecord(DWORD timeout_ms) {
    return PumpUntil([&] { return lbtest::PathExists(RecordPath()); }, timeout_ms);
  }

  HWND window_ = nullptr;
  int starts_before_ = 0;
  bool quit_seen_ = false;
  WPARAM quit_code_ = 99;
};

// `child` as created: its class, text, place in the client coordinates of
// `parent` ({left, top, width, height}) and the low word of its style.
void ExpectControl(HWND parent, HWND child, const std::wstring& class_name, const std::wstring& text,
                   RECT rect, LONG style) {
  wchar_t name[64] = {};
  GetClassNameW(child, name, 64);
  EXPECT_EQ(lstrcmpiW(name, class_name.c_str()), 0) << Narrow(name);
  EXPECT_EQ(Narrow(WindowText(child)), Narrow(text));
  RECT place{};
  GetWindowRect(child, &place);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
  EXPECT_EQ(place.left, rect.left);
  EXPECT_EQ(place.top, rect.top);
  EXPECT_EQ(place.right - place.left, rect.right);
  EXPECT_EQ(place.bottom - place.top, rect.bottom);
  const LONG actual = GetWindowLongW(child, GWL_STYLE);
  EXPECT_EQ(actual & 0xFFFF0000, 0x50000000) << std::hex << actual;
  EXPECT_EQ(actual & 0xFFFF, style) << std::hex << actual;
}

TEST_F(InstallerWindowTest, WindowAndControlsAsCreated) {
  EXPECT_EQ(Narrow(WindowText(window_)), "Instalador Lanternbrook");
  wchar_t name[64] = {};
  GetClassNameW(window_, name, 64);
  EXPECT_EQ(Narrow(name), "LanternbrookOnlineInstaller");
  EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & 0x00FF0000, 0x00CA0000);
  EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  RECT outer{};
  GetWindowRect(window_, &outer);
  EXPECT_EQ(outer.right - outer.left, 576);
  EXPECT_EQ(outer.bottom - outer.top, 246);
  EXPECT_EQ(GetClassLongPtrW(window_, GCLP_HBRBACKGROUND), COLOR_WINDOW + 1);

  EXPECT_EQ(g_statusLabel, GetDlgItem(window_, 101));
  EXPECT_EQ(g_detailLabel, GetDlgItem(window_, 102));
  EXPECT_EQ(g_progressBar, GetDlgItem(window_, 103));

  std::vector<HWND> children;
  for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  ASSERT_EQ(children.size(), 4u);  // in creation order
  ExpectControl(window_, children[0], L"STATIC", Widen(texts::kPreparing), {28, 30, 504, 28}, 0);
  ExpectControl(window_, children[1], L"STATIC", L"Aguarde...", {28, 70, 504, 44}, 0);
  ExpectControl(window_, children[2], L"msctls_progress32", L"", {28, 126, 504, 24}, PBS_SMOOTH);
  ExpectControl(window_, children[3], L"STATIC", L"Os downloads interrompidos sao retomados automaticamente.",
                {28, 166, 504, 22}, 0);
  EXPECT_EQ(GetDlgCtrlID(children[3]), 0);

  HGDIOBJ gui_font = GetStockObject(DEFAULT_GUI_FONT);
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(children[0], WM_GETFONT, 0, 0)), gui_font);
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(children[1], WM_GETFONT, 0, 0)), gui_font);
  EXPECT_NE(reinterpret_cast<HGDIOBJ>(SendMessageW(children[3], WM_GETFONT, 0, 0)), gui_font);

  PBRANGE range{};
  SendMessageW(children[2], PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 1000);
  EXPECT_EQ(Bar(), 0);
}

TEST_F(InstallerWindowTest, WorkerStartsOnceAndFindsTheWindowPublished) {
  ASSERT_TRUE(PumpUntil([&] { return g_workerStarts > starts_before_; }, 5000));
  Sleep(100);
  EXPECT_EQ(g_workerStarts, starts_before_ + 1);
  EXPECT_EQ(g_windowSeenByWorker.load(), window_);
  EXPECT_EQ(g_mainWindow, window_);
}

struct ProgressPost {
  WPARAM position;
  std::wstring text;
};

// Posts queued together, as while the window is busy; one dispatch of the
// first shows the newest and frees every text.
struct ProgressCase {
  const char* scenario;
  std::vector<ProgressPost> posts;
  std::string status;
  std::string detail;
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.scenario; }

class ProgressMessageTest : public InstallerWindowTest,
                            public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressMessageTest, SetsLabelsAndBar) {
  const ProgressCase& c = GetParam();
  const long outstanding = OutstandingMessageTexts();
  for (const ProgressPost& post : c.posts) Post(ProgressMessage, post.position, post.text);
  ASSERT_EQ(OutstandingMessageTexts(), outstanding + long(c.posts.size()));
  MSG first;
  ASSERT_TRUE(PeekMessageW(&first, window_, ProgressMessage, ProgressMessage, PM_REMOVE));
  DispatchMessageW(&first);
  EXPECT_EQ(Label(101), c.status);
  EXPECT_EQ(Label(102), c.detail);
  EXPECT_EQ(Bar(), static_cast<int>(c.posts.back().position));
  EXPECT_EQ(OutstandingMessageTexts(), outstanding) << "texts not freed";
  MSG left;
  EXPECT_FALSE(PeekMessageW(&left, window_, ProgressMessage, ProgressMessage, PM_NOREMOVE))
      << "progress left in the queue";
  EXPECT_TRUE(IsWindow(window_));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressMessageTest,
    ::testing::Values(
        ProgressCase{"status over detail",
                     {{250, L"Baixando Lanternbrook\nbin\\LanternbrookEmulator.exe"}},
                     "Baixando Lanternbrook", "bin\\LanternbrookEmulator.exe"},
        ProgressCase{"no line feed: all status, detail cleared", {{400, L"Verificando instalacao"}},
                     "Verificando instalacao", ""},
        ProgressCase{"leading line feed: status cleared", {{10, L"\nsomente detalhe"}}, "",
                     "somente detalhe"},
        ProgressCase{"later line feeds stay in the detail", {{999, L"Estado\nlinha 1\nlinha 2"}},
                     "Estado", "linha 1\nlinha 2"},
        ProgressCase{"empty text clears both", {{0, L""}}, "", ""},
        ProgressCase{"non-ASCII text", {{1000, L"Estado \u00e9\nArquivo \u00e7"}},
                     "Estado \xC3\xA9", "Arquivo \xC3\xA7"},
        ProgressCase{"queued posts: the newest shows, detail cleared",
                     {{100, L"Primeiro\nA"}, {700, L"Segundo"}}, "Segundo", ""},
        ProgressCase{"queued posts: the bar may go back with the newest",
                     {{300, L"Baixando Lanternbrook\na.bin"},
                      {600, L"Baixando Lanternbrook\na.bin"},
                      {450, L"Baixando Lanternbrook\nb.bin"},
                      {500, L"Verificando instalacao\nc.bin"}},
                     "Verificando instalacao", "c.bin"}));

TEST_F(InstallerWindowTest, CloseDuringTheRunWarnsAndKeepsTheWindow) {
  lbtest::BoxWatcher watcher(window_);
  Post(ProgressMessage, 321, L"Baixando Lanternbrook\narquivo.bin");
  for (int attempt = 0; attempt < 3; ++attempt) {
    ASSERT_TRUE(PostMessageW(window_, WM_CLOSE, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return watcher.boxes().size() == size_t(attempt + 1); }, 10000))
        << "no warning for close attempt " << attempt + 1;
    PumpPending();
    ASSERT_TRUE(IsWindow(window_));
  }
  for (const auto& box : watcher.boxes()) {
    EXPECT_EQ(Narrow(box.caption), texts::kSuccessCaption);
    EXPECT_EQ(Narrow(box.text), texts::kCloseRefused);
  }
  EXPECT_TRUE(g_installRunning);
  EXPECT_FALSE(quit_seen_);
  EXPECT_EQ(Label(101), "Baixando Lanternbrook");
  EXPECT_EQ(Bar(), 321);
}

struct CompletionCase {
  const char* scenario;
  bool success;
  bool quiet;
};

void PrintTo(const CompletionCase& c, std::ostream* out) { *out << c.scenario; }

class CompletionMessageTest : public InstallerWindowTest,
                              public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(CompletionMessageTest, ShowsTheOutcome) {
  const CompletionCase& c = GetParam();
  const std::wstring text = Widen(c.success ? texts::kSuccess : texts::kNetworkFailure);
  g_quiet = c.quiet;
  // While the box is open: labels and bar as the user sees them.
  std::string status_at_box, detail_at_box;
  int bar_at_box = -1;
  lbtest::BoxWatcher watcher(window_, [&] {
    status_at_box = Label(101);
    detail_at_box = Label(102);
    bar_at_box = Bar();
    return true;
  });
  Post(ProgressMessage, 420, L"Baixando Lanternbrook\narquivo.bin");
  Post(CompletionMessage, c.success ? 1 : 0, text);

  const bool closes = c.success || c.quiet;
  if (closes) {
    ASSERT_TRUE(PumpUntil([&] { return Gone(); }, 10000)) << "the window stayed open";
    EXPECT_TRUE(quit_seen_);
    EXPECT_EQ(quit_code_, 0u);
  } else {
    ASSERT_TRUE(PumpUntil([&] { return watcher.boxes().size() == 1; }, 10000));
    PumpUntil([] { return false; }, 300);  // the box is dismissed meanwhile
    ASSERT_TRUE(IsWindow(window_)) << "a failure without quiet leaves the window open";
    EXPECT_EQ(Label(101), texts::kFailedStatus);
    EXPECT_EQ(Label(102), Narrow(text));
    EXPECT_EQ(Bar(), 420) << "the bar stays where it was";
  }
  EXPECT_FALSE(g_installRunning);

  auto boxes = watcher.boxes();
  if (c.quiet) {
    EXPECT_TRUE(boxes.empty());
  } else {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Narrow(boxes[0].caption), c.success ? texts::kSuccessCaption : texts::kFailureCaption);
    EXPECT_EQ(Narrow(boxes[0].text), Narrow(text));
    EXPECT_EQ(status_at_box, c.success ? "Instalacao concluida" : texts::kFailedStatus);
    EXPECT_EQ(detail_at_box, Narrow(text));
    EXPECT_EQ(bar_at_box, c.success ? 1000 : 420);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompletionMessageTest,
    ::testing::Values(CompletionCase{"success with a box", true, false},
                      CompletionCase{"success quiet closes without a box", true, true},
                      CompletionCase{"failure with a box stays open", false, false},
                      CompletionCase{"failure quiet closes without a box", false, true}));

TEST_F(InstallerWindowTest, FailedWindowClosesNormallyAfterwards) {
  lbtest::BoxWatcher watcher(window_);
  Post(CompletionMessage, 0, Widen(texts::kManifestRefused));
  ASSERT_TRUE(PumpUntil([&] { return watcher.boxes().size() == 1; }, 10000));
  PumpUntil([] { return false; }, 300);
  ASSERT_TRUE(IsWindow(window_));
  ASSERT_TRUE(PostMessageW(window_, WM_CLOSE, 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return Gone(); }, 10000));
  EXPECT_EQ(watcher.boxes().size(), 1u) << "closing after the failure shows no warning";
  EXPECT_TRUE(quit_seen_);
}

struct LaunchCase {
  const char* scenario;
  std::vector<std::wstring> arguments;
};

void PrintTo(const LaunchCase& c, std::ostream* out) { *out << c.scenario; }

class LaunchTest : public InstallerWindowTest, public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchTest, StartsTheApplicationWithTheQuotedArguments) {
  const std::wstring exe = InstallStandIn();
  g_quiet = true;
  g_launchPath = exe;
  g_launchArgs = BuildLaunchArguments(GetParam().arguments);
  Post(CompletionMessage, 1, Widen(texts::kSuccess));
  ASSERT_TRUE(PumpUntil([&] { return Gone(); }, 10000));
  ASSERT_TRUE(WaitForRecord(30000)) << "the application was not started";

  LaunchRecord record = ParseLaunchRecord(lbtest::Widen(lbtest::ReadFileBytes(RecordPath())));
  ASSERT_EQ(record.argv.size(), GetParam().arguments.size() + 1) << Narrow(record.command_line);
  EXPECT_EQ(lstrcmpiW(record.argv[0].c_str(), exe.c_str()), 0) << Narrow(record.argv[0]);
  for (size_t i = 0; i < GetParam().arguments.size(); ++i) {
    EXPECT_EQ(Narrow(record.argv[i + 1]), Narrow(GetParam().arguments[i])) << "argument " << i;
  }
  if (GetParam().arguments.empty()) {
    // No parameters at all: nothing follows the program on its command line.
    std::wstring line = record.command_line;
    while (!line.empty() && line.back() == L' ') line.pop_back();
    EXPECT_TRUE(line == exe || line == L"\"" + exe + L"\"") << Narrow(record.command_line);
  }
  EXPECT_EQ(lstrcmpiW(record.working_directory.c_str(), Path(L"app folder").c_str()), 0)
      << Narrow(record.working_directory);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchTest,
    ::testing::Values(
        LaunchCase{"no arguments", {}},
        LaunchCase{"plain arguments", {L"--rom", L"C:\\roms\\game.rom"}},
        LaunchCase{"blank, empty and trailing backslash", {L"C:\\My Roms\\", L"", L"two  blanks"}},
        LaunchCase{"quotes and backslashes", {L"say \"hi\"", L"a\\\\\"b", L"\\\\server\\share\\"}},
        LaunchCase{"tab and non-ASCII", {L"a\tb", L"Jo\u00e3o \u00c1rea"}}));

TEST_F(InstallerWindowTest, NoLaunchWhenThePathIsEmpty) {
  const std::wstring exe = InstallStandIn();
  g_quiet = true;
  g_launchArgs = L"--ignored";
  Post(CompletionMessage, 1, Widen(texts::kSuccess));
  ASSERT_TRUE(PumpUntil([&] { return Gone(); }, 10000));
  EXPECT_FALSE(WaitForRecord(3000)) << "something was started";
}

TEST_F(InstallerWindowTest, ApplicationStartsOnlyAfterTheSuccessBoxIsDismissed) {
  const std::wstring exe = InstallStandIn();
  g_launchPath = exe;
  const std::wstring record = RecordPath();
  lbtest::BoxWatcher watcher(window_, [&] {
    Sleep(1500);  // time enough for a premature start to show up
    return !lbtest::PathExists(record);
  });
  Post(CompletionMessage, 1, Widen(texts::kSuccess));
  ASSERT_TRUE(PumpUntil([&] { return Gone(); }, 15000));
  ASSERT_EQ(watcher.boxes().size(), 1u);
  EXPECT_TRUE(watcher.boxes()[0].condition_held) << "started while the box was open";
  EXPECT_TRUE(WaitForRecord(30000)) << "not started after the box";
}

TEST_F(InstallerWindowTest, FailureNeverLaunches) {
  const std::wstring exe = InstallStandIn();
  g_quiet = true;
  g_launchPath = exe;
  Post(CompletionMessage, 0, Widen(texts::kUpdaterFailed));
  ASSERT_TRUE(PumpUntil([&] { return Gone(); }, 10000));
  EXPECT_FALSE(WaitForRecord(3000));
}

}  // namespace
