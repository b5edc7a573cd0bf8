// Counts the progress posts of real downloads: InstallFile runs on a worker
// thread exactly as in the installer, one file after the other on one
// session, and posts to a message-only window on this thread that counts and
// frees every ProgressMessage. It is the installer's transfer without its
// window, process start, manifest and finishing steps.
//
//   progress_probe <app dir> <list>
//     <list>: one line per file, tab-separated: manifest path, URL, SHA-256,
//     size.
//
// Prints key=value lines: posts (all, and those of chunks), seconds of all
// InstallFile calls (download, flush, digest, rename), seconds from the first
// post to the last, posts per second over that span and in the busiest
// second, bytes per chunk post, the longest gap between two posts. Exits 1 when InstallFile throws.
#include <windows.h>
#include <objbase.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "app/messages.h"
#include "common/win_handles.h"
#include "manifest/update_manifest.h"
#include "transfer/install_file.h"

namespace {

constexpr UINT kDoneMessage = WM_APP + 20;  // wParam: 1 when InstallFile returned

LARGE_INTEGER g_frequency;
std::vector<LONGLONG> g_post_ticks;  // UI thread only
double g_install_seconds = 0;        // written by the worker before kDoneMessage
std::string g_failure;               // likewise

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

LRESULT CALLBACK CounterProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == ProgressMessage) {
    TakeMessageText(lparam);  // frees the text, as the installer's window does
    g_post_ticks.push_back(Now());
    return 0;
  }
  if (message == kDoneMessage) {
    PostQuitMessage(wparam ? 0 : 1);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

std::vector<ManifestFile> ReadList(const wchar_t* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<ManifestFile> files;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (fields.size() != 4) continue;
    files.push_back(ManifestFile{fields[0], fields[2], fields[1], std::stoull(fields[3])});
  }
  return files;
}

void Worker(std::vector<ManifestFile> files, std::wstring app_dir, HWND window) {
  WinHttpHandle session(WinHttpOpen(L"Lanternbrook-Instalador/1.0",
                                    WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
  bool ok = false;
  const LONGLONG start = Now();
  try {
    if (!session) throw std::runtime_error("WinHttpOpen failed");
    WinHttpSetTimeouts(session.get(), 10000, 30000, 30000, 120000);
    std::uint64_t total = 0, done = 0;
    for (const ManifestFile& file : files) total += file.size;
    for (const ManifestFile& file : files) InstallFile(session.get(), file, app_dir, done, total);
    ok = true;
  } catch (const std::exception& failure) {
    g_failure = failure.what();
  }
  g_install_seconds = double(Now() - start) / double(g_frequency.QuadPart);
  PostMessageW(window, kDoneMessage, ok ? 1 : 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: progress_probe <app dir> <list>\n");
    return 2;
  }
  QueryPerformanceFrequency(&g_frequency);
  const std::vector<ManifestFile> files = ReadList(argv[2]);
  if (files.empty()) {
    std::fprintf(stderr, "empty list\n");
    return 2;
  }
  std::uint64_t bytes = 0;
  for (const ManifestFile& file : files) bytes += file.size;

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = CounterProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"LanternbrookProgressProbe";
  RegisterClassExW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, window_class.hInstance, nullptr);
  if (!window) return 1;
  g_mainWindow = window;
  g_post_ticks.reserve(1 << 20);

  std::thread(Worker, files, std::wstring(argv[1]), window).detach();
  MSG message;
  int result = 1;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  if (message.message == WM_QUIT) result = static_cast<int>(message.wParam);

  const std::size_t posts = g_post_ticks.size();
  double busiest = 0, longest_gap = 0;
  for (std::size_t first = 0, last = 0; last < posts; ++last) {
    while (g_post_ticks[last] - g_post_ticks[first] > g_frequency.QuadPart) ++first;
    busiest = std::max(busiest, double(last - first + 1));
    if (last > 0) {
      longest_gap = std::max(longest_gap, double(g_post_ticks[last] - g_post_ticks[last - 1]) /
                                              double(g_frequency.QuadPart));
    }
  }
  // The posts span the downloads: per file an announcement, then one per chunk.
  const double span =
      posts > 1 ? double(g_post_ticks.back() - g_post_ticks.front()) / double(g_frequency.QuadPart)
                : 0.0;
  const std::size_t chunks = posts > files.size() ? posts - files.size() : 0;
  std::printf("files=%zu\nposts=%zu\nchunk_posts=%zu\ninstall_s=%.4f\ndownload_span_s=%.4f\n"
              "posts_per_s=%.1f\nbusiest_second_posts=%.0f\nbytes_per_chunk=%.0f\n"
              "longest_gap_s=%.4f\n",
              files.size(), posts, chunks, g_install_seconds, span,
              span > 0 ? double(posts - 1) / span : 0.0, busiest,
              chunks ? double(bytes) / double(chunks) : 0.0, longest_gap);
  if (result != 0) std::printf("error=%s\n", g_failure.c_str());
  return result;
}
