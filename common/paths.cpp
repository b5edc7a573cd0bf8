#include "common/paths.h"

#include "common/text.h"

namespace {

bool IsAsciiLetter(wchar_t c) noexcept { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool HasDrive(std::wstring_view path) noexcept {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':';
}

}  // namespace

bool IsPathSeparator(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

size_t RootNameLength(std::wstring_view path) noexcept {
  if (HasDrive(path)) return 2;
  if (path.size() >= 3 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
      !IsPathSeparator(path[2])) {
    size_t end = 2;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;  // server
    if (end < path.size()) {
      ++end;
      while (end < path.size() && !IsPathSeparator(path[end])) ++end;  // share
    }
    return end;
  }
  return 0;
}

bool IsAbsoluteWindowsPath(std::wstring_view path) noexcept {
  if (HasDrive(path)) return path.size() >= 3 && IsPathSeparator(path[2]);
  return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

std::wstring JoinPath(std::wstring_view left, std::wstring_view right) {
  std::wstring result(left);
  if (!result.empty() && !IsPathSeparator(result.back())) result += L'\\';
  result += right;
  return result;
}

std::wstring AppendWindowsPath(std::wstring_view left, std::wstring_view right) {
  if (IsAbsoluteWindowsPath(right)) return std::wstring(right);
  if (HasDrive(right)) {
    if (!HasDrive(left) || AsciiLower(left[0]) != AsciiLower(right[0])) return std::wstring(right);
    right.remove_prefix(2);  // same drive: "C:x" under "C:\a" is "C:\a\x"
  }
  if (!right.empty() && IsPathSeparator(right[0])) {
    std::wstring result(left.substr(0, RootNameLength(left)));
    result += right;
    return result;
  }
  std::wstring result(left);
  bool bare_drive = result.size() == 2 && HasDrive(result);
  if (!result.empty() && !bare_drive && !IsPathSeparator(result.back())) result += L'\\';
  result += right;
  return result;
}

std::wstring ParentPath(std::wstring_view path) {
  size_t root = RootNameLength(path);
  if (root < path.size() && IsPathSeparator(path[root])) ++root;  // root directory
  size_t end = path.size();
  while (end > root && !IsPathSeparator(path[end - 1])) --end;  // drop the last name
  while (end > root && IsPathSeparator(path[end - 1])) --end;   // and the separators before it
  return std::wstring(path.substr(0, end));
}
