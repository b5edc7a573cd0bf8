#include "tests/support/launch_record.h"

#include "tests/support/test_support.h"

namespace lbtest {
namespace {

// Inverse of the stand-in's escaping: "\\" -> '\', "\n" -> LF, "\r" -> CR.
std::wstring Unescape(const std::wstring& value) {
  std::wstring text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == L'\\' && i + 1 < value.size()) {
      wchar_t next = value[++i];
      text += next == L'n' ? L'\n' : next == L'r' ? L'\r' : next;
    } else {
      text += value[i];
    }
  }
  return text;
}

}  // namespace

std::wstring LaunchRecordPath(const std::wstring& exe) {
  size_t dot = exe.rfind(L'.');
  size_t slash = exe.find_last_of(L"\\/");
  std::wstring base = exe;
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) base.resize(dot);
  return base + L".launch.txt";
}

LaunchRecord ParseLaunchRecord(const std::wstring& text) {
  LaunchRecord record;
  record.present = true;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    size_t colon = line.find(L':');
    if (colon == std::wstring::npos) continue;
    std::wstring key = line.substr(0, colon), value = Unescape(line.substr(colon + 1));
    if (key == L"command_line") record.command_line = value;
    else if (key == L"arg") record.argv.push_back(value);
    else if (key == L"working_directory") record.working_directory = value;
  }
  return record;
}

LaunchRecord ReadLaunchRecord(const std::wstring& exe) {
  const std::wstring path = LaunchRecordPath(exe);
  if (!PathExists(path)) return {};
  return ParseLaunchRecord(Widen(ReadFileBytes(path)));
}

}  // namespace lbtest
