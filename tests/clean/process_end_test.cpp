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
  AppendProcesses(List, *Snapshot, {GetProcessFileName, FindProcessWindow});
  const auto Found = std::find_if(List.begin(), List.end(), [&](const TProcessInfo& Info) { return Info.ProcessID == Child.Id(); });
  ASSERT_NE(Found, List.end());
  EXPECT_EQ(Found->FileName, L"short_lived.exe");
  EXPECT_EQ(Found->Handle, nullptr);
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
  MarkProcesses(List, FileWhite, ::GetCurrentProcessId(), IsCriticalProcess);
  EndMarkedProcesses(List, EndProcess);
  std::vector<DWORD> Sleeps;
  WaitForMarkedProcesses(
      List,
      [&](DWORD Milliseconds) {
        Sleeps.push_back(Milliseconds);
        return WaitUnlessStopped(nullptr, Milliseconds);
      },
      ProcessExists);
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
