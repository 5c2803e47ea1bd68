// The main thread's queue once the window has closed: what background work still posts, or had
// posted before the close, never runs, and a thread waiting in Send is let go.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "system/main_queue.h"

namespace {

// The program's message loop: dispatches and runs the queue until WM_QUIT.
void RunLoopUntilQuit() {
  MSG msg;
  for (;;) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      DispatchMessageW(&msg);
    }
    MainQueue::RunPending();
    WaitMessage();
  }
}

// Waits until a message was posted to this thread (the queue's wake-up), without taking it.
void WaitForPostedMessage() {
  MSG msg;
  while (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_POSTMESSAGE);
}

TEST(MainQueue, NothingRunsOnceTheWindowHasClosed) {
  MainQueue::Initialize();
  std::atomic<int> ran{0};

  // Before the close, what a thread posts runs on the main thread.
  std::thread([&] {
    MainQueue::Post([&] { ran += 1; });
  }).join();
  MainQueue::RunPending();
  ASSERT_EQ(ran, 1);

  // A thread waits in Send while the window closes: it is let go, its procedure unrun.
  std::thread waiting([&] { MainQueue::Send([&] { ran += 100; }); });
  WaitForPostedMessage();
  // The download's completion arrives just before the close...
  std::thread([&] { MainQueue::Post([&] { ran += 1000; }); }).join();
  // ...and the window closes before the loop ran it: its wake-up still waits ahead of WM_QUIT.
  MainQueue::Stop();
  PostQuitMessage(0);
  RunLoopUntilQuit();
  waiting.join();
  EXPECT_EQ(ran, 1);

  // After the close, from any thread.
  std::thread([&] {
    MainQueue::Post([&] { ran += 10000; });
    MainQueue::Send([&] { ran += 10000; });
  }).join();
  MainQueue::Post([&] { ran += 10000; });
  MainQueue::Send([&] { ran += 10000; });
  MainQueue::RunPending();
  EXPECT_EQ(ran, 1);
}

}  // namespace
