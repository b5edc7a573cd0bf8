// DownloadManifest against a real HTTPS server on the update origin's port:
// the status rule, the size limit on announced counts, broken bodies, and the
// request that goes out.
#include "manifest/manifest_download.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/expected_texts.h"
#include "tests/transfer/transfer_fixture.h"
#include "transfer/update_origin.h"

namespace {

using lbtest::FaultRule;
using lbtest::FaultServer;

using lbtest::kManifestPath;
using namespace lbtest::texts;

struct DownloadCase {
  const char* name;
  std::size_t body_size = 0;       // bytes of the manifest file on the server
  FaultRule rule;                  // server behaviour for the manifest
  std::string error;               // expected message; empty: success, body returned whole
  std::string other_error;         // a second acceptable message (a break may hit either call)
  std::optional<std::uint64_t> sent_below;  // the server must have sent fewer body bytes
};

void PrintTo(const DownloadCase& c, std::ostream* out) { *out << c.name; }

class ManifestDownload : public ::testing::TestWithParam<DownloadCase> {
 protected:
  void SetUp() override { session_ = OpenHttpSession(); }

  FaultServer server_{{.port = lbtest::UpdateOriginPort()}};
  WinHttpHandle session_;
};

TEST(ManifestAddress, IsTheUpdateOriginFollowedByTheManifestPath) {
  EXPECT_EQ(lbtest::Narrow(ManifestUrl()),
            lbtest::Narrow(UpdateServerOrigin) + "/updates/manifest.json");
}

TEST_P(ManifestDownload, AcceptsOnlyAWholeBoundedBodyWithStatus200) {
  const DownloadCase& c = GetParam();
  const std::string manifest = lbtest::RandomBytes(c.body_size, 7);
  lbtest::PublishManifest(server_, manifest);
  server_.SetRule(kManifestPath, c.rule);

  std::string body;
  const std::string error =
      lbtest::ErrorText([&] { body = DownloadManifest(session_.get()); });

  if (c.error.empty()) {
    EXPECT_EQ(error, "");
    EXPECT_EQ(body.size(), manifest.size());
    EXPECT_TRUE(body == manifest) << "the body must come back byte for byte";
  } else if (c.other_error.empty()) {
    EXPECT_EQ(error, c.error);
  } else {
    EXPECT_TRUE(error == c.error || error == c.other_error) << error;
  }

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, kManifestPath);
  EXPECT_EQ(requests[0].range, "") << "the manifest is never asked for in parts";
  EXPECT_EQ(requests[0].user_agent, lbtest::texts::kUserAgent);
  if (c.sent_below) {
    EXPECT_LT(requests[0].bytes, *c.sent_below);
  }
}

// Refused statuses carry a 64 MiB body: had it been read, far more than the
// socket buffers would have left the server.
constexpr std::uint64_t kBigBody = 64ull << 20;
FaultRule Refused(int status) {
  return {.status = status, .endless = true, .endless_limit = kBigBody};
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ManifestDownload,
    ::testing::Values(
        DownloadCase{.name = "EmptyBody"},
        DownloadCase{.name = "SmallBody", .body_size = 5000},
        DownloadCase{.name = "NotFoundIsRefusedUnread", .rule = Refused(404),
                     .error = kManifestRefused, .sent_below = kBigBody / 4},
        DownloadCase{.name = "ServerErrorIsRefusedUnread", .rule = Refused(500),
                     .error = kManifestRefused, .sent_below = kBigBody / 4},
        DownloadCase{.name = "PartialContentIsRefusedUnread", .rule = Refused(206),
                     .error = kManifestRefused, .sent_below = kBigBody / 4},
        DownloadCase{.name = "NotModifiedIsRefused", .body_size = 100,
                     .rule = {.status = 304, .body = ""}, .error = kManifestRefused}), lbtest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    SizeLimit, ManifestDownload,
    ::testing::Values(
        DownloadCase{.name = "ExactlyTheLimit", .body_size = MaxManifestBytes},
        DownloadCase{.name = "OneByteOverTheLimit", .body_size = MaxManifestBytes + 1,
                     .error = kManifestTooLarge},
        DownloadCase{.name = "ExactlyTheLimitChunked", .body_size = MaxManifestBytes,
                     .rule = {.chunked = true, .chunk_size = 10000}},
        DownloadCase{.name = "OneByteOverTheLimitChunked", .body_size = MaxManifestBytes + 1,
                     .rule = {.chunked = true, .chunk_size = 10000}, .error = kManifestTooLarge},
        DownloadCase{.name = "EndlessBodyStopsAtTheLimit",
                     .rule = {.endless = true, .endless_limit = kBigBody},
                     .error = kManifestTooLarge, .sent_below = kBigBody / 4}), lbtest::CaseName());

INSTANTIATE_TEST_SUITE_P(
    BrokenBodies, ManifestDownload,
    ::testing::Values(
        DownloadCase{.name = "ConnectionResetMidBody", .body_size = 1000000,
                     .rule = {.drop_after = 300000}, .error = "Falha ao ler o manifesto.",
                     .other_error = "Falha ao baixar o manifesto."},
        DownloadCase{.name = "ChunkedConnectionResetMidBody", .body_size = 1000000,
                     .rule = {.chunked = true, .drop_after = 300000},
                     .error = "Falha ao ler o manifesto.",
                     .other_error = "Falha ao baixar o manifesto."}), lbtest::CaseName());

TEST(ManifestBody, ByteOrderMarkIsReturnedUnchanged) {
  FaultServer server({.port = lbtest::UpdateOriginPort()});
  const std::string manifest = "\xEF\xBB\xBF{\"version\": \"1.0\"}";
  lbtest::PublishManifest(server, manifest);
  WinHttpHandle session = OpenHttpSession();

  EXPECT_EQ(DownloadManifest(session.get()), manifest);
}

TEST(ManifestBody, RefusedConnectionRaisesTheNetworkMessage) {
  // A server that takes the port once other tests are done with it and then
  // goes away leaves nothing listening there.
  WinHttpHandle session = OpenHttpSession();
  FaultServer server({.port = lbtest::UpdateOriginPort()});
  server.Stop();
  EXPECT_EQ(lbtest::ErrorText([&] { DownloadManifest(session.get()); }),
            kNetworkFailure);
}

}  // namespace
