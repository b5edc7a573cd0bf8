// How fast does the progress window handle ProgressMessage posts? A worker
// thread posts <posts> progress messages with PostProgress, as a download of
// 16 KiB chunks does ("Baixando Lanternbrook", the same detail line, the bar
// moving by one chunk), as fast as it can, half a second after the window
// was created; the UI thread handles them and notes when the last one is done.
//
//   ui_probe <posts> installer   the installer's own window (InstallerWindowProc)
//   ui_probe <posts> unchanged   the same three controls, but the handler sets a
//                                label only when its text changes and moves the
//                                bar only when its position changes
//   ui_probe <posts> latest      the same three controls, but the handler first
//                                takes (and frees) every ProgressMessage already
//                                queued behind this one and shows only the last
//
// Prints key=value lines: posts, seconds the worker took to post them,
// seconds until the window had handled them all, messages handled per second.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/messages.h"
#include "install/progress.h"

namespace {

constexpr UINT kDrained = WM_APP + 40;  // thread message posted after the last progress post
constexpr std::uint64_t kChunk = 16384;

int g_posts = 0;
LONGLONG g_start = 0, g_posted = 0;

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

void Flood() {
  const DWORD ui_thread = GetWindowThreadProcessId(g_mainWindow, nullptr);
  const std::uint64_t total = kChunk * static_cast<std::uint64_t>(g_posts);
  Sleep(500);  // the window is shown and painted: the handling is measured alone
  g_start = Now();
  for (int i = 1; i <= g_posts; ++i) {
    PostProgress(L"Baixando Lanternbrook", L"big.bin", kChunk * i, total);
  }
  g_posted = Now();
  PostThreadMessageW(ui_thread, kDrained, 0, 0);
}

bool g_latest_only = false;  // the "latest" handler instead of "unchanged"

// The alternative handlers: what the window shows is the same.
LRESULT CALLBACK AlternativeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  static HWND status, detail, bar;
  switch (message) {
    case WM_CREATE: {
      g_mainWindow = window;
      HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
      HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
      status = CreateWindowExW(0, L"STATIC", L"Preparando instalacao", WS_CHILD | WS_VISIBLE, 28,
                               30, 504, 28, window, reinterpret_cast<HMENU>(101), instance, nullptr);
      detail = CreateWindowExW(0, L"STATIC", L"Aguarde...", WS_CHILD | WS_VISIBLE, 28, 70, 504, 44,
                               window, reinterpret_cast<HMENU>(102), instance, nullptr);
      bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 28, 126,
                            504, 24, window, reinterpret_cast<HMENU>(103), instance, nullptr);
      SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      SendMessageW(detail, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
      std::thread(Flood).detach();
      return 0;
    }
    case ProgressMessage: {
      std::unique_ptr<std::wstring> text = TakeMessageText(lparam);
      if (g_latest_only) {
        MSG later;
        while (PeekMessageW(&later, window, ProgressMessage, ProgressMessage, PM_REMOVE)) {
          text = TakeMessageText(later.lParam);
          wparam = later.wParam;
        }
        const std::wstring all = text ? *text : std::wstring();
        const std::size_t line_feed = all.find(L'\n');
        SetWindowTextW(status, all.substr(0, line_feed).c_str());
        SetWindowTextW(detail, line_feed == std::wstring::npos ? L"" : all.c_str() + line_feed + 1);
        SendMessageW(bar, PBM_SETPOS, wparam, 0);
        return 0;
      }
      const std::wstring all = text ? *text : std::wstring();
      const std::size_t line_feed = all.find(L'\n');
      const std::wstring status_text = all.substr(0, line_feed);
      const std::wstring detail_text =
          line_feed == std::wstring::npos ? std::wstring() : all.substr(line_feed + 1);
      wchar_t shown[512];
      GetWindowTextW(status, shown, 512);
      if (status_text != shown) SetWindowTextW(status, status_text.c_str());
      GetWindowTextW(detail, shown, 512);
      if (detail_text != shown) SetWindowTextW(detail, detail_text.c_str());
      if (static_cast<WPARAM>(SendMessageW(bar, PBM_GETPOS, 0, 0)) != wparam) {
        SendMessageW(bar, PBM_SETPOS, wparam, 0);
      }
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ui_probe <posts> installer|unchanged|latest\n");
    return 2;
  }
  g_posts = _wtoi(argv[1]);
  const std::wstring mode = argv[2];
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  HWND window = nullptr;
  if (mode == L"installer") {
    SetWorkerProcedure(&Flood);
    if (!RegisterInstallerWindowClass(instance)) return 1;
    window = CreateInstallerWindow(instance);
  } else if (mode == L"unchanged" || mode == L"latest") {
    g_latest_only = mode == L"latest";
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = AlternativeProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = L"LanternbrookUiProbe";
    if (!RegisterClassExW(&window_class)) return 1;
    window = CreateWindowExW(0, window_class.lpszClassName, L"Instalador Lanternbrook",
                             WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                             576, 246, nullptr, nullptr, instance, nullptr);
  } else {
    return 2;
  }
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);

  LONGLONG drained = 0;
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == kDrained) {
      drained = Now();
      DestroyWindow(window);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const double post_s = double(g_posted - g_start) / double(frequency.QuadPart);
  const double drain_s = double(drained - g_start) / double(frequency.QuadPart);
  std::printf("posts=%d\npost_s=%.4f\ndrain_s=%.4f\nhandled_per_s=%.0f\n", g_posts, post_s, drain_s,
              drain_s > 0 ? g_posts / drain_s : 0.0);
  return drained ? 0 : 1;
}
