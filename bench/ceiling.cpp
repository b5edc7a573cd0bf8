// The platform ceiling of an installer run: only the Windows calls the work
// needs, nothing of ours. Console program, run under Wine by scripts/bench.
//
//   ceiling download <list> [--query] [--flush]
//     <list>: one line per file, tab-separated: URL, output path, SHA-256
//     ("-" for a body that is fetched but not digested, like the manifest).
//     One WinHTTP session and one connection handle for every URL; per URL a
//     GET whose body is read as WinHTTP hands it out (WinHttpReadData into a
//     256 KiB buffer until it returns 0 bytes) and written to the output
//     file; then a CNG SHA-256 of every written file (1 MiB reads).
//     --query  asks WinHttpQueryDataAvailable before every read, as the
//              installer's loop does (to price that call on its own)
//     --flush  FlushFileBuffers before closing each file (likewise)
//     --window runs the work on a second thread while the main thread shows
//              a window of the installer's size and style and pumps its
//              messages, and destroys it at the end: what a window alone
//              costs the process (no progress is posted to it)
//   ceiling digest <list> [--window] [--zeroed-buffer-per-file | --raw-buffer-per-file]
//     <list>: one line per file, tab-separated: path, SHA-256. Only the CNG
//     digests, with one provider and one 1 MiB read buffer for all files,
//     or a new buffer per file: a zero-filled std::vector, or a block left
//     uninitialised (to price each on its own).
//
// Prints key=value lines (seconds of each phase, bytes, reads, requests).
// Exits 1 when a request, a write or a digest fails or a digest differs.
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <winhttp.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/win_handles.h"

namespace {

constexpr DWORD kNetBufferSize = 0x40000;   // 256 KiB, the installer's download buffer
constexpr DWORD kFileBufferSize = 0x100000;  // 1 MiB, the installer's digest reads

struct Entry {
  std::wstring url;
  std::wstring path;
  std::wstring hash;
};

class Stopwatch {
 public:
  Stopwatch() { QueryPerformanceFrequency(&frequency_); Restart(); }
  void Restart() { QueryPerformanceCounter(&start_); }
  double Seconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - start_.QuadPart) / double(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
};

std::wstring Widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::vector<std::wstring> SplitTabs(const std::string& line) {
  std::vector<std::wstring> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(Widen(line.substr(start, tab == std::string::npos ? tab : tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::vector<Entry> ReadList(const wchar_t* list_path, bool with_url) {
  std::ifstream in(list_path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the list");
  std::vector<Entry> entries;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::wstring> fields = SplitTabs(line);
    if (fields.size() != (with_url ? 3u : 2u)) throw std::runtime_error("bad list line");
    Entry entry;
    std::size_t next = 0;
    if (with_url) entry.url = fields[next++];
    entry.path = fields[next++];
    entry.hash = fields[next++];
    entries.push_back(std::move(entry));
  }
  return entries;
}

// Creates the folders above `path` that this run has not made yet.
void CreateParents(const std::wstring& path, std::set<std::wstring>& made) {
  for (std::size_t at = path.find_first_of(L"\\/", 3); at != std::wstring::npos;
       at = path.find_first_of(L"\\/", at + 1)) {
    const std::wstring folder = path.substr(0, at);
    if (made.insert(folder).second) CreateDirectoryW(folder.c_str(), nullptr);
  }
}

std::wstring Sha256OfFile(BCRYPT_ALG_HANDLE provider, const std::wstring& path, UCHAR* buffer,
                          std::uint64_t& bytes) {
  BcryptHashHandle hash;
  if (BCryptCreateHash(provider, hash.put(), nullptr, 0, nullptr, 0, 0) < 0) {
    throw std::runtime_error("BCryptCreateHash failed");
  }
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) throw std::runtime_error("cannot open a file to digest");
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, kFileBufferSize, &read, nullptr)) {
      throw std::runtime_error("ReadFile failed");
    }
    if (read == 0) break;
    bytes += read;
    if (BCryptHashData(hash.get(), buffer, read, 0) < 0) {
      throw std::runtime_error("BCryptHashData failed");
    }
  }
  UCHAR digest[32];
  if (BCryptFinishHash(hash.get(), digest, sizeof digest, 0) < 0) {
    throw std::runtime_error("BCryptFinishHash failed");
  }
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text;
  for (UCHAR byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

// Where the digest's 1 MiB read buffer comes from.
enum class DigestBuffer {
  kShared,        // one for all files
  kZeroedPerFile,  // a zero-filled std::vector per file
  kRawPerFile,     // an uninitialised heap block per file
};

void DigestAll(const std::vector<Entry>& entries, DigestBuffer mode = DigestBuffer::kShared) {
  Stopwatch clock;
  BcryptAlgorithmHandle provider;
  if (BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
    throw std::runtime_error("no SHA-256 provider");
  }
  std::vector<UCHAR> buffer(kFileBufferSize);
  std::uint64_t bytes = 0;
  std::size_t digested = 0;
  for (const Entry& entry : entries) {
    if (entry.hash == L"-") continue;  // fetched, but not part of the release (the manifest)
    ++digested;
    std::vector<UCHAR> zeroed;
    std::unique_ptr<UCHAR[]> raw;
    UCHAR* block = buffer.data();
    if (mode == DigestBuffer::kZeroedPerFile) {
      zeroed.resize(kFileBufferSize);
      block = zeroed.data();
    } else if (mode == DigestBuffer::kRawPerFile) {
      raw = std::make_unique_for_overwrite<UCHAR[]>(kFileBufferSize);
      block = raw.get();
    }
    if (CompareStringOrdinal(Sha256OfFile(provider.get(), entry.path, block, bytes).c_str(), -1,
                             entry.hash.c_str(), -1, TRUE) != CSTR_EQUAL) {
      throw std::runtime_error("digest differs");
    }
  }
  std::printf("digest_s=%.4f\ndigest_bytes=%llu\ndigest_files=%zu\n", clock.Seconds(),
              static_cast<unsigned long long>(bytes), digested);
}

void DownloadAll(const std::vector<Entry>& entries, bool query, bool flush) {
  Stopwatch clock;
  WinHttpHandle session(WinHttpOpen(L"Lanternbrook-Ceiling/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) throw std::runtime_error("WinHttpOpen failed");
  WinHttpHandle connection;
  std::wstring connected_to;
  std::set<std::wstring> made;
  const auto buffer = std::make_unique<char[]>(kNetBufferSize);
  std::uint64_t bytes = 0, reads = 0;
  double flush_s = 0;

  for (const Entry& entry : entries) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
    if (!WinHttpCrackUrl(entry.url.c_str(), 0, 0, &parts)) throw std::runtime_error("bad URL");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    const std::wstring key = host + L":" + std::to_wstring(parts.nPort);
    if (key != connected_to) {
      connection.reset(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
      if (!connection) throw std::runtime_error("WinHttpConnect failed");
      connected_to = key;
    }
    WinHttpHandle request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             WINHTTP_FLAG_SECURE));
    if (!request) throw std::runtime_error("WinHttpOpenRequest failed");
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
      throw std::runtime_error("request failed");
    }
    DWORD status = 0, status_size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) throw std::runtime_error("status is not 200");

    CreateParents(entry.path, made);
    FileHandle file(CreateFileW(entry.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    if (!file) throw std::runtime_error("cannot create an output file");
    for (;;) {
      DWORD wanted = kNetBufferSize;
      if (query) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
          throw std::runtime_error("WinHttpQueryDataAvailable failed");
        }
        if (available == 0) break;
        if (available < wanted) wanted = available;
      }
      DWORD read = 0;
      if (!WinHttpReadData(request.get(), buffer.get(), wanted, &read)) {
        throw std::runtime_error("WinHttpReadData failed");
      }
      if (read == 0) break;
      ++reads;
      bytes += read;
      DWORD written = 0;
      if (!WriteFile(file.get(), buffer.get(), read, &written, nullptr) || written != read) {
        throw std::runtime_error("WriteFile failed");
      }
    }
    if (flush) {
      Stopwatch flush_clock;
      FlushFileBuffers(file.get());
      flush_s += flush_clock.Seconds();
    }
  }
  std::printf("download_s=%.4f\nflush_s=%.4f\nbytes=%llu\nreads=%llu\nrequests=%zu\n",
              clock.Seconds(), flush_s, static_cast<unsigned long long>(bytes),
              static_cast<unsigned long long>(reads), entries.size());
}

constexpr UINT kWorkDone = WM_APP + 30;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kWorkDone) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// Runs `work` on a second thread under a shown window; rethrows its failure.
template <typename Work>
void WithWindow(Work work) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"LanternbrookCeiling";
  RegisterClassExW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"ceiling",
                                WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                CW_USEDEFAULT, 576, 246, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  if (!window) throw std::runtime_error("CreateWindowExW failed");
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  std::string failure;
  std::thread worker([&] {
    try {
      work();
    } catch (const std::exception& error) {
      failure = error.what();
    }
    PostMessageW(window, kWorkDone, 0, 0);
  });
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  worker.join();
  if (!failure.empty()) throw std::runtime_error(failure);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    if (argc < 3) {
      std::fprintf(stderr, "usage: ceiling download <list> [--query] [--flush] | digest <list>\n");
      return 2;
    }
    const std::wstring mode = argv[1];
    bool query = false, flush = false, window = false;
    DigestBuffer digest_buffer = DigestBuffer::kShared;
    for (int i = 3; i < argc; ++i) {
      const std::wstring option = argv[i];
      if (option == L"--query") query = true;
      else if (option == L"--flush") flush = true;
      else if (option == L"--window") window = true;
      else if (option == L"--zeroed-buffer-per-file") digest_buffer = DigestBuffer::kZeroedPerFile;
      else if (option == L"--raw-buffer-per-file") digest_buffer = DigestBuffer::kRawPerFile;
      else throw std::runtime_error("unknown option");
    }
    Stopwatch total;
    auto work = [&] {
      if (mode == L"download") {
        const std::vector<Entry> entries = ReadList(argv[2], true);
        DownloadAll(entries, query, flush);
        DigestAll(entries);
      } else if (mode == L"digest") {
        DigestAll(ReadList(argv[2], false), digest_buffer);
      } else {
        throw std::runtime_error("unknown mode");
      }
    };
    if (window) {
      WithWindow(work);
    } else {
      work();
    }
    std::printf("total_s=%.4f\n", total.Seconds());
    return 0;
  } catch (const std::exception& failure) {
    std::printf("error=%s (last error %lu)\n", failure.what(), GetLastError());
    return 1;
  }
}
