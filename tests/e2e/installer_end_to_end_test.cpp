// The real LanternbrookInstaller.exe, run as a user or an updater runs it,
// under Xvfb against nginx and the fault server on the update origin's port.
// Each scenario checks the application folder, the staging folder,
// version.json, the shortcut, the stand-in application's launch record and
// the server's request log.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/support/installer_run.h"
#include "tests/support/launch_record.h"
#include "tests/support/test_release.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::DesktopFolder;
using lbtest::Narrow;
namespace texts = lbtest::texts;

const char kReleasePrefix[] = "/release/";

std::wstring ShortcutPath() { return DesktopFolder() + L"\\Lanternbrook.lnk"; }

// How a scenario bends the run.
enum class Twist {
  kNone,
  kSecondRunIntact,   // a first run installs; the checked run finds everything intact
  kKillThenResume,    // a first run is killed mid-download; the checked run resumes
  kFailInTheMiddle,   // the second file of the list is refused by the server
  kCloseDuringRun,    // WM_CLOSE while a download stalls: warning, run goes on
  kWaitForLiveApp,    // --wait-pid of a stand-in that exits after a few seconds
};

// What a scenario runs and what it expects; a row names what differs from
// a plain successful run of the stand-in with launch, no shortcut, a box.
struct Scenario {
  const char* name;
  Twist twist = Twist::kNone;
  bool fault_server = false;       // else nginx
  bool default_folder = false;     // no --app-dir: Desktop\Lanternbrook
  std::vector<std::wstring> args;  // "{app}" is replaced by the test's app_dir
  // The relative path of the launched program in the release.
  std::wstring executable = L"LanternbrookEmulator.exe";
  bool success = true;
  bool shortcut = false;
  bool launch = true;
  bool quiet = false;
  std::vector<std::wstring> launch_args;
};

std::ostream& operator<<(std::ostream& out, const Scenario& s) { return out << s.name; }

const std::vector<std::wstring> kAwkwardArgs = {
    L"plain", L"with blank", L"quo\"te", L"trailing\\", L"dir with blank\\", L"", L"a\\\\\"b"};

const Scenario kScenarios[] = {
    {.name = "FreshInstallWithoutArguments", .default_folder = true, .shortcut = true},
    {.name = "SecondRunFindsEverythingIntact", .twist = Twist::kSecondRunIntact,
     .args = {L"--app-dir", L"{app}", L"--quiet", L"--no-shortcut"}, .quiet = true},
    {.name = "KilledMidDownloadThenResumed", .twist = Twist::kKillThenResume, .fault_server = true,
     .args = {L"--app-dir", L"{app}", L"--quiet", L"--no-shortcut", L"--no-launch"},
     .launch = false, .quiet = true},
    {.name = "FailureInTheMiddleOfTheList", .twist = Twist::kFailInTheMiddle, .fault_server = true,
     .args = {L"--app-dir", L"{app}"}, .success = false, .launch = false},
    {.name = "OptionsAndAwkwardLaunchArguments",
     .args = {L"--app-dir", L"{app}", L"--app-executable", L"bin\\LanternbrookEmulator.exe", L"--quiet",
              L"--no-shortcut", L"--launch-arg", kAwkwardArgs[0], L"--launch-arg", kAwkwardArgs[1],
              L"--launch-arg", kAwkwardArgs[2], L"--launch-arg", kAwkwardArgs[3], L"--launch-arg",
              kAwkwardArgs[4], L"--launch-arg", kAwkwardArgs[5], L"--launch-arg", kAwkwardArgs[6]},
     .executable = L"bin\\LanternbrookEmulator.exe", .quiet = true, .launch_args = kAwkwardArgs},
    {.name = "NoLaunchQuiet", .args = {L"--app-dir", L"{app}", L"--no-launch", L"--quiet", L"--no-shortcut"},
     .launch = false, .quiet = true},
    {.name = "CloseDuringRunIsRefused", .twist = Twist::kCloseDuringRun, .fault_server = true,
     .args = {L"--app-dir", L"{app}", L"--no-shortcut"}},
    {.name = "WaitsForTheRunningApplication", .twist = Twist::kWaitForLiveApp,
     .args = {L"--app-dir", L"{app}", L"--quiet", L"--no-shortcut", L"--no-launch"},
     .launch = false, .quiet = true},
};

class InstallerEndToEnd : public lbtest::TempDirTest,
                          public ::testing::WithParamInterface<Scenario> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CleanDesktop();
    const Scenario& s = GetParam();
    app_dir_ = s.default_folder ? DesktopFolder() + L"\\Lanternbrook" : Path(L"app");
    const lbtest::ServerOptions options{.port = lbtest::UpdateOriginPort()};
    if (s.fault_server) {
      fault_ = std::make_unique<lbtest::FaultServer>(options);
      server_ = fault_.get();
    } else {
      nginx_ = std::make_unique<lbtest::NginxServer>(options);
      server_ = nginx_.get();
    }
    std::string executable = Narrow(s.executable);
    for (char& c : executable) c = (c == '\\') ? '/' : c;
    release_ = {"2.0.1-e2e", 2001,
                {lbtest::StandInFile("LanternbrookEmulator.exe", executable, kReleasePrefix),
                 lbtest::MakeFile("data/maps/\xC3\xA1rea 1.bin", 3 << 20, 7, kReleasePrefix),
                 lbtest::FileWithBytes("data/readme.txt", "Lanternbrook\r\n", kReleasePrefix),
                 lbtest::MakeFile("data/big.bin", 6 << 20, 11, kReleasePrefix)},
                lbtest::StandInFile("LanternbrookUpdater.exe", "LanternbrookUpdater.exe", kReleasePrefix)};
    lbtest::Publish(*server_, release_);
  }

  void TearDown() override {
    CleanDesktop();
    CoUninitialize();
    TempDirTest::TearDown();
  }

  void CleanDesktop() {
    std::error_code ignored;
    DeleteFileW(ShortcutPath().c_str());
    std::filesystem::remove_all(std::filesystem::path(DesktopFolder() + L"\\Lanternbrook"), ignored);
  }

  std::vector<std::wstring> Arguments() const {
    std::vector<std::wstring> args;
    for (const auto& a : GetParam().args) args.push_back(a == L"{app}" ? app_dir_ : a);
    return args;
  }

  std::wstring LaunchedExe() const { return app_dir_ + L"\\" + GetParam().executable; }
  std::wstring RecordPath() const { return lbtest::LaunchRecordPath(LaunchedExe()); }
  std::wstring StagingDir() const { return app_dir_ + L"\\.install-staging"; }

  std::vector<std::string> FileRequests() const {
    std::vector<std::string> paths;
    for (const auto& r : server_->Requests()) {
      if (r.path.rfind(kReleasePrefix, 0) == 0) paths.push_back(r.path);
    }
    return paths;
  }

  // Runs the installer to its end; message boxes are read and dismissed.
  std::unique_ptr<lbtest::InstallerRun> RunToEnd() {
    auto run = std::make_unique<lbtest::InstallerRun>(lbtest::InstallerExe(), Arguments());
    run->OnMessageBox([this](const lbtest::SeenMessageBox& box, const lbtest::WindowSnapshot& w) {
      if (Narrow(box.text) == texts::kSuccess) record_before_success_box_ = lbtest::PathExists(RecordPath());
      failure_detail_ = w.detail;
      failure_status_ = w.status;
      return true;
    });
    run->RunToEnd();
    last_detail_ = run->last_snapshot().detail;
    return run;
  }

  void CheckInstalled() {
    for (const lbtest::ReleaseFile& file : release_.files) {
      const std::wstring target = lbtest::InFolder(app_dir_, file.path);
      ASSERT_TRUE(lbtest::PathExists(target)) << file.path << " missing; the window said: " << Narrow(last_detail_);
      EXPECT_TRUE(lbtest::ReadFileBytes(target) == file.bytes) << file.path << " differs";
    }
    EXPECT_EQ(lbtest::ReadFileBytes(app_dir_ + L"\\LanternbrookUpdater.exe"), release_.updater.bytes);
    EXPECT_EQ(lbtest::ReadFileBytes(app_dir_ + L"\\LanternbrookUpdater-v2.exe"), release_.updater.bytes);
    EXPECT_FALSE(lbtest::PathExists(app_dir_ + L"\\LanternbrookUpdater-v2.exe.new"));
    EXPECT_EQ(lbtest::ReadFileBytes(app_dir_ + L"\\version.json"),
              "{\n  \"version\": \"2.0.1-e2e\",\n  \"build\": 2001\n}\n");
    EXPECT_FALSE(lbtest::PathExists(StagingDir()));
  }

  std::wstring app_dir_;
  lbtest::Release release_;
  std::unique_ptr<lbtest::FaultServer> fault_;
  std::unique_ptr<lbtest::NginxServer> nginx_;
  lbtest::TestServer* server_ = nullptr;
  bool record_before_success_box_ = false;
  std::wstring failure_detail_;
  std::wstring last_detail_;
  std::wstring failure_status_;
};

TEST_P(InstallerEndToEnd, Runs) {
  const Scenario& s = GetParam();
  const std::string big = std::string(kReleasePrefix) + "data/big.bin";
  const std::string second = std::string(kReleasePrefix) + lbtest::UrlPath(release_.files[1].path);
  std::unique_ptr<lbtest::InstallerRun> run;
  DWORD elapsed_ms = 0;

  switch (s.twist) {
    case Twist::kNone:
      run = RunToEnd();
      break;

    case Twist::kSecondRunIntact:
      RunToEnd();
      CheckInstalled();
      DeleteFileW(RecordPath().c_str());
      server_->ClearRequests();
      run = RunToEnd();
      {
        auto requests = server_->Requests();
        ASSERT_EQ(requests.size(), 1u) << "only the manifest may be requested";
        EXPECT_EQ(requests[0].path, "/updates/manifest.json");
      }
      break;

    case Twist::kKillThenResume: {
      const std::uint64_t sent = 2 << 20;
      fault_->SetRule(big, {.drop_after = sent, .drop_delay_ms = 60000});
      std::wstring part = StagingDir() + L"\\data\\big.bin.part";
      {
        lbtest::InstallerRun first(lbtest::InstallerExe(), Arguments());
        ASSERT_TRUE(first.WaitUntil([&] { return lbtest::FileSize(part) == sent; }, 120000))
            << "the first run never wrote the first " << sent << " bytes";
        first.Kill();
      }
      EXPECT_EQ(lbtest::FileSize(part), sent) << "the partial file keeps every byte written";
      fault_->ClearRules();
      server_->ClearRequests();
      run = RunToEnd();
      std::vector<lbtest::ServerRequest> big_requests;
      for (const auto& r : server_->Requests()) {
        if (r.path == big) big_requests.push_back(r);
      }
      ASSERT_EQ(big_requests.size(), 1u);
      EXPECT_EQ(big_requests[0].range, "bytes=" + std::to_string(sent) + "-");
      EXPECT_EQ(big_requests[0].status, 206);
      EXPECT_EQ(big_requests[0].bytes, release_.files[3].bytes.size() - sent) << "only the missing bytes";
      const std::string updater = std::string(kReleasePrefix) + "LanternbrookUpdater.exe";
      for (const auto& path : FileRequests()) {
        EXPECT_TRUE(path == big || path == updater)
            << path << ": files verified by the first run are not fetched again";
      }
      break;
    }

    case Twist::kFailInTheMiddle: {
      fault_->SetRule(second, {.status = 500});
      run = RunToEnd();
      EXPECT_EQ(Narrow(failure_detail_), texts::kFileRefused);
      ASSERT_FALSE(run->boxes().empty());
      EXPECT_EQ(Narrow(run->boxes().back().caption), texts::kFailureCaption);
      EXPECT_EQ(Narrow(run->boxes().back().text), texts::kFileRefused);
      EXPECT_EQ(Narrow(failure_status_), texts::kFailedStatus);
      EXPECT_TRUE(lbtest::PathExists(app_dir_ + L"\\" + s.executable)) << "the first file stays";
      EXPECT_FALSE(lbtest::PathExists(app_dir_ + L"\\data\\readme.txt")) << "later files not fetched";
      EXPECT_FALSE(lbtest::PathExists(app_dir_ + L"\\version.json"));
      EXPECT_TRUE(lbtest::PathExists(StagingDir())) << "staging kept for the next run";
      break;
    }

    case Twist::kCloseDuringRun: {
      fault_->SetRule(big, {.delay_ms = 4000});
      run = std::make_unique<lbtest::InstallerRun>(lbtest::InstallerExe(), Arguments());
      ASSERT_TRUE(run->WaitUntil([&] { return run->MainWindow() != nullptr; }, 30000));
      ASSERT_TRUE(run->WaitUntil([&] { return run->Snapshot().detail == L"data\\big.bin"; }, 60000));
      PostMessageW(run->MainWindow(), WM_CLOSE, 0, 0);
      ASSERT_TRUE(run->WaitUntil([&] { return !run->boxes().empty(); }, 30000));
      EXPECT_EQ(Narrow(run->boxes()[0].caption), texts::kSuccessCaption);
      EXPECT_EQ(Narrow(run->boxes()[0].text), texts::kCloseRefused);
      EXPECT_TRUE(run->MainWindow() != nullptr) << "the window stays open";
      run->OnMessageBox([this](const lbtest::SeenMessageBox& box, const lbtest::WindowSnapshot&) {
        if (Narrow(box.text) == texts::kSuccess) record_before_success_box_ = lbtest::PathExists(RecordPath());
        return true;
      });
      EXPECT_TRUE(run->Wait(180000));
      break;
    }

    case Twist::kWaitForLiveApp: {
      std::wstring live = Path(L"running\\LanternbrookEmulator.exe");
      lbtest::WriteFileBytes(live, release_.files[0].bytes);
      lbtest::ChildProcess app(live, {L"--stay-ms", L"5000"});
      std::vector<std::wstring> args = Arguments();
      args.insert(args.end(), {L"--wait-pid", std::to_wstring(app.pid())});
      DWORD start = GetTickCount();
      run = std::make_unique<lbtest::InstallerRun>(lbtest::InstallerExe(), args);
      ASSERT_TRUE(run->Wait(180000));
      elapsed_ms = GetTickCount() - start;
      EXPECT_TRUE(app.Ended()) << "the installer ended before the application it waited for";
      EXPECT_GE(elapsed_ms, 3000u) << "the run did not wait";
      break;
    }
  }

  ASSERT_TRUE(run);
  EXPECT_EQ(run->exit_code(), 0u);
  if (s.success) {
    CheckInstalled();
    if (!s.quiet) {
      ASSERT_FALSE(run->boxes().empty());
      EXPECT_EQ(Narrow(run->boxes().back().caption), texts::kSuccessCaption);
      EXPECT_EQ(Narrow(run->boxes().back().text), texts::kSuccess);
      EXPECT_FALSE(record_before_success_box_) << "the application started before the box was dismissed";
    } else {
      EXPECT_TRUE(run->boxes().empty()) << "--quiet shows no message box";
    }
  }
  EXPECT_EQ(lbtest::PathExists(ShortcutPath()), s.shortcut);

  lbtest::LaunchRecord record;
  for (int i = 0; i < 100 && s.launch; ++i) {
    record = lbtest::ReadLaunchRecord(LaunchedExe());
    if (record.present) break;
    Sleep(100);
  }
  if (!s.launch) {
    Sleep(500);
    record = lbtest::ReadLaunchRecord(LaunchedExe());
  }
  EXPECT_EQ(record.present, s.launch);
  if (s.launch && record.present) {
    ASSERT_FALSE(record.argv.empty());
    EXPECT_EQ(std::vector<std::wstring>(record.argv.begin() + 1, record.argv.end()), s.launch_args);
    std::wstring exe = LaunchedExe();
    EXPECT_EQ(record.working_directory, exe.substr(0, exe.find_last_of(L'\\')));
  }
  for (const auto& r : server_->Requests()) {
    EXPECT_EQ(r.user_agent, "Lanternbrook-Instalador/1.0");
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, InstallerEndToEnd, ::testing::ValuesIn(kScenarios), lbtest::CaseName());

}  // namespace
