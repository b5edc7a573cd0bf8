#pragma once
// URL splitting and GET requests over the run's synchronous WinHTTP session.
// Called on the worker thread only; every call blocks until it completes or
// the session's time-out for that phase expires.
#include <cstdint>
#include <stdexcept>
#include <string>

#include <windows.h>
#include <objbase.h>  // CoTaskMemFree, named by common/win_handles.h

#include "common/win_handles.h"

// The run's WinHTTP session: opened and owned by the worker, borrowed here.
using HttpSession = HINTERNET;

struct ParsedUrl {
  std::wstring host;
  std::wstring path;  // URL path followed by query/fragment, as written; may be empty
  std::uint16_t port = 0;  // explicit port or the scheme's default
  bool secure = false;     // scheme is https
};

// What ParseUrl and HttpGet throw: the fixed message shown to the user, and
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

// Connects, opens and sends a GET for `url` on `session` and receives the
// response headers. When `with_range` is set, adds "Range: bytes=<start>-".
// The status is returned unjudged; the body is left for the caller to read
// through `request`. Throws HttpRequestError with one of:
//   "URL de atualizacao invalida."  "Nao foi possivel conectar ao servidor."
//   "Nao foi possivel iniciar o download."
//   "Falha de rede ao receber a atualizacao."  "Resposta HTTP invalida."
// Handles opened so far are closed (request first) before the error leaves.
HttpResponse HttpGet(HttpSession session, const std::wstring& url, std::uint64_t range_start,
                     bool with_range);
