#include "tests/support/message_boxes.h"

#include <algorithm>

namespace lbtest {
namespace {

// The message: the text of the box's static control with id 0xFFFF.
std::wstring MessageText(HWND box) {
  for (HWND child = nullptr; (child = FindWindowExW(box, child, L"Static", nullptr));) {
    if (GetDlgCtrlID(child) == 0xFFFF) return WindowText(child);
  }
  return {};
}

}  // namespace

std::wstring WindowText(HWND window) {
  if (!window) return {};
  wchar_t buffer[4096] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* class_name) {
  std::vector<HWND> found;
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, class_name, nullptr));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == pid && IsWindowVisible(window)) found.push_back(window);
  }
  return found;
}

std::vector<HWND> MessageBoxReader::Open() const {
  std::vector<HWND> boxes = TopLevelWindows(pid_, L"#32770");
  if (owner_) {
    std::erase_if(boxes, [this](HWND box) { return GetWindow(box, GW_OWNER) != owner_; });
  }
  return boxes;
}

void MessageBoxReader::ReadNew(const std::function<bool(SeenMessageBox&)>& on_box) {
  for (HWND box : Open()) {
    if (std::find(read_.begin(), read_.end(), box) != read_.end()) continue;
    SeenMessageBox seen{.text = MessageText(box)};
    if (seen.text.empty()) continue;  // not painted yet; looked at again next time
    seen.caption = WindowText(box);
    read_.push_back(box);
    if (on_box(seen)) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

BoxWatcher::BoxWatcher(HWND owner, std::function<bool()> probe)
    : reader_(GetCurrentProcessId(), owner), probe_(std::move(probe)), thread_([this] {
        while (!stop_) {
          reader_.ReadNew([this](SeenMessageBox& box) {
            box.condition_held = probe_ && probe_();
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(box);
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

}  // namespace lbtest
