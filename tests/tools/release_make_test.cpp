// lanternbrook-release make: what it writes is what the installer reads, and
// everything the installer could not install is refused, naming the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/tools/release_tool_fixture.h"
#include "transfer/block_list.h"

namespace {

using lbtest::ReleaseFile;
using lbtest::ToolResult;
using lbtest::Widen;

// A nested release with non-ASCII names, listed here in the order the
// manifest must have: UTF-8 byte order of the path ('-' < '.' < '/' <
// upper case < lower case < multi-byte sequences). The updater is not listed
// in `files`. Each entry: path, size, url under the base "/releases/1.4.2".
struct ExpectedEntry {
  std::string path;
  std::size_t size;
  std::string url;
};

const ExpectedEntry kNestedRelease[] = {
    {"LanternbrookEmulator.exe", 40000, "/releases/1.4.2/LanternbrookEmulator.exe"},
    {"Zeta.txt", 5, "/releases/1.4.2/Zeta.txt"},
    {"a-b.txt", 6, "/releases/1.4.2/a-b.txt"},
    {"a.txt", 7, "/releases/1.4.2/a.txt"},
    {"a/b.txt", 8, "/releases/1.4.2/a/b.txt"},
    {"data/a\xC3\xA7\xC3\xA3o/m\xC3\xBAsica/faixa 01.ogg", 123457,
     "/releases/1.4.2/data/a%C3%A7%C3%A3o/m%C3%BAsica/faixa%2001.ogg"},
    {"data/maps/\xC3\xA1rea 1.bin", 300001, "/releases/1.4.2/data/maps/%C3%A1rea%201.bin"},
    {"data/x+y (1)&.bin", 9, "/releases/1.4.2/data/x%2By%20%281%29%26.bin"},
    {"\xC3\xA9.txt", 10, "/releases/1.4.2/%C3%A9.txt"},
    {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.txt", 11,
     "/releases/1.4.2/%E6%97%A5%E6%9C%AC%E8%AA%9E/%E3%83%86%E3%82%B9%E3%83%88.txt"},
    {"\xF0\x9F\x8E\xAE/jogo.bin", 12, "/releases/1.4.2/%F0%9F%8E%AE/jogo.bin"},
};

class MakeTest : public lbtest::ReleaseToolTest {
 protected:
  // Writes kNestedRelease plus the updater; returns every file written.
  std::vector<ReleaseFile> WriteNestedRelease() {
    std::vector<ReleaseFile> files;
    std::uint32_t seed = 100;
    for (const ExpectedEntry& entry : kNestedRelease) {
      files.push_back({entry.path, lbtest::RandomBytes(entry.size, seed++)});
    }
    files.push_back({"LanternbrookUpdater.exe", lbtest::RandomBytes(20000, 99)});
    lbtest::WriteRelease(Release(), files);
    return files;
  }
};

TEST_F(MakeTest, NestedNonAsciiReleaseRoundTripsThroughCheck) {
  std::vector<ReleaseFile> files = WriteNestedRelease();
  ToolResult make = Make(L"/releases/1.4.2/");
  ASSERT_EQ(make.exit_code, 0u) << make.err;
  EXPECT_EQ(make.err, "");
  EXPECT_NE(make.out.find("wrote "), std::string::npos) << make.out;

  UpdateManifest manifest = lbtest::ReadManifest(ManifestPath());
  EXPECT_EQ(manifest.version, "1.4.2");
  EXPECT_EQ(manifest.build, 142u);
  ASSERT_EQ(manifest.files.size(), std::size(kNestedRelease));
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < manifest.files.size(); ++i) {
    const ManifestFile& entry = manifest.files[i];
    SCOPED_TRACE(kNestedRelease[i].path);
    EXPECT_EQ(entry.path, kNestedRelease[i].path) << "position " << i;
    EXPECT_EQ(entry.url, kNestedRelease[i].url);
    EXPECT_EQ(entry.size, kNestedRelease[i].size);
    EXPECT_EQ(entry.hash, lbtest::ReferenceSha256(files[i].bytes));
    total += entry.size;
  }
  EXPECT_EQ(manifest.total_size, total);
  EXPECT_EQ(manifest.bootstrap_updater.path, "LanternbrookUpdater.exe");
  EXPECT_EQ(manifest.bootstrap_updater.url, "/releases/1.4.2/LanternbrookUpdater.exe");
  EXPECT_EQ(manifest.bootstrap_updater.size, 20000u);
  EXPECT_EQ(manifest.bootstrap_updater.hash, lbtest::ReferenceSha256(files.back().bytes));
  EXPECT_EQ(lbtest::ReadFileBytes(ManifestPath()).find('\\'), std::string::npos)
      << "paths use '/' and nothing needs escaping";

  ToolResult check = CheckFolder();
  EXPECT_EQ(check.exit_code, 0u) << check.out << check.err;
  EXPECT_EQ(check.out.rfind("ok: ", 0), 0u) << check.out;
  EXPECT_EQ(check.err, "");
}

TEST_F(MakeTest, SameFolderGivesTheSameManifestAndNeverListsItsOwnOutputOrStaging) {
  lbtest::WriteRelease(Release(), lbtest::SmallRelease());
  lbtest::WriteRelease(Release(), {{".install-staging/data/a.txt.part", "Lantern"},
                                   {"data/.INSTALL-STAGING/x.part", "x"},
                                   {"manifest.json.tmp", "left by a crash"}});
  ASSERT_EQ(Make(L"/r").exit_code, 0u);
  std::string first = lbtest::ReadFileBytes(ManifestPath());
  ToolResult again = Make(L"/r");
  ASSERT_EQ(again.exit_code, 0u) << again.err;
  EXPECT_EQ(lbtest::ReadFileBytes(ManifestPath()), first) << "manifest.json listed itself";
  UpdateManifest manifest = lbtest::ReadManifest(ManifestPath());
  std::vector<std::string> paths;
  for (const ManifestFile& file : manifest.files) paths.push_back(file.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"LanternbrookEmulator.exe", "data/a.txt", "data/b/c.bin"}));
}

TEST_F(MakeTest, OutputElsewhereLeavesTheFolderUntouched) {
  lbtest::WriteRelease(Release(), lbtest::SmallRelease());
  std::wstring output = Path(L"web\\updates\\manifest.json");
  CreateDirectoryW(Path(L"web").c_str(), nullptr);
  CreateDirectoryW(Path(L"web\\updates").c_str(), nullptr);
  ToolResult make = Make(L"/r", {L"--output", output});
  ASSERT_EQ(make.exit_code, 0u) << make.err;
  EXPECT_FALSE(lbtest::PathExists(ManifestPath()));
  EXPECT_EQ(lbtest::ReadManifest(output).files.size(), 3u);
}

// --url-base: what each accepted base makes of the path "data/a b.txt".
struct UrlBaseCase {
  const char* name;
  std::wstring base;
  std::string url;
};

std::ostream& operator<<(std::ostream& out, const UrlBaseCase& c) { return out << c.name; }

class MakeUrlBase : public lbtest::ReleaseToolTest,
                    public ::testing::WithParamInterface<UrlBaseCase> {};

TEST_P(MakeUrlBase, JoinsBaseAndEncodedPath) {
  lbtest::WriteRelease(Release(), {{"LanternbrookUpdater.exe", "u"}, {"data/a b.txt", "ab"}});
  ToolResult make = Make(GetParam().base);
  ASSERT_EQ(make.exit_code, 0u) << make.err;
  UpdateManifest manifest = lbtest::ReadManifest(ManifestPath());
  ASSERT_EQ(manifest.files.size(), 1u);
  EXPECT_EQ(manifest.files[0].url, GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(
    Bases, MakeUrlBase,
    ::testing::Values(
        UrlBaseCase{"Root", L"/", "/data/a%20b.txt"},
        UrlBaseCase{"PathWithTrailingSlash", L"/releases/1.4.2/", "/releases/1.4.2/data/a%20b.txt"},
        UrlBaseCase{"PathAlreadyEncoded", L"/~ana/%C3%A9", "/~ana/%C3%A9/data/a%20b.txt"},
        UrlBaseCase{"HttpsHostOnly", L"https://cdn.example.org", "https://cdn.example.org/data/a%20b.txt"},
        UrlBaseCase{"HttpsWithPortAndPath", L"https://cdn.example.org:8443/lb/",
                    "https://cdn.example.org:8443/lb/data/a%20b.txt"}), lbtest::CaseName());

// Releases that are refused: exit 1, a message naming the file, nothing written.
struct RefusalCase {
  const char* name;
  std::vector<ReleaseFile> files;               // written with Win32 calls
  std::string unix_setup;                       // shell commands run in the folder
  std::vector<std::string> messages;            // each must appear on standard error
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c) { return out << c.name; }

std::vector<ReleaseFile> With(std::vector<ReleaseFile> extra) {
  std::vector<ReleaseFile> files = lbtest::SmallRelease();
  files.insert(files.end(), extra.begin(), extra.end());
  return files;
}

std::vector<ReleaseFile> Without(const std::string& path) {
  std::vector<ReleaseFile> files;
  for (auto& file : lbtest::SmallRelease()) {
    if (file.path != path) files.push_back(file);
  }
  return files;
}

class MakeRefusal : public lbtest::ReleaseToolTest,
                    public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(MakeRefusal, NamesTheFileAndWritesNothing) {
  const RefusalCase& c = GetParam();
  lbtest::WriteRelease(Release(), c.files);
  if (!c.unix_setup.empty()) {
    ASSERT_EQ(lbtest::RunUnix("cd " + lbtest::ShellQuote(lbtest::WindowsToUnixPath(Release())) +
                              " && " + c.unix_setup),
              0);
  }
  ToolResult make = Make(L"/r");
  EXPECT_EQ(make.exit_code, 1u);
  for (const std::string& message : c.messages) {
    EXPECT_NE(make.err.find(message), std::string::npos)
        << "expected: " << message << "\nstderr: " << make.err;
  }
  for (std::size_t line = 0; line < make.err.size(); line = make.err.find('\n', line) + 1) {
    EXPECT_EQ(make.err.compare(line, 31, "lanternbrook-release: refused: "), 0)
        << "every line is one refusal: " << make.err.substr(line);
    if (make.err.find('\n', line) == std::string::npos) break;
  }
  EXPECT_EQ(make.out, "");
  EXPECT_FALSE(lbtest::PathExists(ManifestPath()));
  EXPECT_FALSE(lbtest::PathExists(ManifestPath() + L".tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Releases, MakeRefusal,
    ::testing::Values(
        RefusalCase{"EmptyFile", With({{"data/empty.bin", ""}}), "",
                    {"data/empty.bin: empty file (a size of 0 cannot be listed in a manifest)"}},
        RefusalCase{"EmptyUpdater", With({{"LanternbrookUpdater.exe", ""}}), "",
                    {"LanternbrookUpdater.exe: empty file"}},
        RefusalCase{"MissingUpdater", Without("LanternbrookUpdater.exe"), "",
                    {"LanternbrookUpdater.exe is missing at the top of the release folder "}},
        RefusalCase{"UpdaterOnlyInASubfolder",
                    [] {
                      auto files = Without("LanternbrookUpdater.exe");
                      files.push_back({"bin/LanternbrookUpdater.exe", "u"});
                      return files;
                    }(),
                    "", {"LanternbrookUpdater.exe is missing at the top of the release folder "}},
        RefusalCase{"UpdaterInOtherLetterCase", Without("LanternbrookUpdater.exe"),
                    "printf u > lanternbrookupdater.exe",
                    {"(found lanternbrookupdater.exe: the name must be written exactly so)"}},
        RefusalCase{"UpdaterWithTrailingDot", Without("LanternbrookUpdater.exe"),
                    "printf u > LanternbrookUpdater.exe.",
                    {"(found LanternbrookUpdater.exe.: the name must be written exactly so)"}},
        RefusalCase{"StagingNameAsAFile", With({{".install-staging", "x"}}), "",
                    {std::string(".install-staging: the installer refuses this path (") +
                     lbtest::texts::kUnsafePath + ")"}},
        RefusalCase{"StagingNameWithTrailingDot", lbtest::SmallRelease(), "printf x > .Install-Staging.",
                    {std::string(".Install-Staging.: the installer refuses this path (") +
                     lbtest::texts::kUnsafePath + ")"}},
        RefusalCase{"NameNotUtf8", lbtest::SmallRelease(), "printf x > data/inv$(printf '\\377')alid.bin",
                    {"data/inv\xEF\xBF\xBD" "alid.bin: the name is not valid UTF-8"}},
        RefusalCase{"NamesDifferingOnlyInLetterCase", lbtest::SmallRelease(),
                    "mkdir Data && printf x > Data/d.bin",
                    {"Data and data: the names differ only in letter case"}},
        RefusalCase{"OnlyTheUpdater", {{"LanternbrookUpdater.exe", "u"}}, "",
                    {"holds no file besides LanternbrookUpdater.exe"}},
        RefusalCase{"EveryProblemAtOnce", With({{"a/empty.bin", ""}, {"b/empty.bin", ""}}),
                    "printf x > bad$(printf '\\377').bin",
                    {"a/empty.bin: empty file", "b/empty.bin: empty file",
                     "bad\xEF\xBF\xBD.bin: the name is not valid UTF-8"}}), lbtest::CaseName());

TEST_F(MakeTest, ManifestBeyondTheInstallersLimitIsRefused) {
  // 700 entries of about 3 KB each (a long URL base) come to about 2.2 MB.
  lbtest::WriteRelease(Release(), {{"LanternbrookUpdater.exe", "u"}});
  ASSERT_EQ(lbtest::RunUnix("cd " + lbtest::ShellQuote(lbtest::WindowsToUnixPath(Release())) +
                            " && for i in $(seq 700); do printf x > f$i.bin; done"),
            0);
  std::wstring base = L"/" + std::wstring(3000, L'p');
  ToolResult make = Make(base);
  EXPECT_EQ(make.exit_code, 1u);
  EXPECT_NE(make.err.find("manifest.json: the manifest would be "), std::string::npos) << make.err;
  EXPECT_NE(make.err.find(" bytes, more than the installer accepts (2097152 bytes)"),
            std::string::npos)
      << make.err;
  EXPECT_FALSE(lbtest::PathExists(ManifestPath()));

  ToolResult shorter = Make(L"/p");
  EXPECT_EQ(shorter.exit_code, 0u) << "the same files with a short base fit: " << shorter.err;
}

TEST_F(MakeTest, UnwritableOutputIsRefusedNamingIt) {
  lbtest::WriteRelease(Release(), lbtest::SmallRelease());
  std::wstring output = Path(L"no-such-folder\\manifest.json");
  ToolResult make = Make(L"/r", {L"--output", output});
  EXPECT_EQ(make.exit_code, 1u);
  EXPECT_NE(make.err.find(lbtest::Narrow(output) + ": cannot write the manifest"), std::string::npos)
      << make.err;
}

// The command line: help, and usage errors with exit status 2.
struct CommandLineCase {
  const char* name;
  std::vector<std::wstring> arguments;  // "{release}" stands for the release folder
  DWORD exit_code;
  std::string message;  // on standard error (usage errors) or output (help)
};

std::ostream& operator<<(std::ostream& out, const CommandLineCase& c) { return out << c.name; }

class MakeCommandLine : public lbtest::ReleaseToolTest,
                        public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(MakeCommandLine, AnswersAsCommandLineToolsDo) {
  const CommandLineCase& c = GetParam();
  lbtest::WriteRelease(Release(), lbtest::SmallRelease());
  std::vector<std::wstring> arguments;
  for (const std::wstring& argument : c.arguments) {
    arguments.push_back(argument == L"{release}" ? Release() : argument);
  }
  ToolResult result = lbtest::RunReleaseTool(arguments);
  EXPECT_EQ(result.exit_code, c.exit_code) << result.out << result.err;
  if (c.exit_code == 0) {
    EXPECT_EQ(result.out.rfind("Usage:\n", 0), 0u) << result.out;
    EXPECT_NE(result.out.find(c.message), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("lanternbrook-release: " + c.message, 0), 0u) << result.err;
    EXPECT_NE(result.err.find("Try 'lanternbrook-release --help'."), std::string::npos);
  }
  EXPECT_FALSE(lbtest::PathExists(ManifestPath()));
}

std::vector<std::wstring> MakeWith(std::vector<std::wstring> changed) {
  std::vector<std::wstring> arguments = {L"make", L"{release}", L"--version", L"1.0",
                                         L"--build", L"1", L"--url-base", L"/r"};
  for (std::size_t i = 0; i + 1 < changed.size(); i += 2) {
    bool replaced = false;
    for (std::size_t j = 2; j + 1 < arguments.size(); j += 2) {
      if (arguments[j] == changed[i]) {
        arguments[j + 1] = changed[i + 1];
        replaced = true;
      }
    }
    if (!replaced) {
      arguments.push_back(changed[i]);
      arguments.push_back(changed[i + 1]);
    }
  }
  return arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MakeCommandLine,
    ::testing::Values(
        CommandLineCase{"LongHelp", {L"--help"}, 0, "lanternbrook-release make <release folder>"},
        CommandLineCase{"ShortHelp", {L"-h"}, 0, "Exit status: 0 success"},
        CommandLineCase{"WindowsHelp", {L"/?"}, 0, "lanternbrook-release check <manifest file>"},
        CommandLineCase{"HelpAfterACommand", {L"make", L"{release}", L"--help"}, 0, "--url-base"},
        CommandLineCase{"NoArguments", {}, 2, "missing the command (make, check, diff, keygen or sign)"},
        CommandLineCase{"UnknownCommand", {L"publish"}, 2, "unknown command publish"},
        CommandLineCase{"NoFolder", {L"make", L"--version", L"1", L"--build", L"1", L"--url-base", L"/"},
                        2, "missing the release folder"},
        CommandLineCase{"TwoFolders", {L"make", L"{release}", L"other", L"--version", L"1"}, 2,
                        "unexpected argument other"},
        CommandLineCase{"NoVersion", {L"make", L"{release}", L"--build", L"1", L"--url-base", L"/"},
                        2, "missing --version"},
        CommandLineCase{"EmptyVersion", MakeWith({L"--version", L""}), 2, "--version is empty"},
        CommandLineCase{"VersionWithUnpairedSurrogate", MakeWith({L"--version", L"1.\xD800"}), 2,
                        "--version \"1.\\uD800\" is not valid UTF-8 text"},
        CommandLineCase{"BuildZero", MakeWith({L"--build", L"0"}), 2,
                        "--build \"0\": the installer refuses build 0"},
        CommandLineCase{"BuildNotANumber", MakeWith({L"--build", L"12a"}), 2,
                        "--build \"12a\": only decimal digits are allowed"},
        CommandLineCase{"BuildBeyond64Bits", MakeWith({L"--build", L"18446744073709551616"}), 2,
                        "--build \"18446744073709551616\": larger than 18446744073709551615"},
        CommandLineCase{"RelativeUrlBase", MakeWith({L"--url-base", L"releases"}), 2,
                        "--url-base \"releases\": must be a path starting with \"/\" or an "
                        "absolute https:// address"},
        CommandLineCase{"PlainHttpUrlBase", MakeWith({L"--url-base", L"http://cdn/r"}), 2,
                        "--url-base \"http://cdn/r\": must be a path"},
        CommandLineCase{"UpperCaseSchemeUrlBase", MakeWith({L"--url-base", L"HTTPS://cdn/r"}), 2,
                        "--url-base \"HTTPS://cdn/r\": must be a path"},
        CommandLineCase{"HttpsWithoutHost", MakeWith({L"--url-base", L"https:///r"}), 2,
                        "--url-base \"https:///r\": an https:// address needs a host"},
        CommandLineCase{"BlankInUrlBase", MakeWith({L"--url-base", L"/a b"}), 2,
                        "--url-base \"/a b\": only printable ASCII"},
        CommandLineCase{"QueryInUrlBase", MakeWith({L"--url-base", L"/a?b=1"}), 2,
                        "--url-base \"/a?b=1\": only printable ASCII"},
        CommandLineCase{"UnknownOption", MakeWith({L"--verbose", L"1"}), 2, "unknown option --verbose"},
        CommandLineCase{"OptionTwice", {L"make", L"{release}", L"--build=1", L"--build", L"2"}, 2,
                        "--build is given twice"},
        CommandLineCase{"OptionWithoutValue", {L"make", L"{release}", L"--version"}, 2,
                        "--version needs a value"},
        CommandLineCase{"CheckWithoutSource", {L"check", L"m.json"}, 2,
                        "check needs exactly one of --folder and --base-url"},
        CommandLineCase{"CheckWithBothSources",
                        {L"check", L"m.json", L"--folder", L"x", L"--base-url", L"https://h"}, 2,
                        "check needs exactly one of --folder and --base-url"},
        CommandLineCase{"CheckWithPlainHttp", {L"check", L"m.json", L"--base-url", L"http://h"}, 2,
                        "--base-url \"http://h\": must be an https:// address"},
        CommandLineCase{"DiffWithOneManifest", {L"diff", L"m.json"}, 2,
                        "diff needs the old and the new manifest"},
        CommandLineCase{"DiffWithThreeManifests", {L"diff", L"a.json", L"b.json", L"c.json"}, 2,
                        "unexpected argument c.json"}), lbtest::CaseName());

}  // namespace

// Files of 1 MiB and more get a block list beside them, named in the
// manifest and checked like a file; --no-blocks writes none.
struct BlocksCase {
  const char* name;
  std::vector<std::wstring> extra;  // options of make
  bool listed;                      // the 1 MiB file has a block list
};
void PrintTo(const BlocksCase& c, std::ostream* out) { *out << c.name; }

class MakeBlocks : public lbtest::ReleaseToolTest, public ::testing::WithParamInterface<BlocksCase> {};

TEST_P(MakeBlocks, WritesAListForLargeFilesOnly) {
  const BlocksCase& c = GetParam();
  std::vector<ReleaseFile> files = lbtest::SmallRelease();
  files.push_back({"data/map.bin", lbtest::RandomBytes(1 << 20, 5)});
  files.push_back({"data/almost.bin", lbtest::RandomBytes((1 << 20) - 1, 6)});
  lbtest::WriteRelease(Release(), files);
  ToolResult make = Make(L"/r", c.extra);
  ASSERT_EQ(make.exit_code, 0u) << make.err;
  const std::string first = lbtest::ReadFileBytes(ManifestPath());
  ASSERT_EQ(Make(L"/r", c.extra).exit_code, 0u);
  EXPECT_EQ(lbtest::ReadFileBytes(ManifestPath()), first) << "a block list was listed as a file";

  const UpdateManifest manifest = lbtest::ReadManifest(ManifestPath());
  const std::wstring list_path = Path(L"release\\data\\map.bin.lbblocks");
  for (const ManifestFile& file : manifest.files) {
    SCOPED_TRACE(file.path);
    if (file.path != "data/map.bin" || !c.listed) {
      EXPECT_FALSE(file.blocks);
      continue;
    }
    ASSERT_TRUE(file.blocks);
    EXPECT_EQ(file.blocks->url, "/r/data/map.bin.lbblocks");
    const std::string list = lbtest::ReadFileBytes(list_path);
    EXPECT_EQ(file.blocks->size, list.size());
    EXPECT_EQ(file.blocks->hash, lbtest::ReferenceSha256(list));
    const std::optional<BlockList> parsed = ParseBlockList(list);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->file_size, 1u << 20);
    EXPECT_LE(list.size() * 200, parsed->file_size) << "at most 0.5 % of the file";
  }
  EXPECT_EQ(lbtest::PathExists(list_path), c.listed);

  // The next release changes 64 KiB in the middle of the map: diff counts it
  // by blocks when both releases have block lists that can be read.
  files[files.size() - 2].bytes.replace(1 << 19, 65536, lbtest::RandomBytes(65536, 8));
  lbtest::WriteRelease(Path(L"next"), files);
  std::vector<std::wstring> next = {L"make", Path(L"next"), L"--version", L"1.4.3",
                                    L"--build", L"143", L"--url-base", L"/n"};
  next.insert(next.end(), c.extra.begin(), c.extra.end());
  ASSERT_EQ(lbtest::RunReleaseTool(next).exit_code, 0u);
  for (bool list_missing : {false, true}) {
    SCOPED_TRACE(list_missing ? "the new list is missing" : "both lists");
    if (list_missing && c.listed) DeleteFileW(Path(L"next\\data\\map.bin.lbblocks").c_str());
    ToolResult diff = lbtest::RunReleaseTool({L"diff", ManifestPath(), Path(L"next\\manifest.json")});
    EXPECT_EQ(diff.exit_code, 0u) << diff.err;
    EXPECT_NE(diff.out.find("FETCH    data/map.bin: other sha256\n"), std::string::npos) << diff.out;
    const std::size_t at = diff.out.find("by blocks: fetch ");
    EXPECT_EQ(at != std::string::npos, c.listed && !list_missing) << diff.out;
    if (at == std::string::npos) continue;
    unsigned long long fetched = 0, total = 0;
    ASSERT_EQ(std::sscanf(diff.out.c_str() + at, "by blocks: fetch %llu of %llu bytes\n", &fetched,
                          &total), 2) << diff.out;
    EXPECT_NE(diff.out.find(" of " + std::to_string(total) + " bytes\nby blocks"), std::string::npos);
    EXPECT_GE(fetched, 65536u);
    EXPECT_LE(fetched, 1u << 19) << "the unchanged blocks are copied";
  }

  ToolResult check = CheckFolder();
  EXPECT_EQ(check.exit_code, 0u) << check.out << check.err;
  if (!c.listed) return;
  // A block list that differs from the one listed is a mismatch like a file's.
  std::string list = lbtest::ReadFileBytes(list_path);
  list[list.size() - 1] ^= 1;
  lbtest::WriteFileBytes(list_path, list);
  check = CheckFolder();
  EXPECT_EQ(check.exit_code, 1u);
  EXPECT_NE(check.out.find("MISMATCH data/map.bin.lbblocks: sha256"), std::string::npos) << check.out;
}

INSTANTIATE_TEST_SUITE_P(Options, MakeBlocks,
                         ::testing::Values(BlocksCase{"ByDefault", {}, true},
                                           BlocksCase{"NoBlocks", {L"--no-blocks"}, false}),
                         lbtest::CaseName());
