#include "system/main_queue.h"

#include "system/handles.h"
#include "system/win_error.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <exception>
#include <mutex>

namespace MainQueue {
namespace {

constexpr UINT WM_QUEUE_WAKE = WM_APP + 0x51;

DWORD g_mainThreadId = 0;
HWND g_wakeWindow = nullptr;
std::mutex g_mutex;
// A queued procedure; Send's carry the event its caller waits for, which Stop sets as well.
struct TItem {
  std::function<void()> Proc;
  HANDLE Done = nullptr;
};
std::deque<TItem> g_queue;
// One wake-up message in flight is enough: it runs everything queued. This keeps the thread's
// message queue from overflowing when thousands of procedures are posted.
std::atomic<bool> g_wakePending{false};
// Set once by Stop; read under g_mutex, and on the main thread without it.
bool g_stopped = false;

LRESULT CALLBACK WakeWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_QUEUE_WAKE) {
    RunPending();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Wake() {
  if (!g_wakePending.exchange(true)) {
    if (!PostMessageW(g_wakeWindow, WM_QUEUE_WAKE, 0, 0)) g_wakePending = false;
  }
}

}  // namespace

void Initialize() {
  if (g_wakeWindow) return;
  g_mainThreadId = GetCurrentThreadId();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WakeWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"MorvaneMainQueue";
  RegisterClassExW(&wc);
  g_wakeWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

bool IsMainThread() { return GetCurrentThreadId() == g_mainThreadId; }

void Post(std::function<void()> proc) {
  if (IsMainThread()) {
    if (!g_stopped) proc();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_stopped) return;
    g_queue.push_back({std::move(proc), nullptr});
  }
  Wake();
}

void Send(const std::function<void()>& proc) {
  if (IsMainThread()) {
    if (!g_stopped) proc();
    return;
  }
  const Sys::TKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::exception_ptr failure;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_stopped) return;
    g_queue.push_back({[&] {
                         try {
                           proc();
                         } catch (...) {
                           failure = std::current_exception();
                         }
                         SetEvent(done.Get());
                       },
                       done.Get()});
  }
  Wake();
  // Stop drops the procedure unrun; the event then tells the waiting thread just the same.
  WaitForSingleObject(done.Get(), INFINITE);
  if (failure) std::rethrow_exception(failure);
}

void RunPending() {
  g_wakePending = false;
  for (;;) {
    std::function<void()> proc;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_queue.empty()) return;
      proc = std::move(g_queue.front().Proc);
      g_queue.pop_front();
    }
    try {
      proc();
    } catch (...) {
      // A posted procedure has nobody to report to; the loop must go on.
      DebugReportCurrentException(L"posted procedure");
    }
  }
}

void Stop() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_stopped = true;
  for (const TItem& item : g_queue) {
    if (item.Done) SetEvent(item.Done);
  }
  g_queue.clear();
}

}  // namespace MainQueue
