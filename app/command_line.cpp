#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <climits>

#include "app/desktop_folder.h"
#include "common/paths.h"
#include "common/win_handles.h"

namespace {

constexpr wchar_t DefaultFolderName[] = L"Lanternbrook";
constexpr wchar_t DefaultExecutableName[] = L"LanternbrookEmulator.exe";

bool IsLeadingSpace(wchar_t c) noexcept {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

std::vector<std::wstring> CommandLineArguments() {
  int count = 0;
  LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!raw) return {};
  LocalMemory owner(raw);
  return std::vector<std::wstring>(raw, raw + count);
}

std::uint32_t ParseWaitPid(const std::wstring& value) noexcept {
  size_t at = 0;
  while (at < value.size() && IsLeadingSpace(value[at])) ++at;
  bool negative = false;
  if (at < value.size() && (value[at] == L'+' || value[at] == L'-')) {
    negative = value[at] == L'-';
    ++at;
  }
  // Magnitude limit: 2147483647, or 2147483648 for a negative number.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
  std::int64_t magnitude = 0;
  for (; at < value.size() && value[at] >= L'0' && value[at] <= L'9'; ++at) {
    magnitude = magnitude * 10 + (value[at] - L'0');
    if (magnitude > limit) magnitude = limit;  // saturate; keep reading the digits
  }
  const std::int64_t number = negative ? -magnitude : magnitude;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(number));
}

InstallOptions ParseCommandLineArguments(const std::vector<std::wstring>& arguments,
                                         const std::wstring& desktop) {
  InstallOptions options;
  options.app_dir = JoinPath(desktop, DefaultFolderName);

  // Options take the next argument as their value, whatever it looks like;
  // an option in the last place gets the empty string.
  auto value_after = [&](size_t& index) -> std::wstring {
    ++index;
    return index < arguments.size() ? arguments[index] : std::wstring();
  };
  for (size_t index = 1; index < arguments.size(); ++index) {
    const std::wstring& argument = arguments[index];
    if (argument == L"--app-dir") {
      options.app_dir = value_after(index);
    } else if (argument == L"--app-executable") {
      options.app_executable = value_after(index);
    } else if (argument == L"--wait-pid") {
      options.wait_pid = ParseWaitPid(value_after(index));
    } else if (argument == L"--launch-arg") {
      options.launch_args.push_back(value_after(index));
    } else if (argument == L"--no-shortcut") {
      options.create_shortcut = false;
    } else if (argument == L"--no-launch") {
      options.launch_after_install = false;
    } else if (argument == L"--quiet") {
      options.quiet = true;
    }
    // Anything else is ignored.
  }

  if (options.app_executable.empty()) {
    options.app_executable = AppendWindowsPath(options.app_dir, DefaultExecutableName);
  } else if (!IsAbsoluteWindowsPath(options.app_executable)) {
    options.app_executable = AppendWindowsPath(options.app_dir, options.app_executable);
  }
  return options;
}

InstallOptions ParseCommandLine() {
  // The Desktop is looked up first: without it the run fails even when
  // --app-dir names another folder.
  const std::wstring desktop = GetDesktopFolder();
  return ParseCommandLineArguments(CommandLineArguments(), desktop);
}
