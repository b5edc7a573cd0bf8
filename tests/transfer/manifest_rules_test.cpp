// The two rules that admit manifest input: which paths may be written under
// the application folder, and which addresses may be fetched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "tests/support/expected_texts.h"
#include "tests/support/table_helpers.h"
#include "transfer/file_url.h"
#include "transfer/manifest_path.h"
#include "transfer/update_origin.h"

namespace {

using namespace lbtest::texts;

// An action that throws std::runtime_error with `message`.
auto Refused(const char* message) {
  return ::testing::ThrowsMessage<std::runtime_error>(std::string(message));
}

// A test name from the case's text, made unique by its index.
std::string CaseName(const char* text, std::size_t index) {
  return "Case" + std::to_string(index) + "_" + lbtest::Identifier(text);
}

// --- paths that are accepted, and what they become ------------------------------

struct AcceptedPath {
  const char* name;
  std::string path;    // UTF-8, as in the manifest
  std::wstring normal;
};
void PrintTo(const AcceptedPath& c, std::ostream* out) { *out << c.name; }

class PathAccepted : public ::testing::TestWithParam<AcceptedPath> {};

TEST_P(PathAccepted, NormalizesToARelativeBackslashPath) {
  EXPECT_EQ(NormalizeManifestPath(GetParam().path), GetParam().normal);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, PathAccepted,
    ::testing::Values(
        AcceptedPath{"DotNameDropped", "a/./b", L"a\\b"},
        AcceptedPath{"DoubleSeparatorCollapsed", "a//b", L"a\\b"},
        AcceptedPath{"ParentOfASiblingCancels", "x/../y", L"y"},
        AcceptedPath{"TwoLevelsClimbedInside", "a/b/../../c", L"c"},
        AcceptedPath{"LeadingDotDropped", "./a", L"a"},
        AcceptedPath{"NameWithTwoDots", "a..b", L"a..b"},
        AcceptedPath{"ColonAfterSecondCharacter", "ab:c", L"ab:c"},
        AcceptedPath{"DriveLikeNameInsideAFolder", "x/C:y", L"x\\C:y"},
        AcceptedPath{"MixedSeparators", "data\\maps/a.bin", L"data\\maps\\a.bin"},
        AcceptedPath{"NestedFile", "data/maps/deep/a.bin", L"data\\maps\\deep\\a.bin"},
        AcceptedPath{"StagingNameDeeperDown", "x/.install-staging/a", L"x\\.install-staging\\a"},
        AcceptedPath{"LongerThanTheStagingName", ".install-staging2/a", L".install-staging2\\a"},
        AcceptedPath{"StagingNameWithSuffix", ".install-staging.bak", L".install-staging.bak"},
        AcceptedPath{"NonAscii", "dados/\xC3\xA7\xC3\xA3o.bin", L"dados\\\u00E7\u00E3o.bin"}),
    lbtest::CaseName());

// --- paths that are refused ----------------------------------------------------

class PathRejected : public ::testing::TestWithParam<const char*> {};

TEST_P(PathRejected, WithTheUnsafePathMessage) {
  EXPECT_THAT([] { NormalizeManifestPath(GetParam()); }, Refused(kUnsafePath));
}

INSTANTIATE_TEST_SUITE_P(
    Climbing, PathRejected,
    ::testing::Values("../y", "a/../../y", "..", "a/../..", "../", "x/../../y/z"),
    [](const auto& info) { return CaseName(info.param, info.index); });
INSTANTIATE_TEST_SUITE_P(
    Rooted, PathRejected,
    ::testing::Values("/y", "\\y", "C:y", "C:/y", "c:\\y", "C:", "\\\\server\\share\\y",
                      "//server/share/y", "./C:y", "x/../C:y", "\\\\?\\C:\\y", "//./device",
                      "\\??\\C:\\y", "", "///y"),
    [](const auto& info) { return CaseName(info.param, info.index); });
// The staging folder is removed after a successful run, so nothing listed may
// live in it, however Windows spells its name.
INSTANTIATE_TEST_SUITE_P(
    StagingFolder, PathRejected,
    ::testing::Values(".install-staging/a.bin", ".install-staging", ".INSTALL-STAGING/a.bin",
                      ".Install-Staging\\a.bin", ".install-staging./a.bin",
                      ".install-staging  /a.bin", ".install-staging . ./a.bin",
                      "./.install-staging/a.bin", "x/../.install-staging/a.bin",
                      ".install-staging//x/y.part"),
    [](const auto& info) { return CaseName(info.param, info.index); });

TEST(PathRule, InvalidUtf8KeepsTheConversionMessage) {
  EXPECT_THAT([] { NormalizeManifestPath("data/\xC3("); }, Refused(kBadUtf8));
}

// A manifest may hold a single path of a megabyte or more: the rule must stay
// linear. 2 x 200,000 names take a fraction of a second; a rule that rescans
// the path per ".." would take hours, so the bound leaves room for a machine
// busy with other tests.
TEST(PathRule, LongChainsOfParentReferencesStayFast) {
  std::wstring climb;
  for (int i = 0; i < 200000; ++i) climb += L"a/";
  for (int i = 0; i < 200000; ++i) climb += L"../";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NormalizeManifestWidePath(climb + L"b"), L"b");
  EXPECT_THAT([&] { NormalizeManifestWidePath(climb + L"../b"); }, Refused(kUnsafePath));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(PathRule, WideFormAppliesTheSameRule) {
  EXPECT_EQ(NormalizeManifestWidePath(L"a/./b//c"), L"a\\b\\c");
  EXPECT_THAT([] { NormalizeManifestWidePath(L".INSTALL-staging. /x"); }, Refused(kUnsafePath));
}

// --- file addresses ---------------------------------------------------------------

struct UrlCase {
  const char* name;
  std::string url;
  std::wstring resolved;  // empty: refused
};
void PrintTo(const UrlCase& c, std::ostream* out) { *out << c.name; }

class FileUrlRule : public ::testing::TestWithParam<UrlCase> {};

TEST_P(FileUrlRule, ResolvesOrRefuses) {
  const UrlCase& c = GetParam();
  if (c.resolved.empty()) {
    EXPECT_THAT([&] { ResolveFileUrl(c.url); }, Refused(kUnsafeUrl));
  } else {
    EXPECT_EQ(ResolveFileUrl(c.url), c.resolved);
  }
}

const std::wstring kOrigin = UpdateServerOrigin;

INSTANTIATE_TEST_SUITE_P(
    Rule, FileUrlRule,
    ::testing::Values(
        UrlCase{"AbsoluteHttpsAsWritten", "https://cdn.example.org/a.bin",
                L"https://cdn.example.org/a.bin"},
        UrlCase{"AbsoluteHttpsWithPortAndQuery", "https://localhost:9/x?y=1",
                L"https://localhost:9/x?y=1"},
        UrlCase{"RootedPathOnTheUpdateServer", "/files/a.bin", kOrigin + L"/files/a.bin"},
        UrlCase{"DoubleSlashStaysAPathOnTheUpdateServer", "//other.example/x",
                kOrigin + L"//other.example/x"},
        UrlCase{"PlainHttp", "http://cdn.example.org/a.bin", L""},
        UrlCase{"UpperCaseScheme", "HTTPS://cdn.example.org/a.bin", L""},
        UrlCase{"MixedCaseScheme", "Https://cdn.example.org/a.bin", L""},
        UrlCase{"RelativeWithoutSlash", "files/a.bin", L""},
        UrlCase{"LeadingBlank", " https://cdn.example.org/a.bin", L""},
        UrlCase{"SchemeWithOneSlash", "https:/cdn.example.org/a.bin", L""},
        UrlCase{"OtherScheme", "ftp://cdn.example.org/a.bin", L""},
        UrlCase{"Empty", "", L""}), lbtest::CaseName());

TEST(FileUrl, InvalidUtf8KeepsTheConversionMessage) {
  EXPECT_THAT([] { ResolveFileUrl("/files/\xFF.bin"); }, Refused(kBadUtf8));
}

}  // namespace
