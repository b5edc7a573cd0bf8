#include "tests/tools/release_tool_fixture.h"

#include "tests/support/child_process.h"

namespace lbtest {

std::wstring ReleaseToolPath() { return BuildDir() + L"\\bin\\lanternbrook-release.exe"; }

ToolResult RunReleaseTool(const std::vector<std::wstring>& arguments, const std::wstring& exe) {
  ChildProcess tool(exe, arguments, {.capture_output = true});
  if (!tool.started()) return {};
  EXPECT_TRUE(tool.Wait(120000)) << "the tool hangs";
  return {tool.exit_code(), tool.out(), tool.err()};
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
