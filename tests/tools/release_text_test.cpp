// The name rule of the publisher tool on UTF-16 text that Wine cannot put on
// disk (unpaired surrogates exist only on Windows file systems).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/table_helpers.h"
#include "tools/release_text.h"

namespace {

struct NameCase {
  const char* name;
  std::wstring text;
  std::size_t bad;        // index reported, npos for none
  std::string described;  // DescribeName
};

std::ostream& operator<<(std::ostream& out, const NameCase& c) { return out << c.name; }

class UnreadableName : public ::testing::TestWithParam<NameCase> {};

TEST_P(UnreadableName, FindsTheFirstCharacterWithoutUtf8Form) {
  EXPECT_EQ(FindUnreadableNameChar(GetParam().text), GetParam().bad);
  EXPECT_EQ(DescribeName(GetParam().text), GetParam().described);
}

constexpr std::size_t kNone = std::wstring_view::npos;

INSTANTIATE_TEST_SUITE_P(
    Names, UnreadableName,
    ::testing::Values(
        NameCase{"Ascii", L"data.bin", kNone, "data.bin"},
        NameCase{"Accents", L"m\x00FAsica", kNone, "m\xC3\xBAsica"},
        NameCase{"SurrogatePair", L"\xD83C\xDFAE.bin", kNone, "\xF0\x9F\x8E\xAE.bin"},
        NameCase{"HighAtTheEnd", L"ab\xD800", 2, "ab\\uD800"},
        NameCase{"LowAlone", L"\xDC00x", 0, "\\uDC00x"},
        NameCase{"TwoHighsThenLow", L"a\xD800\xD800\xDC00", 1, "a\\uD800\xF0\x90\x80\x80"},
        NameCase{"LowBeforeHigh", L"\xDFAE\xD83C", 0, "\\uDFAE\\uD83C"},
        NameCase{"ReplacementCharacter", L"inv\xFFFD" L"alid", 3, "inv\xEF\xBF\xBD" "alid"}),
    lbtest::CaseName());

}  // namespace
