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

struct CommandLineCase {
  const char* scenario;
  std::vector<std::wstring> arguments;  // after the program name
  std::wstring app_dir;
  std::wstring app_executable;
  std::uint32_t wait_pid;
  bool create_shortcut;
  bool launch_after_install;
  bool quiet;
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

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"no arguments: Desktop folder, shortcut and launch", {}, kDefaultDir,
                        kDefaultExe, 0, true, true, false, {}},
        CommandLineCase{"app dir moves the default executable",
                        {L"--app-dir", L"D:\\Games\\LB"}, L"D:\\Games\\LB",
                        L"D:\\Games\\LB\\LanternbrookEmulator.exe", 0, true, true, false, {}},
        CommandLineCase{"app dir is taken literally, relative stays relative",
                        {L"--app-dir", L"rel\\..\\dir\\"}, L"rel\\..\\dir\\",
                        L"rel\\..\\dir\\LanternbrookEmulator.exe", 0, true, true, false, {}},
        CommandLineCase{"last app dir wins",
                        {L"--app-dir", L"D:\\one", L"--app-dir", L"D:\\two"}, L"D:\\two",
                        L"D:\\two\\LanternbrookEmulator.exe", 0, true, true, false, {}},
        CommandLineCase{"app dir as last argument is empty", {L"--quiet", L"--app-dir"}, L"",
                        L"LanternbrookEmulator.exe", 0, true, true, true, {}},
        CommandLineCase{"app dir swallows --quiet as its value", {L"--app-dir", L"--quiet"},
                        L"--quiet", L"--quiet\\LanternbrookEmulator.exe", 0, true, true, false, {}},
        CommandLineCase{"relative executable lands inside app dir",
                        {L"--app-dir", L"D:\\LB", L"--app-executable", L"bin\\run.exe"}, L"D:\\LB",
                        L"D:\\LB\\bin\\run.exe", 0, true, true, false, {}},
        CommandLineCase{"absolute executable outside app dir is unchanged",
                        {L"--app-dir", L"D:\\LB", L"--app-executable", L"E:\\Other\\run.exe"},
                        L"D:\\LB", L"E:\\Other\\run.exe", 0, true, true, false, {}},
        CommandLineCase{"network executable is unchanged",
                        {L"--app-executable", L"\\\\srv\\share\\run.exe"}, kDefaultDir,
                        L"\\\\srv\\share\\run.exe", 0, true, true, false, {}},
        CommandLineCase{"rooted executable lands on the drive of app dir",
                        {L"--app-dir", L"D:\\LB\\sub", L"--app-executable", L"\\tools\\run.exe"},
                        L"D:\\LB\\sub", L"D:\\tools\\run.exe", 0, true, true, false, {}},
        CommandLineCase{"drive-relative executable on another drive replaces",
                        {L"--app-dir", L"D:\\LB", L"--app-executable", L"E:run.exe"}, L"D:\\LB",
                        L"E:run.exe", 0, true, true, false, {}},
        CommandLineCase{"drive-relative executable on the same drive continues",
                        {L"--app-dir", L"D:\\LB", L"--app-executable", L"d:run.exe"}, L"D:\\LB",
                        L"D:\\LB\\run.exe", 0, true, true, false, {}},
        CommandLineCase{"empty executable falls back to the default",
                        {L"--app-executable", L""}, kDefaultDir, kDefaultExe, 0, true, true, false,
                        {}},
        CommandLineCase{"executable as last argument falls back to the default",
                        {L"--app-executable"}, kDefaultDir, kDefaultExe, 0, true, true, false, {}},
        CommandLineCase{"executable resolved against the last app dir, given before it",
                        {L"--app-executable", L"run.exe", L"--app-dir", L"D:\\late"},
                        L"D:\\late", L"D:\\late\\run.exe", 0, true, true, false, {}},
        CommandLineCase{"wait pid", {L"--wait-pid", L"4242"}, kDefaultDir, kDefaultExe, 4242,
                        true, true, false, {}},
        CommandLineCase{"wait pid stops at the first non-digit", {L"--wait-pid", L"12ab"},
                        kDefaultDir, kDefaultExe, 12, true, true, false, {}},
        CommandLineCase{"wait pid without digits is 0", {L"--wait-pid", L"abc"}, kDefaultDir,
                        kDefaultExe, 0, true, true, false, {}},
        CommandLineCase{"wait pid as last argument is 0", {L"--wait-pid"}, kDefaultDir,
                        kDefaultExe, 0, true, true, false, {}},
        CommandLineCase{"last wait pid wins", {L"--wait-pid", L"7", L"--wait-pid", L"9"},
                        kDefaultDir, kDefaultExe, 9, true, true, false, {}},
        CommandLineCase{"switches", {L"--no-shortcut", L"--no-launch", L"--quiet"}, kDefaultDir,
                        kDefaultExe, 0, false, false, true, {}},
        CommandLineCase{"repeated switches", {L"--quiet", L"--quiet", L"--no-launch", L"--no-launch"},
                        kDefaultDir, kDefaultExe, 0, true, false, true, {}},
        CommandLineCase{"launch args keep their order, empty value kept",
                        {L"--launch-arg", L"--rom", L"--launch-arg", L"C:\\roms\\a b.rom",
                         L"--launch-arg", L""},
                        kDefaultDir, kDefaultExe, 0, true, true, false,
                        {L"--rom", L"C:\\roms\\a b.rom", L""}},
        CommandLineCase{"launch arg as last argument is an empty argument", {L"--launch-arg"},
                        kDefaultDir, kDefaultExe, 0, true, true, false, {L""}},
        CommandLineCase{"launch arg takes an option name as its value",
                        {L"--launch-arg", L"--no-launch"}, kDefaultDir, kDefaultExe, 0, true, true,
                        false, {L"--no-launch"}},
        CommandLineCase{"options are case-sensitive",
                        {L"--Quiet", L"--NO-LAUNCH", L"--App-Dir", L"D:\\x", L"--no-Shortcut"},
                        kDefaultDir, kDefaultExe, 0, true, true, false, {}},
        CommandLineCase{"no abbreviations and no = form",
                        {L"--quie", L"--app-dir=D:\\x", L"--wait-pid=5", L"-quiet", L"/quiet"},
                        kDefaultDir, kDefaultExe, 0, true, true, false, {}},
        CommandLineCase{"unknown arguments are ignored, options after them still count",
                        {L"install", L"--verbose", L"--quiet"}, kDefaultDir, kDefaultExe, 0, true,
                        true, true, {}}));

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
