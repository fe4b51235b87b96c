// The clean's picture of the running processes, and the process operations it needs.
// The table is filled and changed only by the clean's worker thread while a clean runs.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel {

// Life states of a listed process.
inline constexpr int StateListed = 1;   // left alone: own process, protected, or not yet marked
inline constexpr int StateMarked = -2;  // chosen to be ended; stays so while it is still found running
inline constexpr int StateEnded = -1;   // marked and no longer running

struct TProcessInfo {
  DWORD ProcessID = 0;      // never 0
  HWND Handle = nullptr;    // its first top-level window, nullptr if none
  std::wstring FileName;    // full image path; the bare executable name when the path cannot be read
  int State = StateListed;
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
  std::function<std::wstring(DWORD)> FileName;
  std::function<HWND(DWORD)> Window;
};

// Appends one listed entry per snapshot entry, skipping id 0. FileName falls back to the
// snapshot's executable name when the lookup answers empty text.
void AppendProcesses(TProcessList& List, const std::vector<TSnapshotEntry>& Snapshot, const TProcessLookups& Lookups);

// Appends one entry per running process; the list is not cleared first. A failed snapshot adds nothing.
void CollectProcesses(TProcessList& List);

// The full image path of the process; empty text when it cannot be read.
std::wstring GetProcessFileName(DWORD ProcessId);

// The first top-level window (no parent) of the process; nullptr when it has none.
HWND FindProcessWindow(DWORD ProcessId);

// True when a fresh snapshot holds a process with this id (whichever process holds it now);
// false when none does or no snapshot can be taken.
bool ProcessExists(DWORD ProcessId);

// Asks the system to end the process with exit code 0. Does nothing for the own process and
// for id 0; every failure is swallowed (ProcessExists tells the outcome).
void EndProcess(DWORD ProcessId);

// Whether Windows marks the process critical (ending it halts the system); nullopt when the
// process cannot be opened or queried.
std::optional<bool> IsCriticalProcess(DWORD ProcessId);

}  // namespace nimbrel
