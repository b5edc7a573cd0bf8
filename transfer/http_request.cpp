// URL splitting, the one GET primitive on the run's WinHTTP session and the
// one loop that reads a response body.
#include "transfer/http_request.h"

#include <algorithm>
#include <memory>

namespace {

// Throws `message` with the last error of the WinHTTP call that just failed,
// read before anything else can change it.
[[noreturn]] void Fail(const char* message) {
  const DWORD error = GetLastError();
  throw HttpRequestError(message, error);
}

}  // namespace

WinHttpHandle OpenHttpSession() {
  WinHttpHandle session(WinHttpOpen(L"Lanternbrook-Instalador/1.0",
                                    WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) throw std::runtime_error("O servico de internet do Windows nao esta disponivel.");
  WinHttpSetTimeouts(session.get(), 10000, 30000, 30000, 120000);
  return session;
}

ParsedUrl ParseUrl(const std::wstring& url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  // -1 asks WinHTTP for pointers into `url` instead of copies.
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    Fail("URL de atualizacao invalida.");
  }
  ParsedUrl result;
  if (parts.lpszHostName) result.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  if (parts.lpszUrlPath) result.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo && parts.dwExtraInfoLength != 0) {
    result.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  result.port = parts.nPort;
  result.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return result;
}

HttpResponse HttpGet(HttpSession session, const std::wstring& url,
                     std::optional<ByteRange> range) {
  const ParsedUrl parsed = ParseUrl(url);

  // On every throw below, `response` is destroyed: request first, then connection.
  HttpResponse response;
  response.connection.reset(WinHttpConnect(session, parsed.host.c_str(), parsed.port, 0));
  if (!response.connection) Fail("Nao foi possivel conectar ao servidor.");

  response.request.reset(WinHttpOpenRequest(response.connection.get(), L"GET", parsed.path.c_str(),
                                            nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            parsed.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!response.request) Fail("Nao foi possivel iniciar o download.");

  if (range) {
    const std::wstring header = L"Range: bytes=" + std::to_wstring(range->first) + L"-" +
                               (range->last ? std::to_wstring(*range->last) : L"") + L"\r\n";
    // A server that ignores the header answers 200; the caller handles that.
    WinHttpAddRequestHeaders(response.request.get(), header.c_str(), static_cast<DWORD>(-1),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }

  if (!WinHttpSendRequest(response.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    Fail("Falha de rede ao receber a atualizacao.");
  }
  if (!WinHttpReceiveResponse(response.request.get(), nullptr)) {
    Fail("Falha de rede ao receber a atualizacao.");
  }

  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (!WinHttpQueryHeaders(response.request.get(),
                           WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                           WINHTTP_NO_HEADER_INDEX)) {
    Fail("Resposta HTTP invalida.");
  }
  response.status = status;
  return response;
}

bool ReadResponseBody(const HttpResponse& response, const char* query_failed,
                      const char* read_failed,
                      const std::function<bool(const char* bytes, DWORD count)>& chunk,
                      const std::function<std::span<char>(DWORD available)>& room) {
  const auto buffer = room ? nullptr : std::make_unique<char[]>(DownloadBufferSize);
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(response.request.get(), &available)) Fail(query_failed);
    if (available == 0) return true;
    while (available != 0) {
      const std::span<char> into =
          room ? room(available)
               : std::span(buffer.get(), std::min<std::size_t>(available, DownloadBufferSize));
      DWORD read = 0;
      if (!WinHttpReadData(response.request.get(), into.data(), static_cast<DWORD>(into.size()),
                           &read)) {
        Fail(read_failed);
      }
      if (read == 0) break;
      if (!chunk(into.data(), read)) return false;
      available -= std::min(available, read);
    }
  }
}
