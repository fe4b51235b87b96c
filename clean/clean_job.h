// The clean's worker: every step as a function of its own, and the thread that runs them.
// The worker reads only the copies in TCleanJobData, so the window's lists may change meanwhile.
#pragma once

#include "base/handle.h"
#include "clean/process_table.h"
#include "base/list_rows.h"
#include "bundle/inventory.h"
#include "startup/autorun.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace nimbrel {

// What the worker works on; filled on the main thread when the clean starts.
struct TCleanJobData {
  TStringList FileWhite;             // copy of the window's file white list, exception rows included
  std::int64_t OldAvailMemory = -1;  // available physical memory at the click
  std::shared_ptr<TProcessList> Processes = std::make_shared<TProcessList>();  // written only by the worker
  // Copies of the Startup and Bundle pages' lists at the click, for the report; empty when the
  // page has not been opened. Reloads during the clean never reach them.
  std::optional<TAutorunList> Autorun;
  std::optional<TInstallList> Install;
  // Set when the clean is to stop (the window is closing): the steps give way as soon as they
  // can, and what they skip is not done at all. Owned by the job; never null while steps run.
  HANDLE Stop = nullptr;
};

// Waits Milliseconds unless Stop is set first; false when the clean is to stop. A null Stop
// never stops.
bool WaitUnlessStopped(HANDLE Stop, DWORD Milliseconds);

// Whether the marking pass marks a process: never the program itself, a process covered by the
// white list or one that Windows marks critical. One whose criticality cannot be read is marked.
bool ShouldMarkProcess(bool IsOwnProcess, bool IsProtected, std::optional<bool> IsCritical);

using TCriticalQuery = std::function<std::optional<bool>(const TProcessInfo& Info)>;
using TSessionQuery = std::function<bool(const TProcessInfo& Info)>;

// Marking pass, in list order: listed entries that ShouldMarkProcess chooses get StateMarked.
// A process that IsOtherSession places in another interactive session (another user's programs)
// counts as protected whatever the lists say: it stays listed and is never ended. IsOtherSession
// is asked only for processes the lists do not protect, IsCritical only for processes that the
// other rules would mark.
void MarkProcesses(TProcessList& List, const TStringList& FileWhite, DWORD OwnProcessId,
                   const TSessionQuery& IsOtherSession, const TCriticalQuery& IsCritical);

// The system's IsOtherSession: the process's session, read through its handle, against the
// program's own (IsOtherInteractiveSession). Reads the own session once, when called.
TSessionQuery OtherSessionQuery();

// Ending pass, in list order, without pausing: End for every marked entry that holds its process
// handle. An entry without one is never ended and stays marked (reported as still running).
void EndMarkedProcesses(TProcessList& List, const std::function<void(const TProcessInfo& Info)>& End);

inline constexpr int WaitRounds = 4;
inline constexpr DWORD WaitRoundMilliseconds = 1000;

// WaitRounds rounds unless the clean stops: each waits WaitRoundMilliseconds (Wait answers false
// when the clean is to stop, which ends the rounds at once), then every entry still marked that
// holds its process handle and that Running denies becomes StateEnded. Entries still running, and
// entries without a handle, stay marked. False when stopped.
bool WaitForMarkedProcesses(TProcessList& List, const std::function<bool(DWORD Milliseconds)>& Wait,
                            const std::function<bool(const TProcessInfo& Info)>& Running);

// The worker's steps with the real system, on the calling thread: collect, mark, end, wait,
// purge memory (its failures swallowed), build and send the report. Answers the report key,
// empty when there is none. Once Data.Stop is set no further step starts and the key is empty.
std::wstring RunCleanSteps(TCleanJobData& Data);

using TCleanSteps = std::function<std::wstring(TCleanJobData& Data)>;
// Main thread; receives the report key (empty when there is none).
using TCleanFinish = std::function<void(const std::wstring& Key)>;

// One clean job on a worker thread of its own. The job and its data are freed when both the
// worker and the last holder on the main thread have let go of them.
class TCleanJob : public std::enable_shared_from_this<TCleanJob> {
 public:
  // Main thread. Starts a worker that runs Steps on Data, then runs Finish with the key on the
  // main thread (through Synchronize) and waits for it. An exception of Steps counts as an empty
  // key. nullptr when no thread can be made (GetLastError tells why).
  static std::shared_ptr<TCleanJob> Start(TCleanJobData Data, TCleanFinish Finish, TCleanSteps Steps = RunCleanSteps);

  // Main thread: Finish will not run (the window is going away).
  void Abandon() noexcept { FAbandoned = true; }
  // Main thread: Finish will not run and the steps are told to stop (TCleanJobData::Stop).
  void Stop() noexcept;

  // Main thread: waits for the worker while serving its hand-over; true when it has finished.
  // Answers false at once when called from inside Finish, which the worker is waiting for.
  bool Wait(DWORD Milliseconds);

  [[nodiscard]] bool Finished() const noexcept { return FFinished; }
  // Main thread: true while Finish runs (the worker waits for it).
  [[nodiscard]] bool InFinish() const noexcept { return FInFinish; }

  TCleanJob(TCleanJobData Data, TCleanFinish Finish, TCleanSteps Steps);

 private:
  void Run();

  TCleanJobData FData;
  TCleanFinish FFinish;
  TCleanSteps FSteps;
  TOwnedHandle FThread;
  TOwnedHandle FStop;
  bool FAbandoned = false;    // main thread only
  bool FInFinish = false;     // main thread only
  std::atomic<bool> FFinished = false;
};

}  // namespace nimbrel
