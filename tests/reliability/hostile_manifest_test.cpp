// Hostile manifests: file paths that try to leave the application folder or
// to reach the staging folder, and file addresses that are not the update
// server's HTTPS. For each manifest the whole Wine drive C:, the prefix, the
// test's own folders and the shared places a rooted path could reach are
// listed before and after the run: nothing may appear or change outside the
// application folder. A path the rule refuses ends the run with its message
// before anything is written; a path it accepts lands inside the folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/reliability/reliability_support.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;
using namespace lbrel;

using namespace lbtest::texts;
// A filesystem error of the folder creation; the rest of its text is the
// system's message and the path.
constexpr char kCannotCreate[] = "create_directories: *";

// How a case must end.
enum class Expect {
  Refused,    // the run fails with `message` and the folder holds nothing new
  Installed,  // the run succeeds and the payload lies inside the folder
  Failed,     // the run fails with `message` (the operating system refused the name);
              // a message ending in '*' is matched as a prefix
};

bool SameMessage(const std::string& text, const std::string& expected) {
  if (!expected.empty() && expected.back() == '*')
    return text.compare(0, expected.size() - 1, expected, 0, expected.size() - 1) == 0;
  return text == expected;
}

struct ManifestCase {
  std::string name;
  std::string path_json;  // JSON text of the hostile entry's "path" (quotes included)
  std::string url_json;   // JSON text of its "url"; empty: the payload on the update server
  Expect expect;
  std::string message = {};
  // When set: the drive-relative current folder of C: becomes C:\lbx-sandbox,
  // holding this file, and the run is a process of its own (it may hang).
  std::string sandbox_file = {};
};

std::string Q(const std::string& raw) { return "\"" + raw + "\""; }

std::vector<ManifestCase> PathCases() {
  using E = Expect;
  std::vector<ManifestCase> c = {
      // Parent references in every spelling.
      {"parent", Q("../lbx-p1.bin"), {}, E::Refused, kUnsafePath},
      {"parent with backslash", Q("..\\\\lbx-p2.bin"), {}, E::Refused, kUnsafePath},
      {"climb past a folder", Q("a/../../lbx-p3.bin"), {}, E::Refused, kUnsafePath},
      {"climb past a folder with backslashes", Q("a\\\\..\\\\..\\\\lbx-p4.bin"), {}, E::Refused, kUnsafePath},
      {"climb past two folders", Q("a/b/../../../lbx-p5.bin"), {}, E::Refused, kUnsafePath},
      {"dot then parent", Q("./../lbx-p6.bin"), {}, E::Refused, kUnsafePath},
      {"dots between parents", Q("a/./../.././lbx-p7.bin"), {}, E::Refused, kUnsafePath},
      {"bare parent", Q(".."), {}, E::Refused, kUnsafePath},
      {"parent with trailing separator", Q("../"), {}, E::Refused, kUnsafePath},
      {"folder then two parents", Q("a/../.."), {}, E::Refused, kUnsafePath},
      {"parents with doubled separators", Q("a/..//..//lbx-p11.bin"), {}, E::Refused, kUnsafePath},
      {"parents with mixed separators", Q("a/..\\\\../lbx-p12.bin"), {}, E::Refused, kUnsafePath},
      {"parent written as escapes", Q("\\u002e\\u002e/lbx-p13.bin"), {}, E::Refused, kUnsafePath},
      {"separator written as an escape", Q("..\\u002flbx-p14.bin"), {}, E::Refused, kUnsafePath},
      {"many parents to /tmp", Q("../../../../../../../../../../../../tmp/lbx-p15.bin"), {}, E::Refused, kUnsafePath},
      // Rooted paths.
      {"rooted slash", Q("/lbx-r16.bin"), {}, E::Refused, kUnsafePath},
      {"rooted backslash", Q("\\\\lbx-r17.bin"), {}, E::Refused, kUnsafePath},
      {"rooted /tmp", Q("/tmp/lbx-r18.bin"), {}, E::Refused, kUnsafePath},
      {"three slashes", Q("///lbx-r19.bin"), {}, E::Refused, kUnsafePath},
      // Drives.
      {"drive-relative C:", Q("C:lbx-d20.bin"), {}, E::Refused, kUnsafePath},
      {"drive C: rooted", Q("C:/lbx-d21.bin"), {}, E::Refused, kUnsafePath},
      {"drive c: windows folder", Q("c:\\\\windows\\\\lbx-d22.bin"), {}, E::Refused, kUnsafePath},
      {"drive-relative Z:", Q("Z:lbx-d23.bin"), {}, E::Refused, kUnsafePath},
      {"drive z: /tmp", Q("z:/tmp/lbx-d24.bin"), {}, E::Refused, kUnsafePath},
      {"dot before a drive", Q("./C:lbx-d25.bin"), {}, E::Refused, kUnsafePath},
      {"folder and parent before a drive", Q("a/../C:/lbx-d26.bin"), {}, E::Refused, kUnsafePath},
      // Network and device prefixes.
      {"UNC share", Q("\\\\\\\\server\\\\share\\\\lbx-u27.bin"), {}, E::Refused, kUnsafePath},
      {"UNC with slashes", Q("//server/share/lbx-u28.bin"), {}, E::Refused, kUnsafePath},
      {"UNC administrative share", Q("\\\\\\\\localhost\\\\C$\\\\lbx-u29.bin"), {}, E::Refused, kUnsafePath},
      {"device prefix with a question mark", Q("\\\\\\\\?\\\\C:\\\\lbx-v31.bin"), {}, E::Refused, kUnsafePath},
      {"device prefix with a dot", Q("\\\\\\\\.\\\\C:\\\\lbx-v32.bin"), {}, E::Refused, kUnsafePath},
      {"NT object prefix", Q("\\\\??\\\\C:\\\\lbx-v33.bin"), {}, E::Refused, kUnsafePath},
      {"device prefix with slashes", Q("//?/Z:/tmp/lbx-v34.bin"), {}, E::Refused, kUnsafePath},
      {"device UNC prefix", Q("\\\\\\\\?\\\\UNC\\\\localhost\\\\C$\\\\lbx-v35.bin"), {}, E::Refused, kUnsafePath},
      {"GLOBALROOT", Q("\\\\\\\\?\\\\GLOBALROOT\\\\??\\\\Z:\\\\tmp\\\\lbx-v37.bin"), {}, E::Refused, kUnsafePath},
      {"named pipe through the dot prefix", Q("//./pipe/lbx-v38"), {}, E::Refused, kUnsafePath},
      // The staging folder, in any spelling Windows takes for it.
      {"staging folder", Q(".install-staging/lbx-s38.bin"), {}, E::Refused, kUnsafePath},
      {"staging folder upper case", Q(".INSTALL-STAGING/lbx-s39.bin"), {}, E::Refused, kUnsafePath},
      {"staging folder with a trailing dot", Q(".Install-Staging./lbx-s40.bin"), {}, E::Refused, kUnsafePath},
      {"staging folder with a trailing blank", Q(".install-staging /lbx-s41.bin"), {}, E::Refused, kUnsafePath},
      {"staging folder with dots and blanks", Q(".install-staging. . ./lbx-s42.bin"), {}, E::Refused, kUnsafePath},
      {"staging folder after a dot", Q("./.install-staging/lbx-s43.bin"), {}, E::Refused, kUnsafePath},
      {"staging folder after a parent", Q("a/../.install-staging/lbx-s44.bin"), {}, E::Refused, kUnsafePath},
      {"staging folder itself", Q(".install-staging"), {}, E::Refused, kUnsafePath},
      {"a partial file's name", Q(".install-staging\\\\LanternbrookEmulator.exe.part"), {}, E::Refused, kUnsafePath},
      {"staging folder written with an escape", Q("\\u002einstall-staging/lbx-s47.bin"), {}, E::Refused, kUnsafePath},
      // Not UTF-8, or UTF-8 that cannot be text.
      {"bytes FF FE", Q("\xff\xfelbx-b64.bin"), {}, E::Refused, kBadUtf8},
      {"overlong dots", Q("a/\xc0\xae\xc0\xae/lbx-b65.bin"), {}, E::Refused, kBadUtf8},
      {"encoded surrogate", Q("\xed\xa0\x80lbx-b66.bin"), {}, E::Refused, kBadUtf8},
      {"escaped lone surrogate", Q("\\ud800lbx-b67.bin"), {}, E::Refused, kBadUtf8},
      {"truncated sequence", Q("lbx-b68\xe2\x82"), {}, E::Refused, kBadUtf8},
      {"lone continuation byte", Q("\x80lbx-b69.bin"), {}, E::Refused, kBadUtf8},
      {"overlong slash", Q("..\xc0\xaflbx-b70.bin"), {}, E::Refused, kBadUtf8},
      // Names the rule lets through: they must stay inside the folder.
      {"three dots", Q("..."), {}, E::Failed, kCannotFinishFile},
      {"three-dot folder", Q("a/.../lbx-t49.bin"), {}, E::Failed, kCannotWrite},
      {"two three-dot folders", Q("a/.../.../lbx-t50.bin"), {}, E::Failed, kCannotCreate},
      {"three-dot folders at the start", Q(".../.../lbx-t51.bin"), {}, E::Failed, kCannotCreate},
      {"parent with a trailing blank", Q(".. /lbx-t52.bin"), {}, E::Failed, kCannotWrite},
      {"parent with a dot and a blank", Q("a/.. ./lbx-t53.bin"), {}, E::Failed, kCannotWrite},
      {"name with a trailing dot", Q("lbx-t54.bin."), {}, E::Installed, {}},
      {"name with trailing dots and blanks", Q("lbx-t55.bin . ."), {}, E::Installed, {}},
      {"folder with a trailing dot", Q("a./lbx-t56.bin"), {}, E::Installed, {}},
      {"the folder itself", Q("."), {}, E::Failed, kCannotFinishFile},
      {"folder and parent", Q("a/.."), {}, E::Failed, kCannotFinishFile},
      {"names that only look like dots", Q("\\u2024\\u2024/lbx-t57.bin"), {}, E::Installed, {}},
      {"fullwidth dots", Q("\\uff0e\\uff0e/lbx-t58.bin"), {}, E::Installed, {}},
      {"division slash", Q("..\\u2215lbx-t59.bin"), {}, E::Installed, {}},
      {"tab in a name", Q("a\\tb/lbx-t60.bin"), {}, E::Failed, kCannotCreate},
      // NUL characters cut the name short for Windows.
      {"NUL after a parent", Q("..\\u0000/lbx-n70.bin"), {}, E::Failed, kCannotWrite},
      {"NUL after folder and parent", Q("a/..\\u0000/lbx-n71.bin"), {}, E::Failed, kCannotWrite},
      {"NUL before parents", Q("lbx-n72.bin\\u0000/../../lbx-n72b.bin"), {}, E::Refused, kUnsafePath},
      // Device names and streams.
      {"device NUL", Q("NUL"), {}, E::Failed, kWriteFailed},
      {"device CON", Q("CON"), {}, E::Failed, kCannotWrite},
      {"device AUX with an extension", Q("aux.bin"), {}, E::Failed, kDigestMismatch},
      {"device nul in a folder", Q("a/nul.txt"), {}, E::Failed, kWriteFailed},
      {"console output", Q("CONOUT$"), {}, E::Failed, kCannotWrite},
      {"stream name", Q("lbx-c79.bin:stream"), {}, E::Installed, {}},
      {"drive letter inside", Q("x/C:lbx-c80.bin"), {}, E::Installed, {}},
      // A folder named like a drive-relative path stays empty in the staging
      // tree; removing that tree at the end must not reach C:.
      {"folder named C:name", Q("x/C:lbx-victim/lbx-c82.bin"), {}, E::Installed, {}, "lbx-victim/keep.txt"},
      {"folder named C:", Q("x/C:/lbx-c83.bin"), {}, E::Installed, {}, "keep.txt"},
      {"data stream", Q("lbx-c81.bin::$DATA"), {}, E::Installed, {}},
  };
  // Very long paths.
  std::string deep;
  for (int i = 0; i < 150; ++i) deep += "d/";
  c.push_back({"300 characters deep", Q(deep + "lbx-l60.bin"), {}, E::Installed, {}});
  c.push_back({"a 300-character name", Q(std::string(300, 'n') + ".bin"), {}, E::Failed, kCannotWrite});
  std::string long_path;
  while (long_path.size() < 10000) long_path += "abcdefghi/";
  c.push_back({"10000 characters", Q(long_path + "lbx-l62.bin"), {}, E::Failed, kCannotCreate});
  std::string longest;
  while (longest.size() < 40000) longest += "abcdefghi/";
  c.push_back({"40000 characters with parents", Q(longest + std::string("../../lbx-l63.bin")), {}, E::Failed,
               kCannotCreate});
  return c;
}

std::vector<ManifestCase> UrlCases() {
  using E = Expect;
  const std::string origin = "localhost:" + std::to_string(lbtest::UpdateOriginPort());
  const std::string file = "/files/9.0.0/payload.bin";
  return {
      {"plain http", {}, Q("http://" + origin + file), E::Refused, kUnsafeUrl},
      {"upper-case scheme", {}, Q("HTTPS://" + origin + file), E::Refused, kUnsafeUrl},
      {"mixed-case scheme", {}, Q("Https://" + origin + file), E::Refused, kUnsafeUrl},
      {"relative reference", {}, Q("files/9.0.0/payload.bin"), E::Refused, kUnsafeUrl},
      {"empty", {}, Q(""), E::Refused, kIncompleteEntry},
      {"leading blank", {}, Q(" https://" + origin + file), E::Refused, kUnsafeUrl},
      {"file scheme", {}, Q("file:///C:/windows/win.ini"), E::Refused, kUnsafeUrl},
      {"ftp scheme", {}, Q("ftp://" + origin + file), E::Refused, kUnsafeUrl},
      {"UNC address", {}, Q("\\\\\\\\server\\\\share\\\\payload.bin"), E::Refused, kUnsafeUrl},
      {"one slash after the scheme", {}, Q("https:/" + origin + file), E::Refused, kUnsafeUrl},
      {"javascript", {}, Q("javascript:alert(1)"), E::Refused, kUnsafeUrl},
      {"NUL before the scheme", {}, Q("\\u0000https://" + origin + file), E::Refused, kUnsafeUrl},
      {"not UTF-8", {}, Q("/files/\xff.bin"), E::Refused, kBadUtf8},
      {"scheme alone", {}, Q("https://"), E::Refused, kBadUpdateUrl},
      {"network path on the origin", {}, Q("//evil.example/payload.bin"), E::Failed, kFileRefused},
      // The manifest is shorter than the payload: a body that ends short.
      {"parent segments on the origin", {}, Q("https://" + origin + "/files/../updates/manifest.json"),
       E::Failed, kInterrupted},
      {"closed port", {}, Q("https://localhost:1/payload.bin"), E::Failed, kNetworkFailure},
      {"query and fragment", {}, Q(file + "?x=1#part"), E::Installed, {}},
      {"address by number", {}, Q("https://127.0.0.1:" + std::to_string(lbtest::UpdateOriginPort()) + file),
       E::Failed, kNetworkFailure},
  };
}

// What is listed around each run, and what may change.
struct Watch {
  std::string drive_c, prefix, run_dir, app_dir;
  std::vector<std::string> shared;  // searched for the payload's marker only

  Listing Private() const {
    Listing all;
    // The registry files, and the temporary files the wineserver writes them
    // through whenever it saves the registry (every half minute or so).
    for (auto& [path, attributes] :
         ListTree(prefix, {prefix + "/drive_c", prefix + "/*.reg", prefix + "/reg*.tmp"}))
      all["prefix/" + path] = attributes;
    for (auto& [path, attributes] : ListTree(drive_c)) all["C:/" + path] = attributes;
    // The test-run folder, without the servers' logs, the shell's scratch
    // files, Wine's error channels of the test programs, the result files
    // and the application folder itself.
    for (auto& [path, attributes] :
         ListTree(run_dir, {run_dir + "/servers", run_dir + "/unix-runner", run_dir + "/unix-output-*",
                            run_dir + "/sha-input-*", run_dir + "/wine-debug", run_dir + "/reliability",
                            app_dir}))
      all["run/" + path] = attributes;
    return all;
  }

  std::vector<std::string> Markers() const {
    std::string command = "find";
    for (const std::string& place : shared) command += " " + lbtest::ShellQuote(place);
    return Split(lbtest::RunUnixOutput(command + " -maxdepth 2 -name '*lbx-*' 2>/dev/null"), '\n');
  }
};

class HostileManifestTest : public lbtest::TempDirTest, public ::testing::WithParamInterface<ManifestCase> {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<lbtest::FaultServer>(lbtest::ServerOptions{.port = lbtest::UpdateOriginPort()});
  }
  static void TearDownTestSuite() { server_.reset(); }
  static inline std::unique_ptr<lbtest::FaultServer> server_;
};

TEST_P(HostileManifestTest, NothingOutsideTheApplicationFolderChanges) {
  const ManifestCase& c = GetParam();
  const int failures_before = FailedParts();
  ASSERT_NE(server_, nullptr);

  // The hostile entry comes first, so a refusal happens before anything else.
  Release release;
  release.version = "9.0.0";
  release.build = 900;
  ReleaseFile payload = MakeFile("payload.bin", 3000, 9001, "/files/9.0.0/");
  payload.path_json = c.path_json.empty() ? JsonString("data/payload.bin") : c.path_json;
  payload.url_json = c.url_json;
  release.files.push_back(payload);
  release.files.push_back(MakeFile("LanternbrookEmulator.exe", 20000, 9002, "/files/9.0.0/"));
  release.updater = MakeFile("LanternbrookUpdater.exe", 10000, 9003, "/files/9.0.0/");
  Publish(*server_, release);

  const std::wstring app_dir = Path(L"app");
  const std::string user_file = lbtest::RandomBytes(1000, 9004);
  lbtest::WriteFileBytes(app_dir + L"\\saves\\slot1.sav", user_file);

  Watch watch;
  watch.prefix = WinePrefix();
  watch.drive_c = watch.prefix + "/drive_c";
  watch.run_dir = lbtest::WindowsToUnixPath(lbtest::TestRunDir());
  watch.app_dir = lbtest::WindowsToUnixPath(app_dir);
  watch.shared = {"/", "/tmp", lbtest::WindowsToUnixPath(lbtest::BuildDir()),
                  lbtest::WindowsToUnixPath(lbtest::BuildDir() + L"\\tests")};
  ASSERT_FALSE(watch.prefix.empty()) << "WINEPREFIX is not set";
  const std::string sandbox = watch.drive_c + "/lbx-sandbox";
  if (!c.sandbox_file.empty()) {
    lbtest::RunUnix("mkdir -p " + lbtest::ShellQuote(sandbox + "/" + c.sandbox_file) + " && rmdir " +
                    lbtest::ShellQuote(sandbox + "/" + c.sandbox_file) + " && echo keep > " +
                    lbtest::ShellQuote(sandbox + "/" + c.sandbox_file));
  }
  const Listing before = watch.Private();
  const std::vector<std::string> markers_before = watch.Markers();

  Outcome outcome;
  if (c.sandbox_file.empty()) {
    outcome = RunWorker(app_dir);
  } else {
    // The installer inherits the current folder of drive C: from here, so
    // whatever a drive-relative name reaches lies inside the sandbox.
    SetEnvironmentVariableW(L"=C:", L"C:\\lbx-sandbox");
    wchar_t resolved[MAX_PATH] = {};
    GetFullPathNameW(L"C:probe", MAX_PATH, resolved, nullptr);
    if (std::wstring(resolved) == L"C:\\lbx-sandbox\\probe") {
      outcome = RunInstallerExe(app_dir, 15000);
    } else {
      ADD_FAILURE() << "drive C: cannot be given a sandbox folder here (C:probe is " << Narrow(resolved)
                    << "); the case is not run";
    }
    SetEnvironmentVariableW(L"=C:", nullptr);
  }

  const std::vector<std::string> changed = Differences(before, watch.Private());
  std::string changes;
  for (const std::string& line : changed) changes += "\n  " + line;
  EXPECT_TRUE(changed.empty()) << "outside the application folder:" << changes;
  const std::vector<std::string> markers_after = watch.Markers();
  EXPECT_EQ(markers_after, markers_before) << "a payload appeared in a shared place";

  const std::vector<std::string> files = ListFiles(app_dir);
  std::string listing;
  for (const std::string& file : files) listing += "\n  " + file;
  bool lost = lbtest::ReadFileBytes(app_dir + L"\\saves\\slot1.sav") != user_file;
  EXPECT_FALSE(lost) << "the user's file changed";

  switch (c.expect) {
    case Expect::Refused:
      EXPECT_EQ(outcome.Text(), c.message);
      // Refused before anything was written: only the user's file is there.
      EXPECT_EQ(files, std::vector<std::string>{"saves/slot1.sav"}) << "in the folder:" << listing;
      break;
    case Expect::Failed:
      EXPECT_TRUE(SameMessage(outcome.Text(), c.message))
          << "the run said \"" << outcome.Text().substr(0, 300) << "\", expected \"" << c.message
          << "\"; in the folder:" << listing;
      for (const std::string& file : files) {
        if (file == "saves/slot1.sav" || file.rfind(".install-staging/", 0) == 0) continue;
        ADD_FAILURE() << "a failed run left " << file << " in the application folder";
      }
      break;
    case Expect::Installed: {
      EXPECT_EQ(outcome.Text(), kSuccess) << "in the folder:" << listing;
      const std::vector<std::string> found = FilesWithDigest(app_dir, payload.hash);
      EXPECT_FALSE(found.empty()) << "the payload is not inside the application folder:" << listing;
      for (const std::string& file : found) {
        std::printf("[ reliability ] %s: installed as %s\n", c.name.c_str(), file.substr(0, 120).c_str());
      }
      break;
    }
  }
  if (!c.sandbox_file.empty()) lbtest::RunUnix("rm -rf " + lbtest::ShellQuote(sandbox));
  // Names like "C:x" inside the folder are removed on the host: the
  // standard library's removal takes them for paths on drive C:.
  if (FailedParts() == failures_before) lbtest::RunUnix("rm -rf " + lbtest::ShellQuote(watch.app_dir));
  RecordCase(c.url_json.empty() ? "manifest: hostile paths" : "manifest: hostile urls", c.name,
             FailedParts() == failures_before, lost || !changed.empty() || markers_after != markers_before,
             outcome.Text());
}

void PrintTo(const ManifestCase& c, std::ostream* out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(Paths, HostileManifestTest, ::testing::ValuesIn(PathCases()), lbtest::CaseName());
INSTANTIATE_TEST_SUITE_P(Urls, HostileManifestTest, ::testing::ValuesIn(UrlCases()), lbtest::CaseName());

}  // namespace
