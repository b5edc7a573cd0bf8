// The installer's command line: defaults, each option, the edge cases of
// values, the --wait-pid conversion and the real process command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;

const std::wstring kDesktop = L"C:\\Users\\ana\\Desktop";
const std::wstring kDefaultDir = L"C:\\Users\\ana\\Desktop\\Lanternbrook";
const std::wstring kDefaultExe = L"C:\\Users\\ana\\Desktop\\Lanternbrook\\LanternbrookEmulator.exe";

// The options expected from `arguments`; a row names what differs from the
// defaults of an empty command line.
struct CommandLineCase {
  const char* scenario;
  std::vector<std::wstring> arguments;  // after the program name
  std::wstring app_dir = kDefaultDir;
  std::wstring app_executable = kDefaultExe;
  std::uint32_t wait_pid = 0;
  bool create_shortcut = true;
  bool launch_after_install = true;
  bool quiet = false;
  std::vector<std::wstring> launch_args;
};

void PrintTo(const CommandLineCase& c, std::ostream* out) { *out << c.scenario; }

std::vector<std::string> NarrowAll(const std::vector<std::wstring>& values) {
  std::vector<std::string> narrow;
  for (const auto& value : values) narrow.push_back(Narrow(value));
  return narrow;
}

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, ParsesIntoOptions) {
  const CommandLineCase& c = GetParam();
  std::vector<std::wstring> arguments{L"C:\\Temp\\LanternbrookInstaller.exe"};
  arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());

  InstallOptions options = ParseCommandLineArguments(arguments, kDesktop);

  EXPECT_EQ(Narrow(options.app_dir), Narrow(c.app_dir));
  EXPECT_EQ(Narrow(options.app_executable), Narrow(c.app_executable));
  EXPECT_EQ(options.wait_pid, c.wait_pid);
  EXPECT_EQ(options.create_shortcut, c.create_shortcut);
  EXPECT_EQ(options.launch_after_install, c.launch_after_install);
  EXPECT_EQ(options.quiet, c.quiet);
  EXPECT_EQ(NarrowAll(options.launch_args), NarrowAll(c.launch_args));
}

const CommandLineCase kCommandLineCases[] = {
    {.scenario = "no arguments: Desktop folder, shortcut and launch"},
    {.scenario = "app dir moves the default executable",
     .arguments = {L"--app-dir", L"D:\\Games\\LB"}, .app_dir = L"D:\\Games\\LB",
     .app_executable = L"D:\\Games\\LB\\LanternbrookEmulator.exe"},
    {.scenario = "app dir is taken literally, relative stays relative",
     .arguments = {L"--app-dir", L"rel\\..\\dir\\"}, .app_dir = L"rel\\..\\dir\\",
     .app_executable = L"rel\\..\\dir\\LanternbrookEmulator.exe"},
    {.scenario = "last app dir wins",
     .arguments = {L"--app-dir", L"D:\\one", L"--app-dir", L"D:\\two"}, .app_dir = L"D:\\two",
     .app_executable = L"D:\\two\\LanternbrookEmulator.exe"},
    {.scenario = "app dir as last argument is empty", .arguments = {L"--quiet", L"--app-dir"},
     .app_dir = L"", .app_executable = L"LanternbrookEmulator.exe", .quiet = true},
    {.scenario = "app dir swallows --quiet as its value", .arguments = {L"--app-dir", L"--quiet"},
     .app_dir = L"--quiet", .app_executable = L"--quiet\\LanternbrookEmulator.exe"},
    {.scenario = "relative executable lands inside app dir",
     .arguments = {L"--app-dir", L"D:\\LB", L"--app-executable", L"bin\\run.exe"},
     .app_dir = L"D:\\LB", .app_executable = L"D:\\LB\\bin\\run.exe"},
    {.scenario = "absolute executable outside app dir is unchanged",
     .arguments = {L"--app-dir", L"D:\\LB", L"--app-executable", L"E:\\Other\\run.exe"},
     .app_dir = L"D:\\LB", .app_executable = L"E:\\Other\\run.exe"},
    {.scenario = "network executable is unchanged",
     .arguments = {L"--app-executable", L"\\\\srv\\share\\run.exe"},
     .app_executable = L"\\\\srv\\share\\run.exe"},
    {.scenario = "rooted executable lands on the drive of app dir",
     .arguments = {L"--app-dir", L"D:\\LB\\sub", L"--app-executable", L"\\tools\\run.exe"},
     .app_dir = L"D:\\LB\\sub", .app_executable = L"D:\\tools\\run.exe"},
    {.scenario = "drive-relative executable on another drive replaces",
     .arguments = {L"--app-dir", L"D:\\LB", L"--app-executable", L"E:run.exe"},
     .app_dir = L"D:\\LB", .app_executable = L"E:run.exe"},
    {.scenario = "drive-relative executable on the same drive continues",
     .arguments = {L"--app-dir", L"D:\\LB", L"--app-executable", L"d:run.exe"},
     .app_dir = L"D:\\LB", .app_executable = L"D:\\LB\\run.exe"},
    {.scenario = "empty executable falls back to the default", .arguments = {L"--app-executable", L""}},
    {.scenario = "executable as last argument falls back to the default",
     .arguments = {L"--app-executable"}},
    {.scenario = "executable resolved against the last app dir, given before it",
     .arguments = {L"--app-executable", L"run.exe", L"--app-dir", L"D:\\late"},
     .app_dir = L"D:\\late", .app_executable = L"D:\\late\\run.exe"},
    {.scenario = "wait pid", .arguments = {L"--wait-pid", L"4242"}, .wait_pid = 4242},
    {.scenario = "wait pid stops at the first non-digit", .arguments = {L"--wait-pid", L"12ab"},
     .wait_pid = 12},
    {.scenario = "wait pid without digits is 0", .arguments = {L"--wait-pid", L"abc"}},
    {.scenario = "wait pid as last argument is 0", .arguments = {L"--wait-pid"}},
    {.scenario = "last wait pid wins", .arguments = {L"--wait-pid", L"7", L"--wait-pid", L"9"},
     .wait_pid = 9},
    {.scenario = "switches", .arguments = {L"--no-shortcut", L"--no-launch", L"--quiet"},
     .create_shortcut = false, .launch_after_install = false, .quiet = true},
    {.scenario = "repeated switches",
     .arguments = {L"--quiet", L"--quiet", L"--no-launch", L"--no-launch"},
     .launch_after_install = false, .quiet = true},
    {.scenario = "launch args keep their order, empty value kept",
     .arguments = {L"--launch-arg", L"--rom", L"--launch-arg", L"C:\\roms\\a b.rom", L"--launch-arg", L""},
     .launch_args = {L"--rom", L"C:\\roms\\a b.rom", L""}},
    {.scenario = "launch arg as last argument is an empty argument", .arguments = {L"--launch-arg"},
     .launch_args = {L""}},
    {.scenario = "launch arg takes an option name as its value",
     .arguments = {L"--launch-arg", L"--no-launch"}, .launch_args = {L"--no-launch"}},
    {.scenario = "options are case-sensitive",
     .arguments = {L"--Quiet", L"--NO-LAUNCH", L"--App-Dir", L"D:\\x", L"--no-Shortcut"}},
    {.scenario = "no abbreviations and no = form",
     .arguments = {L"--quie", L"--app-dir=D:\\x", L"--wait-pid=5", L"-quiet", L"/quiet"}},
    {.scenario = "unknown arguments are ignored, options after them still count",
     .arguments = {L"install", L"--verbose", L"--quiet"}, .quiet = true},
};

INSTANTIATE_TEST_SUITE_P(Table, CommandLineTest, ::testing::ValuesIn(kCommandLineCases));

TEST(CommandLineParse, DesktopWithTrailingSeparatorIsJoinedOnce) {
  InstallOptions options = ParseCommandLineArguments({L"prog"}, L"C:\\Desktop\\");
  EXPECT_EQ(Narrow(options.app_dir), "C:\\Desktop\\Lanternbrook");
}

TEST(CommandLineParse, EmptyArgumentVectorGivesTheDefaults) {
  InstallOptions options = ParseCommandLineArguments({}, kDesktop);
  EXPECT_EQ(Narrow(options.app_dir), Narrow(kDefaultDir));
  EXPECT_EQ(Narrow(options.app_executable), Narrow(kDefaultExe));
  EXPECT_TRUE(options.create_shortcut);
  EXPECT_TRUE(options.launch_after_install);
}

struct WaitPidCase {
  const char* scenario;
  std::wstring value;
  std::uint32_t expected;
};

void PrintTo(const WaitPidCase& c, std::ostream* out) { *out << c.scenario; }

class WaitPidTest : public ::testing::TestWithParam<WaitPidCase> {};

TEST_P(WaitPidTest, ConvertsLikeASigned32BitNumber) {
  EXPECT_EQ(ParseWaitPid(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WaitPidTest,
    ::testing::Values(
        WaitPidCase{"plain number", L"1234", 1234u},
        WaitPidCase{"empty", L"", 0u},
        WaitPidCase{"leading blanks and tabs", L" \t 56", 56u},
        WaitPidCase{"leading line breaks", L"\r\n\v\f78", 78u},
        WaitPidCase{"plus sign", L"+90", 90u},
        WaitPidCase{"trailing garbage ends the number", L"12ab", 12u},
        WaitPidCase{"trailing blank ends the number", L"34 56", 34u},
        WaitPidCase{"letters only", L"abc", 0u},
        WaitPidCase{"sign only", L"-", 0u},
        WaitPidCase{"two signs", L"+-5", 0u},
        WaitPidCase{"blank between sign and digits", L"- 5", 0u},
        WaitPidCase{"hexadecimal is not understood", L"0x1F", 0u},
        WaitPidCase{"leading zeros", L"000123", 123u},
        WaitPidCase{"largest signed value", L"2147483647", 2147483647u},
        WaitPidCase{"just beyond saturates", L"2147483648", 2147483647u},
        WaitPidCase{"far beyond saturates", L"99999999999999999999999999", 2147483647u},
        WaitPidCase{"minus one becomes the largest id", L"-1", 4294967295u},
        WaitPidCase{"smallest signed value", L"-2147483648", 2147483648u},
        WaitPidCase{"below the smallest saturates", L"-2147483649", 2147483648u},
        WaitPidCase{"far below saturates", L"-99999999999999999999999", 2147483648u},
        WaitPidCase{"zero", L"0", 0u},
        WaitPidCase{"negative zero", L"-0", 0u}));

// The real process command line: whatever this test program was started with
// (gtest's own options) is ignored, and the default folder is the prefix's
// real Desktop.
TEST(CommandLineProcess, ReadsTheProcessCommandLineAndTheRealDesktop) {
  std::wstring desktop = lbtest::DesktopFolder();
  ASSERT_FALSE(desktop.empty());
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(desktop)))
      << Narrow(desktop);

  InstallOptions options = ParseCommandLine();
  EXPECT_EQ(Narrow(options.app_dir), Narrow(desktop + L"\\Lanternbrook"));
  EXPECT_EQ(Narrow(options.app_executable),
            Narrow(desktop + L"\\Lanternbrook\\LanternbrookEmulator.exe"));
  EXPECT_EQ(options.wait_pid, 0u);
  EXPECT_TRUE(options.create_shortcut);
  EXPECT_TRUE(options.launch_after_install);
  EXPECT_FALSE(options.quiet);
  EXPECT_TRUE(options.launch_args.empty());
}

}  // namespace
