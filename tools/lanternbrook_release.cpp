// lanternbrook-release: turns a release folder into the update manifest the
// installer reads (make), verifies a manifest against a folder or a server
// (check) and tells what an update costs its users (diff). See
// ReleaseUsageText for the command line.
#include <windows.h>

#include <exception>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/system_dll_search.h"
#include "tools/console_output.h"
#include "tools/release_check.h"
#include "tools/release_command_line.h"
#include "tools/release_diff.h"
#include "tools/release_errors.h"
#include "tools/release_make.h"
#include "tools/release_sign.h"

namespace {

constexpr char kProgram[] = "lanternbrook-release: ";

// Prints every line of `text` behind the program name and `kind`.
void Report(std::string_view kind, std::string_view text) {
  std::string out;
  while (true) {
    std::size_t end = text.find('\n');
    out += kProgram;
    out += kind;
    out += text.substr(0, end);
    out += '\n';
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  WriteStderr(out);
}

int Run(const ReleaseCommand& command) {
  if (std::holds_alternative<HelpCommand>(command)) {
    WriteStdout(ReleaseUsageText);
    return ExitSuccess;
  }
  if (const auto* make = std::get_if<MakeCommand>(&command)) return RunMake(*make);
  if (const auto* diff = std::get_if<DiffCommand>(&command)) return RunDiff(*diff);
  if (const auto* keygen = std::get_if<KeygenCommand>(&command)) return RunKeygen(*keygen);
  if (const auto* sign = std::get_if<SignCommand>(&command)) return RunSign(*sign);
  return RunCheck(std::get<CheckCommand>(command));
}

}  // namespace

// The C runtime's start-up for a console program: initialises the runtime,
// runs the static constructors and calls wmain.
extern "C" int mainCRTStartup();

// The process's entry point (set at link time): the DLL search is limited to
// the system folder, and the delay-loaded system DLLs are loaded from there,
// before the C runtime or any constructor runs.
extern "C" int ReleaseToolStartup() {
  RestrictDllSearchToSystemFolder({L"bcrypt.dll", L"crypt32.dll", L"winhttp.dll"});
  return mainCRTStartup();
}

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  try {
    return Run(ParseReleaseCommandLine(arguments));
  } catch (const UsageError& error) {
    Report("", error.what());
    WriteStderr("Try 'lanternbrook-release --help'.\n");
    return ExitUsage;
  } catch (const ReleaseRefusal& error) {
    Report("refused: ", error.what());
    return ExitRefused;
  } catch (const std::exception& error) {
    Report("error: ", error.what());
    return ExitRefused;
  }
}
