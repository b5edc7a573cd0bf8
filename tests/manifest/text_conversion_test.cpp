// The strict UTF-8 decoder Utf8ToWide, its inverse, the UTF-8 encoder, and the
// JSON string writer with its round trip through the reader.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.h"
#include "manifest/json_reader.h"
#include "manifest/json_writer.h"
#include "tests/support/expected_texts.h"
#include "tests/support/table_helpers.h"

using namespace std::string_literals;

namespace {

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::wstring wide;  // expected result; unused when `valid` is false
  bool valid = true;
};

const Utf8Case kUtf8Cases[] = {
    {"empty", "", L""},
    {"ascii", "Lanternbrook.exe", L"Lanternbrook.exe"},
    {"nul_inside", "a\0b"s, L"a\0b"s},
    {"two_byte", "caf\xC3\xA9", L"caf\u00e9"},
    {"smallest_of_each_length", "\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80", L"\x80\x800\xD800\xDC00"},
    {"around_the_surrogates", "\xED\x9F\xBF\xEE\x80\x80", L"\xD7FF\xE000"},
    {"three_byte", "\xE2\x82\xAC", L"\u20ac"},
    {"largest_bmp", "\xEF\xBF\xBF", L"\xFFFF"},
    {"four_byte_becomes_surrogate_pair", "\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
    {"largest_code_point", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
    {"truncated_two_byte", "\xC3\x28", L"", false},
    {"truncated_inside", "\xE2\x28\xA1", L"", false},
    {"overlong_nul", "\xC0\x80", L"", false},
    {"overlong_two_byte_c1", "\xC1\xBF", L"", false},
    {"lone_continuation", "a\x80", L"", false},
    {"overlong_slash", "\xC0\xAF", L"", false},
    {"overlong_three_byte", "\xE0\x80\xAF", L"", false},
    {"overlong_four_byte", "\xF0\x80\x80\xAF", L"", false},
    {"encoded_high_surrogate", "\xED\xA0\xBD", L"", false},
    {"encoded_low_surrogate", "\xED\xB8\x80", L"", false},
    {"encoded_surrogate_pair", "\xED\xA0\xBD\xED\xB8\x80", L"", false},
    {"above_largest_code_point", "\xF4\x90\x80\x80", L"", false},
    {"truncated_four_byte", "\xF0\x9F\x98", L"", false},
    {"truncated_at_end", "abc\xE2\x82", L"", false},
    {"byte_ff", "\xFF", L"", false},
    {"byte_fe", "x\xFE", L"", false},
    {"five_byte_form", "\xF8\x88\x80\x80\x80", L"", false},
};

void PrintTo(const Utf8Case& c, std::ostream* out) { *out << c.name; }

class Utf8ToWideTest : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToWideTest, ConvertsOrRefuses) {
  const Utf8Case& c = GetParam();
  if (!c.valid) {
    EXPECT_EQ(lbtest::ErrorText<std::runtime_error>([&] { Utf8ToWide(c.utf8); }), lbtest::texts::kBadUtf8);
    return;
  }
  EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
  EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf8ToWideTest, ::testing::ValuesIn(kUtf8Cases), lbtest::CaseName());

// What the reader makes of surrogate escapes: a pair converts, a lone one is
// refused where the string is converted.
TEST(Utf8ToWide, SurrogateEscapesFromTheReader) {
  const std::string pair = R"("\uD83D\uDE00")";
  const std::string lone = R"("\uD83D!")";
  JsonCursor cursor{pair.data(), pair.data() + pair.size()};
  EXPECT_EQ(Utf8ToWide(ReadJsonString(cursor)), L"\xD83D\xDE00");
  cursor = {lone.data(), lone.data() + lone.size()};
  const std::string bytes = ReadJsonString(cursor);
  EXPECT_THROW(Utf8ToWide(bytes), std::runtime_error);
}

TEST(Utf8ToWide, WideToUtf8ReplacesUnpairedSurrogates) {
  EXPECT_EQ(WideToUtf8(L"a\xD800" L"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(WideToUtf8(L"\xDC00"), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(AppendUtf8, AppendsOneToFourBytes) {
  std::string out = "x";
  for (char32_t c : {0x00, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}) AppendUtf8(out, c);
  EXPECT_EQ(out, "x\0\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"s);
}

struct WriterCase {
  const char* name;
  std::string text;
  std::string written;
};

const WriterCase kWriterCases[] = {
    {"plain_version", "1.4.2-beta+7", "1.4.2-beta+7"},
    {"quotation_mark", "say \"hi\"", R"(say \"hi\")"},
    {"backslash", "a\\b", R"(a\\b)"},
    {"short_control_escapes", "\b\f\n\r\t", R"(\b\f\n\r\t)"},
    {"other_control_bytes", "\0\x01\x1B\x1F"s, R"(\u0000\u0001\u001b\u001f)"},
    {"delete_and_utf8_unchanged", "\x7F\xC3\xA9\xF0\x9F\x98\x80", "\x7F\xC3\xA9\xF0\x9F\x98\x80"},
    {"slash_unchanged", "a/b", "a/b"},
};

void PrintTo(const WriterCase& c, std::ostream* out) { *out << c.name; }

class JsonWriterTest : public ::testing::TestWithParam<WriterCase> {};

TEST_P(JsonWriterTest, EscapesAndAppends) {
  const WriterCase& c = GetParam();
  std::string out = "\"";
  AppendJsonStringContent(out, c.text);
  EXPECT_EQ(out, "\"" + c.written);
}

INSTANTIATE_TEST_SUITE_P(Cases, JsonWriterTest, ::testing::ValuesIn(kWriterCases), lbtest::CaseName());

// Every byte value, and random byte strings, come back unchanged through the
// reader.
TEST(JsonWriter, RoundTripsThroughTheReader) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  std::mt19937 random(7);
  std::vector<std::string> texts = {every_byte, ""};
  for (int i = 0; i < 500; ++i) {
    std::string text(random() % 40, '\0');
    for (char& c : text) c = static_cast<char>(random());
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    std::string json = "\"";
    AppendJsonStringContent(json, text);
    json += "\"";
    JsonCursor cursor{json.data(), json.data() + json.size()};
    ASSERT_EQ(ReadJsonString(cursor), text);
    EXPECT_EQ(cursor.current, cursor.end);
  }
}

}  // namespace
