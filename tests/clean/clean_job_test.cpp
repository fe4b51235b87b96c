// The clean job's steps with injected system actions, its worker thread and TCleanRun.
#include "clean/clean_job.h"
#include "clean/clean_run.h"
#include "clean/protection_list.h"

#include "base/sync.h"
#include "tests/clean/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>

namespace nimbrel {
namespace {

using test::TTempFolder;
using test::WriteFileBytes;

TEST(ShouldMarkProcess, OnlyUnprotectedProcessesNotKnownToBeCritical) {
  struct TCase {
    bool Own, Protected;
    std::optional<bool> Critical;
    bool Marked;
  } Cases[] = {
      {false, false, false, true},         {false, false, std::nullopt, true}, {false, false, true, false},
      {true, false, false, false},         {false, true, false, false},        {true, true, true, false},
      {true, false, std::nullopt, false},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(ShouldMarkProcess(Case.Own, Case.Protected, Case.Critical), Case.Marked)
        << Case.Own << Case.Protected << testing::PrintToString(Case.Critical);
}

TEST(MarkProcesses, SparesOwnProtectedAndCriticalProcesses) {
  TTempFolder Folder;
  const std::wstring Exceptions = Folder.File(L"NoClean.txt");
  // UTF-16 BE with CR line ends and padding around the rows.
  const std::wstring Text = L"  Notepad.EXE*\t\r%SystemRoot%\\Tools\\\r";
  std::string Bytes = "\xFE\xFF";
  for (wchar_t C : Text) Bytes += {static_cast<char>(C >> 8), static_cast<char>(C & 0xFF)};
  ASSERT_TRUE(WriteFileBytes(Exceptions, Bytes));

  TStringList FileWhite;
  LoadListResource(FileWhite, L"file_white");
  const TExceptionRows Rows = ReadExceptionFile(Exceptions);
  ASSERT_FALSE(Rows.Error);
  FileWhite.insert(FileWhite.end(), Rows.Rows.begin(), Rows.Rows.end());

  TProcessList List{
      {10, nullptr, L"C:\\Program Files\\Nimbrel\\Nimbrel.exe", StateListed, nullptr},  // own process
      {11, nullptr, L"C:\\Windows\\System32\\svchost.exe", StateListed, nullptr},       // embedded name row
      {12, nullptr, L"D:\\Editors\\notepad.exe", StateListed, nullptr},                 // exception-file name row
      {13, nullptr, L"System", StateListed, nullptr},                                   // bare name
      {14, nullptr, L"C:\\Users\\me\\game.exe", StateListed, nullptr},
      {15, nullptr, L"C:\\Vendor\\critical.exe", StateListed, nullptr},
      {16, nullptr, L"C:\\Vendor\\unknown.exe", StateListed, nullptr},
      {17, nullptr, L"C:\\Users\\me\\game.exe", StateEnded, nullptr},  // not listed any more: left as it is
  };
  std::vector<DWORD> Asked;
  MarkProcesses(List, FileWhite, 10, [](const TProcessInfo&) { return false; }, [&](const TProcessInfo& Info) -> std::optional<bool> {
    const DWORD Id = Info.ProcessID;
    Asked.push_back(Id);
    if (Id == 15) return true;
    if (Id == 16) return std::nullopt;
    return false;
  });
  const std::map<DWORD, int> Expected{{10, StateListed}, {11, StateListed}, {12, StateListed}, {13, StateListed},
                                      {14, StateMarked}, {15, StateListed}, {16, StateMarked}, {17, StateEnded}};
  for (const auto& Info : List) EXPECT_EQ(Info.State, Expected.at(Info.ProcessID)) << Info.ProcessID;
  EXPECT_EQ(Asked, (std::vector<DWORD>{14, 15, 16}));
}

// Stands for an opened process handle in tests that never use it.
TSharedProcess Held() { return TSharedProcess(::GetCurrentProcess(), [](HANDLE) {}); }

TEST(IsOtherInteractiveSession, OnlyAKnownSessionBesideSessionZeroAndTheOwn) {
  const std::optional<DWORD> Unknown;
  struct TCase {
    std::optional<DWORD> Session, Own;
    bool Other;
  } Cases[] = {
      {2, 1, true},       {3, 1, true},  {1, 1, false},        {0, 1, false},  // services: the lists decide
      {Unknown, 1, false}, {2, Unknown, false}, {1, 2, true}, {0, Unknown, false},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(IsOtherInteractiveSession(Case.Session, Case.Own), Case.Other)
        << testing::PrintToString(Case.Session) << " " << testing::PrintToString(Case.Own);
}

TEST(MarkProcesses, LeavesProcessesOfOtherSessionsAloneWhateverTheLists) {
  const TStringList FileWhite{L"C:\\Windows\\System32\\spoolsv.exe"};
  // 20: another user's browser; 21: the same browser in the own session; 22, 23: services,
  // one of them on the list; 24: another user's listed service host; 25: the program itself.
  TProcessList List{{20, nullptr, L"C:\\Program Files\\Browser\\browser.exe", StateListed, Held()},
                    {21, nullptr, L"C:\\Program Files\\Browser\\browser.exe", StateListed, Held()},
                    {22, nullptr, L"C:\\Vendor\\agent.exe", StateListed, Held()},
                    {23, nullptr, L"C:\\Windows\\System32\\spoolsv.exe", StateListed, Held()},
                    {24, nullptr, L"C:\\Windows\\System32\\spoolsv.exe", StateListed, Held()},
                    {25, nullptr, L"C:\\Nimbrel\\Nimbrel.exe", StateListed, Held()}};
  const std::map<DWORD, DWORD> Sessions{{20, 2}, {21, 1}, {22, 0}, {23, 0}, {24, 2}, {25, 1}};
  std::vector<DWORD> SessionAsked, CriticalAsked;
  MarkProcesses(
      List, FileWhite, 25,
      [&](const TProcessInfo& Info) {
        SessionAsked.push_back(Info.ProcessID);
        return IsOtherInteractiveSession(Sessions.at(Info.ProcessID), 1);
      },
      [&](const TProcessInfo& Info) -> std::optional<bool> {
        CriticalAsked.push_back(Info.ProcessID);
        return false;
      });
  const std::map<DWORD, int> Expected{{20, StateListed}, {21, StateMarked}, {22, StateMarked},
                                      {23, StateListed}, {24, StateListed}, {25, StateListed}};
  for (const auto& Info : List) EXPECT_EQ(Info.State, Expected.at(Info.ProcessID)) << Info.ProcessID;
  EXPECT_EQ(SessionAsked, (std::vector<DWORD>{20, 21, 22})) << "neither for the program nor for listed processes";
  EXPECT_EQ(CriticalAsked, (std::vector<DWORD>{21, 22}));
  std::vector<DWORD> Ended;
  EndMarkedProcesses(List, [&](const TProcessInfo& Info) { Ended.push_back(Info.ProcessID); });
  EXPECT_EQ(Ended, (std::vector<DWORD>{21, 22})) << "another session's browser is never ended";
}

TEST(EndMarkedProcesses, EndsMarkedEntriesThatHoldTheirProcessInListOrder) {
  TProcessList List{{5, nullptr, L"a", StateMarked, Held()}, {6, nullptr, L"b", StateListed, Held()},
                    {7, nullptr, L"c", StateEnded, Held()},  {8, nullptr, L"d", StateMarked, Held()},
                    {9, nullptr, L"e", StateMarked, nullptr}};  // could not be opened: never ended
  std::vector<DWORD> Ended;
  EndMarkedProcesses(List, [&](const TProcessInfo& Info) { Ended.push_back(Info.ProcessID); });
  EXPECT_EQ(Ended, (std::vector<DWORD>{5, 8}));
}

TEST(WaitForMarkedProcesses, FourRoundsOfOneSecondUnlessStopped) {
  // Id 1 is gone at once, id 2 after the second round, id 3 never ends, id 4 is not marked.
  TProcessList List{{1, nullptr, L"a", StateMarked, Held()}, {2, nullptr, L"b", StateMarked, Held()},
                    {3, nullptr, L"c", StateMarked, Held()}, {4, nullptr, L"d", StateListed, Held()},
                    {5, nullptr, L"e", StateMarked, nullptr}};  // no handle: never asked, stays marked
  std::vector<std::string> Events;
  int Round = 0;
  EXPECT_TRUE(WaitForMarkedProcesses(
      List,
      [&](DWORD Milliseconds) {
        ++Round;
        Events.push_back("sleep " + std::to_string(Milliseconds));
        return true;
      },
      [&](const TProcessInfo& Info) {
        const DWORD Id = Info.ProcessID;
        Events.push_back("exists " + std::to_string(Id));
        return Id == 3 || (Id == 2 && Round < 2);
      }));
  EXPECT_EQ(Events, (std::vector<std::string>{"sleep 1000", "exists 1", "exists 2", "exists 3", "sleep 1000",
                                              "exists 2", "exists 3", "sleep 1000", "exists 3", "sleep 1000",
                                              "exists 3"}));
  EXPECT_EQ(List[0].State, StateEnded);
  EXPECT_EQ(List[1].State, StateEnded);
  EXPECT_EQ(List[2].State, StateMarked);
  EXPECT_EQ(List[3].State, StateListed);
  EXPECT_EQ(List[4].State, StateMarked);

  TProcessList Nothing;
  int Sleeps = 0;
  EXPECT_TRUE(WaitForMarkedProcesses(Nothing, [&](DWORD) { return ++Sleeps > 0; }, [](const TProcessInfo&) { return true; }));
  EXPECT_EQ(Sleeps, 4);

  // A stop during the second wait ends the rounds at once: nothing more is asked or changed.
  TProcessList Stopped{{1, nullptr, L"a", StateMarked, Held()}, {2, nullptr, L"b", StateMarked, Held()}};
  int Waits = 0;
  std::vector<DWORD> Asked;
  EXPECT_FALSE(WaitForMarkedProcesses(Stopped, [&](DWORD) { return ++Waits < 2; },
                                      [&](const TProcessInfo& Info) {
                                        Asked.push_back(Info.ProcessID);
                                        return Info.ProcessID == 2;
                                      }));
  EXPECT_EQ(Waits, 2);
  EXPECT_EQ(Asked, (std::vector<DWORD>{1, 2}));
  EXPECT_EQ(Stopped[0].State, StateEnded);
  EXPECT_EQ(Stopped[1].State, StateMarked);
}

TEST(WaitUnlessStopped, WaitsOrGivesWayToTheStopSignal) {
  TOwnedHandle Stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(WaitUnlessStopped(Stop.get(), 10));
  EXPECT_TRUE(WaitUnlessStopped(nullptr, 0));
  ::SetEvent(Stop.get());
  const ULONGLONG Start = ::GetTickCount64();
  EXPECT_FALSE(WaitUnlessStopped(Stop.get(), 60000));
  EXPECT_LT(::GetTickCount64() - Start, 1000u);
}

// Serves hand-overs until Done answers true or Milliseconds have passed.
template <typename Pred>
bool ServeUntil(Pred Done, DWORD Milliseconds) {
  TOwnedHandle Never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const DWORD Start = ::GetTickCount();
  while (!Done()) {
    if (::GetTickCount() - Start > Milliseconds) return false;
    WaitServingMainThread(Never.get(), 20);
  }
  return true;
}

TEST(CleanJob, HandsTheKeyToTheMainThreadAndWorksOnItsCopy) {
  TCleanJobData Data;
  Data.FileWhite = {L"a.exe*"};
  std::optional<std::wstring> Key;
  bool OnMain = false;
  TStringList Seen;
  auto Job = TCleanJob::Start(
      std::move(Data),
      [&](const std::wstring& Got) {
        Key = Got;
        OnMain = IsMainThread();
      },
      [&](TCleanJobData& Worked) {
        ::Sleep(100);
        Seen = Worked.FileWhite;
        Worked.Processes->push_back({1, nullptr, L"x", StateListed, nullptr});
        return std::wstring(L"KEY-1");
      });
  ASSERT_NE(Job, nullptr);
  EXPECT_TRUE(Job->Wait(10000));
  EXPECT_TRUE(Job->Finished());
  EXPECT_EQ(Key, L"KEY-1");
  EXPECT_TRUE(OnMain);
  EXPECT_EQ(Seen, TStringList{L"a.exe*"});
}

TEST(CleanJob, AFailingStepGivesAnEmptyKeyAndAbandonSkipsTheFinish) {
  std::optional<std::wstring> Key;
  auto Failing = TCleanJob::Start({}, [&](const std::wstring& Got) { Key = Got; },
                                  [](TCleanJobData&) -> std::wstring { throw std::runtime_error("step failed"); });
  ASSERT_TRUE(Failing->Wait(10000));
  EXPECT_EQ(Key, L"");

  bool Called = false;
  auto Abandoned = TCleanJob::Start({}, [&](const std::wstring&) { Called = true; }, [](TCleanJobData&) {
    ::Sleep(200);
    return std::wstring(L"K");
  });
  Abandoned->Abandon();
  ASSERT_TRUE(Abandoned->Wait(10000));
  EXPECT_FALSE(Called);
}

struct TRunFixture : testing::Test {
  TTempFolder Folder;
  std::wstring First = Folder.File(L"first.txt");
  std::wstring Second = Folder.File(L"second.txt");
  TStringList FileWhite{L"embedded.exe*"};
  std::optional<TCleanJobData> Worked;  // what the steps saw
  int StepRuns = 0;
  std::optional<std::wstring> FinishedKey;

  TCleanSteps Steps() {
    return [this](TCleanJobData& Data) {
      ++StepRuns;
      Worked = Data;
      return std::wstring(L"K");
    };
  }
  TCleanFinish Finish() {
    return [this](const std::wstring& Key) { FinishedKey = Key; };
  }
};

TEST_F(TRunFixture, StartsOnceWithBothFilesAppended) {
  ASSERT_TRUE(WriteFileBytes(First, "one.exe*\r\n\r\n"));
  ASSERT_TRUE(WriteFileBytes(Second, "\xEF\xBB\xBFtwo.exe*\r\none.exe*"));
  TCleanRun Run({First, Folder.File(L"absent.txt"), Second}, Steps());
  EXPECT_EQ(Run.State(), TCleanState::Idle);
  auto Processes = std::make_shared<TProcessList>();

  const TCleanStart Started = Run.Start(FileWhite, Processes, Finish());
  ASSERT_EQ(Started.Status, TCleanStartStatus::Started);
  EXPECT_EQ(Run.State(), TCleanState::Running);
  const TStringList Expected{L"embedded.exe*", L"one.exe*", L"", L"two.exe*", L"one.exe*"};
  EXPECT_EQ(FileWhite, Expected);

  // A second click while it runs starts nothing.
  EXPECT_EQ(Run.Start(FileWhite, Processes, Finish()).Status, TCleanStartStatus::NotIdle);

  ASSERT_TRUE(ServeUntil([&] { return FinishedKey.has_value(); }, 10000));
  EXPECT_EQ(*FinishedKey, L"K");
  EXPECT_EQ(Run.State(), TCleanState::Done);
  ASSERT_TRUE(Worked);
  EXPECT_EQ(Worked->FileWhite, Expected);
  EXPECT_GT(Worked->OldAvailMemory, 0);
  EXPECT_EQ(Worked->Processes, Processes);

  // Nor after it has finished: one clean per run.
  EXPECT_EQ(Run.Start(FileWhite, Processes, Finish()).Status, TCleanStartStatus::NotIdle);
  EXPECT_EQ(FileWhite, Expected);
  Run.StopWorker();
  EXPECT_EQ(StepRuns, 1);
}

TEST_F(TRunFixture, UnreadableFileStartsNothingAndStaysIdle) {
  ASSERT_TRUE(WriteFileBytes(First, "one.exe*\r\n"));
  ASSERT_TRUE(WriteFileBytes(Second, "two.exe*\r\n"));
  TCleanRun Run({First, Second}, Steps());
  {
    TOwnedHandle Lock(::CreateFileW(Second.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(Lock);
    const TCleanStart Failed = Run.Start(FileWhite, nullptr, Finish());
    EXPECT_EQ(Failed.Status, TCleanStartStatus::FileUnreadable);
    EXPECT_EQ(Failed.Error.FileName, Second);
    EXPECT_EQ(Failed.Error.Code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(Failed.Error.Reason.empty());
    EXPECT_EQ(Run.State(), TCleanState::Idle);
    EXPECT_EQ(FileWhite, TStringList{L"embedded.exe*"});
  }
  // Back at idle, the next click starts the clean.
  ASSERT_EQ(Run.Start(FileWhite, nullptr, Finish()).Status, TCleanStartStatus::Started);
  ASSERT_TRUE(ServeUntil([&] { return FinishedKey.has_value(); }, 10000));
  EXPECT_EQ(FileWhite, (TStringList{L"embedded.exe*", L"one.exe*", L"two.exe*"}));
  EXPECT_EQ(StepRuns, 1);
}

TEST_F(TRunFixture, RowsMergedDuringACleanReachTheWindowListOnly) {
  TOwnedHandle Go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TCleanRun Run({}, [&](TCleanJobData& Data) {
    ::WaitForSingleObject(Go.get(), 10000);
    Worked = Data;
    return std::wstring(L"K");
  });
  ASSERT_EQ(Run.Start(FileWhite, nullptr, Finish()).Status, TCleanStartStatus::Started);
  // The start-up answer arrives while the worker runs.
  MergeListFromJson(FileWhite, nlohmann::json::parse(R"({"file_white": ["server.exe*"]})"), "file_white");
  ::SetEvent(Go.get());
  ASSERT_TRUE(ServeUntil([&] { return FinishedKey.has_value(); }, 10000));
  ASSERT_TRUE(Worked);
  EXPECT_EQ(Worked->FileWhite, TStringList{L"embedded.exe*"});
  EXPECT_EQ(FileWhite, (TStringList{L"embedded.exe*", L"server.exe*"}));
}

TEST_F(TRunFixture, WindowGoingAwayStopsTheWorkerWithoutFinishing) {
  bool StepsDone = false;
  std::weak_ptr<TProcessList> Table;
  {
    TCleanRun Run({}, [&](TCleanJobData& Data) {
      ::Sleep(300);
      Data.Processes->push_back({1, nullptr, L"x", StateListed, nullptr});  // still alive for the worker
      StepsDone = true;
      return std::wstring(L"K");
    });
    auto Processes = std::make_shared<TProcessList>();
    Table = Processes;
    ASSERT_EQ(Run.Start(FileWhite, Processes, Finish()).Status, TCleanStartStatus::Started);
  }  // the window frees its table and the run while the worker sleeps
  EXPECT_TRUE(StepsDone);
  EXPECT_FALSE(FinishedKey);
  EXPECT_TRUE(Table.expired());
}

TEST_F(TRunFixture, AWorkerThatDoesNotGiveWayEndsTheProgramAfterOneSecond) {
  TOwnedHandle Release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> StopSeen{false};
  std::atomic<bool> WorkerDone{false};
  int Ends = 0;
  ULONGLONG StoppedAfter = 0;
  {
    TCleanRun Run(
        {},
        [&](TCleanJobData& Data) {
          ::WaitForSingleObject(Data.Stop, INFINITE);
          StopSeen = true;
          ::WaitForSingleObject(Release.get(), INFINITE);  // a step that would still block
          WorkerDone = true;
          return std::wstring(L"K");
        },
        [&] { ++Ends; });
    ASSERT_EQ(Run.Start(FileWhite, nullptr, Finish()).Status, TCleanStartStatus::Started);
    const ULONGLONG Start = ::GetTickCount64();
    Run.StopWorker();
    StoppedAfter = ::GetTickCount64() - Start;
    EXPECT_EQ(Ends, 1) << "the program ends while the step still blocks";
    EXPECT_TRUE(StopSeen) << "the stop signal reached the step";
    EXPECT_FALSE(WorkerDone);
  }
  EXPECT_GE(StoppedAfter, 900u) << "the worker had its second to give way";
  ::SetEvent(Release.get());
  ASSERT_TRUE(ServeUntil([&] { return WorkerDone.load(); }, 10000));
  ::Sleep(100);
  EXPECT_FALSE(FinishedKey) << "no finishing step after a stop";
}

TEST_F(TRunFixture, FinishMayDestroyTheRun) {
  auto Run = std::make_unique<TCleanRun>(std::vector<std::wstring>{}, Steps());
  bool Closed = false;
  ASSERT_EQ(Run->Start(FileWhite, nullptr,
                       [&](const std::wstring&) {
                         Run.reset();  // the window closes from inside the finishing step
                         Closed = true;
                       })
                .Status,
            TCleanStartStatus::Started);
  ASSERT_TRUE(ServeUntil([&] { return Closed; }, 10000));
  EXPECT_EQ(Run, nullptr);
}

}  // namespace
}  // namespace nimbrel
