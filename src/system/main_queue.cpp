#include "system/main_queue.h"
#include "system/errors.h"
#include "system/handles.h"
#include "system/win_error.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

namespace MainQueue {
namespace {

constexpr UINT WM_QUEUE_WAKE = WM_APP + 0x51;

// One entry of the queue: a posted procedure, which the queue owns, or a sent one, which
// belongs to the thread that waits for it.
struct TEntry {
  TEntry* Next = nullptr;
  std::function<void()> Posted;
  void (*SentProc)(void*) = nullptr;
  void* SentContext = nullptr;
  HANDLE SentDone = nullptr;
  std::exception_ptr SentFailure;
};

// What a thread sends with: made on its first Send and reused by every later one.
struct TSender {
  TEntry Entry;
  Sys::TKernelHandle Done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

void NTAPI FreeSender(void* sender) { delete static_cast<TSender*>(sender); }

// The calling thread's sender, made on its first Send and freed when the thread ends.
TSender* CurrentSender() {
  static const DWORD slot = FlsAlloc(FreeSender);
  auto* sender = static_cast<TSender*>(FlsGetValue(slot));
  if (!sender) {
    sender = new TSender;
    FlsSetValue(slot, sender);
  }
  return sender;
}

DWORD g_mainThreadId = 0;
HWND g_wakeWindow = nullptr;
std::mutex g_mutex;
// Entries in posting order.
TEntry* g_first = nullptr;
TEntry* g_last = nullptr;
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

// False when the queue has stopped: the entry was not queued.
bool Enqueue(TEntry* entry) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_stopped) return false;
    entry->Next = nullptr;
    (g_last ? g_last->Next : g_first) = entry;
    g_last = entry;
  }
  Wake();
  return true;
}

TEntry* Dequeue() {
  std::lock_guard<std::mutex> lock(g_mutex);
  TEntry* entry = g_first;
  if (entry) {
    g_first = entry->Next;
    if (!g_first) g_last = nullptr;
  }
  return entry;
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
  auto entry = std::make_unique<TEntry>();
  entry->Posted = std::move(proc);
  if (Enqueue(entry.get())) entry.release();
}

void Send(void (*proc)(void*), void* context) {
  if (IsMainThread()) {
    if (!g_stopped) proc(context);
    return;
  }
  TSender& sender = *CurrentSender();
  if (!sender.Done) throw Exception(SysErrorMessage(GetLastError()));
  TEntry& entry = sender.Entry;
  entry.SentProc = proc;
  entry.SentContext = context;
  entry.SentDone = sender.Done.Get();
  if (!Enqueue(&entry)) return;
  // Stop drops the entry unrun; its event then tells the waiting thread just the same.
  WaitForSingleObject(sender.Done.Get(), INFINITE);
  if (entry.SentFailure) std::rethrow_exception(std::exchange(entry.SentFailure, nullptr));
}

void RunPending() {
  g_wakePending = false;
  while (TEntry* entry = Dequeue()) {
    if (entry->SentProc) {
      try {
        entry->SentProc(entry->SentContext);
      } catch (...) {
        entry->SentFailure = std::current_exception();
      }
      // The sender reuses its entry as soon as it wakes: nothing touches it after this.
      SetEvent(entry->SentDone);
      continue;
    }
    const std::unique_ptr<TEntry> posted(entry);
    try {
      posted->Posted();
    } catch (...) {
      // A posted procedure has nobody to report to; the loop must go on.
      DebugReportCurrentException(L"posted procedure");
    }
  }
}

void Stop() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_stopped = true;
  while (TEntry* entry = g_first) {
    g_first = entry->Next;
    if (entry->SentProc)
      SetEvent(entry->SentDone);
    else
      delete entry;
  }
  g_last = nullptr;
}

}  // namespace MainQueue
