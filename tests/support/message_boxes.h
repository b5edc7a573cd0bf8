#pragma once
// Message boxes as a user meets them: each box read once, when its text is
// painted, then dismissed with OK. MessageBoxReader serves a caller that
// polls (the test's main thread watching a child process); BoxWatcher polls
// one on a thread of its own for the boxes a window of this process owns
// (the window's thread is inside the box's modal loop meanwhile).
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lbtest {

struct SeenMessageBox {
  std::wstring caption;
  std::wstring text;
  DWORD seen_at_ms = 0;         // InstallerRun: since the start of the process
  bool condition_held = false;  // BoxWatcher: its probe, evaluated while the box was open
};

// The text of a window of this or another process (WM_GETTEXT with a time-out).
std::wstring WindowText(HWND window);

// The visible top-level windows of process `pid` of the window class `class_name`.
std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* class_name);

class MessageBoxReader {
 public:
  // The boxes of process `pid`; with `owner`, only those that window owns.
  explicit MessageBoxReader(DWORD pid, HWND owner = nullptr) : pid_(pid), owner_(owner) {}
  // Hands every box not read before whose text is painted to `on_box` while
  // it is open, then dismisses it unless `on_box` returned false.
  void ReadNew(const std::function<bool(SeenMessageBox&)>& on_box);
  bool AnyOpen() const { return !Open().empty(); }

 private:
  std::vector<HWND> Open() const;
  DWORD pid_;
  HWND owner_;
  std::vector<HWND> read_;
};

class BoxWatcher {
 public:
  // `probe` runs on the watcher thread while each box is still open.
  explicit BoxWatcher(HWND owner, std::function<bool()> probe = nullptr);
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  std::vector<SeenMessageBox> boxes() const;

 private:
  MessageBoxReader reader_;
  std::function<bool()> probe_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<SeenMessageBox> boxes_;
  std::thread thread_;
};

}  // namespace lbtest
