// The Task Scheduler as the autostart code sees it: the tasks of the root folder and switching
// one. One process-wide connection, guarded by TaskServiceLock and used only in the
// multithreaded apartment, where it is made (UseTaskScheduler); a test may put its own scheduler
// in place of the real one.
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace nimbrel {

class TTaskScheduler {
 public:
  virtual ~TTaskScheduler() = default;
  // Both are called through UseTaskScheduler: under TaskServiceLock, on a thread in the
  // multithreaded apartment.

  // Calls Visit for each task directly in the root folder, hidden ones left out, in the service's
  // order. The first failure ends the walk quietly; the tasks visited before it stay visited.
  virtual void WalkRootTasks(const std::function<void(const std::wstring& Name, bool Enabled)>& Visit) = 0;
  // Switches the root-folder task Path ("\" and its name). A task that is not found, or any
  // failure, changes nothing and is not reported.
  virtual void SetTaskEnabled(const std::wstring& Path, bool Enabled) = 0;
};

// Module start-up (main thread, before any worker runs): makes TaskServiceLock. Later calls
// change nothing.
void CreateTaskServiceLock();
// The lock around every use of the shared connection; made by the first call at the latest and
// freed at program end.
std::mutex& TaskServiceLock();

// Runs Use with TaskScheduler() under TaskServiceLock in the multithreaded apartment: on the
// calling thread when it is in that apartment or has no COM yet (initialised for the call), else
// (a single-threaded apartment, such as the main thread's) on a thread of its own, which the
// caller waits for without running any message. An exception of Use is raised again here; when
// no thread can be made, Use does not run. Any thread.
void UseTaskScheduler(const std::function<void(TTaskScheduler& Scheduler)>& Use);

// Program end, once no worker uses the scheduler: releases the shared connection in its
// apartment. Harmless when nothing was connected.
void DisconnectTaskService();

// The scheduler the collection and the switch use: the real one over the shared connection,
// unless a test put another in place.
TTaskScheduler& TaskScheduler();
// Puts Scheduler in place of the real one (nullptr: the real one again) and returns the previous
// replacement. For tests; main thread.
TTaskScheduler* ReplaceTaskScheduler(TTaskScheduler* Scheduler) noexcept;

}  // namespace nimbrel
