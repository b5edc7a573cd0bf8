#include "tests/support/message_boxes.h"

#include <algorithm>

namespace lbtest {
namespace {

struct Search {
  DWORD pid;
  HWND owner;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || !IsWindowVisible(window)) return TRUE;
  if (search->owner && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (lstrcmpW(name, L"#32770") == 0) search->found.push_back(window);
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
  wchar_t buffer[4096] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

std::vector<HWND> MessageBoxReader::Open() const {
  Search search{pid_, owner_, {}};
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool MessageBoxReader::AnyOpen() const { return !Open().empty(); }

void MessageBoxReader::Poll(const std::function<bool(SeenMessageBox&)>& on_box) {
  for (HWND box : Open()) {
    if (std::find(handled_.begin(), handled_.end(), box) != handled_.end()) continue;
    SeenMessageBox seen;
    EnumChildWindows(box, FindMessageText, reinterpret_cast<LPARAM>(&seen.text));
    if (seen.text.empty()) continue;  // not painted yet; look again next time
    seen.caption = WindowText(box);
    handled_.push_back(box);
    if (on_box(seen)) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

BoxWatcher::BoxWatcher(HWND owner, std::function<bool()> probe)
    : reader_(GetCurrentProcessId(), owner), probe_(std::move(probe)), thread_([this] {
        while (!stop_) {
          reader_.Poll([this](SeenMessageBox& seen) {
            seen.condition_held = probe_ && probe_();
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(seen);
            return true;
          });
          Sleep(20);
        }
      }) {}

BoxWatcher::~BoxWatcher() {
  stop_ = true;
  thread_.join();
}

std::vector<SeenMessageBox> BoxWatcher::boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

size_t BoxWatcher::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_.size();
}

}  // namespace lbtest
