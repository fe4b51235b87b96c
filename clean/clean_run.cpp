// TCleanRun: exception files, copies and the start of the worker.
#include "clean/clean_run.h"

#include "clean/memory_status.h"

namespace nimbrel {

TCleanRun::TCleanRun() : FDefaultFiles(true), FSteps(RunCleanSteps) {}

TCleanRun::TCleanRun(std::vector<std::wstring> ExceptionFiles, TCleanSteps Steps, std::function<void()> EndProgram)
    : FExceptionFiles(std::move(ExceptionFiles)),
      FDefaultFiles(false),
      FSteps(std::move(Steps)),
      FEndProgram(std::move(EndProgram)) {}

TCleanRun::~TCleanRun() { StopWorker(); }

TCleanStart TCleanRun::Start(TStringList& FileWhite, std::shared_ptr<TProcessList> Processes, TCleanFinish Finish,
                             std::optional<TAutorunList> Autorun, std::optional<TInstallList> Install) {
  if (FState != TCleanState::Idle) return {TCleanStartStatus::NotIdle, {}};

  TCleanJobData Data;
  Data.OldAvailMemory = GetAvailMemory();
  TExceptionRows Exceptions = ReadExceptionFiles(FDefaultFiles ? ExceptionFilePaths() : FExceptionFiles);
  if (Exceptions.Error) return {TCleanStartStatus::FileUnreadable, *Exceptions.Error};

  Data.FileWhite = FileWhite;
  Data.FileWhite.insert(Data.FileWhite.end(), Exceptions.Rows.begin(), Exceptions.Rows.end());
  if (Processes) Data.Processes = std::move(Processes);
  Data.Autorun = std::move(Autorun);
  Data.Install = std::move(Install);

  auto OnFinish = [this, Finish = std::move(Finish)](const std::wstring& Key) {
    FState = TCleanState::Done;
    if (Finish) Finish(Key);
  };
  FJob = TCleanJob::Start(std::move(Data), std::move(OnFinish), FSteps);
  if (!FJob) {
    const DWORD Code = ::GetLastError();
    return {TCleanStartStatus::NoWorker, {L"", SystemErrorText(Code), Code}};
  }
  FileWhite.insert(FileWhite.end(), std::make_move_iterator(Exceptions.Rows.begin()),
                   std::make_move_iterator(Exceptions.Rows.end()));
  FState = TCleanState::Running;
  return {TCleanStartStatus::Started, {}};
}

void TCleanRun::Abandon() noexcept {
  if (FJob && !FJob->Finished() && !FJob->InFinish()) FJob->Stop();
}

void TCleanRun::StopWorker() {
  if (!FJob || FJob->Finished() || FJob->InFinish()) return;
  FJob->Stop();
  if (FJob->Wait(StopWaitMilliseconds) || FJob->Finished()) return;
  if (FEndProgram) {
    FEndProgram();
    return;
  }
  ::TerminateProcess(::GetCurrentProcess(), 0);
}

}  // namespace nimbrel
