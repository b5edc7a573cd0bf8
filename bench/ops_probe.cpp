// The price of each per-file step of InstallFile on this platform, one step at
// a time over <count> small files in <folder> (made here, removed at the end):
// creating and writing the partial file, the flush, the existence and size
// tests, the staging folder test, opening the SHA-256 provider, the rename
// (with the installer's flags, and without write-through) and one progress
// post.
//
//   ops_probe <folder> <count>
//
// Prints key=value lines: microseconds per call of each step.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/win_handles.h"

namespace {

namespace fs = std::filesystem;

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double g_frequency = 1;

template <typename Step>
void Time(const char* name, int count, Step step) {
  const LONGLONG start = Now();
  for (int i = 0; i < count; ++i) step(i);
  std::printf("%s_us=%.1f\n", name, double(Now() - start) * 1e6 / g_frequency / count);
}

LRESULT CALLBACK Discard(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ops_probe <folder> <count>\n");
    return 2;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_frequency = double(frequency.QuadPart);
  const std::wstring root = argv[1];
  const int count = std::max(1, _wtoi(argv[2]));
  std::error_code error;
  fs::create_directories(fs::path(root) / L"staging" / L"sub", error);
  fs::create_directories(fs::path(root) / L"target" / L"sub", error);

  std::vector<std::wstring> parts, targets;
  std::vector<char> bytes(16384, 'x');
  for (int i = 0; i < count; ++i) {
    parts.push_back(root + L"\\staging\\sub\\f" + std::to_wstring(i) + L".part");
    targets.push_back(root + L"\\target\\sub\\f" + std::to_wstring(i));
  }

  Time("create_write_close", count, [&](int i) {
    FileHandle file(CreateFileW(parts[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
  });
  Time("create_write_flush_close", count, [&](int i) {
    FileHandle file(CreateFileW(parts[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
    FlushFileBuffers(file.get());
  });
  Time("fs_exists_missing", count, [&](int i) {
    std::error_code e;
    (void)fs::exists(fs::path(targets[i]), e);
  });
  Time("fs_file_size", count, [&](int i) {
    std::error_code e;
    (void)fs::file_size(fs::path(parts[i]), e);
  });
  Time("GetFileAttributesExW", count, [&](int i) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExW(parts[i].c_str(), GetFileExInfoStandard, &data);
  });
  Time("fs_create_directories_existing", count, [&](int i) {
    std::error_code e;
    fs::create_directories(fs::path(parts[i]).parent_path(), e);
  });
  Time("bcrypt_open_close_provider", count, [&](int) {
    BcryptAlgorithmHandle provider;
    BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  });
  Time("MoveFileExW_9", count, [&](int i) {
    MoveFileExW(parts[i].c_str(), targets[i].c_str(),
                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  });
  Time("MoveFileExW_1_back", count, [&](int i) {
    MoveFileExW(targets[i].c_str(), parts[i].c_str(), MOVEFILE_REPLACE_EXISTING);
  });

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = Discard;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"LanternbrookOpsProbe";
  RegisterClassExW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, window_class.hInstance, nullptr);
  Time("PostMessageW_with_text", count, [&](int) {
    auto* text = new std::wstring(L"Baixando Lanternbrook\nassets\\pack00\\part0\\file0000.bin");
    if (!PostMessageW(window, WM_APP + 1, 0, reinterpret_cast<LPARAM>(text))) delete text;
  });
  MSG message;
  while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
    if (message.message == WM_APP + 1) delete reinterpret_cast<std::wstring*>(message.lParam);
  }
  DestroyWindow(window);
  fs::remove_all(fs::path(root), error);
  return 0;
}
