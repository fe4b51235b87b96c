// The process table over Toolhelp snapshots, OpenProcess and the window list.
#include "clean/process_table.h"

#include "base/handle.h"

#include <tlhelp32.h>
#include <winternl.h>

namespace nimbrel {
namespace {

constexpr ULONG ProcessBreakOnTerminationClass = 29;

template <typename Visit>
bool WalkSnapshot(Visit&& Fn) {
  TOwnedHandle Snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!Snapshot) return false;
  PROCESSENTRY32W Entry{};
  Entry.dwSize = sizeof(Entry);
  for (BOOL More = ::Process32FirstW(Snapshot.get(), &Entry); More; More = ::Process32NextW(Snapshot.get(), &Entry)) {
    if (!Fn(Entry)) break;
  }
  return true;
}

}  // namespace

std::optional<std::vector<TSnapshotEntry>> TakeProcessSnapshot() {
  std::vector<TSnapshotEntry> Entries;
  const bool Taken = WalkSnapshot([&](const PROCESSENTRY32W& Entry) {
    Entries.push_back({Entry.th32ProcessID, std::wstring(Entry.szExeFile)});
    return true;
  });
  if (!Taken) return std::nullopt;
  return Entries;
}

void AppendProcesses(TProcessList& List, const std::vector<TSnapshotEntry>& Snapshot, const TProcessLookups& Lookups) {
  for (const auto& Entry : Snapshot) {
    if (Entry.ProcessID == 0) continue;
    TProcessInfo Info;
    Info.ProcessID = Entry.ProcessID;
    Info.Process = Lookups.Open(Entry.ProcessID);
    Info.Handle = Lookups.Window(Entry.ProcessID);
    if (Info.Process) Info.FileName = Lookups.FileName(Info.Process.get());
    if (Info.FileName.empty()) Info.FileName = Entry.ExeFile;
    List.push_back(std::move(Info));
  }
}

TSharedProcess OpenProcessShared(DWORD ProcessId) {
  static constexpr DWORD Rights[] = {PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                     PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                     PROCESS_QUERY_LIMITED_INFORMATION};
  for (const DWORD Access : Rights) {
    if (HANDLE Process = ::OpenProcess(Access, FALSE, ProcessId))
      return TSharedProcess(Process, [](HANDLE Owned) { ::CloseHandle(Owned); });
  }
  return nullptr;
}

std::unordered_map<DWORD, HWND> TopLevelWindowsByProcess() {
  std::unordered_map<DWORD, HWND> Windows;
  ::EnumWindows(
      [](HWND Window, LPARAM Param) -> BOOL {
        // Top-level windows only; an owned one (a dialog, a tool window) is not the process's window.
        if (::GetWindow(Window, GW_OWNER) != nullptr) return TRUE;
        DWORD ProcessId = 0;
        if (::GetWindowThreadProcessId(Window, &ProcessId) != 0)
          reinterpret_cast<std::unordered_map<DWORD, HWND>*>(Param)->try_emplace(ProcessId, Window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&Windows));
  return Windows;
}

void CollectProcesses(TProcessList& List) {
  auto Snapshot = TakeProcessSnapshot();
  if (!Snapshot) return;
  const auto Windows = TopLevelWindowsByProcess();
  const auto WindowOf = [&](DWORD ProcessId) -> HWND {
    const auto Found = Windows.find(ProcessId);
    return Found != Windows.end() ? Found->second : nullptr;
  };
  AppendProcesses(List, *Snapshot,
                  {OpenProcessShared, ProcessFileName, WindowOf});
}

std::wstring ProcessFileName(HANDLE Process) {
  if (Process == nullptr) return {};
  // Long paths are read whole: a cut path would miss the path rows of the white list.
  for (DWORD Capacity = MAX_PATH; Capacity <= 32768; Capacity *= 4) {
    std::wstring Buffer(Capacity, L'\0');
    DWORD Size = Capacity;
    if (::QueryFullProcessImageNameW(Process, 0, Buffer.data(), &Size)) {
      Buffer.resize(Size);
      return Buffer.substr(0, Buffer.find(L'\0'));
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return {};
}

std::wstring GetProcessFileName(DWORD ProcessId) {
  TOwnedHandle Process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessId));
  return ProcessFileName(Process.get());
}

std::optional<DWORD> ProcessSession(HANDLE Process) {
  if (Process == nullptr) return std::nullopt;
  // PROCESS_SESSION_INFORMATION: the session id alone; PROCESS_QUERY_LIMITED_INFORMATION suffices.
  ULONG Session = 0;
  const NTSTATUS Status = ::NtQueryInformationProcess(Process, ProcessSessionInformation, &Session, sizeof(Session), nullptr);
  if (Status < 0) return std::nullopt;
  return static_cast<DWORD>(Session);
}

bool IsOtherInteractiveSession(std::optional<DWORD> Session, std::optional<DWORD> OwnSession) noexcept {
  return Session && OwnSession && *Session != 0 && *Session != *OwnSession;
}

HWND FindProcessWindow(DWORD ProcessId) {
  const auto Windows = TopLevelWindowsByProcess();
  const auto Found = Windows.find(ProcessId);
  return Found != Windows.end() ? Found->second : nullptr;
}

bool ProcessExists(DWORD ProcessId) {
  bool Found = false;
  WalkSnapshot([&](const PROCESSENTRY32W& Entry) {
    Found = Entry.th32ProcessID == ProcessId;
    return !Found;
  });
  return Found;
}

void EndProcess(DWORD ProcessId) {
  if (ProcessId == 0 || ProcessId == ::GetCurrentProcessId()) return;
  TOwnedHandle Process(::OpenProcess(PROCESS_TERMINATE, FALSE, ProcessId));
  if (Process) ::TerminateProcess(Process.get(), 0);
}

std::optional<bool> IsCriticalProcessHandle(HANDLE Process) {
  if (Process == nullptr) return std::nullopt;
  using TIsProcessCritical = BOOL(WINAPI*)(HANDLE, PBOOL);
  static const auto IsCritical = reinterpret_cast<TIsProcessCritical>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsProcessCritical"));
  if (IsCritical != nullptr) {
    BOOL Critical = FALSE;
    if (IsCritical(Process, &Critical)) return Critical != FALSE;
  }
  ULONG BreakOnTermination = 0;
  const NTSTATUS Status = ::NtQueryInformationProcess(Process, static_cast<PROCESSINFOCLASS>(ProcessBreakOnTerminationClass),
                                                      &BreakOnTermination, sizeof(BreakOnTermination), nullptr);
  if (Status < 0) return std::nullopt;
  return BreakOnTermination != 0;
}

std::optional<bool> IsCriticalProcess(DWORD ProcessId) {
  TOwnedHandle Process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ProcessId));
  if (!Process) Process.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessId));
  return IsCriticalProcessHandle(Process.get());
}

void EndProcessHandle(HANDLE Process) {
  if (Process == nullptr || ::GetProcessId(Process) == ::GetCurrentProcessId()) return;
  ::TerminateProcess(Process, 0);
}

bool ProcessRunning(HANDLE Process) {
  if (Process == nullptr) return true;
  const DWORD Wait = ::WaitForSingleObject(Process, 0);
  if (Wait == WAIT_OBJECT_0) return false;
  if (Wait == WAIT_TIMEOUT) return true;
  // Opened without SYNCHRONIZE: the exit code tells.
  DWORD Code = 0;
  return !::GetExitCodeProcess(Process, &Code) || Code == STILL_ACTIVE;
}

}  // namespace nimbrel
