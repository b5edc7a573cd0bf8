// lanternbrook-release diff: what the users of one release download to get
// the next, decided as the installer decides which files are intact.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/support/test_servers.h"
#include "tests/tools/release_tool_fixture.h"

namespace {

using lbtest::ToolResult;

// One entry: path, size and the digest's repeated hex digit. The entry named
// LanternbrookUpdater.exe becomes bootstrap_updater.
struct Entry {
  std::string path;
  std::uint64_t size;
  char digit;
};

std::string ManifestJson(const std::vector<Entry>& entries) {
  lbtest::Release release{"1", 1};
  for (const Entry& e : entries) {
    const lbtest::ReleaseFile file{.path = e.path, .hash = std::string(64, e.digit),
                                   .url = "/r/" + std::to_string(e.size), .size = e.size};
    if (e.path == "LanternbrookUpdater.exe") release.updater = file;
    else release.files.push_back(file);
  }
  return release.ManifestJson();
}

const Entry kUpdater{"LanternbrookUpdater.exe", 100, 'a'};

struct DiffCase {
  const char* name;
  std::vector<Entry> old_entries;
  std::vector<Entry> new_entries;
  std::string expected;  // the whole standard output; "err:<text>" for a refusal
  bool old_served = false;  // the old manifest is given by its https:// address
};

std::ostream& operator<<(std::ostream& out, const DiffCase& c) { return out << c.name; }

class ReleaseDiff : public lbtest::ReleaseToolTest, public ::testing::WithParamInterface<DiffCase> {};

TEST_P(ReleaseDiff, ListsWhatUsersFetch) {
  const DiffCase& c = GetParam();
  std::wstring old_manifest = Path(L"old.json"), new_manifest = Path(L"new.json");
  std::unique_ptr<lbtest::NginxServer> server;
  if (c.old_served) {
    server = std::make_unique<lbtest::NginxServer>();
    lbtest::PublishManifest(*server, ManifestJson(c.old_entries));
    old_manifest = server->Url(lbtest::kManifestPath);
  } else {
    lbtest::WriteFileBytes(old_manifest, ManifestJson(c.old_entries));
  }
  lbtest::WriteFileBytes(new_manifest, ManifestJson(c.new_entries));

  ToolResult diff = lbtest::RunReleaseTool({L"diff", old_manifest, new_manifest});
  if (c.expected.rfind("err:", 0) == 0) {
    EXPECT_EQ(diff.exit_code, 1u) << diff.out;
    EXPECT_NE(diff.err.find(c.expected.substr(4)), std::string::npos) << diff.err;
  } else {
    EXPECT_EQ(diff.exit_code, 0u) << diff.err;
    EXPECT_EQ(diff.out, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Releases, ReleaseDiff,
    ::testing::Values(
        DiffCase{"SameRelease", {{"a.bin", 200, '1'}, {"b/c.bin", 300, '2'}, kUpdater},
                 {{"a.bin", 200, '1'}, {"b/c.bin", 300, '2'}, kUpdater},
                 "KEEP     a.bin\nKEEP     b/c.bin\nKEEP     LanternbrookUpdater.exe\n"
                 "fetch 0 of 3 files, 0 of 600 bytes\n"},
        DiffCase{"ChangedAddedAndLeft",
                 {{"a.bin", 200, '1'}, {"b/c.bin", 300, '2'}, {"old.txt", 5, '3'}, kUpdater},
                 {{"a.bin", 200, '9'}, {"b/c.bin", 301, '2'}, {"new.txt", 7, '4'},
                  {"LanternbrookUpdater.exe", 100, 'b'}},
                 "FETCH    a.bin: other sha256\nFETCH    b/c.bin: size 300 -> 301\n"
                 "FETCH    new.txt: new\nFETCH    LanternbrookUpdater.exe: other sha256\n"
                 "LEFT     old.txt\nfetch 4 of 4 files, 608 of 608 bytes\n"},
        DiffCase{"LetterCaseNamesTheSameFile", {{"Data/A.bin", 200, '1'}, kUpdater},
                 {{"data/a.bin", 200, '1'}, {"data/b.bin", 50, '5'}, kUpdater},
                 "KEEP     data/a.bin\nFETCH    data/b.bin: new\nKEEP     LanternbrookUpdater.exe\n"
                 "fetch 1 of 3 files, 50 of 350 bytes\n"},
        DiffCase{"DigestInOtherLetterCase", {{"a.bin", 200, 'f'}, kUpdater},
                 {{"a.bin", 200, 'F'}, kUpdater},
                 "KEEP     a.bin\nKEEP     LanternbrookUpdater.exe\n"
                 "fetch 0 of 2 files, 0 of 300 bytes\n"},
        DiffCase{"OldManifestFromTheServer", {{"a.bin", 200, '1'}, kUpdater},
                 {{"a.bin", 200, '2'}, kUpdater},
                 "FETCH    a.bin: other sha256\nKEEP     LanternbrookUpdater.exe\n"
                 "fetch 1 of 2 files, 200 of 300 bytes\n", true},
        DiffCase{"PathTheInstallerRefuses", {{"a.bin", 200, '1'}, kUpdater},
                 {{"../a.bin", 200, '1'}, kUpdater},
                 std::string("err:new.json: ../a.bin: the installer refuses it: ") +
                     lbtest::texts::kUnsafePath}), lbtest::CaseName());

}  // namespace
