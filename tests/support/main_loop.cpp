#include "support/main_loop.h"

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <thread>

#include "system/main_queue.h"

void RunWithMainLoop(const std::function<void()>& job) {
  MainQueue::Initialize();
  if (!MainQueue::IsMainThread()) throw std::logic_error("RunWithMainLoop: not on the main thread");
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ended) throw std::runtime_error("RunWithMainLoop: CreateEvent failed");
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      job();
    } catch (...) {
      failure = std::current_exception();
    }
    SetEvent(ended);
  });
  // Woken by the job's end or by any message, the main queue's wake-up among them.
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &ended, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MainQueue::RunPending();
  }
  worker.join();
  CloseHandle(ended);
  MainQueue::RunPending();
  if (failure) std::rethrow_exception(failure);
}
