// End to end: the installer, built for the update origin, installs what
// lanternbrook-release make wrote, as nginx serves it; and both programs,
// started from a folder where hostile DLLs were planted, load none of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/support/installer_run.h"
#include "tests/support/table_helpers.h"
#include "tests/support/test_servers.h"
#include "tests/tools/release_tool_fixture.h"

namespace {

using lbtest::ReleaseFile;
using lbtest::ToolResult;

class MadeReleaseInstalls : public lbtest::ReleaseToolTest {};

TEST_F(MadeReleaseInstalls, InstallerInstallsWhatMakeWrote) {
  lbtest::NginxServer server({.port = lbtest::UpdateOriginPort()});
  std::wstring release = server.Root() + L"\\releases\\3.0.0";
  std::vector<ReleaseFile> files = {
      {"LanternbrookEmulator.exe", lbtest::StandIn("LanternbrookEmulator.exe")},
      {"LanternbrookUpdater.exe", lbtest::StandIn("LanternbrookUpdater.exe")},
      {"data/mapas/regi\xC3\xA3o norte/\xC3\xA1rea 1.bin", lbtest::RandomBytes(1 << 20, 31)},
      {"data/\xE6\x97\xA5\xE6\x9C\xAC/x+y (2).bin", lbtest::RandomBytes(70000, 32)},
      {"leia-me.txt", "Lanternbrook\r\n"},
  };
  lbtest::WriteRelease(release, files);
  CreateDirectoryW((server.Root() + L"\\updates").c_str(), nullptr);
  ToolResult make = lbtest::RunReleaseTool({L"make", release, L"--version", L"3.0.0-rc1", L"--build",
                                            L"300", L"--url-base", L"/releases/3.0.0",
                                            L"--output", server.Root() + L"\\updates\\manifest.json"});
  ASSERT_EQ(make.exit_code, 0u) << make.err;
  ToolResult check = lbtest::RunReleaseTool(
      {L"check", server.Root() + L"\\updates\\manifest.json", L"--base-url", server.Origin()});
  ASSERT_EQ(check.exit_code, 0u) << check.out << check.err;
  server.ClearRequests();

  std::wstring app = Path(L"app");
  lbtest::InstallerRun run(lbtest::InstallerExe(),
                           {L"--app-dir", app, L"--quiet", L"--no-shortcut", L"--no-launch"});
  ASSERT_TRUE(run.Wait(180000)) << "the installer did not end";

  for (const ReleaseFile& file : files) {
    std::wstring installed = lbtest::InFolder(app, file.path);
    ASSERT_TRUE(lbtest::PathExists(installed)) << file.path;
    EXPECT_TRUE(lbtest::ReadFileBytes(installed) == file.bytes) << file.path << " differs";
  }
  EXPECT_EQ(lbtest::ReadFileBytes(app + L"\\version.json"),
            "{\n  \"version\": \"3.0.0-rc1\",\n  \"build\": 300\n}\n");
  EXPECT_FALSE(lbtest::PathExists(app + L"\\.install-staging"));
  std::size_t file_requests = 0;
  for (const lbtest::ServerRequest& request : server.Requests()) {
    if (request.path.rfind("/releases/3.0.0/", 0) != 0) continue;
    ++file_requests;
    EXPECT_EQ(request.status, 200) << request.path;
  }
  EXPECT_EQ(file_requests, files.size()) << "one request per file, the updater included";
}

// Signed releases. The installer built with the test key pair's public key
// (lbtest::SignedInstallerExe) runs a release that make
// --sign-key signed, after one twist of the manifest, of its .sig or of the
// installed version.json. A refused run asks for no file and changes nothing
// in the application folder.
enum class SignatureTwist {
  kNone,
  kManifestByteChanged,  // one byte of the manifest changed after signing
  kOtherManifest,        // the .sig of another manifest
  kOtherKey,             // signed by a key the installer does not hold
  kTruncated,
  kEmpty,
  kGarbage,
  kOversized,  // the valid signature, then more lines than the cap allows
  kMissing,    // 404
  kSecondOfTwo,  // another key's signature, then the installer's key's (sign)
};

struct SignedCase {
  const char* name;
  SignatureTwist twist;
  std::optional<std::uint64_t> installed_build;  // a version.json before the run
  const char* refusal;                           // null: the release is installed
};

void PrintTo(const SignedCase& c, std::ostream* out) { *out << c.name; }

class SignedRelease : public lbtest::ReleaseToolTest,
                      public ::testing::WithParamInterface<SignedCase> {};

TEST_P(SignedRelease, InstallsOnlyWhatTheKeySigned) {
  const SignedCase& c = GetParam();
  lbtest::NginxServer server({.port = lbtest::UpdateOriginPort()});
  const std::wstring release = server.Root() + L"\\releases\\3.0.0";
  const std::wstring manifest = server.Root() + L"\\updates\\manifest.json";
  const std::wstring signature = manifest + L".sig";
  lbtest::WriteRelease(release, lbtest::SmallRelease());
  CreateDirectoryW((server.Root() + L"\\updates").c_str(), nullptr);
  auto make = [&](const wchar_t* build, const std::wstring& output, const std::wstring& key) {
    ToolResult made = lbtest::RunReleaseTool({L"make", release, L"--version", L"3.0.0", L"--build",
                                              build, L"--url-base", L"/releases/3.0.0", L"--output",
                                              output, L"--sign-key", key});
    ASSERT_EQ(made.exit_code, 0u) << made.out << made.err;
  };
  auto sign = [&](const std::wstring& key) {
    ToolResult signed_now = lbtest::RunReleaseTool({L"sign", manifest, L"--sign-key", key});
    ASSERT_EQ(signed_now.exit_code, 0u) << signed_now.out << signed_now.err;
  };
  auto other_key = [&] {
    ToolResult made = lbtest::RunReleaseTool({L"keygen", Path(L"other.key"), Path(L"other.pub")});
    EXPECT_EQ(made.exit_code, 0u) << made.err;
    return Path(L"other.key");
  };
  make(L"300", manifest, lbtest::TestKeyPath(L"release.key"));
  const std::string valid = lbtest::ReadFileBytes(signature);

  switch (c.twist) {
    case SignatureTwist::kNone:
      break;
    case SignatureTwist::kManifestByteChanged: {
      std::string text = lbtest::ReadFileBytes(manifest);
      const std::size_t at = text.find("3.0.0");
      ASSERT_NE(at, std::string::npos);
      text[at + 4] = '1';  // still a manifest the parser takes: version 3.0.1
      lbtest::WriteFileBytes(manifest, text);
      break;
    }
    case SignatureTwist::kOtherManifest:
      make(L"299", Path(L"other.json"), lbtest::TestKeyPath(L"release.key"));
      lbtest::WriteFileBytes(signature, lbtest::ReadFileBytes(Path(L"other.json.sig")));
      break;
    case SignatureTwist::kOtherKey:
      DeleteFileW(signature.c_str());
      sign(other_key());
      break;
    case SignatureTwist::kTruncated:
      lbtest::WriteFileBytes(signature, valid.substr(0, valid.size() / 2));
      break;
    case SignatureTwist::kEmpty:
      lbtest::WriteFileBytes(signature, "");
      break;
    case SignatureTwist::kGarbage:
      lbtest::WriteFileBytes(signature, lbtest::RandomBytes(800, 9));
      break;
    case SignatureTwist::kOversized: {
      const std::string line = valid.substr(valid.find('\n') + 1);
      std::string big = valid;
      while (big.size() <= 16384) big += line;
      lbtest::WriteFileBytes(signature, big);
      break;
    }
    case SignatureTwist::kMissing:
      DeleteFileW(signature.c_str());
      break;
    case SignatureTwist::kSecondOfTwo:
      DeleteFileW(signature.c_str());
      sign(other_key());
      sign(lbtest::TestKeyPath(L"release.key"));
      break;
  }

  const std::wstring app = Path(L"app");
  std::string installed;
  if (c.installed_build) {
    installed = lbtest::Release{"2.9.9", *c.installed_build, {}, {}}.MetadataJson();
    lbtest::WriteFileBytes(app + L"\\version.json", installed);
  }
  server.ClearRequests();
  lbtest::InstallerRun run(lbtest::SignedInstallerExe(),
                           {L"--app-dir", app, L"--no-shortcut", L"--no-launch"});
  ASSERT_TRUE(run.RunToEnd());
  ASSERT_EQ(run.boxes().size(), 1u);
  const std::string shown = lbtest::Narrow(run.boxes()[0].text);

  std::vector<std::string> paths;
  for (const lbtest::ServerRequest& request : server.Requests()) paths.push_back(request.path);
  ASSERT_GE(paths.size(), 2u);
  EXPECT_EQ(paths[0], "/updates/manifest.json");
  EXPECT_EQ(paths[1], "/updates/manifest.json.sig");
  if (!c.refusal) {
    EXPECT_EQ(shown, lbtest::texts::kSuccess);
    for (const ReleaseFile& file : lbtest::SmallRelease()) {
      EXPECT_TRUE(lbtest::ReadFileBytes(lbtest::InFolder(app, file.path)) == file.bytes) << file.path;
    }
    EXPECT_EQ(lbtest::ReadFileBytes(app + L"\\version.json"),
              "{\n  \"version\": \"3.0.0\",\n  \"build\": 300\n}\n");
    return;
  }
  EXPECT_NE(shown.find(c.refusal), std::string::npos) << shown;
  EXPECT_EQ(paths.size(), 2u) << "a refused run asks for no file";
  std::vector<std::wstring> left;
  for (const auto& entry : std::filesystem::directory_iterator(app)) {
    left.push_back(entry.path().filename().wstring());
  }
  EXPECT_EQ(left, c.installed_build ? std::vector<std::wstring>{L"version.json"}
                                    : std::vector<std::wstring>{});
  if (c.installed_build) {
    EXPECT_EQ(lbtest::ReadFileBytes(app + L"\\version.json"), installed);
  }
}

using enum SignatureTwist;
const char* const kBadSignature = lbtest::texts::kSignatureMismatch;

INSTANTIATE_TEST_SUITE_P(
    Table, SignedRelease,
    ::testing::Values(
        SignedCase{"valid signature", kNone, {}, nullptr},
        SignedCase{"one byte of the manifest changed", kManifestByteChanged, {}, kBadSignature},
        SignedCase{"signature of another manifest", kOtherManifest, {}, kBadSignature},
        SignedCase{"signature by another key", kOtherKey, {}, kBadSignature},
        SignedCase{"truncated sig", kTruncated, {}, kBadSignature},
        SignedCase{"empty sig", kEmpty, {}, kBadSignature},
        SignedCase{"garbage sig", kGarbage, {}, kBadSignature},
        SignedCase{"oversized sig", kOversized, {}, kBadSignature},
        SignedCase{"no sig on the server", kMissing, {}, kBadSignature},
        SignedCase{"two signatures, the second verifies", kSecondOfTwo, {}, nullptr},
        SignedCase{"older build than installed", kNone, 301, lbtest::texts::kOlderRelease},
        SignedCase{"equal build is a repair", kNone, 300, nullptr}),
    lbtest::CaseName());

// DLL planting. A copy of the program lies in a Downloads folder, under the
// name a browser gives a second download, beside DLLs named after the system
// DLLs it uses that are not KnownDLLs, each writing a marker file when
// loaded. Wine takes its own builtin DLLs whatever lies beside a program,
// which would hide the attack, so it is told to prefer native DLLs of those
// names for that program name (its per-program DllOverrides key; a changed
// WINEDLLOVERRIDES reaches no child that Wine starts). The installer installs
// and the release tool makes and checks a release, loading none of them; a
// program that imports winhttp.dll the ordinary way loads the planted one.
enum class Program { kInstaller, kReleaseTool, kPlainImporter };

struct PlantingCase {
  const char* scenario;
  Program program;
  std::vector<std::string> loaded;  // markers expected, lower case
};

void PrintTo(const PlantingCase& c, std::ostream* out) { *out << c.scenario; }

const wchar_t* const kPlantedNames[] = {L"winhttp.dll", L"bcrypt.dll", L"comctl32.dll", L"crypt32.dll"};

// Wine prefers native DLLs of kPlantedNames for programs named `exe_name`
// while this object lives.
class NativeDllsFirst {
 public:
  explicit NativeDllsFirst(const std::wstring& exe_name)
      : key_(L"Software\\Wine\\AppDefaults\\" + exe_name) {
    for (const wchar_t* dll : kPlantedNames) {
      std::wstring name(dll, wcslen(dll) - 4);
      EXPECT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), name.c_str(),
                                REG_SZ, L"native,builtin", sizeof L"native,builtin"),
                ERROR_SUCCESS);
    }
  }
  ~NativeDllsFirst() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  NativeDllsFirst(const NativeDllsFirst&) = delete;
  NativeDllsFirst& operator=(const NativeDllsFirst&) = delete;

 private:
  std::wstring key_;
};

class PlantedDlls : public lbtest::ReleaseToolTest,
                    public ::testing::WithParamInterface<PlantingCase> {};

TEST_P(PlantedDlls, LoadOnlyIntoAProgramThatImportsThemAtStart) {
  lbtest::NginxServer server({.port = lbtest::UpdateOriginPort()});
  const std::wstring release = server.Root() + L"\\releases\\1.0.0";
  const std::wstring manifest = server.Root() + L"\\updates\\manifest.json";
  lbtest::WriteRelease(release, {{"LanternbrookEmulator.exe", lbtest::StandIn("LanternbrookEmulator.exe")},
                                 {"LanternbrookUpdater.exe", lbtest::StandIn("LanternbrookUpdater.exe")},
                                 {"data/a.txt", "Lanternbrook\r\n"}});
  CreateDirectoryW((server.Root() + L"\\updates").c_str(), nullptr);
  const std::vector<std::wstring> make{L"make",       release,           L"--version",
                                       L"1.0.0",      L"--build",        L"100",
                                       L"--url-base", L"/releases/1.0.0", L"--output",
                                       manifest};

  const std::wstring downloads = Path(L"Downloads");
  ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
  const Program program = GetParam().program;
  const std::wstring built = program == Program::kInstaller
                                 ? lbtest::InstallerExe()
                             : program == Program::kReleaseTool
                                 ? lbtest::ReleaseToolPath()
                                 : lbtest::BuildDir() + L"\\stand-ins\\plain_importer.exe";
  const std::wstring exe_name = std::filesystem::path(built).stem().wstring() + L" (1).exe";
  const std::wstring exe = downloads + L"\\" + exe_name;
  ASSERT_TRUE(CopyFileW(built.c_str(), exe.c_str(), FALSE));
  const std::wstring planted = lbtest::BuildDir() + L"\\stand-ins\\planted.dll";
  for (const wchar_t* dll : kPlantedNames) {
    ASSERT_TRUE(CopyFileW(planted.c_str(), (downloads + L"\\" + dll).c_str(), FALSE));
  }
  if (program == Program::kInstaller) {
    lbtest::ToolResult made = lbtest::RunReleaseTool(make);
    ASSERT_EQ(made.exit_code, 0u) << made.err;
  }

  {
    NativeDllsFirst native_first(exe_name);
    const std::wstring app = Path(L"app");
    switch (program) {
      case Program::kInstaller: {
        lbtest::InstallerRun run(exe,
                                 {L"--app-dir", app, L"--quiet", L"--no-shortcut", L"--no-launch"});
        ASSERT_TRUE(run.Wait(180000)) << "the installer did not end";
        EXPECT_EQ(run.exit_code(), 0u);
        EXPECT_EQ(lbtest::ReadFileBytes(app + L"\\data\\a.txt"), "Lanternbrook\r\n");
        EXPECT_EQ(lbtest::ReadFileBytes(app + L"\\version.json"),
                  "{\n  \"version\": \"1.0.0\",\n  \"build\": 100\n}\n");
        break;
      }
      case Program::kReleaseTool: {
        lbtest::ToolResult made = lbtest::RunReleaseTool(make, exe);
        EXPECT_EQ(made.exit_code, 0u) << made.out << made.err;
        lbtest::ToolResult check =
            lbtest::RunReleaseTool({L"check", manifest, L"--base-url", server.Origin()}, exe);
        EXPECT_EQ(check.exit_code, 0u) << check.out << check.err;
        break;
      }
      case Program::kPlainImporter: {
        lbtest::ToolResult ran = lbtest::RunReleaseTool({}, exe);
        EXPECT_EQ(ran.exit_code, 0u) << ran.err;
        break;
      }
    }
  }

  std::vector<std::string> loaded;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((downloads + L"\\*.loaded").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    std::wstring name = found.cFileName;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    loaded.push_back(lbtest::Narrow(name));
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  std::sort(loaded.begin(), loaded.end());
  EXPECT_EQ(loaded, GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlantedDlls,
    ::testing::Values(
        PlantingCase{"installer installs", Program::kInstaller, {}},
        PlantingCase{"release tool makes and checks", Program::kReleaseTool, {}},
        PlantingCase{"ordinary import loads the planted DLL", Program::kPlainImporter,
                     {"winhttp.dll.loaded"}}));

}  // namespace
