// The posted messages and their heap texts, read back from a real queue.
#include <gtest/gtest.h>

#include <thread>

#include "app/messages.h"
#include "tests/support/test_support.h"

namespace {

using lbtest::Narrow;

TEST(Messages, PostedTextArrivesWithItsParameter) {
  lbtest::MessageSink sink;
  ASSERT_TRUE(PostTextMessage(sink.window(), ProgressMessage, 512, L"Baixando\ntexto com \u00e7"));
  auto received = sink.Drain();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].message, ProgressMessage);
  EXPECT_EQ(received[0].wparam, 512u);
  EXPECT_EQ(Narrow(received[0].text), "Baixando\ntexto com \xC3\xA7");
}

TEST(Messages, PostToAMissingWindowReportsFailure) {
  HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                              nullptr);
  ASSERT_NE(gone, nullptr);
  DestroyWindow(gone);
  EXPECT_FALSE(PostTextMessage(gone, ProgressMessage, 0, L"x"));
}

TEST(Messages, CompletionIsPostedOnceWithTheSuccessFlag) {
  lbtest::MessageSink sink;
  PostCompletion(sink.window(), true, L"feito");
  PostCompletion(sink.window(), false, L"falhou");
  auto received = sink.Drain();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].message, CompletionMessage);
  EXPECT_EQ(received[0].wparam, 1u);
  EXPECT_EQ(Narrow(received[0].text), "feito");
  EXPECT_EQ(received[1].wparam, 0u);
  EXPECT_EQ(Narrow(received[1].text), "falhou");
}

TEST(Messages, CompletionToAWindowThatIsGoneDoesNotHang) {
  HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                              nullptr);
  ASSERT_NE(gone, nullptr);
  DestroyWindow(gone);
  DWORD start = GetTickCount();
  PostCompletion(gone, false, L"ninguem recebe");
  EXPECT_LT(GetTickCount() - start, 2000u);
}

TEST(Messages, CompletionFromAnotherThreadReachesTheWindow) {
  lbtest::MessageSink sink;
  std::thread worker([window = sink.window()] { PostCompletion(window, true, L"do trabalhador"); });
  worker.join();
  auto received = sink.WaitForCompletion(5000);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(Narrow(received[0].text), "do trabalhador");
}

}  // namespace
