// Hostile input: thousands of seeded mutations of valid manifests. Each one
// parses into a valid manifest or fails with one of the fixed texts; nothing
// else may escape.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "manifest/update_manifest.h"
#include "tests/manifest/manifest_cases.h"

using namespace manifest_cases;

namespace {

enum class Mutation { FlipByte, InsertByte, DeleteRange, Truncate, Splice, DuplicateRange, Count };

std::vector<std::string> ValidDocuments() {
  std::vector<std::string> documents;
  for (const ManifestCase& c : ManifestCases()) {
    if (!c.error) documents.push_back(Document(c));
  }
  documents.push_back(LargeManifestJson(40, 0));
  return documents;
}

// Bytes that steer the reader into its branches more often than chance.
char InterestingByte(std::mt19937& random) {
  static const char bytes[] = "{}[]\":,\\u0123456789abcdefABCDEF-.e \t\n\v\f\r\x80\xC3\xED\xFF";
  const std::size_t pick = random() % (sizeof(bytes) + 1);  // the last two: NUL, any byte
  if (pick < sizeof(bytes) - 1) return bytes[pick];
  return pick == sizeof(bytes) - 1 ? '\0' : static_cast<char>(random());
}

std::string Mutate(const std::vector<std::string>& documents, std::mt19937& random) {
  std::string text = documents[random() % documents.size()];
  const int steps = 1 + static_cast<int>(random() % 3);
  for (int step = 0; step < steps; ++step) {
    const std::size_t at = text.empty() ? 0 : random() % text.size();
    const std::size_t length = 1 + random() % 8;
    switch (static_cast<Mutation>(random() % static_cast<unsigned>(Mutation::Count))) {
      case Mutation::FlipByte:
        if (!text.empty()) text[at] = (random() % 2) ? InterestingByte(random)
                                                      : static_cast<char>(text[at] ^ (1 << (random() % 8)));
        break;
      case Mutation::InsertByte: text.insert(text.begin() + at, InterestingByte(random)); break;
      case Mutation::DeleteRange: text.erase(at, length); break;
      case Mutation::Truncate: text.resize(at); break;
      case Mutation::Splice: {
        const std::string& other = documents[random() % documents.size()];
        text = text.substr(0, at) + other.substr(random() % other.size());
        break;
      }
      case Mutation::DuplicateRange: text.insert(at, text.substr(at, length)); break;
      case Mutation::Count: break;
    }
  }
  return text;
}

std::uint32_t RunSeed() {
  if (const char* seed = std::getenv("LB_MANIFEST_FUZZ_SEED")) {
    return static_cast<std::uint32_t>(std::strtoul(seed, nullptr, 10));
  }
  return 20260501u;
}

TEST(ManifestRobustness, MutatedManifestsParseOrFailWithAFixedMessage) {
  const std::uint32_t seed = RunSeed();
  std::printf("seed %u (LB_MANIFEST_FUZZ_SEED)\n", seed);
  std::mt19937 random(seed);
  const std::vector<std::string> documents = ValidDocuments();
  int parsed = 0;
  int failed = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string text = Mutate(documents, random);
    std::vector<char> buffer(text.begin(), text.end());
    JsonCursor cursor{buffer.data(), buffer.data() + buffer.size()};
    try {
      const UpdateManifest manifest = ParseManifest(cursor);
      ASSERT_TRUE(IsValidManifest(manifest)) << "mutation " << i << ": " << text;
      ++parsed;
    } catch (const std::runtime_error& e) {
      ASSERT_TRUE(IsParseMessage(e.what())) << "mutation " << i << ": \"" << e.what() << "\"\n" << text;
      ++failed;
    } catch (...) {
      FAIL() << "mutation " << i << ": not a runtime error\n" << text;
    }
  }
  std::printf("%d parsed, %d refused\n", parsed, failed);
  // Both outcomes must occur, or the mutations are not exercising the parser.
  EXPECT_GT(parsed, 100);
  EXPECT_GT(failed, 10000);
}

}  // namespace
