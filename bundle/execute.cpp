// Execute and its waiting thread; ExecuteUninstall.
#include "bundle/execute.h"

#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <memory>

#include "base/handle.h"
#include "base/paths.h"
#include "base/shell_open.h"
#include "base/sync.h"

namespace nimbrel {
namespace {

struct TWaitJob {
  TOwnedHandle Process;
  TExecuteProc Proc;
};

// The waiting thread: owns its job and frees it when it ends.
DWORD WINAPI WaitForProcess(void* Data) {
  const std::unique_ptr<TWaitJob> Job(static_cast<TWaitJob*>(Data));
  if (::WaitForSingleObject(Job->Process.get(), INFINITE) != WAIT_OBJECT_0 || !Job->Proc) return 0;
  try {
    Synchronize(Job->Proc);
  } catch (...) {
    // Raised again here by the hand-over; the application's handler hears of it on the main thread.
    Queue([Error = std::current_exception()] { std::rethrow_exception(Error); });
  }
  return 0;
}

}  // namespace

void Execute(const std::wstring& File, const std::wstring& Parameters, int Show, TExecuteProc Proc) {
  SHELLEXECUTEINFOW ExeInfo{};
  ExeInfo.cbSize = sizeof(ExeInfo);
  ExeInfo.fMask = SEE_MASK_NOCLOSEPROCESS;  // without SEE_MASK_FLAG_NO_UI: the shell shows its errors
  ExeInfo.lpVerb = L"Open";
  ExeInfo.lpFile = File.c_str();
  ExeInfo.lpParameters = Parameters.c_str();
  ExeInfo.nShow = Show;
  if (::ShellExecuteExW(&ExeInfo) && ExeInfo.hProcess != nullptr) {
    auto Job = std::make_unique<TWaitJob>(TWaitJob{TOwnedHandle(ExeInfo.hProcess), std::move(Proc)});
    const TOwnedHandle Thread(::CreateThread(nullptr, 0, &WaitForProcess, Job.get(), 0, nullptr));
    if (Thread) {
      (void)Job.release();  // the thread frees it
      return;
    }
    // No thread to wait with: the program runs on, and Proc is not held back for ever.
    Proc = std::move(Job->Proc);
  }
  if (Proc) Proc();
}

void Execute(const std::wstring& CommandLine, int Show, TExecuteProc Proc) {
  const TCommandLineParts Parts = SplitCommandLine(CommandLine);
  Execute(Parts.Path, Parts.Arguments, Show, std::move(Proc));
}

void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc,
                      const TShellAsUser& AsUser) {
  if (FromCurrentUser && AsUser) {
    const TCommandLineParts Parts = SplitCommandLine(CommandLine);
    if (AsUser(Parts.Path, Parts.Arguments)) {
      if (Proc) Proc();
      return;
    }
  }
  Execute(CommandLine, Show, std::move(Proc));
}

void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc) {
  ExecuteUninstall(CommandLine, FromCurrentUser, Show, std::move(Proc), ShellExecuteAsUser);
}

}  // namespace nimbrel
