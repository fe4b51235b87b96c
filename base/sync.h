// The one hand-over from a worker thread to the main thread.
#pragma once

#include <exception>
#include <functional>

namespace nimbrel {

// Called once on the main thread at module start-up, before any worker starts. Creates the
// main thread's hand-over window; later calls (on any thread) change nothing.
void InitMainThread();

// True on the thread that called InitMainThread.
bool IsMainThread();

// Runs Proc on the main thread and waits for it to finish. On the main thread itself Proc runs
// at once. The request is posted to the hand-over window, never sent, so Proc runs outside any
// sent message (COM calls and the shell work there) whenever the main thread dispatches
// messages: its message loop, modal loops (message boxes, menus, dialogs) and
// WaitServingMainThread. An exception thrown by Proc is raised again on the calling thread.
// Throws std::logic_error before InitMainThread. When the main thread has ended or ends before
// serving the request, the call returns and Proc does not run.
void Synchronize(const std::function<void()>& Proc);

// Posts Proc to the main thread and returns at once; Proc runs later in the main thread's
// message loop (also on the main thread itself: never nested in the caller). An exception it
// throws goes to the application's error handler when one is set, else it is dropped. False when
// it could not be posted (InitMainThread has not run, or the main thread is gone).
bool Queue(std::function<void()> Proc);

// Where exceptions of queued functions go (the application's handler). Main thread.
using TQueueErrorHandler = void (*)(std::exception_ptr Error);
void SetQueueErrorHandler(TQueueErrorHandler Handler) noexcept;

// Waits for Handle on the main thread while still serving hand-over requests (Synchronize and
// Queue) and nothing else, so that a worker being waited for can finish its hand-over; other
// messages stay queued. Returns the wait result (WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED). On
// other threads a plain wait.
unsigned long WaitServingMainThread(void* Handle, unsigned long Milliseconds);

}  // namespace nimbrel
