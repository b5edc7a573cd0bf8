#include "manifest/json_reader.h"

#include <limits>
#include <stdexcept>

#include "common/text.h"

namespace {

[[noreturn]] void Fail(const char* message) { throw std::runtime_error(message); }

constexpr bool IsJsonWhitespace(char c) noexcept {
  // 0x09 tab, 0x0A line feed, 0x0B vertical tab, 0x0C form feed, 0x0D carriage return.
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The four hex digits after "\u", most significant first.
std::uint16_t ReadUnicodeEscapeDigits(JsonCursor& cursor) {
  std::uint16_t value = 0;
  for (int i = 0; i < 4; ++i) {
    if (cursor.current == cursor.end) Fail("Escape Unicode incompleto.");
    const char c = *cursor.current++;
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      Fail("Escape Unicode invalido.");
    }
    value = static_cast<std::uint16_t>(value * 16 + digit);
  }
  return value;
}

// A scalar in a skipped position: everything up to the next ',', '}' or ']'
// (left unconsumed) or the end of the text. Not validated.
void SkipJsonScalar(JsonCursor& cursor) noexcept {
  while (cursor.current != cursor.end) {
    const char c = *cursor.current;
    if (c == ',' || c == '}' || c == ']') return;
    ++cursor.current;
  }
}

// `depth` counts the objects and arrays already open around this value.
void SkipJsonValueAt(JsonCursor& cursor, int depth) {
  SkipJsonWhitespace(cursor);
  if (cursor.current == cursor.end) Fail("Valor JSON ausente.");
  const char opening = *cursor.current;
  if (opening == '"') {
    (void)ReadJsonString(cursor);
    return;
  }
  if (opening != '{' && opening != '[') {
    SkipJsonScalar(cursor);
    return;
  }
  if (depth >= MaxJsonSkipDepth) Fail("JSON invalido no manifesto.");
  const bool object = opening == '{';
  const char closing = object ? '}' : ']';
  ExpectJsonChar(cursor, opening);
  for (;;) {
    if (TryJsonChar(cursor, closing)) return;
    if (object) {
      (void)ReadJsonString(cursor);
      ExpectJsonChar(cursor, ':');
    }
    SkipJsonValueAt(cursor, depth + 1);
    if (TryJsonChar(cursor, closing)) return;
    ExpectJsonChar(cursor, ',');
  }
}

}  // namespace

void SkipJsonWhitespace(JsonCursor& cursor) noexcept {
  while (cursor.current != cursor.end && IsJsonWhitespace(*cursor.current)) ++cursor.current;
}

bool TryJsonChar(JsonCursor& cursor, char expected) noexcept {
  SkipJsonWhitespace(cursor);
  if (cursor.current != cursor.end && *cursor.current == expected) {
    ++cursor.current;
    return true;
  }
  return false;
}

void ExpectJsonChar(JsonCursor& cursor, char expected) {
  if (!TryJsonChar(cursor, expected)) Fail("JSON invalido no manifesto.");
}

std::string ReadJsonString(JsonCursor& cursor) {
  SkipJsonWhitespace(cursor);
  if (cursor.current == cursor.end || *cursor.current != '"') Fail("String JSON invalida.");
  ++cursor.current;
  std::string result;
  // A high surrogate escape directly followed by "\u": held back until the
  // next escape shows whether it completes a pair.
  std::uint16_t pending_high = 0;
  for (;;) {
    // Ordinary bytes (anything but '"' and '\', control bytes and NUL
    // included) are taken as one run.
    const char* run = cursor.current;
    while (cursor.current != cursor.end && *cursor.current != '"' && *cursor.current != '\\') {
      ++cursor.current;
    }
    result.append(run, cursor.current);
    if (cursor.current == cursor.end) Fail("String JSON nao terminada.");
    if (*cursor.current++ == '"') return result;

    if (cursor.current == cursor.end) Fail("String JSON nao terminada.");
    switch (*cursor.current++) {
      case '"': result.push_back('"'); break;
      case '/': result.push_back('/'); break;
      case '\\': result.push_back('\\'); break;
      case 'b': result.push_back('\b'); break;
      case 'f': result.push_back('\f'); break;
      case 'n': result.push_back('\n'); break;
      case 'r': result.push_back('\r'); break;
      case 't': result.push_back('\t'); break;
      case 'u': {
        const std::uint16_t value = ReadUnicodeEscapeDigits(cursor);
        if (pending_high != 0) {
          const std::uint16_t high = pending_high;
          pending_high = 0;
          if (IsLowSurrogate(value)) {
            AppendUtf8(result, CombineSurrogates(high, value));
            break;
          }
          AppendUtf8(result, high);
        }
        if (IsHighSurrogate(value) && cursor.end - cursor.current >= 2 &&
            cursor.current[0] == '\\' && cursor.current[1] == 'u') {
          pending_high = value;
        } else {
          AppendUtf8(result, value);
        }
        break;
      }
      default:
        Fail("Escape JSON invalido.");
    }
  }
}

std::uint64_t ReadJsonUnsigned(JsonCursor& cursor) {
  SkipJsonWhitespace(cursor);
  if (cursor.current == cursor.end || !IsDigit(*cursor.current)) Fail("Numero JSON invalido.");
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  while (cursor.current != cursor.end && IsDigit(*cursor.current)) {
    const auto digit = static_cast<std::uint64_t>(*cursor.current - '0');
    if (value > (max - digit) / 10) Fail("Numero JSON invalido.");
    value = value * 10 + digit;
    ++cursor.current;
  }
  return value;
}

void SkipJsonValue(JsonCursor& cursor) { SkipJsonValueAt(cursor, 0); }
