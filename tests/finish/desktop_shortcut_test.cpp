// CreateDesktopShortcut against the test prefix's real Desktop folder, read
// back through the shell link object.
#include "finish/desktop_shortcut.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "common/com_ptr.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;

struct LinkProperties {
  std::wstring path;
  std::wstring working_directory;
  std::wstring description;
  std::wstring icon;
  int icon_index = -1;
  std::wstring arguments;
};

// Loads a .lnk file with a fresh link object and reads its properties.
bool ReadLink(const std::wstring& file, LinkProperties& out) {
  const auto link = ComPtr<IShellLinkW>::create(CLSID_ShellLink);
  const auto persist = link.query<IPersistFile>();
  if (!persist || FAILED(persist->Load(file.c_str(), STGM_READ))) return false;
  std::vector<wchar_t> buffer(32768);
  const int size = static_cast<int>(buffer.size());
  auto take = [&](HRESULT hr, std::wstring& field) {
    field = SUCCEEDED(hr) ? std::wstring(buffer.data()) : L"<failed>";
    buffer[0] = L'\0';
  };
  buffer[0] = L'\0';
  take(link->GetPath(buffer.data(), size, nullptr, SLGP_RAWPATH), out.path);
  take(link->GetWorkingDirectory(buffer.data(), size), out.working_directory);
  take(link->GetDescription(buffer.data(), size), out.description);
  take(link->GetIconLocation(buffer.data(), size, &out.icon_index), out.icon);
  take(link->GetArguments(buffer.data(), size), out.arguments);
  return true;
}

// Every "*.lnk" on the Desktop.
std::vector<std::wstring> DesktopLinks(const std::wstring& desktop) {
  std::vector<std::wstring> links;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(desktop, ignored)) {
    if (entry.path().extension() == L".lnk") links.push_back(entry.path().filename().wstring());
  }
  return links;
}

class DesktopShortcutTest : public lbtest::TempDirTest {
 protected:
  void SetUp() override {
    lbtest::TempDirTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    com_ready_ = true;
    desktop_ = lbtest::DesktopFolder();
    ASSERT_FALSE(desktop_.empty());
    link_file_ = desktop_ + L"\\Lanternbrook.lnk";
    DeleteFileW(link_file_.c_str());
  }
  void TearDown() override {
    if (!link_file_.empty()) DeleteFileW(link_file_.c_str());
    if (com_ready_) CoUninitialize();
    lbtest::TempDirTest::TearDown();
  }

  std::wstring desktop_;
  std::wstring link_file_;

 private:
  bool com_ready_ = false;
};

struct ShortcutCase {
  const char* name;
  const wchar_t* folder;      // the application folder under the test folder
  const wchar_t* executable;  // its executable's name
  bool executable_exists;
};
void PrintTo(const ShortcutCase& c, std::ostream* os) { *os << c.name; }

class DesktopShortcut : public DesktopShortcutTest,
                        public ::testing::WithParamInterface<ShortcutCase> {};

TEST_P(DesktopShortcut, ReadsBackWithTheApplicationsProperties) {
  const ShortcutCase& c = GetParam();
  const std::wstring app_dir = Path(c.folder);
  const std::wstring executable = app_dir + L"\\" + c.executable;
  std::filesystem::create_directories(std::filesystem::path(app_dir));
  if (c.executable_exists) lbtest::WriteFileBytes(executable, "MZ stand-in");

  CreateDesktopShortcut(executable);

  LinkProperties link;
  ASSERT_TRUE(ReadLink(link_file_, link)) << "no readable Lanternbrook.lnk on the Desktop";
  EXPECT_EQ(Narrow(link.path), Narrow(executable));
  EXPECT_EQ(Narrow(link.working_directory), Narrow(app_dir));
  EXPECT_EQ(Narrow(link.description), "Lanternbrook Emulador");
  EXPECT_EQ(Narrow(link.icon), Narrow(executable));
  EXPECT_EQ(link.icon_index, 0);
  EXPECT_EQ(Narrow(link.arguments), "");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, DesktopShortcut,
    ::testing::Values(
        ShortcutCase{"ExistingExecutable", L"Lanternbrook", L"LanternbrookEmulator.exe", true},
        ShortcutCase{"FolderWithBlanksAndAccents", L"Jogos Antigos\\Emula\x00E7\x00E3o",
                     L"LanternbrookEmulator.exe", true},
        ShortcutCase{"ExecutableNotYetPresent", L"Lanternbrook", L"Custom.exe", false}), lbtest::CaseName());

// A second run saves over the same file with its own properties: still one
// Lanternbrook shortcut, now pointing at the second executable.
TEST_F(DesktopShortcutTest, SecondCallSavesOverTheSameFile) {
  const std::wstring first = Path(L"first\\LanternbrookEmulator.exe");
  const std::wstring second = Path(L"second\\LanternbrookEmulator.exe");
  lbtest::WriteFileBytes(first, "MZ one");
  lbtest::WriteFileBytes(second, "MZ two");
  const std::vector<std::wstring> before = DesktopLinks(desktop_);

  CreateDesktopShortcut(first);
  CreateDesktopShortcut(second);

  std::vector<std::wstring> after = DesktopLinks(desktop_);
  EXPECT_EQ(after.size(), before.size() + 1) << "exactly one new shortcut file";
  EXPECT_NE(std::find(after.begin(), after.end(), L"Lanternbrook.lnk"), after.end());
  LinkProperties link;
  ASSERT_TRUE(ReadLink(link_file_, link));
  EXPECT_EQ(Narrow(link.path), Narrow(second));
  EXPECT_EQ(Narrow(link.working_directory), Narrow(Path(L"second")));
  EXPECT_EQ(Narrow(link.icon), Narrow(second));
  EXPECT_EQ(Narrow(link.description), "Lanternbrook Emulador");
}

}  // namespace
