#include "app/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <system_error>
#include <thread>

#include "app/globals.h"
#include "app/messages.h"
#include "common/paths.h"
#include "install/installation_worker.h"
#include "res/resource.h"

namespace {

constexpr wchar_t WindowTitle[] = L"Instalador Lanternbrook";
constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // 0x00CA0000
constexpr int WindowWidth = 576;
constexpr int WindowHeight = 246;

constexpr int StatusLabelId = 101;
constexpr int DetailLabelId = 102;
constexpr int ProgressBarId = 103;
constexpr int ProgressRange = 1000;

constexpr wchar_t ClosingRefusedText[] =
    L"A instalacao ainda esta em andamento. Feche somente se desejar interromper o download; "
    L"ele sera retomado depois.";

WorkerProcedure g_workerProcedure = &RunInstallation;

HWND CreateChild(HWND parent, const wchar_t* control_class, const wchar_t* text, DWORD extra_style,
                 int x, int y, int width, int height, int id) {
  return CreateWindowExW(0, control_class, text, WS_CHILD | WS_VISIBLE | extra_style, x, y, width,
                         height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                         nullptr);
}

// Controls and the worker. False when the worker cannot be started, which
// makes the window creation fail.
bool OnCreate(HWND window) {
  g_mainWindow = window;

  HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
  g_statusLabel = CreateChild(window, L"STATIC", L"Preparando instalacao", 0, 28, 30, 504, 28,
                              StatusLabelId);
  g_detailLabel = CreateChild(window, L"STATIC", L"Aguarde...", 0, 28, 70, 504, 44, DetailLabelId);
  g_progressBar = CreateChild(window, PROGRESS_CLASSW, nullptr, PBS_SMOOTH, 28, 126, 504, 24,
                              ProgressBarId);
  CreateChild(window, L"STATIC", L"Os downloads interrompidos sao retomados automaticamente.", 0,
              28, 166, 504, 22, 0);
  SendMessageW(g_statusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(g_detailLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(g_progressBar, PBM_SETRANGE32, 0, ProgressRange);

  try {
    std::thread(g_workerProcedure).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

// Shows the newest of the progress posts queued for `window`: the worker posts
// one per chunk, faster than the controls can be redrawn, so the posts already
// queued behind this one are taken now, their texts freed, and only the last
// is shown. Nothing else in the queue is passed over.
void OnProgress(HWND window, WPARAM position, LPARAM lparam) {
  MessageText text = TakeMessageText(lparam);
  MSG later;
  while (PeekMessageW(&later, window, ProgressMessage, ProgressMessage, PM_REMOVE)) {
    text = TakeMessageText(later.lParam);
    position = later.wParam;
  }
  std::wstring status, detail;
  if (text) {
    size_t line_feed = text->find(L'\n');
    status = text->substr(0, line_feed);
    if (line_feed != std::wstring::npos) detail = text->substr(line_feed + 1);
  }
  SetWindowTextW(g_statusLabel, status.c_str());
  SetWindowTextW(g_detailLabel, detail.c_str());
  SendMessageW(g_progressBar, PBM_SETPOS, position, 0);
}

void LaunchApplication(HWND window) {
  if (g_launchPath.empty()) return;
  const std::wstring directory = ParentPath(g_launchPath);
  ShellExecuteW(window, L"open", g_launchPath.c_str(),
                g_launchArgs.empty() ? nullptr : g_launchArgs.c_str(),
                directory.empty() ? nullptr : directory.c_str(), SW_SHOWNORMAL);
}

void OnCompletion(HWND window, WPARAM success, LPARAM lparam) {
  MessageText owned = TakeMessageText(lparam);
  const std::wstring text = owned ? *owned : std::wstring();
  owned.reset();
  g_installRunning = false;
  if (success) {
    SendMessageW(g_progressBar, PBM_SETPOS, ProgressRange, 0);
    SetWindowTextW(g_statusLabel, L"Instalacao concluida");
    SetWindowTextW(g_detailLabel, text.c_str());
    if (!g_quiet) MessageBoxW(window, text.c_str(), L"Lanternbrook", MB_OK | MB_ICONINFORMATION);
    LaunchApplication(window);
    DestroyWindow(window);
  } else {
    SetWindowTextW(g_statusLabel, L"Nao foi possivel concluir");
    SetWindowTextW(g_detailLabel, text.c_str());
    if (!g_quiet) {
      MessageBoxW(window, text.c_str(), L"Instalacao do Lanternbrook", MB_OK | MB_ICONERROR);
    } else {
      DestroyWindow(window);
    }
  }
}

void OnClose(HWND window) {
  if (g_installRunning) {
    MessageBoxW(window, ClosingRefusedText, L"Lanternbrook", MB_OK | MB_ICONWARNING);
    return;
  }
  DestroyWindow(window);
}

}  // namespace

LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(window) ? 0 : -1;
    case ProgressMessage:
      OnProgress(window, wparam, lparam);
      return 0;
    case CompletionMessage:
      OnCompletion(window, wparam, lparam);
      return 0;
    case WM_CLOSE:
      OnClose(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

bool RegisterInstallerWindowClass(HINSTANCE instance) {
  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_ICON));
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = 0;
  window_class.lpfnWndProc = InstallerWindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = icon;
  window_class.hIconSm = icon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = InstallerWindowClass;
  return RegisterClassExW(&window_class) != 0;
}

HWND CreateInstallerWindow(HINSTANCE instance) {
  return CreateWindowExW(0, InstallerWindowClass, WindowTitle, WindowStyle, CW_USEDEFAULT,
                         CW_USEDEFAULT, WindowWidth, WindowHeight, nullptr, nullptr, instance,
                         nullptr);
}

void SetWorkerProcedure(WorkerProcedure procedure) noexcept { g_workerProcedure = procedure; }
