// version.json: the document byte for byte, read back with the project's own
// JSON reader; on Windows also the ".tmp" + rename procedure on real folders.
#include "finish/install_metadata.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <ostream>
#include <string>

#include "manifest/json_reader.h"
#include "tests/support/table_helpers.h"
#ifdef _WIN32
#include "common/filesystem_error.h"
#include "common/win_handles.h"
#include "finish/install_metadata_writer.h"
#include "finish/updater_bootstrap.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_support.h"
#endif

namespace {

// Reads the document back as a strict JSON object of exactly two members in
// the fixed order, and returns them.
void ParseDocument(const std::string& text, std::string& version, std::uint64_t& build) {
  JsonCursor cursor{text.data(), text.data() + text.size()};
  ExpectJsonChar(cursor, '{');
  ASSERT_EQ(ReadJsonString(cursor), "version");
  ExpectJsonChar(cursor, ':');
  version = ReadJsonString(cursor);
  ExpectJsonChar(cursor, ',');
  ASSERT_EQ(ReadJsonString(cursor), "build");
  ExpectJsonChar(cursor, ':');
  build = ReadJsonUnsigned(cursor);
  ExpectJsonChar(cursor, '}');
  SkipJsonWhitespace(cursor);
  EXPECT_EQ(cursor.current, cursor.end) << "bytes after the closing brace";
}

// --- The document ---------------------------------------------------------

struct DocumentCase {
  const char* name;
  std::string version;
  std::uint64_t build;
  const char* expected;  // the exact file, or null where the escape form is free
};
void PrintTo(const DocumentCase& c, std::ostream* os) { *os << c.name; }

class MetadataDocument : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(MetadataDocument, IsExactAndReadsBackToTheManifestValues) {
  const DocumentCase& c = GetParam();
  const std::string written = BuildInstallMetadata(c.version, c.build);

  if (c.expected) {
    EXPECT_EQ(written, std::string(c.expected));
  }
  EXPECT_EQ(std::count(written.begin(), written.end(), '\r'), 0);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4) << "four lines";
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back(), '\n');
  EXPECT_EQ(written.compare(0, 16, "{\n  \"version\": \""), 0);
  for (char byte : written) {
    if (byte != '\n') {
      EXPECT_GE(static_cast<unsigned char>(byte), 0x20) << "raw control byte";
    }
  }

  std::string version;
  std::uint64_t build = 0;
  ParseDocument(written, version, build);
  EXPECT_EQ(version, c.version);
  EXPECT_EQ(build, c.build);
  EXPECT_EQ(ReadInstalledBuild(written), c.build) << "what the installer wrote it reads back";
}

INSTANTIATE_TEST_SUITE_P(
    Versions, MetadataDocument,
    ::testing::Values(
        DocumentCase{"WorkedExample40Bytes", "1.2.3", 42,
                     "{\n  \"version\": \"1.2.3\",\n  \"build\": 42\n}\n"},
        DocumentCase{"LargestBuildTwentyDigits", "9.9.9", UINT64_MAX,
                     "{\n  \"version\": \"9.9.9\",\n  \"build\": 18446744073709551615\n}\n"},
        DocumentCase{"SingleDigitBuild", "2.0.0-beta.1", 7,
                     "{\n  \"version\": \"2.0.0-beta.1\",\n  \"build\": 7\n}\n"},
        DocumentCase{"BuildZero", "0", 0, "{\n  \"version\": \"0\",\n  \"build\": 0\n}\n"},
        DocumentCase{"NonAsciiUnchanged", "3.1 edi\xC3\xA7\xC3\xA3o \xE2\x9C\x93 \xF0\x9F\x8E\xAE", 310,
                     "{\n  \"version\": \"3.1 edi\xC3\xA7\xC3\xA3o \xE2\x9C\x93 \xF0\x9F\x8E\xAE\",\n"
                     "  \"build\": 310\n}\n"},
        DocumentCase{"QuotationMark", "1.0 \"final\"", 5,
                     "{\n  \"version\": \"1.0 \\\"final\\\"\",\n  \"build\": 5\n}\n"},
        DocumentCase{"Backslash", "C:\\v1\\", 6, "{\n  \"version\": \"C:\\\\v1\\\\\",\n  \"build\": 6\n}\n"},
        DocumentCase{"EmptyVersion", "", 1, "{\n  \"version\": \"\",\n  \"build\": 1\n}\n"},
        DocumentCase{"LineFeedTabCarriageReturn", "1\n2\t3\r4", 8, nullptr},
        DocumentCase{"EveryControlByte", std::string("\x00\x01\x07\x08\x0B\x0C\x1B\x1F.", 9), 9,
                     nullptr}), lbtest::CaseName());

// Documents that are not as the installer writes them name no build: a
// signed installer then goes on as in a folder without version.json.
struct ForeignCase {
  const char* name;
  std::string document;
};
void PrintTo(const ForeignCase& c, std::ostream* os) { *os << c.name; }

class ForeignMetadata : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(ForeignMetadata, NamesNoBuild) { EXPECT_FALSE(ReadInstalledBuild(GetParam().document)); }

INSTANTIATE_TEST_SUITE_P(
    Documents, ForeignMetadata,
    ::testing::Values(
        ForeignCase{"Empty", ""},
        ForeignCase{"CarriageReturns", "{\r\n  \"version\": \"1\",\r\n  \"build\": 9\r\n}\r\n"},
        ForeignCase{"OneLine", "{\"version\": \"1\", \"build\": 9}\n"},
        ForeignCase{"MembersSwapped", "{\n  \"build\": 9,\n  \"version\": \"1\"\n}\n"},
        ForeignCase{"NoFinalLineFeed", "{\n  \"version\": \"1\",\n  \"build\": 9\n}"},
        ForeignCase{"ExtraMember", "{\n  \"version\": \"1\",\n  \"build\": 9,\n  \"x\": 1\n}\n"},
        ForeignCase{"BuildBeyond64Bits", "{\n  \"version\": \"1\",\n  \"build\": 18446744073709551616\n}\n"},
        ForeignCase{"BuildAsString", "{\n  \"version\": \"1\",\n  \"build\": \"9\"\n}\n"},
        ForeignCase{"Truncated", "{\n  \"version\": \"1\",\n  \"bu"}),
    lbtest::CaseName());

#ifdef _WIN32
using lbtest::Narrow;

// --- Writing through the temporary file -----------------------------------

enum class Prior {
  Nothing,
  MissingAncestors,     // app_dir and two of its parents do not exist
  OlderDocument,        // version.json holds an earlier release
  StaleTemporary,       // version.json.tmp holds a longer leftover
  TargetIsDirectory,    // version.json is a folder
  TargetHeldOpen,       // version.json is open without delete sharing
  TemporaryIsDirectory  // version.json.tmp is a folder
};

struct WriteCase {
  const char* name;
  Prior prior;
  const char* error;           // expected message, or null for success
  bool temporary_stays;        // version.json.tmp exists afterwards
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class MetadataWrite : public lbtest::TempDirTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(MetadataWrite, ReplacesInOneRenameOrFailsLeavingTheOldDocument) {
  const WriteCase& c = GetParam();
  const std::wstring app_dir =
      c.prior == Prior::MissingAncestors ? Path(L"a\\b\\Lanternbrook") : dir();
  const std::wstring target = app_dir + L"\\version.json";
  const std::wstring temporary = target + L".tmp";
  const std::string old_document = BuildInstallMetadata("0.9.0", 3);
  const std::string content = BuildInstallMetadata("1.2.3", 42);

  FileHandle holder;
  switch (c.prior) {
    case Prior::Nothing:
    case Prior::MissingAncestors:
      break;
    case Prior::OlderDocument:
      lbtest::WriteFileBytes(target, old_document);
      break;
    case Prior::StaleTemporary:
      lbtest::WriteFileBytes(temporary, std::string(500, 'x'));
      break;
    case Prior::TargetIsDirectory:
      ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
      break;
    case Prior::TargetHeldOpen:
      lbtest::WriteFileBytes(target, old_document);
      holder.reset(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(holder);
      break;
    case Prior::TemporaryIsDirectory:
      lbtest::WriteFileBytes(target, old_document);
      ASSERT_TRUE(CreateDirectoryW(temporary.c_str(), nullptr));
      break;
  }

  EXPECT_EQ(lbtest::ErrorText<std::runtime_error>([&] { WriteInstallMetadata(target, content); }),
            c.error ? c.error : "");
  holder.reset();

  switch (c.prior) {
    case Prior::TargetIsDirectory:
      EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(target)));
      break;
    case Prior::TargetHeldOpen:
    case Prior::TemporaryIsDirectory:
      EXPECT_EQ(lbtest::ReadFileBytes(target), old_document) << "old document must be untouched";
      break;
    default:
      EXPECT_EQ(lbtest::ReadFileBytes(target), content);
      break;
  }
  EXPECT_EQ(lbtest::PathExists(temporary), c.temporary_stays);
  if (c.temporary_stays && c.prior != Prior::TemporaryIsDirectory) {
    EXPECT_EQ(lbtest::ReadFileBytes(temporary), content) << "the temporary file holds the new document";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, MetadataWrite,
    ::testing::Values(
        WriteCase{"FreshFolder", Prior::Nothing, nullptr, false},
        WriteCase{"MissingAppDirCreatedWithAncestors", Prior::MissingAncestors, nullptr, false},
        WriteCase{"OlderDocumentReplaced", Prior::OlderDocument, nullptr, false},
        WriteCase{"StaleTemporaryTruncatedAndMoved", Prior::StaleTemporary, nullptr, false},
        WriteCase{"TargetIsADirectory", Prior::TargetIsDirectory,
                  "Falha ao finalizar os metadados da instalacao.", true},
        WriteCase{"TargetHeldOpenWithoutDeleteSharing", Prior::TargetHeldOpen,
                  "Falha ao finalizar os metadados da instalacao.", true},
        WriteCase{"TemporaryCannotBeOpened", Prior::TemporaryIsDirectory,
                  lbtest::texts::kMetadataWriteFailed, true}), lbtest::CaseName());

class MetadataParent : public lbtest::TempDirTest {};

// A file where a folder of app_dir's path should be, two levels up: the
// filesystem error names the operation and the folder, and nothing is written.
TEST_F(MetadataParent, UncreatableFolderThrowsCreateDirectoriesError) {
  lbtest::WriteFileBytes(Path(L"blocker"), "not a folder");
  const std::wstring app_dir = Path(L"blocker\\Games\\Lanternbrook");
  try {
    WriteInstallMetadata(app_dir + L"\\version.json", BuildInstallMetadata("1.0", 1));
    FAIL() << "expected a filesystem error";
  } catch (const FilesystemError& error) {
    const std::string expected = "create_directories: " + Narrow(SystemErrorMessage(ERROR_PATH_NOT_FOUND)) +
                                 ": \"" + Narrow(app_dir) + "\"";
    EXPECT_EQ(std::string(error.what()), expected);
  }
  EXPECT_EQ(lbtest::ReadFileBytes(Path(L"blocker")), "not a folder");
}

// --- On disk before the rename ------------------------------------------------
// version.json and the updater copy are flushed to disk under their sibling
// names before the rename puts them in place, so that a power cut right after
// the rename cannot leave an empty or partial file there. Shown on the real
// system calls: the writes run in a child under strace, which must see the
// sibling flushed (Wine's FlushFileBuffers is an fsync).

class DurableWrite : public lbtest::TempDirTest {};

// The writes themselves; also the child of the trace below.
TEST_F(DurableWrite, MetadataAndUpdaterCopy) {
  const std::wstring app_dir = Path(L"app");
  lbtest::WriteFileBytes(app_dir + L"\\LanternbrookUpdater.exe", "updater program");
  WriteInstallMetadata(app_dir + L"\\version.json", BuildInstallMetadata("2.0", 20));
  InstallUpdater(app_dir);
  EXPECT_EQ(lbtest::ReadFileBytes(app_dir + L"\\LanternbrookUpdater-v2.exe"), "updater program");
  EXPECT_EQ(lbtest::ReadFileBytes(app_dir + L"\\version.json"), BuildInstallMetadata("2.0", 20));
}

struct SiblingCase {
  const char* name;
  const char* sibling;  // the file that must be flushed before its rename
};
void PrintTo(const SiblingCase& c, std::ostream* os) { *os << c.name; }

class FlushedBeforeRename : public lbtest::TempDirTest,
                            public ::testing::WithParamInterface<SiblingCase> {};

TEST_P(FlushedBeforeRename, UnderItsSiblingName) {
  const std::wstring exe = lbtest::BuildDir() + L"\\tests\\finish_tests.exe";
  const std::string trace = lbtest::RunUnixOutput(
      "{ strace -f -y -e trace=fsync,fdatasync wine " +
      lbtest::ShellQuote(lbtest::WindowsToUnixPath(exe)) +
      " --gtest_filter=DurableWrite.MetadataAndUpdaterCopy 2>&1 >/dev/null; }");
  const std::string flushed = std::string("/app/") + GetParam().sibling + ">";
  EXPECT_NE(trace.find(flushed), std::string::npos) << "no flush of " << GetParam().sibling << ":\n" << trace;
}

INSTANTIATE_TEST_SUITE_P(Writers, FlushedBeforeRename,
                         ::testing::Values(SiblingCase{"Metadata", "version.json.tmp"},
                                           SiblingCase{"UpdaterCopy", "LanternbrookUpdater-v2.exe.new"}),
                         lbtest::CaseName());

#endif

}  // namespace
