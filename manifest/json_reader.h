#pragma once
// Strict pull reader over one UTF-8 JSON text. There is no document tree: the
// caller reads values in the order of its own schema and skips the rest.
// Pure code (no <windows.h>); runs on the worker thread; no shared state.
//
// Every operation advances the cursor and reports failure by throwing
// std::runtime_error with one of these texts:
//   "JSON invalido no manifesto."   "Valor JSON ausente."
//   "String JSON invalida."          "String JSON nao terminada."
//   "Escape JSON invalido."          "Escape Unicode invalido."
//   "Escape Unicode incompleto."     "Numero JSON invalido."
// After a failure the cursor is not used again.
#include <cstdint>
#include <string>

// Read position and end over a text the caller owns. Every test is made
// against `end`; the text need not be NUL-terminated.
struct JsonCursor {
  const char* current = nullptr;
  const char* end = nullptr;
};

// Whitespace is exactly 0x20, 0x09, 0x0A, 0x0B, 0x0C and 0x0D.
void SkipJsonWhitespace(JsonCursor& cursor) noexcept;

// Skips whitespace; consumes `expected` and returns true when it is next.
bool TryJsonChar(JsonCursor& cursor, char expected) noexcept;

// Skips whitespace; consumes `expected` or throws "JSON invalido no manifesto.".
void ExpectJsonChar(JsonCursor& cursor, char expected);

// Skips whitespace and reads one quoted string, escapes decoded to UTF-8 (a
// surrogate pair as one code point, a lone surrogate as its own three bytes).
// The bytes are not validated as UTF-8 here.
std::string ReadJsonString(JsonCursor& cursor);

// Skips whitespace and reads a run of decimal digits. A value beyond
// 2^64 - 1 throws "Numero JSON invalido.". The byte after the digits is not
// consumed.
std::uint64_t ReadJsonUnsigned(JsonCursor& cursor);

// Skips whitespace and consumes one value of any kind. Nesting deeper than
// MaxJsonSkipDepth throws "JSON invalido no manifesto.".
void SkipJsonValue(JsonCursor& cursor);
inline constexpr int MaxJsonSkipDepth = 1024;
