// The main thread's side of background work, as the program's window runs it: a job on a thread
// of its own while this thread dispatches its messages and runs the main queue.
#pragma once

#include <functional>

// Initializes the main queue on the calling thread (which must be the main thread), runs job on
// a new thread and dispatches messages and queued procedures until job has ended; then runs
// whatever job posted last, so that everything it posted has run when this returns.
// An exception that leaves job is raised again here.
void RunWithMainLoop(const std::function<void()>& job);
