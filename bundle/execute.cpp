// Execute and its waiting thread; ExecuteUninstall; where a command's program is taken from.
#include "bundle/execute.h"

#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <memory>

#include "locale/translate.h"
#include "base/ascii.h"
#include "base/handle.h"
#include "base/paths.h"
#include "base/shell_open.h"
#include "base/sync.h"
#include "base/system_api.h"
#include "base/system_error.h"
#include "base/system_library.h"
#include "base/thread.h"
#include "widgets/application.h"

namespace nimbrel {
namespace {

// Whether Path names its drive and its folder from the root: "X:\" (or "X:/") or a network or
// device path beginning with two separators.
bool IsFullPath(const std::wstring& Path) {
  const auto IsSeparator = [](wchar_t C) { return C == L'\\' || C == L'/'; };
  if (Path.size() >= 2 && IsSeparator(Path[0]) && IsSeparator(Path[1])) return true;
  const wchar_t Drive = AsciiUpper(Path.empty() ? L'\0' : Path[0]);
  return Path.size() >= 3 && Drive >= L'A' && Drive <= L'Z' && Path[1] == L':' && IsSeparator(Path[2]);
}

// Environment variables of Text expanded; Text itself when it holds none or they cannot be.
std::wstring ExpandVariables(const std::wstring& Text) {
  if (Text.find(L'%') == std::wstring::npos) return Text;
  const DWORD Needed = ::ExpandEnvironmentStringsW(Text.c_str(), nullptr, 0);
  if (Needed == 0) return Text;
  std::wstring Expanded(Needed, L'\0');
  const DWORD Written = ::ExpandEnvironmentStringsW(Text.c_str(), Expanded.data(), Needed);
  if (Written == 0 || Written > Needed) return Text;
  Expanded.resize(Written - 1);
  return Expanded;
}

// Tells the user that Program is not started. Main thread.
void ReportRefused(const std::wstring& Program) {
  const std::wstring Text = Translate(L"윈도우 폴더에서 프로그램을 찾을 수 없습니다.") + L"\r\n\r\n" + Program;
  ShowMessageBox(::GetActiveWindow(), Text, Translate(L"님브렐"), MB_OK | MB_ICONWARNING);
}

struct TWaitJob {
  TOwnedHandle Process;
  TExecuteProc Proc;
};

// The waiting thread's work: Proc on the main thread once the process has ended.
void WaitForProcess(TWaitJob& Job) {
  if (::WaitForSingleObject(Job.Process.get(), INFINITE) != WAIT_OBJECT_0 || !Job.Proc) return;
  try {
    Synchronize(Job.Proc);
  } catch (...) {
    // Raised again here by the hand-over; the application's handler hears of it on the main thread.
    Queue([Error = std::current_exception()] { std::rethrow_exception(Error); });
  }
}

// Execute for a program already resolved.
void StartResolved(const std::wstring& File, const std::wstring& Parameters, int Show, TExecuteProc Proc) {
  SHELLEXECUTEINFOW ExeInfo{};
  ExeInfo.cbSize = sizeof(ExeInfo);
  ExeInfo.fMask = SEE_MASK_NOCLOSEPROCESS;  // without SEE_MASK_FLAG_NO_UI: the shell shows its errors
  ExeInfo.lpVerb = L"Open";
  ExeInfo.lpFile = File.c_str();
  ExeInfo.lpParameters = Parameters.c_str();
  ExeInfo.nShow = Show;
  JoinComApartment();  // the shell may hand the start over to COM handlers
  const bool Started = api::ShellExecuteExW(&ExeInfo) != FALSE;
  if (!Started && !api::Available("ShellExecuteExW")) {
    const std::wstring Text = Translate(L"오류가 발생했습니다.") + L"\r\n\r\n" + File + L"\r\n" +
                              SystemErrorText(ERROR_PROC_NOT_FOUND);
    ShowMessageBox(::GetActiveWindow(), Text, Translate(L"님브렐"), MB_OK | MB_ICONWARNING);
  } else if (Started && ExeInfo.hProcess != nullptr) {
    const auto Job = std::make_shared<TWaitJob>(TWaitJob{TOwnedHandle(ExeInfo.hProcess), std::move(Proc)});
    if (StartThread([Job] { WaitForProcess(*Job); })) return;
    // No thread to wait with: the program runs on, and Proc is not held back for ever.
    Proc = std::move(Job->Proc);
  }
  if (Proc) Proc();
}

}  // namespace

std::wstring ResolveProgram(const std::wstring& Program, const std::vector<std::wstring>& Folders,
                            const std::function<bool(const std::wstring& File)>& Exists) {
  if (IsFullPath(Program)) return Program;
  if (Program.empty() || Program.find_first_of(L"\\/:") != std::wstring::npos) return {};
  const std::wstring Name = Program.find(L'.') == std::wstring::npos ? Program + L".exe" : Program;
  for (const std::wstring& Folder : Folders) {
    if (Folder.empty()) continue;
    const std::wstring File = Folder.back() == L'\\' ? Folder + Name : Folder + L'\\' + Name;
    if (Exists(File)) return File;
  }
  return {};
}

std::wstring ResolveProgram(const std::wstring& Program) {
  return ResolveProgram(ExpandVariables(Program), {SystemFolder(), WindowsFolder()}, FileExists);
}

void Execute(const std::wstring& File, const std::wstring& Parameters, int Show, TExecuteProc Proc) {
  const std::wstring Program = ResolveProgram(File);
  if (Program.empty()) {
    ReportRefused(File);
    if (Proc) Proc();
    return;
  }
  StartResolved(Program, Parameters, Show, std::move(Proc));
}

void Execute(const std::wstring& CommandLine, int Show, TExecuteProc Proc) {
  const TCommandLineParts Parts = SplitCommandLine(CommandLine);
  Execute(Parts.Path, Parts.Arguments, Show, std::move(Proc));
}

void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc,
                      const TShellAsUser& AsUser) {
  const TCommandLineParts Parts = SplitCommandLine(CommandLine);
  const std::wstring Program = ResolveProgram(Parts.Path);
  if (Program.empty()) {
    ReportRefused(Parts.Path);
  } else if (!(FromCurrentUser && AsUser && JoinComApartment() && AsUser(Program, Parts.Arguments))) {
    StartResolved(Program, Parts.Arguments, Show, std::move(Proc));
    return;
  }
  if (Proc) Proc();
}

void ExecuteUninstall(const std::wstring& CommandLine, bool FromCurrentUser, int Show, TExecuteProc Proc) {
  ExecuteUninstall(CommandLine, FromCurrentUser, Show, std::move(Proc), ShellExecuteAsUser);
}

}  // namespace nimbrel
