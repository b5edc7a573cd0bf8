// End to end: the installer, built for the update origin, installs what
// lanternbrook-release make wrote, as nginx serves it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/installer_run.h"
#include "tests/support/test_servers.h"
#include "tests/tools/release_tool_fixture.h"

namespace {

using lbtest::ReleaseFileSpec;
using lbtest::ToolResult;

class MadeReleaseInstalls : public lbtest::ReleaseToolTest {};

TEST_F(MadeReleaseInstalls, InstallerInstallsWhatMakeWrote) {
  lbtest::ServerOptions options;
  options.port = lbtest::UpdateOriginPort();
  lbtest::NginxServer server(options);
  std::wstring release = server.Root() + L"\\releases\\3.0.0";
  std::vector<ReleaseFileSpec> files = {
      {"LanternbrookEmulator.exe", lbtest::StandInEmulator()},
      {"LanternbrookUpdater.exe", lbtest::StandInUpdater()},
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
  lbtest::InstallerRun run(lbtest::BuildDir() + L"\\bin\\LanternbrookInstaller.exe",
                           {L"--app-dir", app, L"--quiet", L"--no-shortcut", L"--no-launch"});
  ASSERT_TRUE(run.Wait(180000)) << "the installer did not end";

  for (const ReleaseFileSpec& file : files) {
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

}  // namespace
