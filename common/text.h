#pragma once
// UTF-8 and UTF-16 text: the strict decoder every manifest and command-line
// text goes through, its inverse, and the code point and letter-case rules
// shared by the JSON reader, the path rule and the publisher tool. A wide
// string holds UTF-16 code units, one per wchar_t, also where wchar_t is wider
// (the host build). Pure code (no <windows.h>); thread-safe.
#include <string>
#include <string_view>

constexpr bool IsHighSurrogate(char32_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }
constexpr char32_t CombineSurrogates(char32_t high, char32_t low) noexcept {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// 'A'-'Z' to 'a'-'z', every other unit unchanged: the letter case the
// manifest's own rules ignore (drive letters, the staging folder's name), the
// same on every system. Whether two names are one file is decided by the file
// system's casing instead: SameFileKey (transfer/path_collisions.h).
constexpr wchar_t AsciiLower(wchar_t c) noexcept { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; }

// Converts well-formed UTF-8 (no overlong forms, no encoded surrogates, nothing
// above U+10FFFF, no truncated sequences) to UTF-16. An empty input gives an
// empty result. Throws std::runtime_error("Texto UTF-8 invalido no manifesto.")
// for anything else.
std::wstring Utf8ToWide(std::string_view text);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD. Never throws except
// std::bad_alloc.
std::string WideToUtf8(std::wstring_view text);

// Appends `c` (at most U+10FFFF) as one to four UTF-8 bytes. A surrogate is
// written like any other code point (three bytes, which Utf8ToWide refuses).
void AppendUtf8(std::string& out, char32_t c);
