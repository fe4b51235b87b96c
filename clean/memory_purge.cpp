// PurgeMemory as a table of steps over a small system interface.
#include "clean/memory_purge.h"

#include "base/handle.h"

#include <array>

namespace nimbrel {
namespace {

using TNtSetSystemInformation = LONG(NTAPI*)(ULONG, PVOID, ULONG);

class TRealPurgeSystem final : public TPurgeSystem {
 public:
  TRealPurgeSystem()
      : FSetInformation(reinterpret_cast<TNtSetSystemInformation>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtSetSystemInformation"))) {}

  void SetSystemInformation(ULONG InformationClass, void* Record, ULONG Size) override {
    if (FSetInformation != nullptr) FSetInformation(InformationClass, Record, Size);
  }
  std::optional<std::vector<TSnapshotEntry>> SnapshotProcesses() override { return TakeProcessSnapshot(); }
  void TrimWorkingSet(DWORD ProcessId) override {
    TOwnedHandle Process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_SET_QUOTA, FALSE, ProcessId));
    if (Process) ::SetProcessWorkingSetSize(Process.get(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
  }

 private:
  TNtSetSystemInformation FSetInformation;
};

void FlushFileCache(unsigned, TPurgeSystem& System) {
  TSystemFileCacheInformation Record{};
  Record.MinimumWorkingSet = static_cast<SIZE_T>(-1);
  Record.MaximumWorkingSet = static_cast<SIZE_T>(-1);
  System.SetSystemInformation(SystemFileCacheInformationClass, &Record, sizeof(Record));
}

template <ULONG Command>
void SendMemoryListCommand(unsigned, TPurgeSystem& System) {
  ULONG Value = Command;
  System.SetSystemInformation(SystemMemoryListInformationClass, &Value, sizeof(Value));
}

void TrimWorkingSets(unsigned Mode, TPurgeSystem& System) {
  const auto Snapshot = System.SnapshotProcesses();
  if (!Snapshot) return;
  const bool All = (Mode & PurgeTrimAll) != 0;
  for (const auto& Entry : *Snapshot)
    if (All || IsKnownBrowser(Entry.ExeFile)) System.TrimWorkingSet(Entry.ProcessID);
}

void CombinePages(unsigned, TPurgeSystem& System) {
  TMemoryCombineInformationEx Record{};
  System.SetSystemInformation(SystemCombinePhysicalMemoryInformationClass, &Record, sizeof(Record));
}

struct TPurgeStep {
  unsigned Bits;  // the step runs when any of these is set
  void (*Run)(unsigned Mode, TPurgeSystem& System);
};

constexpr std::array<TPurgeStep, 7> PurgeSteps{{
    {PurgeFileCache, FlushFileCache},
    {PurgeEmptyWorkingSets, SendMemoryListCommand<MemoryEmptyWorkingSets>},
    {PurgeTrimAll | PurgeTrimBrowsers, TrimWorkingSets},
    {PurgeLowPriorityStandby, SendMemoryListCommand<MemoryPurgeLowPriorityStandbyList>},
    {PurgeStandbyList, SendMemoryListCommand<MemoryPurgeStandbyList>},
    {PurgeModifiedList, SendMemoryListCommand<MemoryFlushModifiedList>},
    {PurgeCombinePages, CombinePages},
}};

constexpr std::array<std::wstring_view, 7> KnownBrowsers{L"chrome.exe", L"msedge.exe", L"firefox.exe", L"whale.exe",
                                                         L"brave.exe",  L"opera.exe",  L"vivaldi.exe"};

}  // namespace

TPurgeSystem& RealPurgeSystem() {
  static TRealPurgeSystem System;
  return System;
}

bool IsKnownBrowser(std::wstring_view ExeName) {
  for (const auto Browser : KnownBrowsers) {
    if (::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ExeName.data(), static_cast<int>(ExeName.size()),
                         Browser.data(), static_cast<int>(Browser.size())) == CSTR_EQUAL)
      return true;
  }
  return false;
}

void PurgeMemory(unsigned Mode, TPurgeSystem& System) {
  for (const auto& Step : PurgeSteps)
    if ((Mode & Step.Bits) != 0) Step.Run(Mode, System);
}

void PurgeMemory(unsigned Mode) { PurgeMemory(Mode, RealPurgeSystem()); }

}  // namespace nimbrel
