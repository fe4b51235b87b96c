// Memory purge, memory figures and privileges.
#include "clean/memory_purge.h"
#include "clean/memory_status.h"
#include "clean/privileges.h"

#include "base/handle.h"
#include "tests/clean/child_process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace nimbrel {
namespace {

// Records every system action as one line of text.
class TRecordingSystem : public TPurgeSystem {
 public:
  explicit TRecordingSystem(std::optional<std::vector<TSnapshotEntry>> Snapshot) : FSnapshot(std::move(Snapshot)) {}

  void SetSystemInformation(ULONG InformationClass, void* Record, ULONG Size) override {
    std::string Line = "class " + std::to_string(InformationClass) + " size " + std::to_string(Size);
    if (InformationClass == SystemMemoryListInformationClass && Size == sizeof(ULONG))
      Line += " command " + std::to_string(*static_cast<ULONG*>(Record));
    if (InformationClass == SystemFileCacheInformationClass && Size == sizeof(TSystemFileCacheInformation)) {
      TSystemFileCacheInformation Expected{};
      Expected.MinimumWorkingSet = Expected.MaximumWorkingSet = static_cast<SIZE_T>(-1);
      if (std::memcmp(Record, &Expected, sizeof(Expected)) != 0) Line += " unexpected record";
    }
    if (InformationClass == SystemCombinePhysicalMemoryInformationClass) {
      const std::string Zeros(Size, '\0');
      if (std::memcmp(Record, Zeros.data(), Size) != 0) Line += " unexpected record";
    }
    Actions.push_back(Line);
  }
  std::optional<std::vector<TSnapshotEntry>> SnapshotProcesses() override {
    Actions.push_back("snapshot");
    return FSnapshot;
  }
  void TrimWorkingSet(DWORD ProcessId) override { Actions.push_back("trim " + std::to_string(ProcessId)); }

  std::vector<std::string> Actions;

 private:
  std::optional<std::vector<TSnapshotEntry>> FSnapshot;
};

const std::vector<TSnapshotEntry> Processes{
    {4, L"System"}, {100, L"CHROME.EXE"}, {101, L"notepad.exe"}, {102, L"Firefox.exe"}, {103, L"chrome.exe.bak"},
    {104, L"msedge.exe"}, {105, L"Whale.exe"}, {106, L"brave.exe"}, {107, L"opera.exe"}, {108, L"VIVALDI.exe"}};

const std::string FileCache = "class 21 size 64";
const std::string Browsers[] = {"trim 100", "trim 102", "trim 104", "trim 105", "trim 106", "trim 107", "trim 108"};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> Parts) {
  std::vector<std::string> All;
  for (const auto& Part : Parts) All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

TEST(PurgeMemory, EachBitIssuesItsActionsInTheFixedOrder) {
  const std::vector<std::string> BrowserTrims(std::begin(Browsers), std::end(Browsers));
  std::vector<std::string> AllTrims{"snapshot"};
  for (const auto& Entry : Processes) AllTrims.push_back("trim " + std::to_string(Entry.ProcessID));
  std::vector<std::string> SnapshotAndBrowsers{"snapshot"};
  SnapshotAndBrowsers.insert(SnapshotAndBrowsers.end(), BrowserTrims.begin(), BrowserTrims.end());

  struct TCase {
    unsigned Mode;
    std::vector<std::string> Actions;
  } Cases[] = {
      {0x00, {}},
      {0x01, {"class 80 size 4 command 2"}},
      {0x02, AllTrims},
      {0x04, SnapshotAndBrowsers},
      {0x06, AllTrims},
      {0x08, {"class 80 size 4 command 4"}},
      {0x10, {"class 80 size 4 command 5"}},
      {0x20, {"class 80 size 4 command 3"}},
      {0x40, {FileCache}},
      {0x80, {"class 130 size 24"}},
      {68, Concat({{FileCache}, SnapshotAndBrowsers})},
      {0xFF, Concat({{FileCache, "class 80 size 4 command 2"}, AllTrims,
                     {"class 80 size 4 command 5", "class 80 size 4 command 4", "class 80 size 4 command 3",
                      "class 130 size 24"}})},
      {0x100, {}},
  };
  for (const auto& Case : Cases) {
    TRecordingSystem System(Processes);
    PurgeMemory(Case.Mode, System);
    EXPECT_EQ(System.Actions, Case.Actions) << "mode " << Case.Mode;
  }
}

TEST(PurgeMemory, CleanModeWithoutBrowsersOrSnapshot) {
  TRecordingSystem NoBrowsers(std::vector<TSnapshotEntry>{{4, L"System"}, {50, L"explorer.exe"}});
  PurgeMemory(CleanPurgeMode, NoBrowsers);
  EXPECT_EQ(NoBrowsers.Actions, (std::vector<std::string>{FileCache, "snapshot"}));

  TRecordingSystem NoSnapshot(std::nullopt);
  PurgeMemory(0x06 | 0x40, NoSnapshot);
  EXPECT_EQ(NoSnapshot.Actions, (std::vector<std::string>{FileCache, "snapshot"}));
}

// The real snapshot with recorded actions: a running browser found by its name in capitals.
TEST(PurgeMemory, TrimsARunningBrowserFromTheRealSnapshot) {
  test::TTempFolder Folder;
  test::TChildProcess Browser(Folder, L"CHROME.EXE");
  test::TChildProcess Other(Folder, L"notabrowser.exe");
  ASSERT_TRUE(Browser.Started());
  ASSERT_TRUE(Other.Started());

  class TRealSnapshot : public TRecordingSystem {
   public:
    TRealSnapshot() : TRecordingSystem(std::nullopt) {}
    std::optional<std::vector<TSnapshotEntry>> SnapshotProcesses() override {
      Actions.push_back("snapshot");
      return TakeProcessSnapshot();
    }
  } System;
  PurgeMemory(CleanPurgeMode, System);
  ASSERT_GE(System.Actions.size(), 3u);
  EXPECT_EQ(System.Actions[0], FileCache);
  EXPECT_EQ(System.Actions[1], "snapshot");
  const std::string BrowserTrim = "trim " + std::to_string(Browser.Id());
  EXPECT_EQ(std::count(System.Actions.begin(), System.Actions.end(), BrowserTrim), 1);
  EXPECT_EQ(std::count(System.Actions.begin(), System.Actions.end(), "trim " + std::to_string(Other.Id())), 0);

  PurgeMemory(0xFF);  // the real system: every call's failure is ignored
  EXPECT_TRUE(Browser.Running());
}

TEST(IsKnownBrowser, NamesWithoutRegardToCase) {
  for (const wchar_t* Name : {L"chrome.exe", L"CHROME.EXE", L"msedge.exe", L"FireFox.exe", L"whale.exe", L"brave.exe",
                              L"opera.exe", L"Vivaldi.EXE"})
    EXPECT_TRUE(IsKnownBrowser(Name)) << Name;
  for (const wchar_t* Name : {L"", L"chrome", L"chrome.exe ", L"C:\\chrome.exe", L"iexplore.exe", L"opera_gx.exe"})
    EXPECT_FALSE(IsKnownBrowser(Name)) << Name;
}

TEST(MemoryValue, KindsAndFigures) {
  const std::int64_t Total = GetMemoryValue(0), Avail = GetMemoryValue(1);
  EXPECT_GT(Total, 0);
  EXPECT_GT(Avail, 0);
  EXPECT_LE(Avail, Total);
  EXPECT_EQ(GetTotalMemory(), Total);
  EXPECT_GT(GetAvailMemory(), 0);
  for (int Kind : {2, -1, 100}) EXPECT_EQ(GetMemoryValue(Kind), -1) << Kind;
}

std::optional<bool> PrivilegeEnabled(const wchar_t* Name) {
  TOwnedHandle Token;
  LUID Luid{};
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, Token.put()) || !::LookupPrivilegeValueW(nullptr, Name, &Luid))
    return std::nullopt;
  DWORD Size = 0;
  ::GetTokenInformation(Token.get(), TokenPrivileges, nullptr, 0, &Size);
  std::vector<BYTE> Buffer(Size);
  if (!::GetTokenInformation(Token.get(), TokenPrivileges, Buffer.data(), Size, &Size)) return std::nullopt;
  const auto* Privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(Buffer.data());
  for (DWORD I = 0; I < Privileges->PrivilegeCount; ++I) {
    const auto& Entry = Privileges->Privileges[I];
    if (Entry.Luid.LowPart == Luid.LowPart && Entry.Luid.HighPart == Luid.HighPart)
      return (Entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  return std::nullopt;
}

TEST(EnablePrivilege, SwitchesAHeldPrivilegeBothWays) {
  ASSERT_TRUE(PrivilegeEnabled(L"SeShutdownPrivilege").has_value());
  EXPECT_TRUE(EnablePrivilege(L"SeShutdownPrivilege", true));
  EXPECT_EQ(PrivilegeEnabled(L"SeShutdownPrivilege"), true);
  EXPECT_TRUE(EnablePrivilege(L"SeShutdownPrivilege", false));
  EXPECT_EQ(PrivilegeEnabled(L"SeShutdownPrivilege"), false);

  EnableStartupPrivileges();
  EXPECT_EQ(PrivilegeEnabled(L"SeDebugPrivilege"), true);
}

TEST(EnablePrivilege, PrivilegeTheAccountLacksAnswersFalse) {
  // Only the system's own accounts hold the token-creating privilege: the adjustment "succeeds"
  // with ERROR_NOT_ALL_ASSIGNED, which must come back as false.
  ASSERT_EQ(PrivilegeEnabled(L"SeCreateTokenPrivilege"), std::nullopt);
  EXPECT_FALSE(EnablePrivilege(L"SeCreateTokenPrivilege", true));
  EXPECT_EQ(PrivilegeEnabled(L"SeCreateTokenPrivilege"), std::nullopt);
}

TEST(EnablePrivilege, UnknownNameAnswersFalseAndLeavesNoHandle) {
  EnablePrivilege(L"SeShutdownPrivilege", true);  // the first call may load what later calls reuse
  DWORD Before = 0, After = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &Before));
  // The slot of a closed handle goes to the next handle made; a leaked token would hold it.
  HANDLE Probe = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::CloseHandle(Probe);

  EXPECT_FALSE(EnablePrivilege(L"SeNoSuchPrivilege", true));
  EXPECT_FALSE(EnablePrivilege(L"", false));

  TOwnedHandle Next(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(Next.get(), Probe);
  Next.reset();
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &After));
  EXPECT_EQ(After, Before);
}

}  // namespace
}  // namespace nimbrel
