// lanternbrook-release check: a manifest against its folder or its server;
// every change after make is caught and named, and a manifest the installer
// would refuse is refused with the installer's own message.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/support/same_file_paths.h"
#include "tests/support/test_servers.h"
#include "tests/tools/release_tool_fixture.h"

namespace {

using lbtest::ReleaseFile;
using lbtest::ToolResult;
namespace texts = lbtest::texts;

const char kChanged[] = "data/\xC3\xA1rea/mapa 1.bin";  // data/área/mapa 1.bin

std::vector<ReleaseFile> CheckedRelease() {
  return {
      {"LanternbrookUpdater.exe", lbtest::RandomBytes(4000, 21)},
      {"LanternbrookEmulator.exe", lbtest::RandomBytes(9000, 22)},
      {kChanged, lbtest::RandomBytes(200000, 23)},
      {"data/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88/readme.txt", "Lanternbrook\r\n"},
  };
}

// A change made to one file after make.
enum class Change { kSameSizeOtherContent, kOtherSize, kRemoved };

struct ChangeCase {
  const char* name;
  std::string path;
  Change change;
  bool server;  // check --base-url against nginx, else --folder
};

std::ostream& operator<<(std::ostream& out, const ChangeCase& c) { return out << c.name; }

class CheckAfterChange : public lbtest::ReleaseToolTest,
                         public ::testing::WithParamInterface<ChangeCase> {
 protected:
  void SetUp() override {
    ReleaseToolTest::SetUp();
    if (GetParam().server) {
      server_ = std::make_unique<lbtest::NginxServer>();
      release_ = server_->Root() + L"\\releases\\1.4.2";
    } else {
      release_ = Release();
    }
    files_ = CheckedRelease();
    lbtest::WriteRelease(release_, files_);
    ToolResult make = lbtest::RunReleaseTool({L"make", release_, L"--version", L"1.4.2",
                                              L"--build", L"142", L"--url-base",
                                              L"/releases/1.4.2", L"--output", ManifestPath()});
    ASSERT_EQ(make.exit_code, 0u) << make.err;
  }

  ToolResult Check() {
    if (server_) return lbtest::RunReleaseTool({L"check", ManifestPath(), L"--base-url", server_->Origin()});
    return lbtest::RunReleaseTool({L"check", ManifestPath(), L"--folder", release_});
  }

  std::wstring release_;
  std::vector<ReleaseFile> files_;
  std::unique_ptr<lbtest::NginxServer> server_;
};

TEST_P(CheckAfterChange, NamesTheFileWithExpectedAndActual) {
  const ChangeCase& c = GetParam();
  ToolResult before = Check();
  ASSERT_EQ(before.exit_code, 0u) << "fresh release: " << before.out << before.err;

  std::string original;
  for (const ReleaseFile& file : files_) {
    if (file.path == c.path) original = file.bytes;
  }
  ASSERT_FALSE(original.empty());
  std::wstring target = lbtest::InFolder(release_, c.path);
  std::string expected_line;
  switch (c.change) {
    case Change::kSameSizeOtherContent: {
      std::string changed = original;
      changed[changed.size() / 2] ^= 0x01;  // one bit, as a re-signing tool might
      lbtest::WriteFileBytes(target, changed);
      expected_line = "MISMATCH " + c.path + ": sha256 expected " +
                      lbtest::ReferenceSha256(original) + ", actual " +
                      lbtest::ReferenceSha256(changed) + "\n";
      break;
    }
    case Change::kOtherSize:
      lbtest::WriteFileBytes(target, original + "!");
      expected_line = "MISMATCH " + c.path + ": size expected " + std::to_string(original.size()) +
                      ", actual " + std::to_string(original.size() + 1) + "\n";
      break;
    case Change::kRemoved:
      ASSERT_TRUE(DeleteFileW(target.c_str()));
      expected_line = c.server ? "FAILED   " + c.path + ": " + lbtest::Narrow(server_->Origin()) +
                                     "/releases/1.4.2/"
                               : "MISSING  " + c.path + ": no such file in ";
      break;
  }

  ToolResult after = Check();
  EXPECT_EQ(after.exit_code, 1u);
  EXPECT_NE(after.out.find(expected_line), std::string::npos)
      << "expected: " << expected_line << "\nstdout: " << after.out;
  EXPECT_EQ(std::count(after.out.begin(), after.out.end(), '\n'), 1) << "only that file: " << after.out;
  EXPECT_NE(after.err.find("lanternbrook-release: check failed: 1 problem in "), std::string::npos)
      << after.err;
  if (c.server && c.change == Change::kRemoved) {
    EXPECT_NE(after.out.find(": HTTP status 404"), std::string::npos) << after.out;
  }
  if (c.server) {  // the tool asks as the installer does
    for (const lbtest::ServerRequest& request : server_->Requests()) {
      EXPECT_EQ(request.user_agent, lbtest::texts::kUserAgent) << request.path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, CheckAfterChange,
    ::testing::Values(
        ChangeCase{"FolderSameSizeOtherContent", kChanged, Change::kSameSizeOtherContent, false},
        ChangeCase{"FolderOtherSize", kChanged, Change::kOtherSize, false},
        ChangeCase{"FolderRemoved", kChanged, Change::kRemoved, false},
        ChangeCase{"FolderUpdaterResigned", "LanternbrookUpdater.exe", Change::kSameSizeOtherContent, false},
        ChangeCase{"ServerSameSizeOtherContent", kChanged, Change::kSameSizeOtherContent, true},
        ChangeCase{"ServerOtherSize", "LanternbrookEmulator.exe", Change::kOtherSize, true},
        ChangeCase{"ServerRemoved", kChanged, Change::kRemoved, true}), lbtest::CaseName());

// Manifests edited after make: the installer's own parser and rules decide.
struct EditedManifestCase {
  const char* name;
  std::function<void(std::string&)> edit;
  std::string message;  // "err:" on standard error, otherwise on standard output
};

std::ostream& operator<<(std::ostream& out, const EditedManifestCase& c) { return out << c.name; }

void Replace(std::string& text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

class CheckEditedManifest : public lbtest::ReleaseToolTest,
                            public ::testing::WithParamInterface<EditedManifestCase> {};

TEST_P(CheckEditedManifest, ReportsWhatTheInstallerWouldSay) {
  const EditedManifestCase& c = GetParam();
  lbtest::WriteRelease(Release(), lbtest::SmallRelease());
  ASSERT_EQ(Make(L"/r").exit_code, 0u);
  std::string text = lbtest::ReadFileBytes(ManifestPath());
  c.edit(text);
  lbtest::WriteFileBytes(ManifestPath(), text);
  ToolResult check = CheckFolder();
  EXPECT_EQ(check.exit_code, c.message.empty() ? 0u : 1u) << check.out << check.err;
  if (c.message.rfind("err:", 0) == 0) {
    EXPECT_NE(check.err.find(c.message.substr(4)), std::string::npos) << check.err;
  } else {
    EXPECT_NE(check.out.find(c.message), std::string::npos) << check.out;
  }
}

const std::string kRefused = "err:manifest.json: the installer refuses this manifest: ";

INSTANTIATE_TEST_SUITE_P(
    Edits, CheckEditedManifest,
    ::testing::Values(
        EditedManifestCase{"BuildZero", [](std::string& t) { Replace(t, "\"build\": 142", "\"build\": 0"); },
                           kRefused + texts::kIncompleteManifest},
        EditedManifestCase{"QuotedSize",
                           [](std::string& t) { Replace(t, "\"size\": 5000", "\"size\": \"5000\""); },
                           kRefused + texts::kBadNumber},
        EditedManifestCase{"HashOf63Digits",
                           [](std::string& t) { t.erase(t.find("\"hash\": \"") + 9, 1); },
                           kRefused + texts::kIncompleteEntry},
        EditedManifestCase{"UpdaterRenamed",
                           [](std::string& t) {
                             Replace(t, "\"path\": \"LanternbrookUpdater.exe\"",
                                     "\"path\": \"bin/LanternbrookUpdater.exe\"");
                           },
                           kRefused + texts::kIncompleteManifest},
        EditedManifestCase{"PathClimbsOut",
                           [](std::string& t) { Replace(t, "\"path\": \"data/a.txt\"", "\"path\": \"../a.txt\""); },
                           std::string("REFUSED  ../a.txt: the installer refuses it: ") + texts::kUnsafePath + "\n"},
        EditedManifestCase{"PlainHttpUrl",
                           [](std::string& t) { Replace(t, "\"url\": \"/r/data/a.txt\"", "\"url\": \"http://h/a.txt\""); },
                           std::string("REFUSED  data/a.txt: the installer refuses it: ") + texts::kUnsafeUrl + "\n"},
        EditedManifestCase{"SameFileTwiceForWindows",
                           [](std::string& t) { Replace(t, "\"path\": \"data/a.txt\"", "\"path\": \"DATA/B/C.BIN\""); },
                           std::string("TWICE    data/b/c.bin: the same file as DATA/B/C.BIN for Windows; the "
                                       "installer refuses the manifest: ") + texts::kUnsafePath + "\n"},
        EditedManifestCase{"WrongTotalSize",
                           [](std::string& t) { Replace(t, "\"total_size\": 75014", "\"total_size\": 75000"); },
                           "MISMATCH total_size: expected 75014 (the sum of the files' sizes), actual 75000\n"},
        EditedManifestCase{"UpperCaseHashStillMatches",
                           [](std::string& t) {
                             const std::size_t at = t.find("\"hash\": \"") + 9;
                             t.replace(at, 64, lbtest::Upper(t.substr(at, 64)));
                           },
                           ""},
        EditedManifestCase{"PaddedToExactlyTheLimit",
                           [](std::string& t) { t.append(2097152 - t.size(), ' '); }, ""},
        EditedManifestCase{"PaddedOneByteBeyondTheLimit",
                           [](std::string& t) { t.append(2097153 - t.size(), ' '); },
                           "err:manifest.json: larger than the installer accepts (2097152 bytes)"}),
    lbtest::CaseName());

}  // namespace

namespace {

// A release as served, with what would break a download or its resume. The
// release is SmallRelease() under /releases/1.4.2 on a FaultServer; the
// resume request for data/b/c.bin (70000 bytes) asks for bytes=35000-.
struct FindingCase {
  const char* name;
  std::string certificate = "localhost";   // the server's certificate
  lbtest::FaultRule rule;                  // for /releases/1.4.2/<rule_path>
  std::string extra_path;                  // one more file of the release ...
  std::size_t extra_size = 0;              // ... of this many random bytes (0: a line)
  std::string rule_path = "data/b/c.bin";
  bool server_stopped = false;             // nobody listens when check runs
  std::string expected;  // a line of standard output ({origin}: the server's); "" for none
};

std::ostream& operator<<(std::ostream& out, const FindingCase& c) { return out << c.name; }

class CheckFinding : public lbtest::ReleaseToolTest,
                     public ::testing::WithParamInterface<FindingCase> {};

TEST_P(CheckFinding, NamesWhatWouldBreakTheDownload) {
  const FindingCase& c = GetParam();
  lbtest::FaultServer server({.certificate = c.certificate});
  std::wstring release = server.Root() + L"\\releases\\1.4.2";
  std::vector<ReleaseFile> files = lbtest::SmallRelease();
  if (!c.extra_path.empty()) {
    files.push_back({c.extra_path, c.extra_size ? lbtest::RandomBytes(c.extra_size, 9) : "extra\r\n"});
  }
  lbtest::WriteRelease(release, files);
  ToolResult make = lbtest::RunReleaseTool({L"make", release, L"--version", L"1.4.2", L"--build",
                                            L"142", L"--url-base", L"/releases/1.4.2",
                                            L"--output", ManifestPath()});
  ASSERT_EQ(make.exit_code, 0u) << make.err;
  server.SetRule("/releases/1.4.2/" + c.rule_path, c.rule);
  std::wstring origin = server.Origin();
  if (c.server_stopped) server.Stop();

  ToolResult check = lbtest::RunReleaseTool({L"check", ManifestPath(), L"--base-url", origin});
  std::string expected = c.expected;
  if (std::size_t at = expected.find("{origin}"); at != std::string::npos) {
    expected.replace(at, 8, lbtest::Narrow(origin));
  }
  EXPECT_EQ(check.exit_code, expected.empty() ? 0u : 1u) << check.out << check.err;
  if (!expected.empty()) {
    EXPECT_NE(check.out.find(expected), std::string::npos)
        << "expected: " << expected << "\nstdout: " << check.out;
  }
}

// 187 characters: its staging path in a typical installation has 260.
const std::string kLongPath = "data/" + std::string(178, 'x') + ".bin";

INSTANTIATE_TEST_SUITE_P(
    Findings, CheckFinding,
    ::testing::Values(
        FindingCase{.name = "SoundServer"},
        FindingCase{.name = "UntrustedCertificate", .certificate = "selfsigned",
                    .expected = "FAILED   data/a.txt: {origin}/releases/1.4.2/data/a.txt: the "
                                "server's certificate is not trusted"},
        FindingCase{.name = "CertificateOfAnotherHost", .certificate = "otherhost",
                    .expected = "FAILED   data/a.txt: {origin}/releases/1.4.2/data/a.txt: the "
                                "server's certificate is issued for another host name\n"},
        FindingCase{.name = "ExpiredCertificate", .certificate = "expired",
                    .expected = "FAILED   data/a.txt: {origin}/releases/1.4.2/data/a.txt: the "
                                "server's certificate has expired"},
        FindingCase{.name = "ConnectionRefused", .server_stopped = true,
                    .expected = "FAILED   data/a.txt: {origin}/releases/1.4.2/data/a.txt: the "
                                "connection was refused"},
        FindingCase{.name = "NoRangeSupport", .rule = {.ignore_range = true},
                    .expected = "NORANGE  data/b/c.bin: 200 (the whole file) to Range: "
                                "bytes=35000-\n"},
        FindingCase{.name = "RangeFromAnotherOffset", .rule = {.range_offset = 0},
                    .expected = "NORANGE  data/b/c.bin: 206 with Content-Range \"bytes "
                                "0-69999/70000\" to Range: bytes=35000-\n"},
        FindingCase{.name = "RangeNotSatisfiable", .rule = {.status = 416, .body = "", .count = 1},
                    .expected = "NORANGE  data/b/c.bin: 416 to Range: bytes=35000-\n"},
        FindingCase{.name = "BlockRangesAnsweredWhole", .rule = {.ignore_closed_range = true},
                    .extra_path = "data/map.bin", .extra_size = 1 << 21, .rule_path = "data/map.bin",
                    .expected = "NORANGE  data/map.bin: 200 (the whole file) to Range: "
                                "bytes=1048576-1114111\n"},
        FindingCase{.name = "RangeBodyCutShort", .rule = {.close_after = 1000, .count = 1},
                    .expected = "NORANGE  data/b/c.bin: 206 with 1000 bytes to Range: "
                                "bytes=35000-, expected 35000\n"},
        FindingCase{.name = "LongStagingPath", .extra_path = kLongPath,
                    .expected = "LONGPATH " + kLongPath + ": its staging path would be 260 "
                                "characters in a typical installation, more than 259"}), lbtest::CaseName());

// Two entries that Windows takes for one file: check and diff refuse the
// manifest as the installer does; two entries it keeps apart pass.
class SameFileRule : public lbtest::ReleaseToolTest,
                     public ::testing::WithParamInterface<lbtest::SameFilePair> {};

TEST_P(SameFileRule, CheckAndDiffAnswerAsTheInstaller) {
  const lbtest::SameFilePair& c = GetParam();
  const std::string content = "12345", updater = lbtest::RandomBytes(3000, 41);
  const bool second_is_updater = c.second == "LanternbrookUpdater.exe";
  lbtest::Release release{"1", 1, {lbtest::FileWithBytes(c.first, second_is_updater ? updater : content, "/r/")},
                          lbtest::FileWithBytes("LanternbrookUpdater.exe", updater, "/r/")};
  if (!second_is_updater) release.files.push_back(lbtest::FileWithBytes(c.second, content, "/r/"));
  lbtest::WriteFileBytes(ManifestPath(), release.ManifestJson());
  lbtest::WriteRelease(Release(), {release.updater});
  if (!second_is_updater) lbtest::WriteRelease(Release(), release.files);
  std::wstring old_manifest = Path(L"old.json");
  lbtest::WriteFileBytes(old_manifest, lbtest::Release{"0", 1, {lbtest::FileWithBytes("other.bin", content, "/r/")},
                                                       release.updater}.ManifestJson());

  ToolResult check = CheckFolder();
  ToolResult diff = lbtest::RunReleaseTool({L"diff", old_manifest, ManifestPath()});
  if (c.same) {
    EXPECT_EQ(check.exit_code, 1u);
    EXPECT_NE(check.out.find("TWICE    " + c.second + ": the same file as " + c.first +
                             " for Windows; the installer refuses the manifest: " + texts::kUnsafePath + "\n"),
              std::string::npos)
        << check.out;
    EXPECT_EQ(diff.exit_code, 1u) << diff.out;
    EXPECT_NE(diff.err.find(c.first + " and " + c.second + " are the same file for Windows: "
                            "the installer refuses this manifest: " + texts::kUnsafePath),
              std::string::npos)
        << diff.err;
  } else {
    EXPECT_EQ(check.exit_code, 0u) << check.out << check.err;
    EXPECT_EQ(diff.exit_code, 0u) << diff.err;
    EXPECT_NE(diff.out.find("FETCH    " + c.second + ": new\n"), std::string::npos) << diff.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, SameFileRule, ::testing::ValuesIn(lbtest::SameFilePairs()),
                         lbtest::CaseName());

}  // namespace
