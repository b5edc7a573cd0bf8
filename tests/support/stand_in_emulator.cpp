// Stand-in for the installed application, LanternbrookEmulator.exe (test
// support only). It records how it was started to a file beside itself,
// LanternbrookEmulator.launch.txt, and exits.
//
// Record format: UTF-8, one item per line, each line "<key>:<value>", in this
// order:
//   command_line:<GetCommandLineW()>
//   argc:<number of arguments CommandLineToArgvW split it into>
//   arg:<one argument>                  (argc lines, argv[0] first)
//   working_directory:<current directory>
// In values, '\' is written as "\\", LF as "\n" and CR as "\r", so every
// item stays on its line. The record is written to a ".tmp" sibling and then
// renamed, so a reader never sees half of it.
//
// With the arguments "--stay-ms N" the program stays alive N milliseconds
// after writing the record (a running application for --wait-pid tests).
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring Escape(const std::wstring& value) {
  std::wstring escaped;
  for (wchar_t c : value) {
    if (c == L'\\') escaped += L"\\\\";
    else if (c == L'\n') escaped += L"\\n";
    else if (c == L'\r') escaped += L"\\r";
    else escaped += c;
  }
  return escaped;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
  std::string result(length, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length,
                      nullptr, nullptr);
  return result;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring CurrentDirectory() {
  DWORD length = GetCurrentDirectoryW(0, nullptr);
  std::wstring directory(length, L'\0');
  length = GetCurrentDirectoryW(length, directory.data());
  directory.resize(length);
  return directory;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const wchar_t* command_line = GetCommandLineW();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(command_line, &argc);

  std::wstring record = L"command_line:" + Escape(command_line) + L"\n";
  record += L"argc:" + std::to_wstring(argv ? argc : 0) + L"\n";
  DWORD stay_ms = 0;
  for (int i = 0; argv && i < argc; ++i) {
    record += L"arg:" + Escape(argv[i]) + L"\n";
    if (std::wstring(argv[i]) == L"--stay-ms" && i + 1 < argc) {
      stay_ms = static_cast<DWORD>(wcstoul(argv[i + 1], nullptr, 10));
    }
  }
  if (argv) LocalFree(argv);
  record += L"working_directory:" + Escape(CurrentDirectory()) + L"\n";

  std::wstring path = ModulePath();
  size_t dot = path.rfind(L'.');
  size_t slash = path.find_last_of(L"\\/");
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) path.resize(dot);
  const std::wstring target = path + L".launch.txt";
  const std::wstring temporary = target + L".tmp";

  const std::string bytes = ToUtf8(record);
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != bytes.size()) return 3;
  if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 4;

  if (stay_ms) Sleep(stay_ms);
  return 0;
}
