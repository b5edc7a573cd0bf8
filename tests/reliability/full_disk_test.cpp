// Full disk: the application folder lies on a small tmpfs mounted by the
// test (Wine sees it under Z:), sized so that the disk fills at a chosen
// step of the run. The run must fail with that step's message, leave every
// target either as it was or verified, and never replace a good file with a
// partial one; once space is freed, the next run finishes, continuing the
// partial download where there is one.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/reliability/reliability_support.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;
using lbtest::ServerRequest;
using namespace lbrel;

constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kRoomy = 256 * kMiB;
constexpr std::uint64_t kFiller = 8 * kMiB;

std::uint64_t Pages(std::uint64_t bytes) { return (bytes + kPage - 1) / kPage * kPage; }

Release Version(const std::string& version, std::uint64_t build, std::uint32_t seed) {
  const std::string prefix = "/files/" + version + "/";
  return {version, build,
          {MakeFile("LanternbrookEmulator.exe", 1 * kMiB, seed + 1, prefix),
           MakeFile("data/big.bin", 3 * kMiB, seed + 2, prefix),
           MakeFile("data/more/c.bin", 2 * kMiB, seed + 3, prefix)},
          MakeFile("LanternbrookUpdater.exe", kMiB / 2, seed + 4, prefix)};
}

std::uint64_t FilePages(const Release& release) {
  std::uint64_t pages = Pages(release.updater.bytes.size());
  for (const ReleaseFile& file : release.files) pages += Pages(file.bytes.size());
  return pages;
}

struct DiskCase {
  std::string name;
  bool previous_files;  // release 1.0 is installed; otherwise only its version.json is there
  // Free space left on the disk before the run, from the new release.
  std::function<std::uint64_t(const Release&)> room;
  bool free_by_deleting_filler;
  std::string expected;
  std::string resumed;  // the file whose partial download the next run continues
};

std::vector<DiskCase> Cases() {
  return {
      {"full during the first download", true, [](const Release&) { return 256 * 1024ull; }, false,
       texts::kWriteFailed, "LanternbrookEmulator.exe"},
      {"full during a later download", true, [](const Release&) { return 3 * kMiB / 2; }, true,
       texts::kWriteFailed, "data/big.bin"},
      {"full while copying the updater", false,
       [](const Release& next) { return FilePages(next) + 256 * 1024; }, false,
       texts::kUpdaterFailed, ""},
      {"full when version.json is written", false,
       [](const Release& next) { return FilePages(next) + Pages(next.updater.bytes.size()); }, true,
       texts::kMetadataWriteFailed, ""},
  };
}

class FullDiskTest : public lbtest::TempDirTest, public ::testing::WithParamInterface<DiskCase> {};

TEST_P(FullDiskTest, FailsWithItsMessageAndResumesOnceThereIsRoom) {
  const DiskCase& c = GetParam();
  const int failures_before = FailedParts();
  const Release old_release = Version("1.0.0", 100, 700);
  const Release next = Version("2.0.0", 200, 800);
  const std::map<std::string, std::string> user_files = {{"saves/slot1.sav", lbtest::RandomBytes(8000, 71)}};

  lbtest::FaultServer server({.port = lbtest::UpdateOriginPort()});
  Publish(server, next);

  const std::wstring disk = Path(L"disk");
  TmpfsMount mount(disk, kRoomy);
  ASSERT_TRUE(mount.mounted());
  const std::wstring app_dir = disk + L"\\app";
  if (c.previous_files) InstallDirectly(app_dir, old_release);
  else lbtest::WriteFileBytes(app_dir + L"\\version.json", old_release.MetadataJson());
  lbtest::WriteFileBytes(app_dir + L"\\saves\\slot1.sav", user_files.at("saves/slot1.sav"));
  const std::string filler = lbtest::RandomBytes(kFiller, 72);
  if (c.free_by_deleting_filler) lbtest::WriteFileBytes(disk + L"\\filler.bin", filler);

  // Shrink the disk to what is used plus the room the case leaves.
  const std::uint64_t used = kRoomy - mount.FreeBytes();
  const std::uint64_t room = c.room(next);
  ASSERT_TRUE(mount.Resize(used + room));
  ASSERT_EQ(mount.FreeBytes(), room) << "the disk has not the room the case wants";

  const Outcome full = RunInstallerExe(app_dir);
  EXPECT_TRUE(full.finished);
  EXPECT_EQ(full.Text(), c.expected) << "on the full disk";
  // Only whole files of either release are in place, and version.json is
  // one of the two documents.
  Release previous = old_release;
  if (!c.previous_files) previous.files.clear(), previous.updater = ReleaseFile{};
  const Audit after_full = AuditFolder(app_dir, next, &previous, user_files);
  EXPECT_TRUE(after_full.problems.empty()) << "after the run on the full disk:" << after_full.Describe();
  const bool lost = after_full.data_lost;

  std::uint64_t partial = 0;
  std::wstring part_path;
  if (!c.resumed.empty()) {
    part_path = StagedPart(app_dir, c.resumed);
    partial = lbtest::FileSize(part_path);
    EXPECT_GT(partial, 0u) << "the disk-full run kept nothing of " << c.resumed;
    EXPECT_EQ(lbtest::ReadFileBytes(part_path), next.Find(c.resumed)->bytes.substr(0, partial))
        << "the partial file must hold the first bytes of the file";
  }

  // Room again: the next run finishes.
  if (c.free_by_deleting_filler) {
    EXPECT_TRUE(DeleteFileW((disk + L"\\filler.bin").c_str()));
  } else {
    EXPECT_TRUE(mount.Resize(kRoomy));
  }
  server.ClearRequests();
  const Outcome again = RunInstallerExe(app_dir);
  EXPECT_EQ(again.Text(), texts::kSuccess) << "once there is room";
  const std::vector<ServerRequest> requests = server.Requests();
  if (!c.resumed.empty()) {
    const auto resumed = std::find_if(requests.rbegin(), requests.rend(),
                                      [&](const ServerRequest& r) { return r.path == next.Find(c.resumed)->url; });
    ASSERT_NE(resumed, requests.rend()) << c.resumed << " was not asked for";
    EXPECT_EQ(resumed->range, "bytes=" + std::to_string(partial) + "-") << "the download continues";
    EXPECT_EQ(resumed->status, 206);
  }
  const Audit installed = VerifyInstalled(app_dir, next);
  EXPECT_TRUE(installed.problems.empty()) << installed.Describe();
  const Audit final_audit = AuditFolder(app_dir, next, nullptr, user_files);
  EXPECT_TRUE(final_audit.problems.empty()) << final_audit.Describe();

  RecordCase("full disk", c.name, FailedParts() == failures_before, lost || final_audit.data_lost,
             full.Text());
}

void PrintTo(const DiskCase& c, std::ostream* out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(Disk, FullDiskTest, ::testing::ValuesIn(Cases()), lbtest::CaseName());

}  // namespace
