#include "tests/tools/release_tool_fixture.h"

#include "tests/support/installer_run.h"

namespace lbtest {
namespace {

// An inheritable handle on a new file for the child's output.
HANDLE CreateOutputFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::wstring ReleaseToolPath() { return BuildDir() + L"\\bin\\lanternbrook-release.exe"; }

ToolResult RunReleaseTool(const std::vector<std::wstring>& arguments, const std::wstring& exe) {
  static int counter = 0;
  std::wstring base = TestRunDir() + L"\\tool-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(counter++);
  std::wstring out_path = base + L".out", err_path = base + L".err";
  ToolResult result;
  {
    HANDLE out = CreateOutputFile(out_path);
    HANDLE err = CreateOutputFile(err_path);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_NE(err, INVALID_HANDLE_VALUE);
    std::wstring line = QuoteArgumentForTest(exe);
    for (const std::wstring& argument : arguments) line += L" " + QuoteArgumentForTest(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process)) {
      EXPECT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0) << "the tool hangs";
      GetExitCodeProcess(process.hProcess, &result.exit_code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    } else {
      ADD_FAILURE() << "cannot start " << Narrow(exe) << " (error " << GetLastError() << ")";
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
  }
  result.out = ReadFileBytes(out_path);
  result.err = ReadFileBytes(err_path);
  DeleteFileW(out_path.c_str());
  DeleteFileW(err_path.c_str());
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
