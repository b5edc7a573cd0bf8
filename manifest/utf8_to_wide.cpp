#include "manifest/utf8_to_wide.h"

#include <windows.h>

#include <climits>
#include <new>
#include <stdexcept>

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  // The decoder takes a 32-bit count; a longer text is refused like a
  // malformed one (the manifest is far smaller).
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::runtime_error("Texto UTF-8 invalido no manifesto.");
  }
  const int count = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), count, nullptr, 0);
  if (length < 1) throw std::runtime_error("Texto UTF-8 invalido no manifesto.");
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), count, wide.data(), length);
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  if (text.size() > static_cast<std::size_t>(INT_MAX)) throw std::bad_alloc();
  const int count = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
  if (length < 1) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), count, narrow.data(), length, nullptr, nullptr);
  return narrow;
}
