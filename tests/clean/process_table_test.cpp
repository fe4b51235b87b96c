// The process table against real processes that the test starts (none is ended here).
#include "clean/process_table.h"

#include "base/utf.h"
#include "tests/clean/child_process.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace nimbrel {
namespace {

using test::TChildProcess;
using test::TTempFolder;

const TProcessInfo* Find(const TProcessList& List, DWORD ProcessId) {
  const auto Found = std::find_if(List.begin(), List.end(), [&](const TProcessInfo& Info) { return Info.ProcessID == ProcessId; });
  return Found == List.end() ? nullptr : &*Found;
}

std::wstring OwnPath() {
  wchar_t Module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, Module, MAX_PATH);
  return Module;
}

TEST(CollectProcesses, ListsRunningProcessesWithPathsAndWindows) {
  TTempFolder Folder;
  TChildProcess Windowed(Folder, L"windowed helper.exe", L"window");
  TChildProcess Plain(Folder, L"plain_helper.exe");
  ASSERT_TRUE(Windowed.Started());
  ASSERT_TRUE(Plain.Started());
  ASSERT_TRUE(Windowed.WaitWindow(5000));

  TProcessList List;
  CollectProcesses(List);
  ASSERT_FALSE(List.empty());
  EXPECT_EQ(Find(List, 0), nullptr);
  for (const auto& Info : List) {
    EXPECT_EQ(Info.State, StateListed);
    EXPECT_FALSE(Info.FileName.empty()) << Info.ProcessID;
  }

  const TProcessInfo* Own = Find(List, ::GetCurrentProcessId());
  ASSERT_NE(Own, nullptr);
  EXPECT_TRUE(::lstrcmpiW(Own->FileName.c_str(), OwnPath().c_str()) == 0) << testing::PrintToString(Own->FileName);

  const TProcessInfo* WithWindow = Find(List, Windowed.Id());
  ASSERT_NE(WithWindow, nullptr);
  EXPECT_TRUE(::lstrcmpiW(WithWindow->FileName.c_str(), Windowed.Path().c_str()) == 0);
  ASSERT_NE(WithWindow->Handle, nullptr);
  DWORD Owner = 0;
  ::GetWindowThreadProcessId(WithWindow->Handle, &Owner);
  EXPECT_EQ(Owner, Windowed.Id());
  EXPECT_EQ(::GetParent(WithWindow->Handle), nullptr);

  EXPECT_EQ(::GetWindow(WithWindow->Handle, GW_OWNER), nullptr);
  ASSERT_TRUE(WithWindow->Process);
  EXPECT_EQ(::GetProcessId(WithWindow->Process.get()), Windowed.Id());
  EXPECT_TRUE(ProcessRunning(WithWindow->Process.get()));

  // The test and its helpers run in the signed-in user's session, read through their handles.
  const std::optional<DWORD> OwnSession = ProcessSession(::GetCurrentProcess());
  ASSERT_TRUE(OwnSession);
  EXPECT_EQ(ProcessSession(Own->Process.get()), OwnSession);
  EXPECT_EQ(ProcessSession(WithWindow->Process.get()), OwnSession);
  EXPECT_EQ(ProcessSession(nullptr), std::nullopt);

  const TProcessInfo* WithoutWindow = Find(List, Plain.Id());
  ASSERT_NE(WithoutWindow, nullptr);
  EXPECT_EQ(WithoutWindow->Handle, nullptr);

  // The list is not cleared first: a second collection lists everything again.
  const size_t Once = List.size();
  CollectProcesses(List);
  EXPECT_GE(List.size(), 2 * Once - 2);
  EXPECT_EQ(std::count_if(List.begin(), List.end(), [](const TProcessInfo& Info) { return Info.ProcessID == ::GetCurrentProcessId(); }), 2);
}

TEST(AppendProcesses, SkipsIdZeroAndFallsBackToTheSnapshotName) {
  const std::vector<TSnapshotEntry> Snapshot{{0, L"[System Process]"}, {4, L"System"}, {200, L"app.exe"}, {201, L"gone.exe"}};
  TProcessLookups Lookups;
  // 4 and 200 can be opened (the handle stands for the process), 201 is gone.
  Lookups.Open = [](DWORD Id) -> TSharedProcess {
    if (Id == 201) return nullptr;
    return TSharedProcess(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(Id)), [](HANDLE) {});
  };
  Lookups.FileName = [](HANDLE Process) {
    return Process == reinterpret_cast<HANDLE>(200) ? std::wstring(L"C:\\Apps\\app.exe") : std::wstring();
  };
  Lookups.Window = [](DWORD Id) { return Id == 200 ? reinterpret_cast<HWND>(0x1234) : nullptr; };

  TProcessList List{{7, nullptr, L"earlier", StateMarked, nullptr}};
  AppendProcesses(List, Snapshot, Lookups);
  ASSERT_EQ(List.size(), 4u);
  EXPECT_EQ(List[0].FileName, L"earlier");
  EXPECT_EQ(List[1].ProcessID, 4u);
  EXPECT_EQ(List[1].FileName, L"System");
  EXPECT_EQ(List[2].FileName, L"C:\\Apps\\app.exe");
  EXPECT_EQ(List[2].Handle, reinterpret_cast<HWND>(0x1234));
  EXPECT_EQ(List[3].FileName, L"gone.exe");
  EXPECT_EQ(List[2].Process.get(), reinterpret_cast<HANDLE>(200));
  EXPECT_EQ(List[3].Process, nullptr);
  for (size_t I = 1; I < List.size(); ++I) EXPECT_EQ(List[I].State, StateListed);
}

TEST(ProcessQueries, OwnProcessUnknownIdsAndIdZero) {
  EXPECT_TRUE(::lstrcmpiW(GetProcessFileName(::GetCurrentProcessId()).c_str(), OwnPath().c_str()) == 0);
  EXPECT_TRUE(ProcessExists(::GetCurrentProcessId()));
  // Ids are multiples of four: this one is never handed out.
  EXPECT_FALSE(ProcessExists(0xFFFFFFF1));
  EXPECT_EQ(GetProcessFileName(0xFFFFFFF1), L"");
  EXPECT_EQ(GetProcessFileName(0), L"");
  EXPECT_EQ(FindProcessWindow(0xFFFFFFF1), nullptr);

  EndProcess(::GetCurrentProcessId());  // does nothing: this test goes on
  EndProcess(0);
  EXPECT_TRUE(ProcessExists(::GetCurrentProcessId()));
}

TEST(IsCriticalProcess, ReadsTheFlagOfARunningProcess) {
  // Wine does not know the information class (the answer is then unknown); Windows answers false.
  EXPECT_NE(IsCriticalProcess(::GetCurrentProcessId()), std::optional<bool>(true));
  EXPECT_EQ(IsCriticalProcess(0xFFFFFFF1), std::nullopt);
}

}  // namespace
}  // namespace nimbrel
