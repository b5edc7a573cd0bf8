#pragma once
// The two messages the worker posts to the window, and their heap-text
// payloads: lParam is a std::wstring allocated with new. Posting hands the
// text to the window procedure, which frees it.
#include <windows.h>

#include <memory>
#include <string>

inline constexpr UINT ProgressMessage = WM_APP + 1;    // wParam: bar 0..1000; lParam: "status\ndetail"
inline constexpr UINT CompletionMessage = WM_APP + 2;  // wParam: 1 success, 0 failure; lParam: text

// Posts `message` to `window` with a heap copy of `text` as lParam. If the post
// fails the copy is freed. Returns whether the message was posted. Any thread.
bool PostTextMessage(HWND window, UINT message, WPARAM wparam, const std::wstring& text);

// Posts a CompletionMessage, retrying until it is queued or `window` no longer
// exists, so the window never waits for ever. Any thread.
void PostCompletion(HWND window, bool success, const std::wstring& text);

// Frees a posted text and counts it off (see OutstandingMessageTexts).
struct MessageTextDeleter {
  void operator()(std::wstring* text) const noexcept;
};
using MessageText = std::unique_ptr<std::wstring, MessageTextDeleter>;

// Takes ownership of the text carried in a message's lParam. UI thread.
MessageText TakeMessageText(LPARAM lparam) noexcept;

// Texts posted by PostTextMessage and not yet freed by their receiver, in
// this process. Any thread.
long OutstandingMessageTexts() noexcept;
