#pragma once
// The installer's command line. Called once per run, on the worker thread.
#include <cstdint>
#include <string>
#include <vector>

struct InstallOptions {
  std::wstring app_dir;         // default: Desktop\Lanternbrook
  std::wstring app_executable;  // absolute or anchored under app_dir after parsing
  std::uint32_t wait_pid = 0;   // 0: do not wait
  bool create_shortcut = true;
  bool launch_after_install = true;
  bool quiet = false;
  std::vector<std::wstring> launch_args;
};

// Splits the process command line (GetCommandLineW, CommandLineToArgvW) and
// parses it. Throws GetDesktopFolder's error only.
InstallOptions ParseCommandLine();

// The process command line split into arguments, the program first; none
// when it cannot be split.
std::vector<std::wstring> CommandLineArguments();

// The same over an argument vector whose first element is the program.
// `desktop` is the Desktop folder the default app_dir is built from.
InstallOptions ParseCommandLineArguments(const std::vector<std::wstring>& arguments,
                                         const std::wstring& desktop);

// --wait-pid conversion: leading white space, optional sign, decimal digits
// up to the first other character, saturating at the 32-bit signed range,
// stored as the unsigned id. No digits gives 0.
std::uint32_t ParseWaitPid(const std::wstring& value) noexcept;
