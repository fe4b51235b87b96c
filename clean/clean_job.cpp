// The clean job's steps and its worker thread.
#include "clean/clean_job.h"

#include "base/sync.h"
#include "base/thread.h"
#include "clean/clean_report.h"
#include "clean/memory_purge.h"

namespace nimbrel {

bool ShouldMarkProcess(bool IsOwnProcess, bool IsProtected, std::optional<bool> IsCritical) {
  return !IsOwnProcess && !IsProtected && IsCritical != true;
}

void MarkProcesses(TProcessList& List, const TStringList& FileWhite, DWORD OwnProcessId,
                   const TSessionQuery& IsOtherSession, const TCriticalQuery& IsCritical) {
  for (auto& Info : List) {
    if (Info.State != StateListed) continue;
    const bool Own = Info.ProcessID == OwnProcessId;
    const bool Protected = !Own && (MatchesList(FileWhite, Info.FileName, true) || IsOtherSession(Info));
    const std::optional<bool> Critical = (Own || Protected) ? std::nullopt : IsCritical(Info);
    if (ShouldMarkProcess(Own, Protected, Critical)) Info.State = StateMarked;
  }
}

TSessionQuery OtherSessionQuery() {
  return [Own = ProcessSession(::GetCurrentProcess())](const TProcessInfo& Info) {
    return IsOtherInteractiveSession(ProcessSession(Info.Process.get()), Own);
  };
}

void EndMarkedProcesses(TProcessList& List, const std::function<void(const TProcessInfo&)>& End) {
  for (const auto& Info : List)
    if (Info.State == StateMarked && Info.Process) End(Info);
}

bool WaitUnlessStopped(HANDLE Stop, DWORD Milliseconds) {
  if (Stop == nullptr) {
    ::Sleep(Milliseconds);
    return true;
  }
  return ::WaitForSingleObject(Stop, Milliseconds) == WAIT_TIMEOUT;
}

bool WaitForMarkedProcesses(TProcessList& List, const std::function<bool(DWORD)>& Wait,
                            const std::function<bool(const TProcessInfo&)>& Running) {
  for (int Round = 0; Round < WaitRounds; ++Round) {
    if (!Wait(WaitRoundMilliseconds)) return false;
    for (auto& Info : List)
      if (Info.State == StateMarked && Info.Process && !Running(Info)) Info.State = StateEnded;
  }
  return true;
}

std::wstring RunCleanSteps(TCleanJobData& Data) {
  if (!Data.Processes) Data.Processes = std::make_shared<TProcessList>();
  TProcessList& List = *Data.Processes;
  auto Stopped = [&] { return !WaitUnlessStopped(Data.Stop, 0); };
  CollectProcesses(List);
  if (Stopped()) return {};
  MarkProcesses(List, Data.FileWhite, ::GetCurrentProcessId(), OtherSessionQuery(),
                [](const TProcessInfo& Info) { return IsCriticalProcessHandle(Info.Process.get()); });
  EndMarkedProcesses(List, [](const TProcessInfo& Info) { EndProcessHandle(Info.Process.get()); });
  const auto Wait = [&](DWORD Milliseconds) { return WaitUnlessStopped(Data.Stop, Milliseconds); };
  if (!WaitForMarkedProcesses(List, Wait, [](const TProcessInfo& Info) { return ProcessRunning(Info.Process.get()); }))
    return {};
  try {
    PurgeMemory(CleanPurgeMode);
  } catch (...) {
    // A failed purge does not stop the clean.
  }
  if (Stopped()) return {};
  return BuildAndSendReport(Data);
}

TCleanJob::TCleanJob(TCleanJobData Data, TCleanFinish Finish, TCleanSteps Steps)
    : FData(std::move(Data)), FFinish(std::move(Finish)), FSteps(std::move(Steps)) {}

std::shared_ptr<TCleanJob> TCleanJob::Start(TCleanJobData Data, TCleanFinish Finish, TCleanSteps Steps) {
  auto Job = std::make_shared<TCleanJob>(std::move(Data), std::move(Finish), std::move(Steps));
  Job->FStop.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!Job->FStop) return nullptr;
  Job->FData.Stop = Job->FStop.get();
  // The worker holds a reference of its own until it ends.
  Job->FThread = StartThread([Job] { Job->Run(); });
  return Job->FThread ? Job : nullptr;
}

void TCleanJob::Run() {
  std::wstring Key;
  try {
    Key = FSteps(FData);
  } catch (...) {
    Key.clear();
  }
  try {
    Synchronize([&] {
      if (FAbandoned || !FFinish) return;
      FInFinish = true;
      try {
        FFinish(Key);
      } catch (...) {
        FInFinish = false;
        throw;
      }
      FInFinish = false;
    });
  } catch (...) {
    // The finishing step failed on the main thread; the worker has nothing left to do.
  }
  FFinished = true;
}

void TCleanJob::Stop() noexcept {
  FAbandoned = true;
  ::SetEvent(FStop.get());
}

bool TCleanJob::Wait(DWORD Milliseconds) {
  if (FInFinish) return false;
  return WaitServingMainThread(FThread.get(), Milliseconds) == WAIT_OBJECT_0;
}

}  // namespace nimbrel
