// The one hand-over from a worker thread to the main thread.
#pragma once

#include <functional>

namespace nimbrel {

// Called once on the main thread at module start-up, before any worker starts. Creates the
// main thread's hand-over window; later calls (on any thread) change nothing.
void InitMainThread();

// True on the thread that called InitMainThread.
bool IsMainThread();

// Runs Proc on the main thread and waits for it to finish. On the main thread itself Proc runs
// at once. An exception thrown by Proc is raised again on the calling thread. The main thread
// serves hand-overs whenever it takes messages (GetMessage, modal loops, WaitServingMainThread).
// Throws std::logic_error before InitMainThread; once the main thread has ended, Proc does not run.
void Synchronize(const std::function<void()>& Proc);

// Waits for Handle on the main thread while still serving Synchronize calls of other threads,
// so that a worker that is being waited for can finish its hand-over. Returns the wait result
// (WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED). On other threads a plain wait.
unsigned long WaitServingMainThread(void* Handle, unsigned long Milliseconds);

}  // namespace nimbrel
