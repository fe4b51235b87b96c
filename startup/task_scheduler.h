// The Task Scheduler as the autostart code sees it: the tasks of the root folder and switching
// one. One process-wide connection, guarded by TaskServiceLock; a test may put its own scheduler
// in place of the real one.
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace nimbrel {

class TTaskScheduler {
 public:
  virtual ~TTaskScheduler() = default;
  // Calls Visit for each task directly in the root folder, hidden ones left out, in the service's
  // order. The first failure ends the walk quietly; the tasks visited before it stay visited.
  // The caller holds TaskServiceLock.
  virtual void WalkRootTasks(const std::function<void(const std::wstring& Name, bool Enabled)>& Visit) = 0;
  // Switches the root-folder task Path ("\" and its name). A task that is not found, or any
  // failure, changes nothing and is not reported. The caller holds TaskServiceLock.
  virtual void SetTaskEnabled(const std::wstring& Path, bool Enabled) = 0;
};

// Module start-up (main thread, before any worker runs): makes TaskServiceLock. Later calls
// change nothing.
void CreateTaskServiceLock();
// The lock around every use of the shared connection; made by the first call at the latest and
// freed at program end.
std::mutex& TaskServiceLock();

// Makes and connects the shared ITaskService when it does not exist yet; a failure leaves it
// absent and a later call tries again. The caller holds TaskServiceLock. True when it exists.
// A worker thread calls it with COM initialised for the multithreaded apartment (its own scope
// for the thread's life); a thread without COM gets it initialised until DisconnectTaskService,
// so only the thread that calls that at program end may come without.
bool ConnectTaskService();
// Program end: releases the connection (and COM, when ConnectTaskService initialised it).
// Harmless when nothing was connected.
void DisconnectTaskService();

// The scheduler the collection and the switch use: the real one over the shared connection,
// unless a test put another in place.
TTaskScheduler& TaskScheduler();
// Puts Scheduler in place of the real one (nullptr: the real one again) and returns the previous
// replacement. For tests; main thread.
TTaskScheduler* ReplaceTaskScheduler(TTaskScheduler* Scheduler) noexcept;

}  // namespace nimbrel
