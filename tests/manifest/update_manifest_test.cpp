// The manifest model: the table of documents in manifest_cases.h, the entry
// and list steps, and the largest documents the worker can receive.
#include "manifest/update_manifest.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/manifest/manifest_cases.h"
#include "tests/support/table_helpers.h"

using namespace manifest_cases;

namespace {

constexpr std::size_t kLargestManifest = 2097152;

std::string Describe(const ManifestFile& f) {
  std::ostringstream out;
  out << "{path=" << f.path << " hash=" << f.hash << " url=" << f.url << " size=" << f.size;
  if (f.blocks) {
    out << " blocks={url=" << f.blocks->url << " hash=" << f.blocks->hash
        << " size=" << f.blocks->size << "}";
  }
  out << "}";
  return out.str();
}

std::string Describe(const UpdateManifest& m) {
  std::ostringstream out;
  out << "version=" << m.version << " build=" << m.build << " total_size=" << m.total_size
      << " updater=" << Describe(m.bootstrap_updater) << " files=";
  for (const ManifestFile& f : m.files) out << "\n  " << Describe(f);
  return out.str();
}

// Parses `text` from a buffer of exactly its size; returns the record or
// sets `message` to the text of the runtime error.
bool Parse(const std::string& text, UpdateManifest& manifest, std::string& message) {
  std::vector<char> buffer(text.begin(), text.end());
  JsonCursor cursor{buffer.data(), buffer.data() + buffer.size()};
  try {
    manifest = ParseManifest(cursor);
    return true;
  } catch (const std::runtime_error& e) {
    message = e.what();
    return false;
  }
}

}  // namespace

namespace manifest_cases {
void PrintTo(const ManifestCase& c, std::ostream* out) { *out << c.name; }
}  // namespace manifest_cases

namespace {

class ManifestDocumentTest : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestDocumentTest, ParsesOrFailsWithItsMessage) {
  const ManifestCase& c = GetParam();
  UpdateManifest manifest;
  std::string message;
  const bool parsed = Parse(Document(c), manifest, message);
  if (c.error) {
    ASSERT_FALSE(parsed) << "parsed into " << Describe(manifest);
    EXPECT_EQ(message, c.error);
    return;
  }
  ASSERT_TRUE(parsed) << message;
  UpdateManifest expected = ExampleManifest();
  if (c.adjust) c.adjust(expected);
  EXPECT_EQ(Describe(manifest), Describe(expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, ManifestDocumentTest, ::testing::ValuesIn(ManifestCases()),
                         lbtest::CaseName());

// The steps leave whatever follows their closing bracket to the caller.
TEST(ManifestSteps, EntryAndListStopAfterTheirClosingBracket) {
  const std::string entry = EmulatorEntry() + " ,rest";
  JsonCursor cursor{entry.data(), entry.data() + entry.size()};
  const ManifestFile file = ParseManifestFile(cursor);
  EXPECT_EQ(Describe(file), Describe(ExampleManifest().files[0]));
  EXPECT_EQ(std::string(cursor.current, cursor.end), " ,rest");

  const std::string list = " [ ] }";
  cursor = {list.data(), list.data() + list.size()};
  EXPECT_TRUE(ParseManifestFiles(cursor).empty());
  EXPECT_EQ(std::string(cursor.current, cursor.end), " }");
}

// Every proper prefix of a valid document fails with one of the fixed texts.
TEST(ManifestSteps, EveryTruncationOfTheExampleFails) {
  const std::string text = ExampleJson();
  for (std::size_t length = 0; length < text.size(); ++length) {
    UpdateManifest manifest;
    std::string message;
    ASSERT_FALSE(Parse(text.substr(0, length), manifest, message)) << length;
    EXPECT_TRUE(IsParseMessage(message)) << length << ": " << message;
  }
}

TEST(LargeManifest, TwoMebibytesWithTenThousandEntries) {
  UpdateManifest expected;
  const std::string text = LargeManifestJson(10000, kLargestManifest, &expected);
  ASSERT_EQ(text.size(), kLargestManifest);
  UpdateManifest manifest;
  std::string message;
  ASSERT_TRUE(Parse(text, manifest, message)) << message;
  ASSERT_EQ(manifest.files.size(), 10000u);
  EXPECT_EQ(manifest.version, expected.version);
  EXPECT_EQ(manifest.build, expected.build);
  EXPECT_EQ(manifest.total_size, expected.total_size);
  EXPECT_EQ(Describe(manifest.bootstrap_updater), Describe(expected.bootstrap_updater));
  for (std::size_t i = 0; i < manifest.files.size(); ++i) {
    ASSERT_EQ(Describe(manifest.files[i]), Describe(expected.files[i])) << i;
  }
}

// A 2 MiB document whose unknown member nests to the end, parsed on a fresh
// thread like the worker's.
TEST(LargeManifest, TwoMebibyteDeepMemberFailsOnAWorkerThread) {
  std::string text = R"({"version":"1.4.2","deep":)";
  text.resize(kLargestManifest, '[');
  std::string message = "no failure";
  std::thread worker([&] {
    UpdateManifest manifest;
    Parse(text, manifest, message);
  });
  worker.join();
  EXPECT_EQ(message, lbtest::texts::kBadJson);
}

}  // namespace
