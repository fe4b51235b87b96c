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
    Info.Handle = Lookups.Window(Entry.ProcessID);
    Info.FileName = Lookups.FileName(Entry.ProcessID);
    if (Info.FileName.empty()) Info.FileName = Entry.ExeFile;
    List.push_back(std::move(Info));
  }
}

void CollectProcesses(TProcessList& List) {
  if (auto Snapshot = TakeProcessSnapshot()) AppendProcesses(List, *Snapshot, {GetProcessFileName, FindProcessWindow});
}

std::wstring GetProcessFileName(DWORD ProcessId) {
  TOwnedHandle Process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessId));
  if (!Process) return {};
  // Long paths are read whole: a cut path would miss the path rows of the white list.
  for (DWORD Capacity = MAX_PATH; Capacity <= 32768; Capacity *= 4) {
    std::wstring Buffer(Capacity, L'\0');
    DWORD Size = Capacity;
    if (::QueryFullProcessImageNameW(Process.get(), 0, Buffer.data(), &Size)) {
      Buffer.resize(Size);
      return Buffer.substr(0, Buffer.find(L'\0'));
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return {};
}

HWND FindProcessWindow(DWORD ProcessId) {
  for (HWND Window = ::FindWindowW(nullptr, nullptr); Window != nullptr; Window = ::GetWindow(Window, GW_HWNDNEXT)) {
    if (::GetParent(Window) != nullptr) continue;
    DWORD Owner = 0;
    if (::GetWindowThreadProcessId(Window, &Owner) != 0 && Owner == ProcessId) return Window;
  }
  return nullptr;
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

std::optional<bool> IsCriticalProcess(DWORD ProcessId) {
  TOwnedHandle Process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ProcessId));
  if (!Process) Process.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessId));
  if (!Process) return std::nullopt;
  ULONG BreakOnTermination = 0;
  const NTSTATUS Status = ::NtQueryInformationProcess(Process.get(), static_cast<PROCESSINFOCLASS>(ProcessBreakOnTerminationClass),
                                                      &BreakOnTermination, sizeof(BreakOnTermination), nullptr);
  if (Status < 0) return std::nullopt;
  return BreakOnTermination != 0;
}

}  // namespace nimbrel
