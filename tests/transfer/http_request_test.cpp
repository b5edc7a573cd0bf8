// ParseUrl and HttpGet against real HTTPS servers on loopback: what goes on
// the wire (path, Range, User-Agent) and what comes back, unjudged.
#include "transfer/http_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/expected_texts.h"
#include "tests/transfer/transfer_fixture.h"

namespace {

using lbtest::FaultRule;
using lbtest::FaultServer;
using lbtest::Narrow;
namespace texts = lbtest::texts;

// --- ParseUrl ------------------------------------------------------------------

struct ParseCase {
  const char* name;
  std::wstring url;
  std::wstring host;
  std::wstring path;
  std::uint16_t port;
  bool secure;
};
void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }

class ParseUrlTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseUrlTable, SplitsTheUrl) {
  const ParseCase& c = GetParam();
  const ParsedUrl parsed = ParseUrl(c.url);
  EXPECT_EQ(Narrow(parsed.host), Narrow(c.host));
  EXPECT_EQ(Narrow(parsed.path), Narrow(c.path));
  EXPECT_EQ(parsed.port, c.port);
  EXPECT_EQ(parsed.secure, c.secure);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ParseUrlTable,
    ::testing::Values(
        ParseCase{"ExplicitPort", L"https://localhost:47999/a/b.bin", L"localhost", L"/a/b.bin",
                  47999, true},
        ParseCase{"DefaultHttpsPort", L"https://updates.example.org/m.json",
                  L"updates.example.org", L"/m.json", 443, true},
        ParseCase{"PlainHttpIsNotSecure", L"http://example.org/x", L"example.org", L"/x", 80,
                  false},
        ParseCase{"QueryAndFragmentFollowThePath", L"https://h/p/f.bin?build=7&a=%20b#part",
                  L"h", L"/p/f.bin?build=7&a=%20b#part", 443, true},
        ParseCase{"NoPath", L"https://h:8443", L"h", L"", 8443, true}), lbtest::CaseName());

class ParseUrlRejects : public ::testing::TestWithParam<std::wstring> {};

TEST_P(ParseUrlRejects, WithTheUpdateUrlMessage) {
  EXPECT_EQ(lbtest::ErrorText([] { ParseUrl(GetParam()); }), texts::kBadUpdateUrl);
}

INSTANTIATE_TEST_SUITE_P(Urls, ParseUrlRejects,
                         ::testing::Values(L"", L"not a url", L"localhost/a.bin",
                                           L"ftp:/missing-slashes"));

// --- HttpGet -------------------------------------------------------------------

// A row names what differs from a plain GET of the whole file.
struct GetCase {
  const char* name;
  std::string path = "/files/a.bin";  // request path on the test server
  std::optional<ByteRange> range;     // asked of HttpGet
  FaultRule rule;                     // server behaviour for the path
  std::uint32_t status = 200;         // status HttpGet must return
  std::size_t body_from = 0;          // expected body: the file from this offset ...
  std::size_t body_length = std::string::npos;  // ... for this many bytes ...
  bool empty_body = false;            // ... or nothing
  std::string logged_range;           // Range header the server must see
  std::size_t requests = 1;           // requests the server must see
};
void PrintTo(const GetCase& c, std::ostream* out) { *out << c.name; }

constexpr std::size_t kFileSize = 2 * 1048576 + 321;

class HttpGetTable : public ::testing::TestWithParam<GetCase> {
 protected:
  void SetUp() override {
    content_ = lbtest::RandomBytes(kFileSize, 41);
    server_.PutFile("files/a.bin", content_);
    server_.PutFile("other.bin", "other content");
    session_ = OpenHttpSession();
  }

  FaultServer server_;
  WinHttpHandle session_;
  std::string content_;
};

TEST_P(HttpGetTable, SendsTheRequestAndReturnsTheStatusUnjudged) {
  const GetCase& c = GetParam();
  const std::string plain = c.path.substr(0, c.path.find('?'));
  server_.SetRule(plain, c.rule);

  HttpResponse response = HttpGet(session_.get(), server_.Url(c.path), c.range);

  EXPECT_EQ(response.status, c.status);
  ASSERT_TRUE(response.connection);
  ASSERT_TRUE(response.request);
  const std::string body = lbtest::ReadWholeBody(response);
  if (c.empty_body) {
    EXPECT_EQ(body.size(), 0u);
  } else {
    EXPECT_TRUE(body == content_.substr(c.body_from, c.body_length))
        << "body of " << body.size() << " bytes is not the file from " << c.body_from;
  }

  const std::vector<lbtest::ServerRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), c.requests);
  EXPECT_EQ(requests.front().path, c.path);
  EXPECT_EQ(requests.front().range, c.logged_range);
  for (const auto& request : requests) EXPECT_EQ(request.user_agent, lbtest::texts::kUserAgent);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpGetTable,
    ::testing::Values(
        GetCase{.name = "PlainGetHasNoRangeHeader"},
        GetCase{.name = "QueryIsSentAsPartOfThePath", .path = "/files/a.bin?build=7&x=%41"},
        GetCase{.name = "RangeFromOneMebibyte", .range = ByteRange{1048576}, .status = 206,
                .body_from = 1048576, .logged_range = "bytes=1048576-"},
        GetCase{.name = "RangeFromZeroWhenAsked", .range = ByteRange{0}, .status = 206,
                .logged_range = "bytes=0-"},
        GetCase{.name = "ClosedRange", .range = ByteRange{1000, 1999}, .status = 206,
                .body_from = 1000, .body_length = 1000, .logged_range = "bytes=1000-1999"},
        GetCase{.name = "IgnoredRangeComesBackAs200", .range = ByteRange{777},
                .rule = {.ignore_range = true}, .logged_range = "bytes=777-"},
        GetCase{.name = "PartialContentWithoutRangeIsReturned", .rule = {.status = 206},
                .status = 206},
        GetCase{.name = "NotFound", .rule = {.status = 404, .body = ""}, .status = 404,
                .empty_body = true},
        GetCase{.name = "RangeNotSatisfiable", .range = ByteRange{kFileSize},
                .status = 416, .empty_body = true,
                .logged_range = "bytes=" + std::to_string(kFileSize) + "-"},
        GetCase{.name = "ServerError", .rule = {.status = 500, .body = ""}, .status = 500,
                .empty_body = true},
        GetCase{.name = "ChunkedBody", .rule = {.chunked = true}},
        GetCase{.name = "RedirectIsFollowedBySession", .path = "/moved.bin",
                .rule = {.redirect = "/files/a.bin"}, .requests = 2}), lbtest::CaseName());

// The scheme's default port: a server on 443 answers "https://localhost/...".
TEST(HttpGetPorts, UrlWithoutPortUsesTheHttpsDefault) {
  FaultServer server({.port = 443});
  server.PutFile("d.bin", "default port");
  WinHttpHandle session = OpenHttpSession();

  HttpResponse response = HttpGet(session.get(), L"https://localhost/d.bin");

  EXPECT_EQ(response.status, 200u);
  EXPECT_EQ(lbtest::ReadWholeBody(response), "default port");
  ASSERT_EQ(server.Requests().size(), 1u);
}

// --- failures --------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::string certificate;  // of the server; empty: nothing listens
  std::string message;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class HttpGetFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(HttpGetFailure, RaisesTheNetworkMessageAndNothingReachesTheServer) {
  const FailureCase& c = GetParam();
  WinHttpHandle session = OpenHttpSession();
  std::unique_ptr<FaultServer> server;
  std::wstring url;
  if (c.certificate.empty()) {
    url = L"https://localhost:" + std::to_wstring(lbtest::ClosedPort()) + L"/a.bin";
  } else {
    server = std::make_unique<FaultServer>(lbtest::ServerOptions{.certificate = c.certificate});
    server->PutFile("a.bin", "secret");
    url = server->Url("/a.bin");
  }

  EXPECT_EQ(lbtest::ErrorText([&] { HttpGet(session.get(), url); }), c.message);
  if (server) {
    EXPECT_TRUE(server->Requests().empty()) << "no request may pass an untrusted TLS";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Network, HttpGetFailure,
    ::testing::Values(
        FailureCase{"RefusedConnection", "", texts::kNetworkFailure},
        FailureCase{"SelfSignedCertificate", "selfsigned", texts::kNetworkFailure},
        FailureCase{"CertificateForAnotherHost", "otherhost", texts::kNetworkFailure},
        FailureCase{"ExpiredCertificate", "expired", texts::kNetworkFailure}), lbtest::CaseName());

TEST(HttpGetFailures, MalformedUrlFailsBeforeAnyConnection) {
  WinHttpHandle session = OpenHttpSession();
  EXPECT_EQ(lbtest::ErrorText([&] { HttpGet(session.get(), L"localhost:47520/x", ByteRange{0}); }),
            texts::kBadUpdateUrl);
}

}  // namespace
