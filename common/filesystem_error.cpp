#include "common/filesystem_error.h"

#include <windows.h>

#include "common/text.h"
#include "common/win_handles.h"

std::wstring SystemErrorMessage(std::uint32_t error) {
  wchar_t* raw = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  LocalMemory owner(raw);
  std::wstring message = length != 0 && raw ? std::wstring(raw, length) : std::wstring();
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) message = L"Erro " + std::to_wstring(error);
  return message;
}

std::string LastErrorText() { return WideToUtf8(SystemErrorMessage(GetLastError())); }

std::string FilesystemErrorText(std::string_view operation, std::wstring_view path,
                                std::uint32_t error) {
  std::string text(operation);
  text += ": ";
  text += WideToUtf8(SystemErrorMessage(error));
  text += ": \"";
  text += WideToUtf8(path);
  text += '"';
  return text;
}

FilesystemError::FilesystemError(std::string_view operation, std::wstring_view path,
                                 std::uint32_t error)
    : std::runtime_error(FilesystemErrorText(operation, path, error)) {}
