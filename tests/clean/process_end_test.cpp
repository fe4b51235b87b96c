// Ending processes and the clean's steps against helper processes (runs in a Wine prefix of its own).
#include "clean/clean_job.h"
#include "clean/process_table.h"

#include "tests/clean/child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace nimbrel {
namespace {

using test::TChildProcess;
using test::TTempFolder;

TEST(EndProcess, EndsAProcessAndIgnoresOneThatIsGone) {
  TTempFolder Folder;
  TChildProcess Child(Folder, L"victim.exe");
  ASSERT_TRUE(Child.Started());
  ASSERT_TRUE(ProcessExists(Child.Id()));
  EndProcess(Child.Id());
  ASSERT_TRUE(Child.WaitEnded(5000));
  EXPECT_FALSE(ProcessExists(Child.Id()));
  EndProcess(Child.Id());  // already gone: nothing to report
}

TEST(AppendProcesses, AProcessEndingAfterTheSnapshotKeepsItsSnapshotName) {
  TTempFolder Folder;
  TChildProcess Child(Folder, L"short_lived.exe");
  ASSERT_TRUE(Child.Started());
  const auto Snapshot = TakeProcessSnapshot();
  ASSERT_TRUE(Snapshot);
  EndProcess(Child.Id());
  ASSERT_TRUE(Child.WaitEnded(5000));
  Child.Release();
  // The system lets go of an ended process shortly after its last handle is closed.
  for (DWORD Start = ::GetTickCount(); !GetProcessFileName(Child.Id()).empty() && ::GetTickCount() - Start < 5000;)
    ::Sleep(50);

  TProcessList List;
  AppendProcesses(List, *Snapshot, {OpenProcessShared, ProcessFileName, FindProcessWindow});
  const auto Found = std::find_if(List.begin(), List.end(), [&](const TProcessInfo& Info) { return Info.ProcessID == Child.Id(); });
  ASSERT_NE(Found, List.end());
  EXPECT_EQ(Found->FileName, L"short_lived.exe");
  EXPECT_EQ(Found->Handle, nullptr);
  EXPECT_EQ(Found->Process, nullptr);
}

// Windows may hand a gone process's id to a new one between the collection and the ending pass.
// The table holds the processes themselves: the one now owning the id is never touched.
TEST(CleanSteps, AnIdHandedToAnotherProcessEndsNothingAndTheGoneOneCountsAsEnded) {
  TTempFolder Folder;
  TChildProcess Gone(Folder, L"gone.exe");
  TChildProcess Newcomer(Folder, L"newcomer.exe");
  ASSERT_TRUE(Gone.Started());
  ASSERT_TRUE(Newcomer.Started());
  TProcessList All;
  CollectProcesses(All);
  TProcessList List;
  for (auto& Info : All)
    if (Info.ProcessID == Gone.Id()) List.push_back(Info);
  ASSERT_EQ(List.size(), 1u);
  ASSERT_TRUE(List[0].Process);
  EndProcess(Gone.Id());  // it exits by itself
  ASSERT_TRUE(Gone.WaitEnded(5000));
  List[0].ProcessID = Newcomer.Id();  // ...and its id now names the newcomer

  MarkProcesses(List, {}, ::GetCurrentProcessId(), OtherSessionQuery(),
                [](const TProcessInfo&) { return std::optional<bool>(false); });
  ASSERT_EQ(List[0].State, StateMarked);
  EndMarkedProcesses(List, [](const TProcessInfo& Info) { EndProcessHandle(Info.Process.get()); });
  WaitForMarkedProcesses(List, [](DWORD) { return true; },
                         [](const TProcessInfo& Info) { return ProcessRunning(Info.Process.get()); });
  EXPECT_EQ(List[0].State, StateEnded) << "the process it held has exited";
  ::Sleep(500);
  EXPECT_TRUE(Newcomer.Running()) << "the id's new owner was not ended";
}

// The marking, ending and waiting passes on a table of the test's own processes.
TEST(CleanSteps, EndsMarkedHelpersAndReportsTheirStates) {
  TTempFolder Folder;
  TChildProcess Victim(Folder, L"victim.exe", L"window");
  TChildProcess ByName(Folder, L"keep_by_name.exe");
  TChildProcess ByPath(Folder, L"keep_by_path.exe");
  for (const TChildProcess* Child : {&Victim, &ByName, &ByPath}) ASSERT_TRUE(Child->Started());

  TProcessList All;
  CollectProcesses(All);
  TProcessList List;
  for (const auto& Info : All) {
    if (Info.ProcessID == ::GetCurrentProcessId() || Info.ProcessID == Victim.Id() || Info.ProcessID == ByName.Id() || Info.ProcessID == ByPath.Id())
      List.push_back(Info);
  }
  ASSERT_EQ(List.size(), 4u);

  const TStringList FileWhite{L"KEEP_BY_NAME.exe*", Folder.File(L"keep_by_path.exe")};
  for (const auto& Info : List) EXPECT_TRUE(Info.Process) << "every helper is held by its handle";
  // The helpers run in the program's own session: the session rule spares none of them.
  MarkProcesses(List, FileWhite, ::GetCurrentProcessId(), OtherSessionQuery(),
                [](const TProcessInfo& Info) { return IsCriticalProcessHandle(Info.Process.get()); });
  EndMarkedProcesses(List, [](const TProcessInfo& Info) { EndProcessHandle(Info.Process.get()); });
  std::vector<DWORD> Sleeps;
  WaitForMarkedProcesses(
      List,
      [&](DWORD Milliseconds) {
        Sleeps.push_back(Milliseconds);
        return WaitUnlessStopped(nullptr, Milliseconds);
      },
      [](const TProcessInfo& Info) { return ProcessRunning(Info.Process.get()); });
  EXPECT_EQ(Sleeps, (std::vector<DWORD>(4, 1000)));

  for (const auto& Info : List) {
    const int Expected = Info.ProcessID == Victim.Id() ? StateEnded : StateListed;
    EXPECT_EQ(Info.State, Expected) << testing::PrintToString(Info.FileName);
  }
  EXPECT_FALSE(Victim.Running());
  EXPECT_TRUE(ByName.Running());
  EXPECT_TRUE(ByPath.Running());
}

}  // namespace
}  // namespace nimbrel
