#pragma once
// Strict UTF-8 <-> UTF-16 conversion through the platform decoder.
// Called on the worker thread (and by tests); no shared state.
#include <string>
#include <string_view>

// Converts well-formed UTF-8 (no overlong forms, no encoded surrogates, nothing
// above U+10FFFF, no truncated sequences) to UTF-16. An empty input gives an
// empty result. Throws std::runtime_error("Texto UTF-8 invalido no manifesto.")
// for anything else.
std::wstring Utf8ToWide(std::string_view text);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD. Never throws except
// std::bad_alloc.
std::string WideToUtf8(std::wstring_view text);
