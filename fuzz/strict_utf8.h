#pragma once
// Host stand-in for the platform's strict UTF-8 decoder (the one behind
// Utf8ToWide): accepts exactly the well-formed UTF-8 of the Unicode standard
// (no overlong forms, no encoded surrogates, nothing above U+10FFFF, no
// truncated sequences) and produces UTF-16 code units, one per wchar_t.
// Pure code for the fuzz targets; thread-safe.
#include <cstddef>
#include <cstdint>
#include <string>

// Appends the UTF-16 form of `bytes` to `out` and returns true, or returns
// false (with `out` unspecified) when the bytes are not well-formed UTF-8.
inline bool StrictUtf8ToUtf16(const std::uint8_t* bytes, std::size_t size, std::wstring& out) {
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t lead = bytes[i];
    std::uint32_t cp = 0;
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (lead < 0x80) {
      cp = lead;
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      cp = lead & 0x1F;
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      cp = lead & 0x0F;
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      cp = lead & 0x07;
      length = 4;
      if (lead == 0xF0) low = 0x90;   // no overlong forms
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (size - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const std::uint8_t b = bytes[i + k];
      if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += length;
  }
  return true;
}
