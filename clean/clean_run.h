// What the Clean button calls: starting one clean per program run, without any window code.
// Main thread only.
#pragma once

#include "clean/clean_job.h"
#include "clean/exception_files.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nimbrel {

enum class TCleanState {
  Idle,     // no clean yet, or the last start failed
  Running,  // the worker runs
  Done,     // the finishing step has been handed the key; there is no way back to idle
};

enum class TCleanStartStatus {
  Started,         // the worker runs
  NotIdle,         // a clean runs or has run: nothing happened
  FileUnreadable,  // an exception file exists but could not be read: nothing appended or started
  NoWorker,        // no worker thread could be made: nothing appended or started
};

struct TCleanStart {
  TCleanStartStatus Status = TCleanStartStatus::Started;
  TExceptionFileError Error;  // FileUnreadable: the file, the system's reason and code; NoWorker: reason and code
};

class TCleanRun {
 public:
  // The exception files of ExceptionFilePaths and the real worker steps.
  TCleanRun();
  // Given exception files and steps, for tests. EndProgram replaces ending the process when a
  // stopped worker does not finish in time (nullptr: end it).
  TCleanRun(std::vector<std::wstring> ExceptionFiles, TCleanSteps Steps, std::function<void()> EndProgram = nullptr);
  ~TCleanRun();
  TCleanRun(const TCleanRun&) = delete;
  TCleanRun& operator=(const TCleanRun&) = delete;

  // From Idle only. Notes the available memory, reads both exception files (all or nothing),
  // starts the worker on a copy of FileWhite with their rows appended and on Processes, and
  // then appends the same rows to FileWhite. Finish receives the report key on the main thread.
  // Autorun and Install are the pages' lists as they are at the click (empty: page not opened).
  TCleanStart Start(TStringList& FileWhite, std::shared_ptr<TProcessList> Processes, TCleanFinish Finish,
                    std::optional<TAutorunList> Autorun = std::nullopt, std::optional<TInstallList> Install = std::nullopt);

  [[nodiscard]] TCleanState State() const noexcept { return FState; }

  // For the window starting to go away: Finish is dropped and the worker is told to stop; returns
  // at once (StopWorker then waits for it). Nothing when no worker runs or when called from Finish.
  void Abandon() noexcept;
  // For the window going away while a clean runs: Finish is dropped, the worker is told to stop
  // and is waited for up to StopWaitMilliseconds (serving its hand-overs). A worker still busy
  // then ends the whole program at once (TerminateProcess: no destructor runs under a live
  // worker, and the single-instance name is free again). Returns at once when no worker runs or
  // when called from Finish.
  void StopWorker();
  static constexpr DWORD StopWaitMilliseconds = 1000;

 private:
  std::vector<std::wstring> FExceptionFiles;
  bool FDefaultFiles;
  TCleanSteps FSteps;
  std::function<void()> FEndProgram;
  TCleanState FState = TCleanState::Idle;
  std::shared_ptr<TCleanJob> FJob;
};

}  // namespace nimbrel
