#include "tools/release_download.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

#include "finish/file_digest.h"
#include "tools/release_errors.h"
#include "tools/release_folder.h"
#include "transfer/http_request.h"

namespace {

constexpr DWORD kBufferSize = 0x40000;

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

}  // namespace

WinHttpHandle OpenReleaseSession() {
  WinHttpHandle session(::WinHttpOpen(L"lanternbrook-release/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) throw ReleaseRefusal("cannot open a WinHTTP session: " + LastErrorText());
  ::WinHttpSetTimeouts(session.get(), 30000, 30000, 30000, 120000);
  return session;
}

DownloadedFile DownloadAndDigest(HINTERNET session, const std::wstring& url) {
  HttpResponse response = HttpGet(session, url, 0, false);
  if (response.status != 200 && response.status != 206) {
    throw std::runtime_error("HTTP status " + std::to_string(response.status));
  }
  std::wstring path;
  FileHandle file = CreateTemporaryFile(path);
  std::vector<char> buffer(kBufferSize);
  DownloadedFile result;
  for (;;) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(response.request.get(), &available)) {
      throw std::runtime_error("the connection broke: " + LastErrorText());
    }
    if (available == 0) break;
    while (available > 0) {
      DWORD read = 0;
      if (!::WinHttpReadData(response.request.get(), buffer.data(),
                             std::min<DWORD>(available, kBufferSize), &read)) {
        throw std::runtime_error("the connection broke: " + LastErrorText());
      }
      if (read == 0) break;
      DWORD written = 0;
      if (!::WriteFile(file.get(), buffer.data(), read, &written, nullptr) || written != read) {
        throw std::runtime_error("cannot write a temporary file: " + LastErrorText());
      }
      result.size += read;
      available -= read;
    }
  }
  result.sha256 = ComputeFileSha256(path);
  return result;
}
