// The lexical path helpers of common/paths.h: joining fixed names, the
// path-append rules of --app-executable, and the parent of a path.
#include <gtest/gtest.h>

#include <string>

#include "common/paths.h"

namespace {

struct PathCase {
  const char* scenario;
  std::wstring left;
  std::wstring right;
  std::wstring expected;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.scenario; }

class JoinPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(JoinPathTest, JoinsWithOneBackslash) {
  const PathCase& c = GetParam();
  EXPECT_EQ(JoinPath(c.left, c.right), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JoinPathTest,
    ::testing::Values(
        PathCase{"plain folder gets one backslash", L"C:\\Users\\ana\\Desktop", L"Lanternbrook",
                 L"C:\\Users\\ana\\Desktop\\Lanternbrook"},
        PathCase{"trailing backslash is not doubled", L"C:\\apps\\", L"version.json",
                 L"C:\\apps\\version.json"},
        PathCase{"trailing slash counts as a separator", L"C:/apps/", L"version.json",
                 L"C:/apps/version.json"},
        PathCase{"empty left gives the right part", L"", L"version.json", L"version.json"},
        PathCase{"bare drive gets a backslash", L"C:", L"x", L"C:\\x"},
        PathCase{"relative left", L"app", L".install-staging", L"app\\.install-staging"},
        PathCase{"network share", L"\\\\srv\\share", L"x", L"\\\\srv\\share\\x"}));

class AppendWindowsPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(AppendWindowsPathTest, FollowsTheAppendRules) {
  const PathCase& c = GetParam();
  EXPECT_EQ(AppendWindowsPath(c.left, c.right), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AppendWindowsPathTest,
    ::testing::Values(
        PathCase{"relative name lands inside", L"C:\\apps\\Lanternbrook", L"bin\\app.exe",
                 L"C:\\apps\\Lanternbrook\\bin\\app.exe"},
        PathCase{"left ending in a separator", L"C:\\apps\\", L"app.exe", L"C:\\apps\\app.exe"},
        PathCase{"absolute right replaces", L"C:\\apps", L"D:\\other\\app.exe",
                 L"D:\\other\\app.exe"},
        PathCase{"absolute right with slash replaces", L"C:\\apps", L"d:/other/app.exe",
                 L"d:/other/app.exe"},
        PathCase{"network right replaces", L"C:\\apps", L"\\\\srv\\share\\app.exe",
                 L"\\\\srv\\share\\app.exe"},
        PathCase{"device right replaces", L"C:\\apps", L"\\\\?\\C:\\x\\app.exe",
                 L"\\\\?\\C:\\x\\app.exe"},
        PathCase{"rooted right keeps the drive", L"C:\\apps\\Lanternbrook", L"\\tools\\app.exe",
                 L"C:\\tools\\app.exe"},
        PathCase{"rooted right with slash keeps the drive", L"E:\\apps", L"/app.exe", L"E:/app.exe"},
        PathCase{"rooted right keeps the network share", L"\\\\srv\\share\\apps",
                 L"\\tools\\app.exe", L"\\\\srv\\share\\tools\\app.exe"},
        PathCase{"rooted right keeps the device volume", L"\\\\?\\C:\\apps", L"\\app.exe",
                 L"\\\\?\\C:\\app.exe"},
        PathCase{"rooted right under a relative left", L"apps", L"\\app.exe", L"\\app.exe"},
        PathCase{"other drive, drive-relative, replaces", L"C:\\apps", L"D:app.exe", L"D:app.exe"},
        PathCase{"same drive, drive-relative, continues", L"C:\\apps", L"c:bin\\app.exe",
                 L"C:\\apps\\bin\\app.exe"},
        PathCase{"drive-relative under a relative left", L"apps", L"C:app.exe", L"C:app.exe"},
        PathCase{"bare drive left gets no backslash", L"C:", L"app.exe", L"C:app.exe"},
        PathCase{"empty left gives the right part", L"", L"app.exe", L"app.exe"},
        PathCase{"dots are kept literally", L"C:\\apps", L"..\\app.exe", L"C:\\apps\\..\\app.exe"}));

struct ParentCase {
  const char* scenario;
  std::wstring path;
  std::wstring expected;
};

void PrintTo(const ParentCase& c, std::ostream* out) { *out << c.scenario; }

class ParentPathTest : public ::testing::TestWithParam<ParentCase> {};

TEST_P(ParentPathTest, DropsTheLastElement) {
  const ParentCase& c = GetParam();
  EXPECT_EQ(ParentPath(c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParentPathTest,
    ::testing::Values(
        ParentCase{"file in a folder", L"C:\\apps\\Lanternbrook\\app.exe", L"C:\\apps\\Lanternbrook"},
        ParentCase{"file in the drive root keeps the root", L"C:\\app.exe", L"C:\\"},
        ParentCase{"forward slashes", L"C:/apps/app.exe", L"C:/apps"},
        ParentCase{"doubled separators are dropped", L"C:\\apps\\\\app.exe", L"C:\\apps"},
        ParentCase{"bare name has no parent", L"app.exe", L""},
        ParentCase{"relative path", L"apps\\app.exe", L"apps"},
        ParentCase{"drive-relative file", L"C:app.exe", L"C:"},
        ParentCase{"rooted file", L"\\app.exe", L"\\"},
        ParentCase{"file on a network share", L"\\\\srv\\share\\app.exe", L"\\\\srv\\share\\"},
        ParentCase{"folder on a network share", L"\\\\srv\\share\\a\\app.exe", L"\\\\srv\\share\\a"},
        ParentCase{"the root itself", L"C:\\", L"C:\\"},
        ParentCase{"empty path", L"", L""}));

}  // namespace
