#pragma once
// The WinHTTP session, URL splitting, GET requests over it and the reading of
// their bodies. Called on the worker thread (and the publisher tool's main
// thread); every call blocks until it completes or the session's time-out for
// that phase expires.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include <windows.h>

#include "common/winhttp_handle.h"

// The run's WinHTTP session: opened and owned by the worker, borrowed here.
using HttpSession = HINTERNET;

// Opens the one synchronous WinHTTP session of a program: user agent
// "Lanternbrook-Instalador/1.0", the system's automatic proxy, 10 s to resolve
// a name, 30 s to connect and to send, 120 s per read. The publisher tool
// opens the same, so that it sees what the installer sees. Throws
// std::runtime_error("O servico de internet do Windows nao esta disponivel.").
WinHttpHandle OpenHttpSession();

struct ParsedUrl {
  std::wstring host;
  std::wstring path;  // URL path followed by query/fragment, as written; may be empty
  std::uint16_t port = 0;  // explicit port or the scheme's default
  bool secure = false;     // scheme is https
};

// What ParseUrl, HttpGet and ReadResponseBody throw: the fixed message shown to the user, and
// the GetLastError value of the WinHTTP call that failed, for tools that name
// the cause (0 when no call failed).
class HttpRequestError : public std::runtime_error {
 public:
  HttpRequestError(const char* message, DWORD winhttp_error)
      : std::runtime_error(message), winhttp_error_(winhttp_error) {}
  DWORD winhttp_error() const noexcept { return winhttp_error_; }

 private:
  DWORD winhttp_error_;
};

// Splits an absolute URL with WinHttpCrackUrl.
// Throws HttpRequestError("URL de atualizacao invalida.").
ParsedUrl ParseUrl(const std::wstring& url);

// One GET: its handles and status. Members are destroyed in reverse order, so
// the request handle is closed before the connection handle.
struct HttpResponse {
  WinHttpHandle connection;
  WinHttpHandle request;
  std::uint32_t status = 0;
};

// The bytes a GET asks for: "Range: bytes=<first>-", or with `last`
// "Range: bytes=<first>-<last>".
struct ByteRange {
  std::uint64_t first = 0;
  std::optional<std::uint64_t> last;
};

// Connects, opens and sends a GET for `url` on `session` and receives the
// response headers, with a Range header when `range` is given.
// The status is returned unjudged; the body is left for the caller to read
// through `request`. Throws HttpRequestError with one of:
//   "URL de atualizacao invalida."  "Nao foi possivel conectar ao servidor."
//   "Nao foi possivel iniciar o download."
//   "Falha de rede ao receber a atualizacao."  "Resposta HTTP invalida."
// Handles opened so far are closed (request first) before the error leaves.
HttpResponse HttpGet(HttpSession session, const std::wstring& url,
                     std::optional<ByteRange> range = std::nullopt);

// The buffer a download reads through, reused for every chunk.
inline constexpr std::size_t DownloadBufferSize = 262144;

// Reads the body of `response` until no more data is announced (true). Each
// count WinHttpQueryDataAvailable announces is read with as many
// WinHttpReadData calls as it takes, each into `room(available)` (at most the
// bytes announced and not yet read; asked before any of them is read, so it
// may refuse them by throwing) or, without `room`, into a buffer of
// DownloadBufferSize bytes. Each read of n > 0 bytes is handed at once to
// `chunk(bytes, n)`, which stops the read with false. A read of 0 bytes goes
// back to asking. Throws HttpRequestError(`query_failed` or `read_failed`)
// with the failed call's error, and whatever `room` and `chunk` throw.
bool ReadResponseBody(const HttpResponse& response, const char* query_failed,
                      const char* read_failed,
                      const std::function<bool(const char* bytes, DWORD count)>& chunk,
                      const std::function<std::span<char>(DWORD available)>& room = {});
