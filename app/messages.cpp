#include "app/messages.h"

#include <atomic>

namespace {

std::atomic<long> g_outstandingTexts{0};

// Pause between attempts to queue a CompletionMessage that did not fit.
constexpr DWORD CompletionRetryDelayMs = 50;

}  // namespace

bool PostTextMessage(HWND window, UINT message, WPARAM wparam, const std::wstring& text) {
  auto payload = std::make_unique<std::wstring>(text);
  // Counted before the post: the receiver may free it before PostMessageW returns.
  ++g_outstandingTexts;
  if (!PostMessageW(window, message, wparam, reinterpret_cast<LPARAM>(payload.get()))) {
    --g_outstandingTexts;
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

void MessageTextDeleter::operator()(std::wstring* text) const noexcept {
  delete text;
  --g_outstandingTexts;
}

MessageText TakeMessageText(LPARAM lparam) noexcept {
  return MessageText(reinterpret_cast<std::wstring*>(lparam));
}

long OutstandingMessageTexts() noexcept { return g_outstandingTexts.load(); }
