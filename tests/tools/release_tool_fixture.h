#pragma once
// Shared fixture of the publisher-tool tests: a release folder written from a
// table (tests/support/test_release.h), lanternbrook-release run as a child
// process with its standard output and error captured, and the written
// manifest read back with the installer's own parser.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "manifest/update_manifest.h"
#include "tests/support/test_release.h"
#include "tests/support/test_support.h"

namespace lbtest {

// One run of the tool.
struct ToolResult {
  DWORD exit_code = 0xFFFFFFFF;
  std::string out;  // standard output, UTF-8
  std::string err;  // standard error, UTF-8
};

// build\bin\lanternbrook-release.exe
std::wstring ReleaseToolPath();

// Runs the tool (or another console program, `exe`) with `arguments` (each
// quoted for CommandLineToArgvW) and waits up to two minutes for it.
ToolResult RunReleaseTool(const std::vector<std::wstring>& arguments,
                          const std::wstring& exe = ReleaseToolPath());

// Reads a manifest file with ParseManifest; fails the test when it is refused.
UpdateManifest ReadManifest(const std::wstring& path);

// A small release: the updater (3000 bytes), the application (5000) and two
// data files, data/a.txt (14) and data/b/c.bin (70000).
std::vector<ReleaseFile> SmallRelease();

class ReleaseToolTest : public TempDirTest {
 protected:
  void SetUp() override;
  // Removes the folder from the Unix side first: names that Wine shows but
  // cannot open (a trailing dot, bytes that are not UTF-8) would keep a
  // Windows-side removal from ending.
  void TearDown() override;
  std::wstring Release() const { return Path(L"release"); }
  std::wstring ManifestPath() const { return Path(L"release\\manifest.json"); }
  // make over Release() with the given version, build and URL base.
  ToolResult Make(const std::wstring& url_base, std::vector<std::wstring> extra = {});
  // check ManifestPath() against Release().
  ToolResult CheckFolder();
};

}  // namespace lbtest
