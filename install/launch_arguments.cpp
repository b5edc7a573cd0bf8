#include "install/launch_arguments.h"

namespace {

bool NeedsQuoting(const std::wstring& argument) noexcept {
  return argument.empty() || argument.find_first_of(L" \t\n\v\"") != std::wstring::npos;
}

}  // namespace

std::wstring QuoteWindowsArgument(const std::wstring& argument) {
  if (!NeedsQuoting(argument)) return argument;  // backslashes alone never need quotes

  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;  // their meaning depends on what follows
    } else if (c == L'"') {
      quoted.append(2 * backslashes + 1, L'\\');
      quoted += c;
      backslashes = 0;
    } else {
      quoted.append(backslashes, L'\\');
      quoted += c;
      backslashes = 0;
    }
  }
  quoted.append(2 * backslashes, L'\\');  // they stand before the closing quote
  quoted += L'"';
  return quoted;
}

std::wstring BuildLaunchArguments(const std::vector<std::wstring>& arguments) {
  std::wstring joined;
  for (const std::wstring& argument : arguments) {
    if (!joined.empty()) joined += L' ';
    joined += QuoteWindowsArgument(argument);
  }
  return joined;
}
