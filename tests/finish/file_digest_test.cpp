// ComputeFileSha256 on real files, against the host's sha256sum, and the
// case-insensitive comparison the download step makes with it.
#include "finish/file_digest.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <ostream>
#include <string>

#include "common/win_handles.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;

constexpr std::size_t kMiB = 1048576;

// --- Content digests ------------------------------------------------------

struct ContentCase {
  const char* name;
  std::string content;
};
void PrintTo(const ContentCase& c, std::ostream* os) { *os << c.name; }

class FileDigestContent : public lbtest::TempDirTest,
                          public ::testing::WithParamInterface<ContentCase> {};

TEST_P(FileDigestContent, MatchesReferenceDigestInLowerCase) {
  const std::wstring file = Path(L"payload.bin");
  lbtest::WriteFileBytes(file, GetParam().content);

  const std::wstring digest = ComputeFileSha256(file);

  EXPECT_EQ(Narrow(digest), lbtest::ReferenceSha256(GetParam().content));
  ASSERT_EQ(digest.size(), 64u);
  for (wchar_t c : digest) EXPECT_TRUE((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'));
  EXPECT_EQ(lbtest::ReadFileBytes(file), GetParam().content) << "the file must only be read";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FileDigestContent,
    ::testing::Values(
        ContentCase{"Empty", ""},
        ContentCase{"Abc", "abc"},
        ContentCase{"OneByteShortOfTheBuffer", lbtest::RandomBytes(kMiB - 1, 11)},
        ContentCase{"ExactlyOneBuffer", lbtest::RandomBytes(kMiB, 12)},
        ContentCase{"OneByteOverTheBuffer", lbtest::RandomBytes(kMiB + 1, 13)},
        ContentCase{"SeveralBuffersAndARemainder", lbtest::RandomBytes(3 * kMiB + 4097, 14)}),
    lbtest::CaseName());

class FileDigest : public lbtest::TempDirTest {};

// The empty-input digest is known independently of any tool.
TEST_F(FileDigest, EmptyFileGivesTheStandardEmptyDigest) {
  lbtest::WriteFileBytes(Path(L"empty.bin"), "");
  EXPECT_EQ(Narrow(ComputeFileSha256(Path(L"empty.bin"))),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// --- Files that other handles hold open, and files that cannot be opened --

enum class Setup { HeldForWriting, HeldForWritingAndDeleting, HeldWithoutReadSharing, Missing, Directory };

struct OpenCase {
  const char* name;
  Setup setup;
  bool hashed;  // false: "Nao foi possivel validar um arquivo baixado."
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class FileDigestOpen : public lbtest::TempDirTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(FileDigestOpen, OpensWithFullSharingOrFailsWithTheValidationMessage) {
  const std::string content = lbtest::RandomBytes(200000, 21);
  const std::wstring file = Path(L"held.bin");
  FileHandle other;
  switch (GetParam().setup) {
    case Setup::HeldForWriting:
    case Setup::HeldForWritingAndDeleting:
    case Setup::HeldWithoutReadSharing: {
      lbtest::WriteFileBytes(file, content);
      DWORD access = GetParam().setup == Setup::HeldWithoutReadSharing ? GENERIC_READ : GENERIC_WRITE;
      DWORD share = GetParam().setup == Setup::HeldForWriting ? FILE_SHARE_READ
                    : GetParam().setup == Setup::HeldForWritingAndDeleting
                        ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                        : 0;
      other.reset(CreateFileW(file.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(other) << "cannot hold the file open, error " << GetLastError();
      break;
    }
    case Setup::Missing:
      break;
    case Setup::Directory:
      ASSERT_TRUE(CreateDirectoryW(file.c_str(), nullptr));
      break;
  }

  if (GetParam().hashed) {
    EXPECT_EQ(Narrow(ComputeFileSha256(file)), lbtest::ReferenceSha256(content));
    return;
  }
  EXPECT_EQ(lbtest::ErrorText<std::runtime_error>([&] { ComputeFileSha256(file); }),
            "Nao foi possivel validar um arquivo baixado.");
  if (GetParam().setup == Setup::HeldWithoutReadSharing) {
    // The failed call left nothing open: once the holder lets go, the file
    // can be opened exclusively.
    other.reset();
    FileHandle exclusive(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(exclusive) << "the digest left a handle open";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Handles, FileDigestOpen,
    ::testing::Values(OpenCase{"HeldOpenForWriting", Setup::HeldForWriting, true},
                      OpenCase{"HeldOpenForWritingWithDeleteSharing", Setup::HeldForWritingAndDeleting, true},
                      OpenCase{"HeldOpenWithoutReadSharing", Setup::HeldWithoutReadSharing, false},
                      OpenCase{"MissingFile", Setup::Missing, false},
                      OpenCase{"PathIsADirectory", Setup::Directory, false}), lbtest::CaseName());

// --- Comparison with the manifest's digest text ---------------------------

struct MatchCase {
  const char* name;
  const wchar_t* manifest;
  bool matches;
};
void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class DigestComparison : public lbtest::TempDirTest,
                         public ::testing::WithParamInterface<MatchCase> {};

// The computed digest of "abc" against manifest texts written in other ways.
TEST_P(DigestComparison, ComparesWholeStringsIgnoringAsciiCase) {
  lbtest::WriteFileBytes(Path(L"abc.txt"), "abc");
  const std::wstring digest = ComputeFileSha256(Path(L"abc.txt"));
  EXPECT_EQ(DigestsMatch(digest, GetParam().manifest), GetParam().matches);
  EXPECT_EQ(DigestsMatch(GetParam().manifest, digest), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    ManifestTexts, DigestComparison,
    ::testing::Values(
        MatchCase{"LowerCase", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", true},
        MatchCase{"UpperCase", L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", true},
        MatchCase{"MixedCase", L"Ba7816bF8f01CFEA414140de5dae2223B00361a396177a9cb410ff61f20015aD", true},
        MatchCase{"OneDigitDiffers", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae", false},
        MatchCase{"Truncated", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015a", false},
        MatchCase{"TrailingBlank", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad ", false},
        MatchCase{"LeadingBlank", L" ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false},
        MatchCase{"Empty", L"", false},
        // Only ASCII letters fold: a fullwidth 'a' (U+FF41) is not 'a'.
        MatchCase{"NonAsciiLetter", L"b\xFF41" L"7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false}),
    lbtest::CaseName());

}  // namespace
