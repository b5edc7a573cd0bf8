// Removing the staging folder: everything inside goes, nothing outside does,
// whatever the names inside look like.
#include "install/staging_removal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

struct TreeCase {
  const char* name;
  std::vector<std::wstring> files;  // relative to the staging folder
  bool read_only = false;           // the first file is read-only
};

std::ostream& operator<<(std::ostream& out, const TreeCase& c) { return out << c.name; }

class StagingRemoval : public lbtest::TempDirTest, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(StagingRemoval, RemovesTheTreeAndNothingBeside) {
  // A folder beside the staging folder, and one named like the
  // drive-relative names of the tree in the current directory of drive C:
  // (where "C:victim" would lead a removal that re-parses names).
  const std::wstring staging = Path(L"app\\.install-staging");
  const std::wstring beside = Path(L"app\\keep.txt");
  lbtest::WriteFileBytes(beside, "keep");
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  ASSERT_EQ(temp[0], L'C');
  const std::wstring cwd = std::wstring(temp) + L"lb-staging-cwd-" + std::to_wstring(GetCurrentProcessId());
  lbtest::WriteFileBytes(cwd + L"\\victim\\keep.txt", "keep");
  // The current directory of drive C: (while the process's own is on Z:).
  ASSERT_TRUE(SetEnvironmentVariableW(L"=C:", cwd.c_str()));

  for (const auto& file : GetParam().files) lbtest::WriteFileBytes(staging + L"\\" + file, "part");
  if (GetParam().read_only) {
    const std::wstring first = staging + L"\\" + GetParam().files.front();
    SetFileAttributesW(first.c_str(), FILE_ATTRIBUTE_READONLY);
  }

  RemoveFolderTree(staging);
  SetEnvironmentVariableW(L"=C:", nullptr);

  EXPECT_FALSE(lbtest::PathExists(staging));
  EXPECT_EQ(lbtest::ReadFileBytes(beside), "keep");
  EXPECT_EQ(lbtest::ReadFileBytes(cwd + L"\\victim\\keep.txt"), "keep");
  DeleteFileW((cwd + L"\\victim\\keep.txt").c_str());
  RemoveDirectoryW((cwd + L"\\victim").c_str());
  RemoveDirectoryW(cwd.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Trees, StagingRemoval,
    ::testing::Values(TreeCase{"Flat", {L"a.bin.part", L"b.bin.part"}},
                      TreeCase{"Nested", {L"data\\maps\\a.bin.part", L"data\\b.part", L"c.part"}},
                      TreeCase{"ReadOnlyFile", {L"data\\a.part", L"b.part"}, true},
                      TreeCase{"DriveRelativeNames", {L"x\\C:victim\\keep.txt", L"x\\C:\\y.part"}}),
    lbtest::CaseName());

TEST(StagingRemovalMissing, AMissingFolderIsNoError) {
  RemoveFolderTree(L"Z:\\no\\such\\folder\\.install-staging");
  RemoveFolderTree(L"");
}

}  // namespace
