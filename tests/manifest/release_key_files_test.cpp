// The signature and key files, written and read back, and what the reader
// refuses. Pure: also built for the host.
#include "manifest/release_key_files.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/table_helpers.h"

namespace {

const std::string kId(8, '\x5a');
const std::string kSignature(384, '\xa5');
const std::string kLine = FormatReleaseSignature({kId, kSignature});
const std::string kHeader = ReleaseSignaturesHeader();

struct SignatureFileCase {
  const char* name;
  std::string text;
  std::size_t signatures;  // how many are read; 0: refused
  const char* reason = "";   // part of the refusal
};
void PrintTo(const SignatureFileCase& c, std::ostream* os) { *os << c.name; }

class SignatureFile : public ::testing::TestWithParam<SignatureFileCase> {};

TEST_P(SignatureFile, ReadsExactlyTheWrittenForm) {
  const SignatureFileCase& c = GetParam();
  const std::string error = lbtest::ErrorText([&] {
    const std::vector<ReleaseSignature> read = ParseReleaseSignatures(c.text);
    EXPECT_EQ(read.size(), c.signatures);
    for (const ReleaseSignature& signature : read) {
      EXPECT_EQ(signature.key_id, kId);
      EXPECT_EQ(signature.signature, kSignature);
    }
  });
  if (c.signatures > 0) {
    EXPECT_EQ(error, "");
  } else {
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SignatureFile,
    ::testing::Values(
        SignatureFileCase{"One", kHeader + kLine, 1},
        SignatureFileCase{"Two", kHeader + kLine + kLine, 2},
        SignatureFileCase{"Empty", "", 0, "empty"},
        SignatureFileCase{"HeaderOnly", kHeader, 0, "no signature"},
        SignatureFileCase{"NoHeader", kLine, 0, "first line"},
        SignatureFileCase{"Truncated", (kHeader + kLine).substr(0, 300), 0, "line feed"},
        SignatureFileCase{"SignatureCut", kHeader + kLine.substr(0, 400) + "\n", 0, "length"},
        SignatureFileCase{"UpperCaseHex", kHeader + "signature RSA-3072-PSS-SHA256 5A5A5A5A5A5A5A5A " +
                                              kLine.substr(kLine.size() - 769), 0, "hex"},
        SignatureFileCase{"OtherAlgorithm", kHeader + "signature ECDSA-P256 x y\n", 0, "algorithm"},
        SignatureFileCase{"CarriageReturns", kHeader.substr(0, kHeader.size() - 1) + "\r\n" + kLine,
                          0, "first line"},
        SignatureFileCase{"BlankLine", kHeader + kLine + "\n", 0, "signature line"},
        SignatureFileCase{"Oversized", kHeader + [] {
                            std::string many;
                            while (many.size() <= MaxSignatureFileBytes) many += kLine;
                            return many;
                          }(), 0, "larger than"}),
    lbtest::CaseName());

TEST(ReleaseKeyFileText, ReadsBackWhatIsWrittenAndNotTheOtherKind) {
  const ReleaseKeyFile key{kId, std::string("RSA1\x00\x0c", 6) + std::string(405, '\x01')};
  for (ReleaseKeyKind kind : {ReleaseKeyKind::kPublic, ReleaseKeyKind::kPrivate}) {
    const std::string text = FormatReleaseKeyFile(kind, key);
    const ReleaseKeyFile read = ParseReleaseKeyFile(kind, text);
    EXPECT_EQ(read.key_id, key.key_id);
    EXPECT_EQ(read.blob, key.blob);
    const ReleaseKeyKind other =
        kind == ReleaseKeyKind::kPublic ? ReleaseKeyKind::kPrivate : ReleaseKeyKind::kPublic;
    EXPECT_NE(lbtest::ErrorText([&] { ParseReleaseKeyFile(other, text); }), "");
  }
}

}  // namespace
