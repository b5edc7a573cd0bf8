// The whole LanternbrookInstaller.exe, started as a user or a caller would:
// its resources, its imports and version resource (and lanternbrook-release.exe's),
// and a run against an update origin where no server listens.
#include <windows.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/expected_texts.h"
#include "tests/support/installer_run.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::InstallerExe;
using lbtest::Narrow;
namespace texts = lbtest::texts;

class InstallerExeTest : public lbtest::TempDirTest {};

#pragma pack(push, 2)
struct IconDirectoryEntry {  // GRPICONDIRENTRY
  BYTE width, height, colors, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
struct IconDirectory {  // GRPICONDIR
  WORD reserved, type, count;
};
#pragma pack(pop)

struct ModuleData {
  HMODULE module = nullptr;
  ~ModuleData() {
    if (module) FreeLibrary(module);
  }
};

std::string ResourceBytes(HMODULE module, const wchar_t* type, const wchar_t* name) {
  HRSRC found = FindResourceW(module, name, type);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return std::string(data, SizeofResource(module, found));
}

TEST_F(InstallerExeTest, CarriesTheIconGroupAndTheManifest) {
  ModuleData exe;
  exe.module = LoadLibraryExW(InstallerExe().c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(exe.module, nullptr) << "cannot open " << Narrow(InstallerExe());

  std::string group = ResourceBytes(exe.module, RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP_ICON));
  ASSERT_GE(group.size(), sizeof(IconDirectory));
  auto* directory = reinterpret_cast<const IconDirectory*>(group.data());
  ASSERT_EQ(directory->count, 9);
  ASSERT_EQ(group.size(), sizeof(IconDirectory) + 9 * sizeof(IconDirectoryEntry));
  auto* entries = reinterpret_cast<const IconDirectoryEntry*>(group.data() + sizeof(IconDirectory));
  std::vector<int> sizes;
  for (int i = 0; i < 9; ++i) {
    int size = entries[i].width ? entries[i].width : 256;
    sizes.push_back(size);
    EXPECT_EQ(entries[i].height ? entries[i].height : 256, size);
    EXPECT_EQ(entries[i].bit_count, 32) << size << " px";
    std::string image = ResourceBytes(exe.module, RT_ICON, MAKEINTRESOURCEW(entries[i].id));
    EXPECT_EQ(image.size(), entries[i].bytes) << size << " px";
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 128, 256}));

  std::string manifest = ResourceBytes(exe.module, RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("dependentAssembly"), std::string::npos) << "declares nothing else";
  EXPECT_EQ(manifest.find("compatibility"), std::string::npos) << "declares nothing else";
}

struct ImportCase {
  const char* exe;  // in the build's bin folder
  std::vector<std::string> delay_loaded;
  const char* language;     // of the version resource's texts, four hex digits
  const char* description;  // the version resource's FileDescription
};

void PrintTo(const ImportCase& c, std::ostream* out) { *out << c.exe; }

class ImportTest : public ::testing::TestWithParam<ImportCase> {};

// Imported at process start: KnownDLLs only, which Windows takes from the
// system folder whatever lies beside the exe. Every other system DLL is
// delay-loaded. The linker leaves the delay-load descriptors out of the data
// directories, so they are found by their symbols,
// __DELAY_IMPORT_DESCRIPTOR_lib<name>_a for <name>.dll.
TEST_P(ImportTest, ImportsKnownDllsAndDelayLoadsTheOtherSystemDlls) {
  std::string exe = lbtest::ShellQuote(
      lbtest::WindowsToUnixPath(lbtest::BuildDir() + L"\\bin\\" + lbtest::Widen(GetParam().exe)));
  std::string dump = lbtest::RunUnixOutput("x86_64-w64-mingw32-objdump -p " + exe);
  const std::vector<std::string> known{"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "SHELL32.DLL",
                                       "OLE32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"};
  const std::string marker = "DLL Name: ";
  int imports = 0;
  for (size_t at = dump.find(marker); at != std::string::npos; at = dump.find(marker, at + 1)) {
    size_t end = dump.find_first_of("\r\n", at);
    std::string name = lbtest::Upper(dump.substr(at + marker.size(), end - at - marker.size()));
    ++imports;
    bool system = false;
    for (const auto& dll : known) system = system || name == dll;
    if (name.rfind("API-MS-WIN-CRT-", 0) == 0) system = true;  // API sets, never files
    EXPECT_TRUE(system) << "imports " << name << " at process start";
  }
  EXPECT_GE(imports, 2) << dump.substr(0, 2000);

  std::string symbols = lbtest::RunUnixOutput("x86_64-w64-mingw32-objdump -t " + exe);
  const std::string descriptor = "__DELAY_IMPORT_DESCRIPTOR_lib";
  std::vector<std::string> delayed;
  for (size_t at = symbols.find(descriptor); at != std::string::npos;
       at = symbols.find(descriptor, at + 1)) {
    size_t end = symbols.find_first_of("\r\n", at);
    std::string library = symbols.substr(at + descriptor.size(), end - at - descriptor.size());
    ASSERT_EQ(library.substr(library.size() - 2), "_a") << library;
    delayed.push_back(lbtest::Upper(library.substr(0, library.size() - 2)) + ".DLL");
  }
  std::sort(delayed.begin(), delayed.end());
  EXPECT_EQ(delayed, GetParam().delay_loaded);
}

// What Explorer's Details tab shows: the version resource, with the build's
// version and the texts in the program's language.
TEST_P(ImportTest, CarriesTheVersionResource) {
  const ImportCase& c = GetParam();
  const std::wstring exe = lbtest::BuildDir() + L"\\bin\\" + lbtest::Widen(c.exe);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_NE(size, 0u) << c.exe << " has no version resource";
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  auto version = [](DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
           std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
  };
  EXPECT_EQ(version(fixed->dwFileVersionMS, fixed->dwFileVersionLS), LB_PROJECT_VERSION ".0");
  EXPECT_EQ(version(fixed->dwProductVersionMS, fixed->dwProductVersionLS), LB_PROJECT_VERSION ".0");

  for (const auto& [name, expected] : std::vector<std::pair<const char*, std::string>>{
           {"ProductName", "Lanternbrook"}, {"CompanyName", "Lanternbrook"},
           {"FileDescription", c.description}, {"FileVersion", LB_PROJECT_VERSION},
           {"ProductVersion", LB_PROJECT_VERSION}, {"OriginalFilename", c.exe}}) {
    const std::wstring key = L"\\StringFileInfo\\" + lbtest::Widen(c.language) + L"04b0\\" +
                             lbtest::Widen(name);
    wchar_t* value = nullptr;
    EXPECT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) &&
                value && Narrow(value) == expected)
        << name << " is not " << expected;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImportTest,
    ::testing::Values(
        ImportCase{"LanternbrookInstaller.exe", {"BCRYPT.DLL", "COMCTL32.DLL", "WINHTTP.DLL"},
                   "0416", "Instalador Lanternbrook"},
        ImportCase{"lanternbrook-release.exe", {"BCRYPT.DLL", "CRYPT32.DLL", "WINHTTP.DLL"},
                   "0409", "Lanternbrook release tool"}));

struct FailedRunCase {
  const char* scenario;
  bool quiet;
  // On a Brazilian Portuguese system, an accented application folder below
  // a regular file: the text is the operation, Windows' own message in the
  // user's language and the path.
  bool portuguese = false;
};

void PrintTo(const FailedRunCase& c, std::ostream* out) { *out << c.scenario; }

class FailedRunTest : public InstallerExeTest, public ::testing::WithParamInterface<FailedRunCase> {};

// Windows' Brazilian Portuguese text for a system error.
std::wstring PortugueseSystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN),
                 reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text ? text : L"";
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) message.pop_back();
  return message;
}

// Without a server at the build's update origin the manifest request fails;
// the outcome is shown and the exit code is still 0.
TEST_P(FailedRunTest, ShowsTheFailureAndExitsWithZero) {
  const FailedRunCase& c = GetParam();
  std::wstring app_dir = Path(L"Lanternbrook");
  std::wstring failure = lbtest::Widen(texts::kNetworkFailure);
  std::vector<std::string> environment;
  if (c.portuguese) {
    lbtest::WriteFileBytes(Path(L"\u00c1rea de Trabalho"), "a file, not a folder");
    app_dir = Path(L"\u00c1rea de Trabalho\\Jo\u00e3o\\Lanternbrook");
    const std::wstring message = PortugueseSystemMessage(ERROR_PATH_NOT_FOUND);
    ASSERT_NE(message.find(L"\u00e3"), std::wstring::npos) << "no Portuguese message: " << Narrow(message);
    failure = L"create_directories: " + message + L": \"" + app_dir + L"\"";
    environment = {"LOCPATH=" + lbtest::WindowsToUnixPath(lbtest::TestRunDir() + L"\\locale"),
                   "LANG=pt_BR.UTF-8", "LC_ALL=pt_BR.UTF-8"};
  }
  std::vector<std::wstring> arguments{L"--app-dir", app_dir, L"--no-shortcut", L"--no-launch"};
  if (c.quiet) arguments.push_back(L"--quiet");
  // A copy of its own, so that the run started from the Unix side is found by its path.
  const std::wstring exe = c.portuguese ? Path(L"LanternbrookInstaller.exe") : InstallerExe();
  if (c.portuguese) {
    ASSERT_TRUE(CopyFileW(InstallerExe().c_str(), exe.c_str(), FALSE));
  }
  lbtest::InstallerRun run(exe, arguments, {.environment = environment});
  ASSERT_TRUE(run.process().started());

  if (c.quiet) {
    ASSERT_TRUE(run.Wait(90000)) << "the quiet failure did not end the process";
    EXPECT_TRUE(run.boxes().empty());
  } else {
    lbtest::WindowSnapshot at_box;
    run.OnMessageBox([&](const lbtest::SeenMessageBox&, const lbtest::WindowSnapshot& window) {
      at_box = window;
      return true;
    });
    ASSERT_TRUE(run.WaitUntil([&] { return !run.boxes().empty(); }, 90000))
        << "no message box; last status: " << Narrow(run.last_snapshot().status);
    EXPECT_EQ(Narrow(run.boxes()[0].caption), texts::kFailureCaption);
    EXPECT_EQ(Narrow(run.boxes()[0].text), Narrow(failure));
    EXPECT_EQ(Narrow(at_box.status), texts::kFailedStatus);
    EXPECT_EQ(Narrow(at_box.detail), Narrow(failure));
    EXPECT_EQ(at_box.bar, 0);

    // After the box the window stays, showing the failure, until closed.
    run.WaitUntil([] { return false; }, 1000);
    ASSERT_FALSE(run.process().Ended());
    lbtest::WindowSnapshot after = run.Snapshot();
    EXPECT_EQ(Narrow(after.status), texts::kFailedStatus);
    EXPECT_EQ(Narrow(after.detail), Narrow(failure));
    HWND window = run.MainWindow();
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(run.Wait(30000)) << "closing the failed window did not end the process";
    EXPECT_EQ(run.boxes().size(), 1u);
  }
  EXPECT_EQ(run.exit_code(), 0u);
  EXPECT_EQ(lbtest::PathExists(app_dir), !c.portuguese) << "the folder is made before the network is used";
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailedRunTest,
    ::testing::Values(FailedRunCase{"message box, then closed", false},
                      FailedRunCase{"quiet closes by itself", true},
                      FailedRunCase{"Portuguese system message in the box", false, true}));

// A profile whose Desktop folder cannot be obtained fails every run, even with
// --app-dir. With --quiet no box may appear (an unattended update would wait
// for a click for ever): the process ends by itself with exit code 0. Shown
// in a copy of the test prefix whose Desktop lies below a regular file; the
// run without --quiet shows that a box does keep the process alive.
struct NoDesktopCase {
  const char* scenario;
  bool quiet;
};

void PrintTo(const NoDesktopCase& c, std::ostream* out) { *out << c.scenario; }

class NoDesktopTest : public InstallerExeTest, public ::testing::WithParamInterface<NoDesktopCase> {};

TEST_P(NoDesktopTest, QuietRunEndsWithoutABox) {
  const std::string prefix = lbtest::WindowsToUnixPath(Path(L"prefix"));
  const std::string app_dir = "C:\\lbx-no-desktop-app";
  const std::string q_prefix = lbtest::ShellQuote(prefix);
  // The files of drive C: are linked, not copied; the rest (the registry,
  // the drive links) is copied.
  ASSERT_EQ(lbtest::RunUnix("mkdir -p " + q_prefix + " && cd \"$WINEPREFIX\" && for e in * .[a-z]*; do"
                            " case $e in drive_c) cp -as \"$PWD/$e\" " + q_prefix + "/ ;;"
                            " wineserver) ;; *) cp -a \"$e\" " + q_prefix + "/ ;; esac; done"
                            " && echo 'not a folder' > " + q_prefix + "/drive_c/lbx-no-desktop"
                            " && sed -i 's/^\"Desktop\"=.*$/\"Desktop\"=\"C:\\\\\\\\lbx-no-desktop\\\\\\\\Desktop\"/' " +
                            q_prefix + "/user.reg"),
            0);
  ASSERT_EQ(lbtest::RunUnixOutput("grep -c 'lbx-no-desktop' " + q_prefix + "/user.reg"), "2\n")
      << "the Desktop entries were not redirected";

  const std::string exe = lbtest::ShellQuote(lbtest::WindowsToUnixPath(InstallerExe()));
  const std::string code = lbtest::RunUnixOutput(
      "{ WINEPREFIX=" + q_prefix + " timeout -s KILL 20 wine " + exe + " --app-dir '" + app_dir +
      "' --no-shortcut --no-launch" + (GetParam().quiet ? " --quiet" : "") +
      " </dev/null >/dev/null 2>&1; echo $?; WINEPREFIX=" + q_prefix +
      " wineserver -k >/dev/null 2>&1; WINEPREFIX=" + q_prefix + " wineserver -w >/dev/null 2>&1; }");
  if (GetParam().quiet) {
    EXPECT_EQ(code, "0\n") << "the quiet run did not end by itself with exit code 0";
  } else {
    EXPECT_EQ(code, "137\n") << "a box should have held the process";
  }
  EXPECT_FALSE(lbtest::PathExists(lbtest::UnixToWindowsPath(prefix + "/drive_c/lbx-no-desktop-app")))
      << "the run goes no further than the Desktop lookup";
}

INSTANTIATE_TEST_SUITE_P(Table, NoDesktopTest,
                         ::testing::Values(NoDesktopCase{"quiet", true},
                                           NoDesktopCase{"with boxes", false}));

}  // namespace
