// InstallFile end to end: a real HTTPS server, real files under a temporary
// application folder, and the progress posted to a real message queue. Each
// case is checked on disk, on the server's request log and on the posts.
#include "transfer/install_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/messages.h"
#include "common/paths.h"
#include "common/win_handles.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_release.h"
#include "tests/transfer/transfer_fixture.h"
#include "transfer/block_list.h"
#include "transfer/content_chunker.h"
#include "transfer/file_blocks.h"
#include "transfer/manifest_path.h"

namespace {

using lbtest::FaultRule;
using lbtest::FaultServer;
using lbtest::Narrow;
using lbtest::ServerRequest;

namespace texts = lbtest::texts;

constexpr std::size_t kSize = 700001;       // the file's size in the manifest
constexpr std::uint64_t kBefore = 5000;     // bytes_done from earlier files of the run
constexpr std::uint64_t kAfter = 100000;    // bytes of later files of the run
// For cut-off bodies: bytes_done grows by some amount no larger than the size.
constexpr std::uint64_t kUpToSize = ~0ull;

struct Post {
  unsigned bar = 0;
  std::wstring status;
  std::wstring detail;
};

// The shared setting: a fault server on the update origin's port, a session
// like the run's, a message window as g_mainWindow, a fresh application folder.
class InstallFileTest : public lbtest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    session_ = OpenHttpSession();
    app_dir_ = Path(L"app");
  }

  // A manifest entry for `content` served at `server_path`.
  ManifestFile Entry(const std::string& path, const std::string& content,
                     const std::string& server_path = "/files/file.bin") {
    lbtest::ReleaseFile file = lbtest::FileWithBytes(path, content, "");
    file.url = server_path;
    lbtest::PublishFile(server_, file);
    file.url = Narrow(server_.Url(server_path));
    return file.Record();
  }

  // One call as the run makes it, starting from kBefore; the failure text or "".
  std::string Install(const ManifestFile& file) {
    bytes_done_ = kBefore;
    bytes_total_ = kBefore + file.size + kAfter;
    return lbtest::ErrorText(
        [&] { InstallFile(session_.get(), file, app_dir_, bytes_done_, bytes_total_); });
  }

  std::vector<Post> Posts() {
    std::vector<Post> posts;
    for (const lbtest::PostedMessage& message : sink_.Drain()) {
      EXPECT_EQ(message.message, ProgressMessage);
      const std::size_t line = message.text.find(L'\n');
      posts.push_back({static_cast<unsigned>(message.wparam), message.text.substr(0, line),
                       line == std::wstring::npos ? L"" : message.text.substr(line + 1)});
    }
    return posts;
  }

  unsigned Bar(std::uint64_t done) const {
    return static_cast<unsigned>(std::min<std::uint64_t>(done * 1000 / bytes_total_, 1000));
  }

  std::wstring Target(const std::string& path) const {
    return JoinPath(app_dir_, NormalizeManifestPath(path));
  }
  std::wstring Part(const std::string& path) const {
    return JoinPath(JoinPath(app_dir_, StagingFolderName), NormalizeManifestPath(path) + L".part");
  }
  std::wstring StagingRoot() const { return JoinPath(app_dir_, StagingFolderName); }

  FaultServer server_{{.port = lbtest::UpdateOriginPort()}};
  lbtest::MessageSink sink_{true};
  WinHttpHandle session_;
  std::wstring app_dir_;
  std::string content_ = lbtest::RandomBytes(kSize, 99);
  std::uint64_t bytes_done_ = 0;
  std::uint64_t bytes_total_ = 1;
};

// --- one call, many situations ----------------------------------------------------

enum class Before {
  kNothing,          // no target, no partial file
  kIntactTarget,     // the target already holds the content
  kStaleTarget,      // the target holds other bytes of the same size
  kPartial,          // a partial file with the first `partial` bytes of the content
  kWrongPartial,     // a partial file of `partial` other bytes
  kPartialIsFolder,  // a folder where the partial file would be
};

enum class Left {
  kTarget,            // the content at the target, no partial file
  kPartialUnchanged,  // the partial file exactly as before, no target
  kNoFiles,           // neither target nor partial file
  kPartialKept,       // something stays at the partial file's place, no target
};

// A row names what differs from the defaults: nothing before, no request, the target in place.
struct InstallCase {
  const char* name;
  Before before = Before::kNothing;
  std::size_t partial = 0;
  FaultRule rule;                     // server behaviour for the file
  std::string error;                  // expected failure; empty: success
  std::vector<std::string> ranges;    // Range header of each request ("" for none)
  std::vector<int> statuses;          // status of each request
  Left left = Left::kTarget;
  std::optional<std::uint64_t> added;  // added to bytes_done (default: kSize)
  bool drops_back = false;            // the bar goes back once (server restarted)
  std::string path = "data/file.bin";
  std::string url = "";               // the entry's url instead of the server's absolute one
  bool upper_hash = false;
};

void PrintTo(const InstallCase& c, std::ostream* out) { *out << c.name; }

class InstallFileCases : public InstallFileTest, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(InstallFileCases, EndsAsExpectedOnDiskOnTheWireAndOnTheBar) {
  const InstallCase& c = GetParam();
  ManifestFile file = Entry(c.path, content_);
  if (c.upper_hash) file.hash = lbtest::Upper(file.hash);
  if (!c.url.empty()) file.url = c.url;
  server_.PutFile("files/big.bin", content_ + content_ + content_);
  server_.SetRule("/files/file.bin", c.rule);

  const std::wstring target = Target("data/file.bin");
  const std::wstring part = Part("data/file.bin");
  std::string partial_bytes;
  switch (c.before) {
    case Before::kNothing: break;
    case Before::kIntactTarget: lbtest::WriteFileBytes(target, content_); break;
    case Before::kStaleTarget: lbtest::WriteFileBytes(target, lbtest::RandomBytes(kSize, 5)); break;
    case Before::kPartial: partial_bytes = content_.substr(0, c.partial); break;
    case Before::kWrongPartial: partial_bytes = lbtest::RandomBytes(c.partial, 6); break;
    case Before::kPartialIsFolder: CreateDirectoryW(app_dir_.c_str(), nullptr);
      CreateDirectoryW(StagingRoot().c_str(), nullptr);
      CreateDirectoryW(ParentPath(part).c_str(), nullptr);
      CreateDirectoryW(part.c_str(), nullptr);
      break;
  }
  if (c.before == Before::kPartial || c.before == Before::kWrongPartial) {
    lbtest::WriteFileBytes(part, partial_bytes);
  }

  EXPECT_EQ(Install(file), c.error);

  // On the wire.
  const std::vector<ServerRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), c.ranges.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].path, "/files/file.bin");
    EXPECT_EQ(requests[i].range, c.ranges[i]);
    EXPECT_EQ(requests[i].status, c.statuses[i]);
  }

  // On disk.
  switch (c.left) {
    case Left::kTarget:
      EXPECT_TRUE(lbtest::ReadFileBytes(Target(c.path)) == content_) << "target content differs";
      EXPECT_FALSE(lbtest::PathExists(Part(c.path)));
      break;
    case Left::kPartialUnchanged:
      EXPECT_TRUE(lbtest::ReadFileBytes(part) == partial_bytes) << "the partial file changed";
      EXPECT_FALSE(lbtest::PathExists(target));
      break;
    case Left::kNoFiles:
      EXPECT_FALSE(lbtest::PathExists(part));
      EXPECT_FALSE(lbtest::PathExists(target));
      break;
    case Left::kPartialKept:
      EXPECT_TRUE(lbtest::PathExists(part));
      EXPECT_FALSE(lbtest::PathExists(target));
      break;
  }
  if (!requests.empty()) {
    EXPECT_TRUE(lbtest::PathExists(ParentPath(Part(c.path))))
        << "the staging tree mirrors the manifest's folders";
  }
  if (c.before == Before::kIntactTarget) {
    EXPECT_FALSE(lbtest::PathExists(StagingRoot())) << "an intact target leaves no trace";
  }

  // On the bar.
  const std::uint64_t added = c.added ? *c.added : kSize;
  if (added == kUpToSize) {
    EXPECT_LE(bytes_done_, kBefore + kSize) << "nothing beyond the size is accounted for";
  } else {
    EXPECT_EQ(bytes_done_, kBefore + added);
  }
  const std::vector<Post> posts = Posts();
  if (c.error == texts::kUnsafePath) {
    EXPECT_TRUE(posts.empty());
    EXPECT_FALSE(lbtest::PathExists(app_dir_)) << "nothing is touched before the path passes";
    return;
  }
  const std::wstring detail = NormalizeManifestPath(c.path);
  for (const Post& post : posts) EXPECT_EQ(Narrow(post.detail), Narrow(detail));
  if (requests.empty() && c.error.empty()) {
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(Narrow(posts[0].status), texts::kVerifying);
    EXPECT_EQ(posts[0].bar, Bar(kBefore + kSize));
    return;
  }
  ASSERT_FALSE(posts.empty());
  const std::uint64_t resume =
      c.ranges.empty() || c.ranges[0].empty() ? 0 : std::stoull(c.ranges[0].substr(6));
  EXPECT_EQ(Narrow(posts[0].status), texts::kDownloading);
  EXPECT_EQ(posts[0].bar, Bar(kBefore + resume)) << "the announce counts the resumed bytes";
  if (requests.empty()) {
    EXPECT_EQ(posts.size(), 1u) << "only the announce precedes the request";
  }
  int drops = 0;
  for (std::size_t i = 1; i < posts.size(); ++i) {
    EXPECT_EQ(Narrow(posts[i].status), texts::kDownloading);
    if (posts[i].bar < posts[i - 1].bar) ++drops;
  }
  EXPECT_EQ(drops, c.drops_back ? 1 : 0);
  EXPECT_EQ(posts.back().bar, Bar(bytes_done_));
  for (const Post& post : posts) EXPECT_LE(post.bar, Bar(kBefore + kSize));
}

const std::string kWholeFile = "";

INSTANTIATE_TEST_SUITE_P(
    Situations, InstallFileCases,
    ::testing::Values(
        InstallCase{.name = "IntactTargetCostsNoRequest", .before = Before::kIntactTarget},
        InstallCase{.name = "IntactTargetWithUpperCaseHash", .before = Before::kIntactTarget,
                    .upper_hash = true},
        InstallCase{.name = "FreshDownload", .ranges = {kWholeFile}, .statuses = {200}},
        InstallCase{.name = "FreshDownloadWithUpperCaseHash", .ranges = {kWholeFile},
                    .statuses = {200}, .upper_hash = true},
        InstallCase{.name = "RootedUrlIsFetchedFromTheUpdateServer", .ranges = {kWholeFile},
                    .statuses = {200}, .url = "/files/file.bin"},
        InstallCase{.name = "StaleTargetOfTheSameSizeIsReplaced", .before = Before::kStaleTarget,
                    .ranges = {kWholeFile}, .statuses = {200}},
        InstallCase{.name = "ChunkedBody", .rule = {.chunked = true, .chunk_size = 5000},
                    .ranges = {kWholeFile}, .statuses = {200}},
        InstallCase{.name = "PartialContentToAFullRequest", .rule = {.status = 206},
                    .ranges = {kWholeFile}, .statuses = {206}},
        InstallCase{.name = "NestedPathMirrorsTheStagingTree", .ranges = {kWholeFile},
                    .statuses = {200}, .path = "data/maps/deep/a.bin"}), lbtest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    LeftoverPartial, InstallFileCases,
    ::testing::Values(
        InstallCase{.name = "EmptyPartialSendsNoRange", .before = Before::kPartial,
                    .ranges = {kWholeFile}, .statuses = {200}},
        InstallCase{.name = "CompleteValidPartialIsMovedWithoutRequest", .before = Before::kPartial,
                    .partial = kSize},
        InstallCase{.name = "CompleteWrongPartialIsFetchedAgain", .before = Before::kWrongPartial,
                    .partial = kSize, .ranges = {kWholeFile}, .statuses = {200}},
        InstallCase{.name = "OversizePartialIsFetchedAgain", .before = Before::kWrongPartial,
                    .partial = kSize + 100, .ranges = {kWholeFile}, .statuses = {200}},
        InstallCase{.name = "ShortPartialAppendsOn206", .before = Before::kPartial,
                    .partial = 300000, .ranges = {"bytes=300000-"}, .statuses = {206}},
        InstallCase{.name = "ShortPartialRestartsOn200", .before = Before::kPartial,
                    .partial = 420000, .rule = {.ignore_range = true, .chunk_size = 65536},
                    .ranges = {"bytes=420000-"}, .statuses = {200}, .drops_back = true},
        InstallCase{.name = "ShortPartialRefusedWith416", .before = Before::kPartial,
                    .partial = 300000, .rule = {.status = 416},
                    .error = texts::kFileRefused, .ranges = {"bytes=300000-"},
                    .statuses = {416}, .left = Left::kPartialUnchanged, .added = 300000}),
    lbtest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    Failures, InstallFileCases,
    ::testing::Values(
        InstallCase{.name = "NotFoundCreatesNoPartial", .rule = {.status = 404, .body = ""},
                    .error = texts::kFileRefused, .ranges = {kWholeFile}, .statuses = {404},
                    .left = Left::kNoFiles, .added = 0},
        InstallCase{.name = "ServerErrorOnResumeKeepsThePartial", .before = Before::kPartial,
                    .partial = 1000, .rule = {.status = 500, .body = ""},
                    .error = texts::kFileRefused, .ranges = {"bytes=1000-"},
                    .statuses = {500}, .left = Left::kPartialUnchanged, .added = 1000},
        InstallCase{.name = "PartialPathTakenByAFolder", .before = Before::kPartialIsFolder,
                    .error = texts::kCannotWrite, .ranges = {kWholeFile}, .statuses = {200},
                    .left = Left::kPartialKept, .added = 0},
        InstallCase{.name = "StagingFolderPathTouchesNothing", .error = texts::kUnsafePath,
                    .left = Left::kNoFiles, .added = 0,
                    .path = ".Install-Staging ./data/file.bin"},
        InstallCase{.name = "ClimbingPathTouchesNothing", .error = texts::kUnsafePath,
                    .left = Left::kNoFiles, .added = 0, .path = "data/../../file.bin"},
        InstallCase{.name = "PlainHttpUrlIsRefusedBeforeAnyRequest", .error = texts::kUnsafeUrl,
                    .left = Left::kNoFiles, .added = 0,
                    .url = "http://localhost/files/file.bin"},
        InstallCase{.name = "ContentChangedUnderAResume", .before = Before::kWrongPartial,
                    .partial = 300000, .error = texts::kDigestMismatch,
                    .ranges = {"bytes=300000-"}, .statuses = {206}, .left = Left::kNoFiles,
                    .added = kSize},
        // A body that ends short is a broken connection, whatever the server
        // claimed: the bytes stay, and a wrong file fails its digest once complete.
        InstallCase{.name = "ResumeAnsweredFromALaterOffsetEndsShort", .before = Before::kPartial,
                    .partial = 300000, .rule = {.range_offset = 301000},
                    .error = texts::kInterrupted, .ranges = {"bytes=300000-"},
                    .statuses = {206}, .left = Left::kPartialKept, .added = kSize - 1000}),
    lbtest::CaseName());

// A server that sends more than `size` is cut off at `size`: the partial
// file never grows past it and is deleted.
INSTANTIATE_TEST_SUITE_P(
    OverlongBodies, InstallFileCases,
    ::testing::Values(
        InstallCase{.name = "LargerFileThanListed", .rule = {.content = "files/big.bin"},
                    .error = texts::kDigestMismatch, .ranges = {kWholeFile},
                    .statuses = {200}, .left = Left::kNoFiles, .added = kUpToSize},
        InstallCase{.name = "EndlessBody", .rule = {.endless = true, .endless_limit = 1ull << 30},
                    .error = texts::kDigestMismatch, .ranges = {kWholeFile},
                    .statuses = {200}, .left = Left::kNoFiles, .added = kUpToSize},
        InstallCase{.name = "ResumeAnsweredFromAnEarlierOffset", .before = Before::kPartial,
                    .partial = 300000, .rule = {.range_offset = 299000},
                    .error = texts::kDigestMismatch, .ranges = {"bytes=300000-"},
                    .statuses = {206}, .left = Left::kNoFiles, .added = kUpToSize}), lbtest::CaseName());

// --- runs that follow one another -------------------------------------------------

// The server's content changed between two runs: the resumed file fails its
// digest and is deleted, and the next run fetches it whole.
TEST_F(InstallFileTest, ChangedContentFailsAndTheNextRunStartsOver) {
  const std::string old_content = lbtest::RandomBytes(kSize, 1234);
  const ManifestFile file = Entry("data/file.bin", content_);
  lbtest::WriteFileBytes(Part(file.path), old_content.substr(0, 250000));

  EXPECT_EQ(Install(file), texts::kDigestMismatch);
  EXPECT_FALSE(lbtest::PathExists(Part(file.path)));
  EXPECT_FALSE(lbtest::PathExists(Target(file.path)));
  Posts();

  EXPECT_EQ(Install(file), "");
  EXPECT_TRUE(lbtest::ReadFileBytes(Target(file.path)) == content_);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].range, "bytes=250000-");
  EXPECT_EQ(requests[1].range, "") << "the second run asks for the whole file";
  EXPECT_EQ(requests[1].status, 200);
  EXPECT_EQ(bytes_done_, kBefore + kSize);
  const std::vector<Post> posts = Posts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.front().bar, Bar(kBefore));
}

// A connection that ends in the middle of the body, by a reset or by a clean
// close that WinHTTP may read as the end of the body, keeps every byte
// written; the next run asks for exactly the rest.
struct CutCase {
  const char* name;
  FaultRule rule;
  std::uint64_t cut;  // body bytes the server sends before it ends the connection
  bool clean;         // a clean close delivers every byte sent
};

void PrintTo(const CutCase& c, std::ostream* out) { *out << c.name; }

class CutConnection : public InstallFileTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(CutConnection, KeepsTheBytesAndTheNextRunAsksForTheRest) {
  const CutCase& c = GetParam();
  const ManifestFile file = Entry("data/maps/deep/a.bin", content_);
  server_.SetRule("/files/file.bin", c.rule);

  EXPECT_EQ(Install(file), texts::kInterrupted);
  const std::string kept = lbtest::ReadFileBytes(Part(file.path));
  if (c.clean) {
    EXPECT_EQ(kept.size(), c.cut) << "every byte sent was kept";
  }
  EXPECT_LE(kept.size(), c.cut);
  EXPECT_TRUE(kept == content_.substr(0, kept.size())) << "the partial file is a prefix";
  EXPECT_EQ(bytes_done_, kBefore + kept.size()) << "every written byte was accounted for";
  EXPECT_FALSE(lbtest::PathExists(Target(file.path)));
  std::vector<Post> posts = Posts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.back().bar, Bar(kBefore + kept.size()));

  EXPECT_EQ(Install(file), "");
  EXPECT_TRUE(lbtest::ReadFileBytes(Target(file.path)) == content_);
  EXPECT_FALSE(lbtest::PathExists(Part(file.path)));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].range, "");
  EXPECT_EQ(requests[1].range, kept.empty() ? "" : "bytes=" + std::to_string(kept.size()) + "-");
  EXPECT_EQ(requests[1].bytes, kSize - kept.size()) << "no byte is fetched twice";
  posts = Posts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.front().bar, Bar(kBefore + kept.size()));
  EXPECT_EQ(posts.back().bar, Bar(kBefore + kSize));
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, CutConnection,
    ::testing::Values(
        CutCase{"ResetInTheFirstChunk", {.drop_after = 1000, .count = 1}, 1000, false},
        CutCase{"ResetInTheMiddle", {.drop_after = 250000, .count = 1}, 250000, false},
        CutCase{"ResetOneByteBeforeTheEnd", {.drop_after = kSize - 1, .count = 1}, kSize - 1, false},
        CutCase{"CleanCloseInTheFirstChunk", {.close_after = 1000, .count = 1}, 1000, true},
        CutCase{"CleanCloseInTheMiddle", {.close_after = 250000, .count = 1}, 250000, true},
        CutCase{"CleanCloseOneByteBeforeTheEnd", {.close_after = kSize - 1, .count = 1},
                kSize - 1, true},
        CutCase{"CleanCloseOfAChunkedBody",
                {.chunked = true, .chunk_size = 5000, .close_after = 250000, .count = 1}, 250000,
                true}), lbtest::CaseName());

// A target held open by the application cannot be replaced; the verified
// partial file waits, and the next run moves it without a request.
TEST_F(InstallFileTest, LockedTargetFailsTheRenameAndTheNextRunRenamesWithoutRequest) {
  const ManifestFile file = Entry("bin/app.exe", content_);
  const std::wstring target = Target(file.path);
  lbtest::WriteFileBytes(target, "the running old version");
  {
    FileHandle lock(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);

    EXPECT_EQ(Install(file), texts::kCannotFinishFile);
    EXPECT_TRUE(lbtest::ReadFileBytes(Part(file.path)) == content_) << "verified file kept";
    EXPECT_EQ(bytes_done_, kBefore + kSize);
  }
  EXPECT_EQ(lbtest::ReadFileBytes(target), "the running old version");
  Posts();

  EXPECT_EQ(Install(file), "");
  EXPECT_TRUE(lbtest::ReadFileBytes(target) == content_);
  EXPECT_FALSE(lbtest::PathExists(Part(file.path)));
  EXPECT_EQ(server_.Requests().size(), 1u) << "the second run makes no request";
  const std::vector<Post> posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(Narrow(posts[0].status), texts::kVerifying);
  EXPECT_EQ(posts[0].bar, Bar(kBefore + kSize));
}

// A file server whose certificate the system does not trust gets no request
// and leaves no partial file.
TEST_F(InstallFileTest, UntrustedFileServerWritesNothing) {
  FaultServer untrusted({.certificate = "selfsigned"});
  untrusted.PutFile("files/file.bin", content_);
  ManifestFile file = Entry("data/file.bin", content_);
  file.url = Narrow(untrusted.Url("/files/file.bin"));

  EXPECT_EQ(Install(file), texts::kNetworkFailure);
  EXPECT_FALSE(lbtest::PathExists(Part(file.path)));
  EXPECT_FALSE(lbtest::PathExists(Target(file.path)));
  EXPECT_TRUE(untrusted.Requests().empty());
  EXPECT_TRUE(server_.Requests().empty());
}

// --- by blocks, from the old copy in place -----------------------------------------

constexpr std::size_t kBlockFileSize = 1600000;
constexpr std::size_t kMiddle = kBlockFileSize / 2;
constexpr std::uint64_t kSlack = 2 * kMaxBlock;  // the blocks around a change

std::string Spliced(const std::string& s, std::size_t at, std::size_t removed, const std::string& put) {
  return s.substr(0, at) + put + s.substr(at + removed);
}

// The block list served for a case: the file's own, or one that fails.
// kVersion1: the list without checks; kChecksOfTheOldCopy: each block's check
// is the old copy's block at the same place, as if the checks collided.
enum class List { kGood, kMissing, kWrongSize, kWrongDigest, kMalformed, kOverItsLimit, kAtItsLimit,
                  kVersion1, kChecksOfTheOldCopy };

struct BlockCase {
  const char* name;
  std::string (*old_of)(const std::string& content);  // the old copy at the target
  std::uint64_t most_fetched;        // body bytes of the file's requests, at most
  bool falls_back = false;           // the plain download ends the file
  List list = List::kGood;
  FaultRule rule;                    // for the file's requests
  FaultRule list_rule;               // for the list's request
  std::size_t partial = 0;           // a partial file with this prefix of the content
  std::string error;                 // the first call fails so; the second one ends the file
  bool spoiled_partial = false;      // one byte of the partial file's first block differs
};

void PrintTo(const BlockCase& c, std::ostream* out) { *out << c.name; }

class InstallByBlocks : public InstallFileTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(InstallByBlocks, BuildsTheFileFromTheOldCopyAndFetchesLittle) {
  const BlockCase& c = GetParam();
  const std::string content = lbtest::RandomBytes(kBlockFileSize, 41);
  ManifestFile file = Entry("data/map.bin", content);
  server_.SetRule("/files/file.bin", c.rule);
  server_.SetRule("/files/file.blocks", c.list_rule);
  server_.PutFile("files/other.bin", lbtest::RandomBytes(kBlockFileSize, 43));

  lbtest::WriteFileBytes(Path(L"new.bin"), content);
  BlockList made = MakeBlockList(Path(L"new.bin"));
  if (c.list == List::kAtItsLimit) {  // every block of the shortest length
    made.blocks.clear();
    for (std::size_t at = 0; at < content.size(); at += kMinBlock) {
      lbtest::WriteFileBytes(Path(L"piece.bin"), content.substr(at, kMinBlock));
      made.blocks.push_back(MakeBlockList(Path(L"piece.bin")).blocks.at(0));
    }
  }
  if (c.list == List::kVersion1) made.version = 1;
  if (c.list == List::kChecksOfTheOldCopy) {
    lbtest::WriteFileBytes(Path(L"old.bin"), c.old_of(content));
    const BlockList old_list = MakeBlockList(Path(L"old.bin"));
    ASSERT_EQ(old_list.blocks.size(), made.blocks.size());
    for (std::size_t i = 0; i < made.blocks.size(); ++i) made.blocks[i].check = old_list.blocks[i].check;
  }
  std::string list = SerializeBlockList(made);
  if (c.list == List::kAtItsLimit) {
    ASSERT_EQ(list.size(), MaxBlockListSize(kBlockFileSize));
  }
  if (c.list == List::kMalformed) list[5] = 7;  // another version
  file.blocks = BlockListEntry{"/files/file.blocks", lbtest::ReferenceSha256(list), list.size()};
  if (c.list == List::kWrongSize) file.blocks->size += 1;
  if (c.list == List::kWrongDigest) file.blocks->hash[0] = file.blocks->hash[0] == 'a' ? 'b' : 'a';
  if (c.list == List::kOverItsLimit) {
    list.append(MaxBlockListSize(kBlockFileSize) + 1 - list.size(), 'x');
    file.blocks = BlockListEntry{"/files/file.blocks", lbtest::ReferenceSha256(list), list.size()};
  }
  if (c.list != List::kMissing) server_.PutFile("files/file.blocks", list);
  lbtest::WriteFileBytes(Target(file.path), c.old_of(content));
  if (c.partial) {
    std::string partial = content.substr(0, c.partial);
    if (c.spoiled_partial) partial[10] ^= 1;
    lbtest::WriteFileBytes(Part(file.path), partial);
  }

  EXPECT_EQ(Install(file), c.error);
  if (!c.error.empty()) {
    const std::string kept = lbtest::ReadFileBytes(Part(file.path));
    EXPECT_TRUE(kept == content.substr(0, kept.size())) << "the partial file is a prefix";
    EXPECT_EQ(bytes_done_, kBefore + kept.size()) << "every kept byte is accounted for";
    EXPECT_TRUE(lbtest::ReadFileBytes(Target(file.path)) == c.old_of(content));
    Posts();
    EXPECT_EQ(Install(file), "");
  }

  EXPECT_TRUE(lbtest::ReadFileBytes(Target(file.path)) == content) << "target content differs";
  EXPECT_FALSE(lbtest::PathExists(Part(file.path)));
  EXPECT_EQ(bytes_done_, kBefore + kBlockFileSize);
  std::uint64_t fetched = 0;
  bool plain = false;
  for (const ServerRequest& request : server_.Requests()) {
    if (request.path != "/files/file.bin") continue;
    fetched += request.bytes;
    const std::size_t dash = request.range.find('-');
    if (request.range.empty() || dash + 1 == request.range.size()) plain = true;
  }
  EXPECT_LE(fetched, c.most_fetched);
  EXPECT_EQ(plain, c.falls_back) << "a request without a closed range";
  const std::vector<Post> posts = Posts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.back().bar, Bar(kBefore + kBlockFileSize));
  if (c.partial) {
    EXPECT_EQ(posts.front().bar, Bar(kBefore + c.partial)) << "the announce counts the partial";
  }
  if (!c.falls_back && c.error.empty()) {
    for (std::size_t i = 1; i < posts.size(); ++i) EXPECT_GE(posts[i].bar, posts[i - 1].bar);
  }
}

std::string MiddleChanged(const std::string& s) { return Spliced(s, kMiddle, 65536, lbtest::RandomBytes(65536, 7)); }
std::string OneByteChanged(const std::string& s) { return Spliced(s, kMiddle, 1, std::string(1, ~s[kMiddle])); }

INSTANTIATE_TEST_SUITE_P(
    Changes, InstallByBlocks,
    ::testing::Values(
        BlockCase{"ChangeInTheMiddle", MiddleChanged, 65536 + kSlack},
        BlockCase{"InsertionAtTheStart", [](const std::string& s) { return s.substr(100); }, kSlack},
        BlockCase{"DeletionInTheMiddle",
                  [](const std::string& s) { return Spliced(s, kMiddle, 0, lbtest::RandomBytes(5000, 8)); },
                  kSlack},
        BlockCase{"UnrelatedOldCopy",
                  [](const std::string&) { return lbtest::RandomBytes(kBlockFileSize, 9); },
                  kBlockFileSize},
        BlockCase{"OldCopyShorter", [](const std::string& s) { return s.substr(0, kMiddle); },
                  kMiddle + kSlack},
        BlockCase{"OldCopyLonger",
                  [](const std::string& s) { return s + lbtest::RandomBytes(300000, 10); },
                  kMaxBlock},  // only the last block, cut short by the end of the file
        BlockCase{"ResumedPartialFile", MiddleChanged, 65536 + kSlack, false, List::kGood, {}, {}, 300001},
        BlockCase{"ResumedPartialFileInTheChange", MiddleChanged, 65536 + kSlack, false,
                  List::kGood, {}, {}, kMiddle + 1000},
        BlockCase{"ListAtItsSizeLimit", MiddleChanged, kBlockFileSize, false, List::kAtItsLimit},
        BlockCase{"ListOfVersion1", MiddleChanged, 65536 + kSlack, false, List::kVersion1}),
    lbtest::CaseName());

// Every failure of the block path ends in the plain download from the
// partial file's checked prefix.
INSTANTIATE_TEST_SUITE_P(
    Fallbacks, InstallByBlocks,
    ::testing::Values(
        BlockCase{"ListMissing", MiddleChanged, kBlockFileSize, true, List::kMissing},
        BlockCase{"ListOfTheWrongSize", MiddleChanged, kBlockFileSize, true, List::kWrongSize},
        BlockCase{"ListOfTheWrongDigest", MiddleChanged, kBlockFileSize, true, List::kWrongDigest},
        BlockCase{"ListMalformed", MiddleChanged, kBlockFileSize, true, List::kMalformed},
        BlockCase{"ListOverItsSizeLimit", MiddleChanged, kBlockFileSize, true, List::kOverItsLimit},
        BlockCase{"ListCutOff", MiddleChanged, kBlockFileSize, true, List::kGood, {},
                  {.drop_after = 100, .count = 1}},
        BlockCase{"RangeAnsweredWith200", MiddleChanged, 2 * kBlockFileSize, true, List::kGood,
                  {.ignore_range = true}},
        BlockCase{"RangeAnsweredWith416", MiddleChanged, kBlockFileSize, true, List::kGood,
                  {.status = 416, .body = "", .count = 1}},
        // The wrong answer's body counts as sent as far as the server got
        // before the installer closed the request.
        BlockCase{"RangeAnsweredWithAnotherRange", MiddleChanged, 2 * kBlockFileSize, true,
                  List::kGood, {.range_offset = 1000, .count = 1}},
        BlockCase{"FetchedBytesDisagreeWithTheList", MiddleChanged, kBlockFileSize, true,
                  List::kGood, {.content = "files/other.bin", .count = 1}},
        // Built whole, the file fails its digest: it is fetched again from 0.
        BlockCase{"SpoiledPartialFile", MiddleChanged, kBlockFileSize + 65536 + kSlack, true,
                  List::kGood, {}, {}, 300001, "", true},
        BlockCase{"OldBlockWithTheSameCheck", OneByteChanged, kBlockFileSize, true,
                  List::kChecksOfTheOldCopy},
        BlockCase{"ConnectionDroppedInARange", MiddleChanged, 65536 + 2 * kSlack, false,
                  List::kGood, {.drop_after = 20000, .count = 1}, {}, 0, texts::kInterrupted}),
    lbtest::CaseName());

// --- the realistic server --------------------------------------------------------

struct NginxCase {
  const char* name;
  std::size_t partial;                // leftover partial file (prefix of the content)
  std::vector<std::string> ranges;    // what nginx must have seen
  std::vector<int> statuses;
};

void PrintTo(const NginxCase& c, std::ostream* out) { *out << c.name; }

class InstallFileFromNginx : public InstallFileTest,
                             public ::testing::WithParamInterface<NginxCase> {};

TEST_P(InstallFileFromNginx, InstallsTheFileAndAsksOnlyForWhatIsMissing) {
  const NginxCase& c = GetParam();
  lbtest::NginxServer nginx;
  nginx.PutFile("release/data/file.bin", content_);
  ManifestFile file = Entry("data/file.bin", content_);
  file.url = Narrow(nginx.Url("/release/data/file.bin"));
  if (c.partial) lbtest::WriteFileBytes(Part(file.path), content_.substr(0, c.partial));

  EXPECT_EQ(Install(file), "");

  EXPECT_TRUE(lbtest::ReadFileBytes(Target(file.path)) == content_);
  EXPECT_FALSE(lbtest::PathExists(Part(file.path)));
  EXPECT_EQ(bytes_done_, kBefore + kSize);
  const auto requests = nginx.Requests();
  ASSERT_EQ(requests.size(), c.ranges.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].range, c.ranges[i]);
    EXPECT_EQ(requests[i].status, c.statuses[i]);
    EXPECT_EQ(requests[i].bytes, kSize - (c.partial == kSize ? 0 : c.partial));
    EXPECT_EQ(requests[i].user_agent, lbtest::texts::kUserAgent);
  }
  const std::vector<Post> posts = Posts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.back().bar, Bar(kBefore + kSize));
}

INSTANTIATE_TEST_SUITE_P(
    Nginx, InstallFileFromNginx,
    ::testing::Values(NginxCase{"FreshDownload", 0, {""}, {200}},
                      NginxCase{"ResumeFromAPartialFile", 400000, {"bytes=400000-"}, {206}},
                      NginxCase{"CompletePartialNeedsNoRequest", kSize, {}, {}}), lbtest::CaseName());

}  // namespace
