// The one hand-over from a worker thread to the main thread.
#pragma once

#include <functional>

namespace nimbrel {

// Called once on the main thread at module start-up, before any worker starts.
void InitMainThread();

// True on the thread that called InitMainThread.
bool IsMainThread();

// Runs Proc on the main thread and waits for it to finish. On the main thread itself Proc runs
// at once. An exception thrown by Proc is raised again on the calling thread.
void Synchronize(const std::function<void()>& Proc);

// Waits for Handle on the main thread while still serving Synchronize calls of other threads,
// so that a worker that is being waited for can finish its hand-over. Returns the wait result.
unsigned long WaitServingMainThread(void* Handle, unsigned long Milliseconds);

}  // namespace nimbrel
