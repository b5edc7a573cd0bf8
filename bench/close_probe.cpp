// Is the installer's window responsive while it downloads at full speed?
// Starts the installer, waits until its status line reads "Baixando
// Lanternbrook", then `samples` times, `interval_ms` apart: posts WM_CLOSE to
// the main window and times until the warning box (#32770) of the process is
// visible, then dismisses the box. Finally waits for the installer to end.
//
//   close_probe <samples> <interval_ms> <installer.exe> [installer arguments...]
//
// Prints key=value lines: one latency_ms per sample (with the bar position
// when WM_CLOSE was posted), the largest, and the installer's exit code.
// Exits 1 when the window or a box never shows up or the installer never ends.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/win_handles.h"

namespace {

constexpr wchar_t kInstallerClass[] = L"LanternbrookOnlineInstaller";
constexpr wchar_t kDownloading[] = L"Baixando Lanternbrook";

struct Search {
  DWORD pid;
  const wchar_t* class_name;
  HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid || !IsWindowVisible(window)) return TRUE;
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (lstrcmpW(name, search->class_name) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(DWORD pid, const wchar_t* class_name) {
  Search search{pid, class_name, nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[256] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

double Milliseconds(LONGLONG from, LONGLONG to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(to - from) * 1000.0 / double(frequency.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: close_probe <samples> <interval_ms> <installer.exe> [args...]\n");
    return 2;
  }
  const int samples = std::max(1, _wtoi(argv[1]));
  const DWORD interval_ms = static_cast<DWORD>(_wtoi(argv[2]));
  std::wstring line = Quote(argv[3]);
  for (int i = 4; i < argc; ++i) line += L" " + Quote(argv[i]);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(argv[3], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    std::printf("error=cannot start the installer (%lu)\n", GetLastError());
    return 1;
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);

  // The main window, downloading.
  HWND main_window = nullptr;
  const DWORD wait_start = GetTickCount();
  while (GetTickCount() - wait_start < 60000) {
    main_window = FindTopLevel(info.dwProcessId, kInstallerClass);
    if (main_window && TextOf(GetDlgItem(main_window, 101)) == kDownloading) break;
    main_window = nullptr;
    if (WaitForSingleObject(process.get(), 5) == WAIT_OBJECT_0) break;
  }
  if (!main_window) {
    std::printf("error=the installer never showed its download\n");
    TerminateProcess(process.get(), 99);
    return 1;
  }

  int failures = 0;
  double largest = 0;
  int taken = 0;
  for (int sample = 0; sample < samples; ++sample) {
    if (WaitForSingleObject(process.get(), interval_ms) == WAIT_OBJECT_0) break;
    DWORD_PTR bar = 0;
    SendMessageTimeoutW(GetDlgItem(main_window, 103), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &bar);
    if (bar >= 990) break;  // too close to the end to be a download at full speed
    const LONGLONG posted = Now();
    PostMessageW(main_window, WM_CLOSE, 0, 0);
    HWND box = nullptr;
    while (!box && Milliseconds(posted, Now()) < 60000) {
      box = FindTopLevel(info.dwProcessId, L"#32770");
      if (!box && WaitForSingleObject(process.get(), 10) == WAIT_OBJECT_0) break;
    }
    if (!box) {
      std::printf("latency_ms=none bar=%u\n", static_cast<unsigned>(bar));
      ++failures;
      break;
    }
    const double latency = Milliseconds(posted, Now());
    largest = std::max(largest, latency);
    ++taken;
    std::printf("latency_ms=%.1f bar=%u\n", latency, static_cast<unsigned>(bar));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    const DWORD dismissed = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box) && GetTickCount() - dismissed < 5000) Sleep(5);
  }

  if (WaitForSingleObject(process.get(), 300000) != WAIT_OBJECT_0) {
    std::printf("error=the installer did not end\n");
    TerminateProcess(process.get(), 99);
    return 1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  std::printf("samples=%d\nlargest_ms=%.1f\nfailures=%d\ninstaller_exit=%lu\n", taken, largest,
              failures, code);
  std::fflush(stdout);
  return failures == 0 && taken > 0 ? 0 : 1;
}
