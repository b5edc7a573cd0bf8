// The pull reader: every operation, message and edge case, one table row each.
#include "manifest/json_reader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/support/table_helpers.h"

using namespace std::string_literals;

namespace {

enum class Op { Whitespace, Try, Expect, String, Unsigned, Skip };

struct ReaderCase {
  const char* name;
  Op op;
  std::string text;
  std::string result;       // String: the bytes; Unsigned: decimal; Try: "true"/"false"
  std::size_t rest = 0;     // bytes left after the cursor on success
  const char* error = nullptr;
  char arg = '{';           // the byte given to Try and Expect
};

using namespace lbtest::texts;

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }
std::string NestedObjects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "{\"\":";
  text += "1";
  return text + std::string(depth, '}');
}

const ReaderCase kReaderCases[] = {
    // Whitespace: exactly six bytes, nothing at or above 0x80, NUL is not one.
    {"whitespace_all_six", Op::Whitespace, " \t\n\v\f\r{", "", 1},
    {"whitespace_stops_at_no_break_space", Op::Whitespace, " \xC2\xA0", "", 2},
    {"whitespace_stops_at_nul", Op::Whitespace, "\0 "s, "", 2},
    {"whitespace_to_the_end", Op::Whitespace, "  \r\n", "", 0},

    {"try_consumes_the_byte_after_whitespace", Op::Try, " \v]x", "true", 1, nullptr, ']'},
    {"try_other_byte_consumes_only_whitespace", Op::Try, " \f}x", "false", 2, nullptr, ']'},
    {"try_at_end", Op::Try, "  ", "false", 0, nullptr, ']'},

    {"expect_after_vertical_tab_and_form_feed", Op::Expect, "\v\f {\"", "", 1},
    {"expect_colon", Op::Expect, " : 1", "", 2, nullptr, ':'},
    {"expect_byte_order_mark_is_not_skipped", Op::Expect, "\xEF\xBB\xBF{", "", 0, kBadJson},
    {"expect_other_byte", Op::Expect, " [", "", 0, kBadJson},
    {"expect_at_end", Op::Expect, " \t", "", 0, kBadJson},

    // Strings.
    {"string_plain", Op::String, " \"abc\" ,", "abc", 2},
    {"string_empty", Op::String, "\"\"", "", 0},
    {"string_simple_escapes", Op::String, R"("\"\/\\\b\f\n\r\t")", "\"/\\\b\f\n\r\t", 0},
    {"string_u00e9_between_letters", Op::String, R"("a\u00e9b")", "a\xC3\xA9" "b", 0},
    {"string_euro_sign", Op::String, R"("\u20AC")", "\xE2\x82\xAC", 0},
    {"string_u0041", Op::String, R"("\u0041")", "A", 0},
    {"string_u0000_is_one_nul", Op::String, R"("\u0000")", "\0"s, 0},
    {"string_hex_digits_either_case", Op::String, R"("\u00E9\u00e9\uAbCd")", "\xC3\xA9\xC3\xA9\xEA\xAF\x8D", 0},
    {"string_one_byte_limit", Op::String, R"("\u007F")", "\x7F", 0},
    {"string_two_byte_range", Op::String, R"("\u0080\u07FF")", "\xC2\x80\xDF\xBF", 0},
    {"string_three_byte_range", Op::String, R"("\u0800\uFFFF")", "\xE0\xA0\x80\xEF\xBF\xBF", 0},
    {"string_surrogate_pair_combined", Op::String, R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80", 0},
    {"string_first_and_last_surrogate_pairs", Op::String, R"("\uD800\uDC00\uDBFF\uDFFF")",
     "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 0},
    {"string_lone_high_surrogate", Op::String, R"("\uD83Dx")", "\xED\xA0\xBDx", 0},
    {"string_lone_high_surrogate_at_close", Op::String, R"("\uD83D")", "\xED\xA0\xBD", 0},
    {"string_lone_low_surrogate", Op::String, R"("\uDE00")", "\xED\xB8\x80", 0},
    {"string_low_then_high_not_combined", Op::String, R"("\uDE00\uD83D")", "\xED\xB8\x80\xED\xA0\xBD", 0},
    {"string_high_then_plain_escape", Op::String, R"("\uD83D\u0041")", "\xED\xA0\xBD" "A", 0},
    {"string_high_then_other_escape", Op::String, R"("\uD83D\n")", "\xED\xA0\xBD\n", 0},
    {"string_high_high_low", Op::String, R"("\uD83D\uD83D\uDE00")", "\xED\xA0\xBD\xF0\x9F\x98\x80", 0},
    {"string_raw_four_byte_character_unchanged", Op::String, "\"\xF0\x9F\x98\x80\"", "\xF0\x9F\x98\x80", 0},
    {"string_raw_control_bytes_unchanged", Op::String, "\"a\tb\nc\x01\x1F\x7F\"", "a\tb\nc\x01\x1F\x7F", 0},
    {"string_raw_nul_unchanged", Op::String, "\"a\0b\""s, "a\0b"s, 0},
    {"string_malformed_utf8_not_validated", Op::String, "\"\xC3\x28\xFF\"", "\xC3\x28\xFF", 0},
    {"string_not_quoted", Op::String, "abc", "", 0, kBadString},
    {"string_single_quotes", Op::String, "'a'", "", 0, kBadString},
    {"string_comma", Op::String, " ,", "", 0, kBadString},
    {"string_at_end", Op::String, " ", "", 0, kBadString},
    {"string_only_the_opening_quote", Op::String, "\"", "", 0, kUnterminated},
    {"string_unterminated", Op::String, "\"abc", "", 0, kUnterminated},
    {"string_ends_after_backslash", Op::String, "\"ab\\", "", 0, kUnterminated},
    {"string_escape_x", Op::String, R"("\x41")", "", 0, kBadEscape},
    {"string_escape_capital_u", Op::String, R"("\U0041")", "", 0, kBadEscape},
    {"string_escape_single_quote", Op::String, R"("\'")", "", 0, kBadEscape},
    {"string_escape_nul", Op::String, "\"\\\0\""s, "", 0, kBadEscape},
    {"string_unicode_two_digits_then_quote", Op::String, R"("\u00")", "", 0, kBadUnicode},
    {"string_unicode_non_hex_digit", Op::String, R"("\u00g1")", "", 0, kBadUnicode},
    {"string_unicode_blank_digit", Op::String, R"("\u 041")", "", 0, kBadUnicode},
    {"string_unicode_ends_after_two_digits", Op::String, R"("\u00)", "", 0, kShortUnicode},
    {"string_unicode_ends_after_u", Op::String, R"("\u)", "", 0, kShortUnicode},
    {"string_unicode_ends_after_three_digits", Op::String, R"("\u004)", "", 0, kShortUnicode},
    {"string_pair_truncated_after_second_u", Op::String, R"("\uD83D\u)", "", 0, kShortUnicode},
    {"string_pair_second_escape_invalid", Op::String, R"("\uD83D\uDEZZ")", "", 0, kBadUnicode},

    // Unsigned numbers.
    {"unsigned_leaves_cursor_on_comma", Op::Unsigned, "  42,", "42", 1},
    {"unsigned_after_vertical_tab", Op::Unsigned, "\v\f9}", "9", 1},
    {"unsigned_zero", Op::Unsigned, "0", "0", 0},
    {"unsigned_leading_zeros", Op::Unsigned, "007 ", "7", 1},
    {"unsigned_largest", Op::Unsigned, "18446744073709551615", "18446744073709551615", 0},
    {"unsigned_largest_with_leading_zeros", Op::Unsigned, "00000018446744073709551615]",
     "18446744073709551615", 1},
    {"unsigned_stops_at_fraction", Op::Unsigned, "1.5", "1", 2},
    {"unsigned_stops_at_exponent", Op::Unsigned, "1e3", "1", 2},
    {"unsigned_stops_at_letter", Op::Unsigned, "12abc", "12", 3},
    {"unsigned_one_beyond_64_bits", Op::Unsigned, "18446744073709551616", "", 0, kBadNumber},
    {"unsigned_far_beyond_64_bits", Op::Unsigned, "99999999999999999999999", "", 0, kBadNumber},
    {"unsigned_minus", Op::Unsigned, "-1", "", 0, kBadNumber},
    {"unsigned_plus", Op::Unsigned, "+1", "", 0, kBadNumber},
    {"unsigned_quoted", Op::Unsigned, "\"42\"", "", 0, kBadNumber},
    {"unsigned_leading_point", Op::Unsigned, ".5", "", 0, kBadNumber},
    {"unsigned_at_end", Op::Unsigned, "  ", "", 0, kBadNumber},

    // Skipping.
    {"skip_nested_object_exactly", Op::Skip, R"( {"a":[1,{"b":null}],"c":"x"} tail)", "", 5},
    {"skip_word_and_following_blank", Op::Skip, "true }", "", 1},
    {"skip_comma_consumes_nothing", Op::Skip, ",", "", 1},
    {"skip_closing_brace_is_empty_scalar", Op::Skip, " }", "", 1},
    {"skip_scalar_is_not_validated", Op::Skip, "-1.5e3 tru\"e\0x ]"s, "", 1},
    {"skip_scalar_to_the_end", Op::Skip, "nul", "", 0},
    {"skip_string_stops_after_its_quote", Op::Skip, R"("a\"b\u0041" ,)", "", 2},
    {"skip_array_trailing_comma", Op::Skip, "[1,2,]", "", 0},
    {"skip_object_trailing_comma", Op::Skip, R"({"a":1,})", "", 0},
    {"skip_empty_containers", Op::Skip, R"({"a":{},"b":[],"c":[[]]})", "", 0},
    {"skip_array_opening_comma_is_empty_scalar", Op::Skip, "[,]", "", 0},
    {"skip_empty_member_value", Op::Skip, R"({"a":})", "", 0},
    {"skip_scalar_swallows_blanks_and_quotes", Op::Skip, R"({"a":1 "b":2})", "", 0},
    {"skip_at_end", Op::Skip, "", "", 0, kNoValue},
    {"skip_whitespace_then_end", Op::Skip, " \v\f ", "", 0, kNoValue},
    {"skip_array_open_at_end", Op::Skip, "[", "", 0, kNoValue},
    {"skip_member_value_at_end", Op::Skip, R"({"a":)", "", 0, kNoValue},
    {"skip_object_opens_with_comma", Op::Skip, "{,}", "", 0, kBadString},
    {"skip_key_not_a_string", Op::Skip, "{1:2}", "", 0, kBadString},
    {"skip_key_without_colon", Op::Skip, R"({"a" 1})", "", 0, kBadJson},
    {"skip_key_then_close", Op::Skip, R"({"a"})", "", 0, kBadJson},
    {"skip_array_not_closed", Op::Skip, "[1", "", 0, kBadJson},
    {"skip_object_not_closed", Op::Skip, R"({"a":1)", "", 0, kBadJson},
    {"skip_unterminated_key", Op::Skip, R"({"a)", "", 0, kUnterminated},
    {"skip_validates_escapes", Op::Skip, R"(["\q"])", "", 0, kBadEscape},
    {"skip_validates_unicode_escapes", Op::Skip, R"({"k":"\u12"})", "", 0, kBadUnicode},
    {"skip_nesting_at_the_bound", Op::Skip, Nested(MaxJsonSkipDepth) + ",", "", 1},
    {"skip_nesting_beyond_the_bound", Op::Skip, Nested(MaxJsonSkipDepth + 1), "", 0, kBadJson},
    {"skip_nested_objects_at_the_bound", Op::Skip, NestedObjects(MaxJsonSkipDepth), "", 0},
    {"skip_nested_objects_beyond_the_bound", Op::Skip, NestedObjects(MaxJsonSkipDepth + 1), "", 0, kBadJson},
};

// Runs one operation and returns its result in the table's text form.
std::string RunOperation(const ReaderCase& c, JsonCursor& cursor) {
  switch (c.op) {
    case Op::Whitespace: SkipJsonWhitespace(cursor); return "";
    case Op::Try: return TryJsonChar(cursor, c.arg) ? "true" : "false";
    case Op::Expect: ExpectJsonChar(cursor, c.arg); return "";
    case Op::String: return ReadJsonString(cursor);
    case Op::Unsigned: return std::to_string(ReadJsonUnsigned(cursor));
    case Op::Skip: SkipJsonValue(cursor); return "";
  }
  return "?";
}

void PrintTo(const ReaderCase& c, std::ostream* out) { *out << c.name; }

class JsonReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(JsonReaderTest, Reads) {
  const ReaderCase& c = GetParam();
  // A copy in a buffer of exactly the text's size: nothing beyond `end`.
  std::vector<char> buffer(c.text.begin(), c.text.end());
  JsonCursor cursor{buffer.data(), buffer.data() + buffer.size()};
  if (c.error) {
    std::string result;
    EXPECT_EQ(lbtest::ErrorText<std::runtime_error>([&] { result = RunOperation(c, cursor); }), c.error)
        << "result \"" << result << "\"";
    EXPECT_LE(cursor.current, cursor.end);
    return;
  }
  EXPECT_EQ(RunOperation(c, cursor), c.result);
  EXPECT_EQ(static_cast<std::size_t>(cursor.end - cursor.current), c.rest);
}

INSTANTIATE_TEST_SUITE_P(Cases, JsonReaderTest, ::testing::ValuesIn(kReaderCases), lbtest::CaseName());

// The worker's stack: 2 MiB of nested openings (the largest manifest)
// skipped on a freshly started thread must fail cleanly, not overflow.
TEST(JsonReader, SkipSurvivesTwoMebibytesOfNestingOnAWorkerThread) {
  for (const std::string& unit : {"["s, "{\"\":"s, "[{\"a\":"s}) {
    std::string text;
    while (text.size() < 2097152) text += unit;
    text.resize(2097152);
    std::string message;
    std::thread worker([&] {
      JsonCursor cursor{text.data(), text.data() + text.size()};
      message = lbtest::ErrorText<std::runtime_error>([&] { SkipJsonValue(cursor); });
    });
    worker.join();
    EXPECT_EQ(message, kBadJson) << unit;
  }
}

}  // namespace
