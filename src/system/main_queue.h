// The main thread's queue: the only way background work reaches the window.
//
// Any thread posts a procedure and returns at once; the main thread runs posted procedures one
// after the other in posting order, when woken and whenever its message loop runs out of
// messages. Modal loops (a dragged window, a message box) keep running them, since the wake-up
// is a message to a window of the main thread.
#pragma once

#include <functional>
#include <type_traits>

namespace MainQueue {

// Called once on the main thread before anything is posted.
void Initialize();
bool IsMainThread();

// Runs proc at once when called on the main thread; otherwise queues it and returns at once.
void Post(std::function<void()> proc);
// Runs proc(context) on the main thread and returns when it has run (at once on the main
// thread). An exception raised by proc is raised again in the caller. Allocates nothing: every
// thread reuses one queue entry and one event of its own.
void Send(void (*proc)(void*), void* context);
// The same for any callable, which stays the caller's.
template <typename TProc>
void Send(TProc&& proc) {
  using TCallable = std::remove_reference_t<TProc>;
  Send([](void* callable) { (*static_cast<TCallable*>(callable))(); },
       const_cast<void*>(static_cast<const void*>(&proc)));
}
// Runs every procedure queued so far; main thread only.
void RunPending();
// The main window has closed: procedures still queued are dropped and later ones never run
// (Send then returns without running its procedure). Main thread only; cannot be undone.
void Stop();

}  // namespace MainQueue
