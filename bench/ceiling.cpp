// The platform's ceiling for an installer run: the Windows calls that the
// installer's procedure cannot do without, and nothing else (no window, no
// progress, no manifest parsing, no std::filesystem). Console program, run
// under Wine by scripts/bench.
//
//   ceiling install <app_dir> <list>
//   ceiling verify  <app_dir> <list>
//     <list>: the manifest's URL on the first line, then one line per file:
//     URL, relative path (backslashes), SHA-256, size; tab-separated.
//
// Both first GET the manifest into memory over one WinHTTP session and
// connection. Then, per file:
//   install  GET; WinHttpQueryDataAvailable before every WinHttpReadData of
//            at most that much and at most 256 KiB; WriteFile of each chunk
//            into <app_dir>\.install-staging\<path>.part (folders made once);
//            FlushFileBuffers; close; CNG SHA-256 (a provider per file, 1 MiB
//            reads); MoveFileExW onto <app_dir>\<path> with
//            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH. At the end
//            the empty staging folders are removed.
//   verify   the target's size (GetFileAttributesExW), then its CNG SHA-256.
// Both end with the run's own files: CopyFileW of LanternbrookUpdater.exe to
// LanternbrookUpdater-v2.exe.new and MoveFileExW onto LanternbrookUpdater-v2.exe,
// then version.json.tmp written and moved onto version.json (same flags).
//
// Prints key=value lines. Exits 1 when a call fails or a digest differs.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/bcrypt_handles.h"
#include "common/com_ptr.h"
#include "common/win_handles.h"
#include "common/winhttp_handle.h"

namespace {

constexpr DWORD kNetBufferSize = 0x40000;    // 256 KiB
constexpr DWORD kFileBufferSize = 0x100000;  // 1 MiB

struct Entry {
  std::wstring url, path, hash;
  std::uint64_t size = 0;
};

std::wstring Widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::vector<Entry> ReadList(const wchar_t* list_path) {
  std::ifstream in(list_path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the list");
  std::vector<Entry> entries;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    Entry entry;
    entry.url = Widen(fields[0]);
    if (fields.size() == 4) {
      entry.path = Widen(fields[1]);
      entry.hash = Widen(fields[2]);
      entry.size = std::stoull(fields[3]);
    }
    entries.push_back(std::move(entry));
  }
  if (entries.empty()) throw std::runtime_error("empty list");
  return entries;
}

class Client {
 public:
  Client() : session_(WinHttpOpen(L"Lanternbrook-Ceiling/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)) {
    if (!session_) throw std::runtime_error("WinHttpOpen failed");
  }

  // Sends a GET and waits for a 200 answer; the body is left to read.
  WinHttpHandle Get(const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) throw std::runtime_error("bad URL");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (!connection_) {
      connection_.reset(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
      if (!connection_) throw std::runtime_error("WinHttpConnect failed");
    }
    WinHttpHandle request(WinHttpOpenRequest(connection_.get(), L"GET", path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             WINHTTP_FLAG_SECURE));
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
      throw std::runtime_error("request failed");
    }
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) throw std::runtime_error("status is not 200");
    return request;
  }

  // Reads the body as the installer must: never more than is available.
  template <typename Sink>
  void ReadBody(HINTERNET request, char* buffer, Sink sink) {
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) throw std::runtime_error("query failed");
      if (available == 0) return;
      while (available != 0) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer, std::min(available, kNetBufferSize), &read)) {
          throw std::runtime_error("read failed");
        }
        if (read == 0) break;
        sink(buffer, read);
        available -= std::min(available, read);
        ++reads;
      }
    }
  }

  std::uint64_t reads = 0;

 private:
  WinHttpHandle session_;
  WinHttpHandle connection_;
};

std::wstring Sha256OfFile(const std::wstring& path, UCHAR* buffer) {
  BcryptAlgorithmHandle provider;
  BcryptHashHandle hash;
  if (BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
      BCryptCreateHash(provider.get(), hash.put(), nullptr, 0, nullptr, 0, 0) < 0) {
    throw std::runtime_error("no SHA-256");
  }
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) throw std::runtime_error("cannot open a file to digest");
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, kFileBufferSize, &read, nullptr) || read == 0) break;
    if (BCryptHashData(hash.get(), buffer, read, 0) < 0) throw std::runtime_error("hash failed");
  }
  UCHAR digest[32];
  if (BCryptFinishHash(hash.get(), digest, sizeof digest, 0) < 0) {
    throw std::runtime_error("finish failed");
  }
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text;
  for (UCHAR byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

void CheckDigest(const std::wstring& path, const Entry& entry, UCHAR* buffer) {
  if (CompareStringOrdinal(Sha256OfFile(path, buffer).c_str(), -1, entry.hash.c_str(), -1, TRUE) !=
      CSTR_EQUAL) {
    throw std::runtime_error("digest differs");
  }
}

// Makes the folders above `path` (below `root`) that this run has not made.
void MakeParents(const std::wstring& root, const std::wstring& path, std::set<std::wstring>& made) {
  for (std::size_t at = path.find(L'\\', root.size() + 1); at != std::wstring::npos;
       at = path.find(L'\\', at + 1)) {
    const std::wstring folder = path.substr(0, at);
    if (made.insert(folder).second) CreateDirectoryW(folder.c_str(), nullptr);
  }
}

void Install(Client& client, const std::wstring& app_dir, const std::vector<Entry>& files,
             char* net_buffer, UCHAR* file_buffer) {
  const std::wstring staging = app_dir + L"\\.install-staging";
  std::set<std::wstring> made;
  for (const Entry& entry : files) {
    const std::wstring part = staging + L"\\" + entry.path + L".part";
    const std::wstring target = app_dir + L"\\" + entry.path;
    MakeParents(app_dir, part, made);
    WinHttpHandle request = client.Get(entry.url);
    {
      FileHandle file(CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
      if (!file) throw std::runtime_error("cannot create a .part file");
      client.ReadBody(request.get(), net_buffer, [&](const char* data, DWORD count) {
        DWORD written = 0;
        if (!WriteFile(file.get(), data, count, &written, nullptr) || written != count) {
          throw std::runtime_error("write failed");
        }
      });
      FlushFileBuffers(file.get());
    }
    CheckDigest(part, entry, file_buffer);
    MakeParents(app_dir, target, made);
    if (!MoveFileExW(part.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      throw std::runtime_error("rename failed");
    }
  }
  // The staging tree is empty now: deepest folders first.
  std::vector<std::wstring> folders;
  for (const std::wstring& folder : made) {
    if (folder.compare(0, staging.size(), staging) == 0) folders.push_back(folder);
  }
  std::sort(folders.rbegin(), folders.rend());
  for (const std::wstring& folder : folders) RemoveDirectoryW(folder.c_str());
}

void Verify(const std::wstring& app_dir, const std::vector<Entry>& files, UCHAR* file_buffer) {
  for (const Entry& entry : files) {
    const std::wstring target = app_dir + L"\\" + entry.path;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data) ||
        ((std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow) != entry.size) {
      throw std::runtime_error("target missing or of another size");
    }
    CheckDigest(target, entry, file_buffer);
  }
}

void Finish(const std::wstring& app_dir) {
  const std::wstring updater = app_dir + L"\\LanternbrookUpdater-v2.exe";
  if (!CopyFileW((app_dir + L"\\LanternbrookUpdater.exe").c_str(), (updater + L".new").c_str(),
                 FALSE) ||
      !MoveFileExW((updater + L".new").c_str(), updater.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw std::runtime_error("updater copy failed");
  }
  const std::wstring metadata = app_dir + L"\\version.json";
  {
    static constexpr char kDocument[] = "{\n  \"version\": \"1.0\",\n  \"build\": 1\n}\n";
    FileHandle file(CreateFileW((metadata + L".tmp").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), kDocument, sizeof kDocument - 1, &written, nullptr)) {
      throw std::runtime_error("metadata write failed");
    }
  }
  if (!MoveFileExW((metadata + L".tmp").c_str(), metadata.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw std::runtime_error("metadata rename failed");
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    if (argc != 4) {
      std::fprintf(stderr, "usage: ceiling install|verify <app_dir> <list>\n");
      return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const std::wstring mode = argv[1], app_dir = argv[2];
    std::vector<Entry> entries = ReadList(argv[3]);
    const std::vector<Entry> files(entries.begin() + 1, entries.end());
    const auto net_buffer = std::make_unique<char[]>(kNetBufferSize);
    std::vector<UCHAR> file_buffer(kFileBufferSize);

    Client client;
    std::string manifest;
    WinHttpHandle request = client.Get(entries[0].url);
    client.ReadBody(request.get(), net_buffer.get(),
                    [&](const char* data, DWORD count) { manifest.append(data, count); });
    request.reset();
    if (mode == L"install") {
      CreateDirectoryW(app_dir.c_str(), nullptr);
      Install(client, app_dir, files, net_buffer.get(), file_buffer.data());
    } else if (mode == L"verify") {
      Verify(app_dir, files, file_buffer.data());
    } else {
      throw std::runtime_error("unknown mode");
    }
    Finish(app_dir);
    QueryPerformanceCounter(&end);
    std::printf("files=%zu\nreads=%llu\nmanifest_bytes=%zu\nseconds=%.4f\n", files.size(),
                static_cast<unsigned long long>(client.reads), manifest.size(),
                double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    return 0;
  } catch (const std::exception& failure) {
    std::printf("error=%s (last error %lu)\n", failure.what(), GetLastError());
    return 1;
  }
}
