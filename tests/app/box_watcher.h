#pragma once
// Watches this process for message boxes owned by one window and dismisses
// them with OK, as a user would, from a thread of its own (the window's
// thread is inside the box's modal loop meanwhile).
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lbtest {

struct OwnedBox {
  std::wstring caption;
  std::wstring text;
  bool condition_held = false;  // the watcher's probe, evaluated while the box was open
};

class BoxWatcher {
 public:
  // `probe` runs on the watcher thread while each box is still open.
  explicit BoxWatcher(HWND owner, std::function<bool()> probe = nullptr);
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  std::vector<OwnedBox> boxes() const;
  size_t count() const;

 private:
  void Watch();
  HWND owner_;
  std::function<bool()> probe_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<OwnedBox> boxes_;
  std::thread thread_;
};

// The text of a window of this or another thread (WM_GETTEXT with a time-out).
std::wstring WindowText(HWND window);

}  // namespace lbtest
