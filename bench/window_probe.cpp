// Does the installer's window keep up while it downloads at full speed?
// Starts the installer, waits until its status line reads "Baixando
// Lanternbrook", and from then on until the bar nears its end:
//   lag    every few milliseconds reads the size of the file being written
//          (the worker posts its progress right after each write) and the
//          position the bar shows; the lag of a reading is how long ago the
//          worker passed the next position after the one shown (0 when it has
//          not), so it is how much older the display is than the worker.
//   close  every <interval_ms> posts WM_CLOSE to the window and times until
//          the process's warning box (#32770) is visible, then dismisses it.
//
//   window_probe <interval_ms> <part_file> <bytes_total> <installer.exe> [arguments...]
//
// Prints key=value lines: close_ms per sample, lag percentiles and largest,
// the number of readings, and the installer's exit code. Exits 1 when the
// window or a box never shows up or the installer does not end.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/win_handles.h"

namespace {

struct Search {
  DWORD pid;
  const wchar_t* class_name;
  HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (owner != search->pid || !IsWindowVisible(window) || lstrcmpW(name, search->class_name) != 0) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(DWORD pid, const wchar_t* class_name) {
  Search search{pid, class_name, nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

long long FileSize(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// -1 when the window does not answer within 2 s.
long Bar(HWND window) {
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutW(GetDlgItem(window, 103), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000,
                           &position)) {
    return -1;
  }
  return static_cast<long>(position);
}

std::wstring Status(HWND window) {
  wchar_t text[128] = {};
  SendMessageTimeoutW(GetDlgItem(window, 101), WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  return L"\"" + argument + L"\"";  // the bench's paths hold no quotation marks
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: window_probe <interval_ms> <part_file> <bytes_total> <installer.exe> ...\n");
    return 2;
  }
  const double interval_ms = _wtof(argv[1]);
  const wchar_t* part = argv[2];
  const double total = _wtof(argv[3]);
  std::wstring line = Quote(argv[4]);
  for (int i = 5; i < argc; ++i) line += L" " + Quote(argv[i]);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(argv[4], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    std::printf("error=cannot start the installer (%lu)\n", GetLastError());
    return 1;
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  auto ended = [&](DWORD wait_ms) { return WaitForSingleObject(process.get(), wait_ms) == WAIT_OBJECT_0; };

  HWND window = nullptr;
  for (const double start = NowMs(); NowMs() - start < 60000 && !ended(5);) {
    window = FindTopLevel(info.dwProcessId, L"LanternbrookOnlineInstaller");
    if (window && Status(window) == L"Baixando Lanternbrook") break;
    window = nullptr;
  }
  if (!window) {
    std::printf("error=the installer never showed its download\n");
    TerminateProcess(process.get(), 99);
    return 1;
  }

  // The worker's progress: when its position (as the bar computes it) first
  // reached each value, from the size of the file it writes.
  std::vector<double> reached(1002, -1);
  long worker = -1;
  std::vector<double> lags;
  std::vector<double> closes;
  bool failed = false;
  double next_close = NowMs() + interval_ms;
  while (!ended(0)) {
    const long long size = FileSize(part);
    const double read_at = NowMs();
    if (size >= 0) {
      const long position = std::min(1000L, static_cast<long>(double(size) * 1000.0 / total));
      for (long p = worker + 1; p <= position; ++p) reached[p] = read_at;
      worker = std::max(worker, position);
    }
    const long shown = Bar(window);
    const double shown_at = NowMs();
    if (shown < 0 || shown >= 990) break;  // near the end: the digest follows, not the download
    if (shown + 1 <= worker && reached[shown + 1] >= 0) {
      lags.push_back(shown_at - reached[shown + 1]);
    } else {
      lags.push_back(0);
    }
    if (shown_at >= next_close) {
      const double posted = NowMs();
      PostMessageW(window, WM_CLOSE, 0, 0);
      HWND box = nullptr;
      while (!box && NowMs() - posted < 60000 && !ended(0)) {
        box = FindTopLevel(info.dwProcessId, L"#32770");
        if (!box) Sleep(1);
      }
      if (!box) {
        failed = !ended(0);  // a run that ended meanwhile is no failure
        break;
      }
      closes.push_back(NowMs() - posted);
      std::printf("close_ms=%.1f bar=%ld\n", closes.back(), shown);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      for (const double dismissed = NowMs(); IsWindow(box) && IsWindowVisible(box) &&
                                             NowMs() - dismissed < 5000;) {
        Sleep(1);
      }
      next_close = NowMs() + interval_ms;
    }
    Sleep(2);
  }

  if (!ended(600000)) {
    std::printf("error=the installer did not end\n");
    TerminateProcess(process.get(), 99);
    return 1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  std::vector<double> sorted = lags;
  std::sort(sorted.begin(), sorted.end());
  auto at = [&](double q) { return sorted.empty() ? 0.0 : sorted[std::size_t(q * (sorted.size() - 1))]; };
  std::printf("readings=%zu\nlag_median_ms=%.1f\nlag_p99_ms=%.1f\nlag_largest_ms=%.1f\n",
              sorted.size(), at(0.5), at(0.99), sorted.empty() ? 0.0 : sorted.back());
  std::printf("closes=%zu\nclose_largest_ms=%.1f\ninstaller_exit=%lu\n", closes.size(),
              closes.empty() ? 0.0 : *std::max_element(closes.begin(), closes.end()), code);
  return failed || closes.empty() || sorted.empty() ? 1 : 0;
}
