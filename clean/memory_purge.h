// Freeing memory after a clean: file cache, memory lists, working sets, page combining.
// Runs on the clean's worker thread; keeps no state. Failures of system calls are ignored.
#pragma once

#include "clean/process_table.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace nimbrel {

// Bits of the purge mode; each selects one step.
enum : unsigned {
  PurgeEmptyWorkingSets = 0x01,    // memory-list command 2, all processes at once
  PurgeTrimAll = 0x02,             // trim every process, one by one
  PurgeTrimBrowsers = 0x04,        // trim the known web browsers only (ignored with PurgeTrimAll)
  PurgeStandbyList = 0x08,         // memory-list command 4
  PurgeLowPriorityStandby = 0x10,  // memory-list command 5
  PurgeModifiedList = 0x20,        // memory-list command 3
  PurgeFileCache = 0x40,           // flush the system file cache
  PurgeCombinePages = 0x80,        // combine identical physical pages
};

// The mode of the clean run: flush the file cache, then trim the browsers.
inline constexpr unsigned CleanPurgeMode = PurgeFileCache | PurgeTrimBrowsers;

// System information classes and records of NtSetSystemInformation, in the native 64-bit layout.
inline constexpr ULONG SystemFileCacheInformationClass = 21;
inline constexpr ULONG SystemMemoryListInformationClass = 80;
inline constexpr ULONG SystemCombinePhysicalMemoryInformationClass = 130;

struct TSystemFileCacheInformation {
  SIZE_T CurrentSize;
  SIZE_T PeakSize;
  ULONG PageFaultCount;
  SIZE_T MinimumWorkingSet;
  SIZE_T MaximumWorkingSet;
  SIZE_T CurrentSizeIncludingTransitionInPages;
  SIZE_T PeakSizeIncludingTransitionInPages;
  ULONG TransitionRePurposeCount;
  ULONG Flags;
};

struct TMemoryCombineInformationEx {
  HANDLE Handle;
  ULONG_PTR PagesCombined;
  ULONG Flags;
};

static_assert(sizeof(void*) == 8, "the records below are the 64-bit ones");
static_assert(sizeof(TSystemFileCacheInformation) == 64);
static_assert(offsetof(TSystemFileCacheInformation, MinimumWorkingSet) == 24);
static_assert(offsetof(TSystemFileCacheInformation, MaximumWorkingSet) == 32);
static_assert(sizeof(TMemoryCombineInformationEx) == 24);

// Memory-list commands (class 80).
enum : ULONG { MemoryEmptyWorkingSets = 2, MemoryFlushModifiedList = 3, MemoryPurgeStandbyList = 4, MemoryPurgeLowPriorityStandbyList = 5 };

// The system actions a purge issues. The real one calls ntdll and kernel32; tests record.
class TPurgeSystem {
 public:
  virtual ~TPurgeSystem() = default;
  virtual void SetSystemInformation(ULONG InformationClass, void* Record, ULONG Size) = 0;
  // nullopt when no snapshot can be taken.
  virtual std::optional<std::vector<TSnapshotEntry>> SnapshotProcesses() = 0;
  // Empties the working set of the process; a process that cannot be opened is skipped.
  virtual void TrimWorkingSet(DWORD ProcessId) = 0;
};

// The real system; NtSetSystemInformation is looked up in ntdll once.
TPurgeSystem& RealPurgeSystem();

// True for the executable names of the known web browsers, compared without regard to case.
bool IsKnownBrowser(std::wstring_view ExeName);

// Runs the steps that Mode selects, in the fixed order: file cache, empty working sets, trims,
// low-priority standby, standby, modified list, page combining.
void PurgeMemory(unsigned Mode, TPurgeSystem& System);
void PurgeMemory(unsigned Mode);

}  // namespace nimbrel
