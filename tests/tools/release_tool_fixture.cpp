#include "tests/tools/release_tool_fixture.h"

#include "tests/support/installer_run.h"

namespace lbtest {

std::wstring ReleaseToolPath() { return BuildDir() + L"\\bin\\lanternbrook-release.exe"; }

ToolResult RunReleaseTool(const std::vector<std::wstring>& arguments, const std::wstring& exe) {
  static int counter = 0;
  const std::wstring output = TestRunDir() + L"\\tool-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(counter++);
  ToolResult result;
  {
    InstallerRun run(exe, arguments, {.output = output});
    EXPECT_TRUE(run.Wait(120000)) << "the tool hangs";
    result.exit_code = run.exit_code();
  }
  for (auto [name, text] : {std::pair{L".out", &result.out}, std::pair{L".err", &result.err}}) {
    *text = ReadFileBytes(output + name);
    DeleteFileW((output + name).c_str());
  }
  return result;
}

UpdateManifest ReadManifest(const std::wstring& path) {
  std::string text = ReadFileBytes(path);
  JsonCursor cursor{text.data(), text.data() + text.size()};
  try {
    return ParseManifest(cursor);
  } catch (const std::exception& error) {
    ADD_FAILURE() << "the installer's parser refuses " << Narrow(path) << ": " << error.what();
    return {};
  }
}

void ReleaseToolTest::SetUp() {
  TempDirTest::SetUp();
  CreateDirectoryW(Release().c_str(), nullptr);
}

void ReleaseToolTest::TearDown() {
  if (!HasFailure()) RunUnix("rm -rf " + ShellQuote(WindowsToUnixPath(dir())));
  TempDirTest::TearDown();
}

ToolResult ReleaseToolTest::Make(const std::wstring& url_base, std::vector<std::wstring> extra) {
  std::vector<std::wstring> arguments = {L"make",    Release(),        L"--version", L"1.4.2",
                                         L"--build", L"142",           L"--url-base", url_base};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return RunReleaseTool(arguments);
}

ToolResult ReleaseToolTest::CheckFolder() {
  return RunReleaseTool({L"check", ManifestPath(), L"--folder", Release()});
}

std::vector<ReleaseFile> SmallRelease() {
  return {
      {"LanternbrookUpdater.exe", RandomBytes(3000, 1)},
      {"LanternbrookEmulator.exe", RandomBytes(5000, 2)},
      {"data/a.txt", "Lanternbrook\r\n"},
      {"data/b/c.bin", RandomBytes(70000, 3)},
  };
}

}  // namespace lbtest
