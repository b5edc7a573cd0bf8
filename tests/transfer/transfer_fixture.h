#pragma once
// What the transfer and manifest-download tests share: body reading.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/winhttp_handle.h"
#include "tests/support/test_servers.h"
#include "tests/support/test_support.h"

namespace lbtest {

// Drains a response body; fails the test on a read error.
inline std::string ReadWholeBody(HINTERNET request) {
  std::string body;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      ADD_FAILURE() << "WinHttpQueryDataAvailable failed: " << GetLastError();
      return body;
    }
    if (available == 0) return body;
    const std::size_t before = body.size();
    body.resize(before + available);
    DWORD read = 0;
    if (!WinHttpReadData(request, body.data() + before, available, &read)) {
      ADD_FAILURE() << "WinHttpReadData failed: " << GetLastError();
      body.resize(before);
      return body;
    }
    body.resize(before + read);
  }
}

// A port on which nothing listens: one a server just gave up.
inline std::uint16_t ClosedPort() {
  FaultServer server;
  const std::uint16_t port = server.Port();
  server.Stop();
  return port;
}

}  // namespace lbtest
