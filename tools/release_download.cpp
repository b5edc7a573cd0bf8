#include "tools/release_download.h"

#include <windows.h>

#include <functional>
#include <stdexcept>

#include "finish/file_digest.h"
#include "manifest/manifest_download.h"
#include "common/filesystem_error.h"
#include "common/text.h"
#include "common/win_handles.h"
#include "tools/request_failure.h"
#include "transfer/http_request.h"

namespace {

// A temporary file that the system deletes when its last handle closes.
FileHandle CreateTemporaryFile(std::wstring& path) {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t name[MAX_PATH + 1] = {};
  if (!::GetTempPathW(MAX_PATH + 1, folder) || !::GetTempFileNameW(folder, L"lbr", 0, name)) {
    throw std::runtime_error("cannot create a temporary file: " + LastErrorText());
  }
  path = name;
  FileHandle file(::CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file) {
    std::string reason = LastErrorText();
    ::DeleteFileW(name);
    throw std::runtime_error("cannot create a temporary file: " + reason);
  }
  return file;
}

// The installer's GET, with its failure named in English.
HttpResponse Get(HINTERNET session, const std::wstring& url,
                 std::optional<ByteRange> range = std::nullopt) {
  ForgetSecureFailure();
  try {
    return HttpGet(session, url, range);
  } catch (const HttpRequestError& error) {
    throw std::runtime_error(DescribeRequestFailure(error.winhttp_error(), session, url));
  }
}

// Reads the whole body of `response`, handing each piece to `consume`.
void ReadBody(const HttpResponse& response,
              const std::function<void(const char*, DWORD)>& consume) {
  try {
    ReadResponseBody(response, "", "", [&](const char* bytes, DWORD count) {
      consume(bytes, count);
      return true;
    });
  } catch (const HttpRequestError& error) {
    throw std::runtime_error("the connection broke: " +
                             DescribeRequestFailure(error.winhttp_error(), nullptr, {}));
  }
}

std::string ContentRange(const HttpResponse& response) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(response.request.get(), WINHTTP_QUERY_CONTENT_RANGE,
                        WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!::WinHttpQueryHeaders(response.request.get(), WINHTTP_QUERY_CONTENT_RANGE,
                             WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return WideToUtf8(value);
}

}  // namespace

WinHttpHandle OpenReleaseSession() {
  WinHttpHandle session = OpenHttpSession();
  WatchSecureFailures(session.get());
  return session;
}

DownloadedFile DownloadAndDigest(HINTERNET session, const std::wstring& url) {
  HttpResponse response = Get(session, url);
  if (response.status != 200 && response.status != 206) {
    throw std::runtime_error("HTTP status " + std::to_string(response.status));
  }
  std::wstring path;
  FileHandle file = CreateTemporaryFile(path);
  DownloadedFile result;
  ReadBody(response, [&](const char* bytes, DWORD count) {
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes, count, &written, nullptr) || written != count) {
      throw std::runtime_error("cannot write a temporary file: " + LastErrorText());
    }
    result.size += count;
  });
  result.sha256 = ComputeFileSha256(path);
  return result;
}

RangeAnswer AskForRange(HINTERNET session, const std::wstring& url, ByteRange range) {
  HttpResponse response = Get(session, url, range);
  RangeAnswer answer;
  answer.status = response.status;
  answer.content_range = ContentRange(response);
  try {
    ReadBody(response, [&](const char*, DWORD count) { answer.body_bytes += count; });
  } catch (const std::runtime_error& error) {
    answer.read_failure = error.what();
  }
  return answer;
}

std::string DownloadManifestText(HINTERNET session, const std::wstring& url,
                                 std::size_t max_bytes) {
  HttpResponse response = Get(session, url);
  if (response.status != 200) {
    throw std::runtime_error("HTTP status " + std::to_string(response.status));
  }
  std::string text;
  ReadBody(response, [&](const char* bytes, DWORD count) {
    text.append(bytes, count);
    if (text.size() > max_bytes) {
      throw std::runtime_error("larger than the installer accepts (" +
                               std::to_string(max_bytes) + " bytes)");
    }
  });
  return text;
}
