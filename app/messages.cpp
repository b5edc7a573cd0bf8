#include "app/messages.h"

namespace {

// Pause between attempts to queue a CompletionMessage that did not fit.
constexpr DWORD CompletionRetryDelayMs = 50;

}  // namespace

bool PostTextMessage(HWND window, UINT message, WPARAM wparam, const std::wstring& text) {
  auto payload = std::make_unique<std::wstring>(text);
  if (!PostMessageW(window, message, wparam, reinterpret_cast<LPARAM>(payload.get()))) {
    return false;  // the copy is freed here
  }
  payload.release();  // the window procedure owns it now
  return true;
}

void PostCompletion(HWND window, bool success, const std::wstring& text) {
  // A full queue is the usual reason for a failed post; the window drains it,
  // so try again until the message is in or the window has gone.
  while (!PostTextMessage(window, CompletionMessage, success ? 1 : 0, text)) {
    if (!IsWindow(window)) return;
    Sleep(CompletionRetryDelayMs);
  }
}

std::unique_ptr<std::wstring> TakeMessageText(LPARAM lparam) noexcept {
  return std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(lparam));
}
