// InstallUpdater on a real application folder: the copy goes through the
// ".new" sibling and one rename onto LanternbrookUpdater-v2.exe.
#include "finish/updater_bootstrap.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <ostream>
#include <string>

#include "common/win_handles.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_support.h"

namespace {

// A row names what differs from a first installation that succeeds.
struct UpdaterCase {
  const char* name;
  bool source_present = true;
  std::optional<std::string> old_copy;   // LanternbrookUpdater-v2.exe before the call
  std::optional<std::string> stale_new;  // LanternbrookUpdater-v2.exe.new before the call
  bool hold_destination = false;         // open without delete sharing during the call
  bool trailing_separator = false;       // app_dir passed with a final backslash
  bool fails = false;
};
void PrintTo(const UpdaterCase& c, std::ostream* os) { *os << c.name; }

class UpdaterBootstrap : public lbtest::TempDirTest,
                         public ::testing::WithParamInterface<UpdaterCase> {};

TEST_P(UpdaterBootstrap, CopiesThroughTheNewSiblingOrLeavesTheDestinationAlone) {
  const UpdaterCase& c = GetParam();
  const std::string updater = lbtest::RandomBytes(300000, 77);
  const std::wstring source = Path(L"LanternbrookUpdater.exe");
  const std::wstring destination = Path(L"LanternbrookUpdater-v2.exe");
  const std::wstring temporary = destination + L".new";

  if (c.source_present) lbtest::WriteFileBytes(source, updater);
  if (c.old_copy) lbtest::WriteFileBytes(destination, *c.old_copy);
  if (c.stale_new) lbtest::WriteFileBytes(temporary, *c.stale_new);
  FileHandle holder;
  if (c.hold_destination) {
    holder.reset(CreateFileW(destination.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
  }

  const std::wstring app_dir = c.trailing_separator ? dir() + L"\\" : dir();
  EXPECT_EQ(lbtest::ErrorText<std::runtime_error>([&] { InstallUpdater(app_dir); }),
            c.fails ? lbtest::texts::kUpdaterFailed : "");
  holder.reset();

  if (c.fails) {
    ASSERT_EQ(lbtest::PathExists(destination), c.old_copy.has_value());
    if (c.old_copy) {
      EXPECT_EQ(lbtest::ReadFileBytes(destination), *c.old_copy) << "destination changed";
    }
  } else {
    EXPECT_EQ(lbtest::ReadFileBytes(destination), updater);
    EXPECT_FALSE(lbtest::PathExists(temporary)) << ".new left behind";
  }
  if (c.source_present) {
    EXPECT_EQ(lbtest::ReadFileBytes(source), updater) << "source is copied, not moved";
  }
  if (c.hold_destination) {
    // The copy reached the sibling; only the rename was refused.
    EXPECT_EQ(lbtest::ReadFileBytes(temporary), updater);
  }
  if (!c.source_present) {
    EXPECT_EQ(lbtest::PathExists(temporary), c.stale_new.has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, UpdaterBootstrap,
    ::testing::Values(
        UpdaterCase{.name = "FirstInstall"},
        UpdaterCase{.name = "AppDirWithTrailingBackslash", .trailing_separator = true},
        UpdaterCase{.name = "OlderCopyReplaced", .old_copy = "old updater v1"},
        UpdaterCase{.name = "StaleNewOverwritten", .old_copy = "old updater v1",
                    .stale_new = std::string(400000, 'z')},
        UpdaterCase{.name = "MissingSource", .source_present = false, .old_copy = "old updater v1",
                    .fails = true},
        UpdaterCase{.name = "MissingSourceNoCopyYet", .source_present = false, .fails = true},
        UpdaterCase{.name = "DestinationCannotBeReplaced", .old_copy = "running updater",
                    .hold_destination = true, .fails = true}), lbtest::CaseName());

}  // namespace
