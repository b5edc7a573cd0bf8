#pragma once
// What the transfer and manifest-download tests share: body reading.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "transfer/http_request.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace lbtest {

// The whole body of `response`, read with the one body loop; a failed read
// throws (and fails the test) with the failing call's name.
inline std::string ReadWholeBody(const HttpResponse& response) {
  std::string body;
  ReadResponseBody(response, "WinHttpQueryDataAvailable failed", "WinHttpReadData failed",
                   [&](const char* bytes, DWORD count) { body.append(bytes, count); return true; });
  return body;
}

// A port on which nothing listens: one a server just gave up.
inline std::uint16_t ClosedPort() {
  FaultServer server;
  const std::uint16_t port = server.Port();
  server.Stop();
  return port;
}

}  // namespace lbtest
