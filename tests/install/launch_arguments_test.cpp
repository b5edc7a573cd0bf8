// Launch-argument quoting; on Windows also checked against the real
// CommandLineToArgvW.
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/text.h"
#include "install/launch_arguments.h"

namespace {

#ifdef _WIN32
// The arguments CommandLineToArgvW finds after the program name.
std::vector<std::wstring> Split(const std::wstring& parameters) {
  std::wstring line = L"C:\\app\\LanternbrookEmulator.exe " + parameters;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
  EXPECT_NE(argv, nullptr);
  if (!argv) return {};
  std::vector<std::wstring> arguments(argv + 1, argv + count);
  LocalFree(argv);
  return arguments;
}

std::string Visible(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == L'\t') out += "<TAB>";
    else if (c == L'\n') out += "<LF>";
    else if (c == L'\v') out += "<VT>";
    else out += WideToUtf8(std::wstring(1, c));
  }
  return out;
}
#endif

struct QuoteCase {
  const char* scenario;
  std::wstring argument;
  std::wstring quoted;
};

void PrintTo(const QuoteCase& c, std::ostream* out) { *out << c.scenario; }

class QuoteTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteTest, QuotesAndSplitsBack) {
  const QuoteCase& c = GetParam();
  EXPECT_EQ(QuoteWindowsArgument(c.argument), c.quoted);
#ifdef _WIN32
  std::vector<std::wstring> split = Split(QuoteWindowsArgument(c.argument));
  ASSERT_EQ(split.size(), 1u);
  EXPECT_EQ(Visible(split[0]), Visible(c.argument));
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuoteTest,
    ::testing::Values(
        QuoteCase{"plain argument unchanged", L"--fullscreen", L"--fullscreen"},
        QuoteCase{"backslashes alone do not quote", L"C:\\roms\\dir\\", L"C:\\roms\\dir\\"},
        QuoteCase{"network path unchanged", L"\\\\srv\\share", L"\\\\srv\\share"},
        QuoteCase{"empty argument is a pair of quotes", L"", L"\"\""},
        QuoteCase{"blank is enclosed", L"a b", L"\"a b\""},
        QuoteCase{"tab is enclosed", L"a\tb", L"\"a\tb\""},
        QuoteCase{"line feed is enclosed", L"a\nb", L"\"a\nb\""},
        QuoteCase{"vertical tab is enclosed", L"a\vb", L"\"a\vb\""},
        QuoteCase{"embedded quote gets one backslash", L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        QuoteCase{"lone quote", L"\"", L"\"\\\"\""},
        QuoteCase{"backslashes before a quote are doubled", L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
        QuoteCase{"trailing backslashes doubled before the closing quote", L"C:\\My Roms\\",
                  L"\"C:\\My Roms\\\\\""},
        QuoteCase{"inner backslashes stay single", L"C:\\a b\\c", L"\"C:\\a b\\c\""},
        QuoteCase{"only blanks", L"   ", L"\"   \""},
        QuoteCase{"non-ASCII without blanks unchanged", L"Jo\u00e3o", L"Jo\u00e3o"}));

struct JoinCase {
  const char* scenario;
  std::vector<std::wstring> arguments;
  std::wstring joined;
};

void PrintTo(const JoinCase& c, std::ostream* out) { *out << c.scenario; }

class BuildLaunchArgumentsTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(BuildLaunchArgumentsTest, JoinsWithSingleBlanks) {
  const JoinCase& c = GetParam();
  EXPECT_EQ(BuildLaunchArguments(c.arguments), c.joined);
#ifdef _WIN32
  if (!c.arguments.empty()) {
    std::vector<std::wstring> split = Split(BuildLaunchArguments(c.arguments));
    ASSERT_EQ(split.size(), c.arguments.size());
    for (size_t i = 0; i < split.size(); ++i) EXPECT_EQ(split[i], c.arguments[i]);
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Table, BuildLaunchArgumentsTest,
    ::testing::Values(
        JoinCase{"empty list gives an empty string", {}, L""},
        JoinCase{"one argument", {L"--rom"}, L"--rom"},
        JoinCase{"two arguments, one blank between", {L"--rom", L"C:\\a b.rom"},
                 L"--rom \"C:\\a b.rom\""},
        JoinCase{"empty arguments kept", {L"", L"x", L""}, L"\"\" x \"\""},
        JoinCase{"quote and trailing backslash", {L"a\"b", L"dir\\"}, L"\"a\\\"b\" dir\\"}));

#ifdef _WIN32
// Thousands of seeded random strings over the characters that matter.
TEST(QuoteRandom, RoundTripsThroughCommandLineToArgvW) {
  const wchar_t alphabet[] = {L' ', L'\t', L'\n', L'\v', L'"', L'\\', L'a', L'b', L'Z'};
  std::mt19937 generator(20240611);
  std::uniform_int_distribution<size_t> length(0, 14);
  std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 1);
  std::uniform_int_distribution<size_t> group(1, 4);
  auto random_string = [&] {
    std::wstring text(length(generator), L' ');
    for (wchar_t& c : text) c = alphabet[pick(generator)];
    return text;
  };

  int failures = 0;
  for (int round = 0; round < 4000 && failures < 10; ++round) {
    std::wstring argument = random_string();
    std::vector<std::wstring> split = Split(QuoteWindowsArgument(argument));
    if (split.size() != 1 || split[0] != argument) {
      ++failures;
      ADD_FAILURE() << "argument [" << Visible(argument) << "] quoted ["
                    << Visible(QuoteWindowsArgument(argument)) << "] split into " << split.size();
    }
  }
  for (int round = 0; round < 1500 && failures < 10; ++round) {
    std::vector<std::wstring> arguments(group(generator));
    for (auto& argument : arguments) argument = random_string();
    std::vector<std::wstring> split = Split(BuildLaunchArguments(arguments));
    if (split != arguments) {
      ++failures;
      ADD_FAILURE() << "list joined as [" << Visible(BuildLaunchArguments(arguments))
                    << "] split into " << split.size();
    }
  }
}
#endif

}  // namespace
