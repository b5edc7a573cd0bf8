#include "tests/app/box_watcher.h"

#include <algorithm>

namespace lbtest {
namespace {

struct Search {
  HWND owner;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOwnedBox(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (lstrcmpW(name, L"#32770") == 0 && GetWindow(window, GW_OWNER) == search->owner) {
    search->found.push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK FindMessageText(HWND child, LPARAM lparam) {
  if (GetDlgCtrlID(child) == 0xFFFF) {  // the message box's text control
    *reinterpret_cast<std::wstring*>(lparam) = WindowText(child);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::wstring WindowText(HWND window) {
  if (!window) return {};
  wchar_t buffer[2048] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

BoxWatcher::BoxWatcher(HWND owner, std::function<bool()> probe)
    : owner_(owner), probe_(std::move(probe)), thread_([this] { Watch(); }) {}

BoxWatcher::~BoxWatcher() {
  stop_ = true;
  thread_.join();
}

void BoxWatcher::Watch() {
  std::vector<HWND> handled;
  while (!stop_) {
    Search search{owner_, {}};
    EnumWindows(CollectOwnedBox, reinterpret_cast<LPARAM>(&search));
    for (HWND box : search.found) {
      if (std::find(handled.begin(), handled.end(), box) != handled.end()) continue;
      OwnedBox seen;
      EnumChildWindows(box, FindMessageText, reinterpret_cast<LPARAM>(&seen.text));
      if (seen.text.empty()) continue;  // not filled in yet
      seen.caption = WindowText(box);
      seen.condition_held = probe_ && probe_();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(seen);
      }
      handled.push_back(box);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    Sleep(20);
  }
}

std::vector<OwnedBox> BoxWatcher::boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

size_t BoxWatcher::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_.size();
}

}  // namespace lbtest
