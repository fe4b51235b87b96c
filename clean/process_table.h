// The clean's picture of the running processes, and the process operations it needs.
// The table is filled and changed only by the clean's worker thread while a clean runs.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <unordered_map>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel {

// Life states of a listed process.
inline constexpr int StateListed = 1;   // left alone: own process, protected, or not yet marked
inline constexpr int StateMarked = -2;  // chosen to be ended; stays so while it is still found running
inline constexpr int StateEnded = -1;   // marked and no longer running

// A process handle shared by the copies of an entry; closed with the last of them.
using TSharedProcess = std::shared_ptr<void>;

struct TProcessInfo {
  DWORD ProcessID = 0;      // never 0
  HWND Handle = nullptr;    // its first top-level window, nullptr if none
  std::wstring FileName;    // full image path; the bare executable name when the path cannot be read
  int State = StateListed;
  // The process itself, opened when it was collected: the path, the critical flag, ending and
  // "still running" all go through it, never through the id, which the system may hand to
  // another process meanwhile. Null when the process could not be opened; such an entry is never ended.
  TSharedProcess Process;
};

// In snapshot order.
using TProcessList = std::vector<TProcessInfo>;

// One entry of a Toolhelp process snapshot.
struct TSnapshotEntry {
  DWORD ProcessID = 0;
  std::wstring ExeFile;  // executable name without folder
};

// The running processes in snapshot order; nullopt when no snapshot can be taken.
std::optional<std::vector<TSnapshotEntry>> TakeProcessSnapshot();

// The lookups CollectProcesses makes per process.
struct TProcessLookups {
  std::function<TSharedProcess(DWORD)> Open;                // null when the process cannot be opened
  std::function<std::wstring(HANDLE)> FileName;             // called with the opened handle only
  std::function<HWND(DWORD)> Window;
};

// Appends one listed entry per snapshot entry, skipping id 0. The process is opened first; its
// path is read through that handle and falls back to the snapshot's executable name when there
// is no handle or the lookup answers empty text.
void AppendProcesses(TProcessList& List, const std::vector<TSnapshotEntry>& Snapshot, const TProcessLookups& Lookups);

// Opens a process for the clean: PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION |
// SYNCHRONIZE, falling back to fewer rights where those are refused; null when none are given.
TSharedProcess OpenProcessShared(DWORD ProcessId);

// Each process's first top-level window without an owner, in one pass over the window list.
std::unordered_map<DWORD, HWND> TopLevelWindowsByProcess();

// Appends one entry per running process; the list is not cleared first. A failed snapshot adds nothing.
void CollectProcesses(TProcessList& List);

// The full image path of the process; empty text when it cannot be read.
std::wstring GetProcessFileName(DWORD ProcessId);
std::wstring ProcessFileName(HANDLE Process);

// The Terminal Services session the process runs in, read through its handle; nullopt when it
// cannot be read (or Process is null). GetCurrentProcess() gives the program's own session.
std::optional<DWORD> ProcessSession(HANDLE Process);

// Whether a process runs in another interactive session (another signed-in account's, or the
// same account's second sign-in): its session is known, is not session 0 (services, which the
// lists decide on) and is not OwnSession. False while either is unknown.
bool IsOtherInteractiveSession(std::optional<DWORD> Session, std::optional<DWORD> OwnSession) noexcept;

// The first top-level window (no parent, no owner) of the process; nullptr when it has none.
HWND FindProcessWindow(DWORD ProcessId);

// True when a fresh snapshot holds a process with this id (whichever process holds it now);
// false when none does or no snapshot can be taken.
bool ProcessExists(DWORD ProcessId);

// Asks the system to end the process with exit code 0. Does nothing for the own process and
// for id 0; every failure is swallowed (ProcessExists tells the outcome).
void EndProcess(DWORD ProcessId);

// Whether Windows marks the process critical (ending it halts the system); nullopt when the
// process cannot be opened or queried. IsProcessCritical where the system has it (Windows 8.1
// and later), the process information class otherwise.
std::optional<bool> IsCriticalProcess(DWORD ProcessId);
std::optional<bool> IsCriticalProcessHandle(HANDLE Process);

// Through the handle: ends the process with exit code 0 (never the own process; failures are
// swallowed), and tells whether it still runs (true when that cannot be told).
void EndProcessHandle(HANDLE Process);
bool ProcessRunning(HANDLE Process);

}  // namespace nimbrel
