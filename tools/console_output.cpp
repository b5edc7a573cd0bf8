#include "tools/console_output.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/text.h"

namespace {

void Write(DWORD which, std::string_view text) {
  HANDLE stream = ::GetStdHandle(which);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  if (::GetConsoleMode(stream, &mode)) {
    std::wstring wide;
    try {
      wide = Utf8ToWide(text);
    } catch (const std::runtime_error&) {
      // Not UTF-8: show the bytes as Latin-1.
      wide.clear();
      for (unsigned char c : text) wide += static_cast<wchar_t>(c);
    }
    DWORD written = 0;
    ::WriteConsoleW(stream, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  while (!text.empty()) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    if (!::WriteFile(stream, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace

void WriteStdout(std::string_view text) { Write(STD_OUTPUT_HANDLE, text); }
void WriteStderr(std::string_view text) { Write(STD_ERROR_HANDLE, text); }
