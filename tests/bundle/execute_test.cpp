// Execute and ExecuteUninstall with real processes: the callback after the end on the main
// thread, the shell's error box for a program that cannot start, and the user-level rule.
#include "bundle/execute.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/box_closer.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/handle.h"
#include "base/sync.h"

namespace nimbrel {
namespace {

using test::TBoxCloser;

const std::wstring Stub = std::filesystem::path(L"" UNINSTALLER_STUB_PATH).make_preferred().wstring();

std::string ReadAll(const std::filesystem::path& File) {
  std::ifstream In(File, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// A record file of the stub, removed before and after the test.
class ExecuteTest : public testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove(Record, Ignored); }
  void TearDown() override { std::filesystem::remove(Record, Ignored); }

  // Serves hand-overs until Done is set, at most Milliseconds; true when it was set.
  bool WaitFor(const TOwnedHandle& Done, unsigned long Milliseconds) {
    return WaitServingMainThread(Done.get(), Milliseconds) == WAIT_OBJECT_0;
  }

  const std::filesystem::path Record =
      std::filesystem::temp_directory_path() / (L"nimbrel-execute-" + std::to_wstring(::GetCurrentProcessId()));
  const std::wstring Arguments = L"\"" + Record.wstring() + L"\" ";
  std::error_code Ignored;
};

TEST_F(ExecuteTest, CallbackRunsOnTheMainThreadAfterTheProgramHasEnded) {
  struct TCase {
    const char* Form;
    std::function<void(TExecuteProc)> Start;
    std::string Tag;
  };
  const TCase Cases[] = {
      {"file and parameters", [&](TExecuteProc Proc) { Execute(Stub, Arguments + L"a 700", SW_HIDE, Proc); }, "a"},
      {"command line", [&](TExecuteProc Proc) { Execute(L"\"" + Stub + L"\" " + Arguments + L"b 700", SW_HIDE, Proc); },
       "b"},
      {"unquoted command line with blanks around",
       [&](TExecuteProc Proc) { Execute(L"  " + Stub + L" " + Arguments + L"c 700 ", SW_HIDE, Proc); }, "c"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Form);
    const TOwnedHandle Done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<DWORD> CalledOn{0};
    std::string RecordAtCall;
    Case.Start([&] {
      CalledOn = ::GetCurrentThreadId();
      RecordAtCall = ReadAll(Record);
      ::SetEvent(Done.get());
    });
    EXPECT_EQ(CalledOn, 0u) << "the callback waits for the program's end";
    ASSERT_TRUE(WaitFor(Done, 20000));
    EXPECT_EQ(CalledOn, ::GetCurrentThreadId());
    EXPECT_NE(RecordAtCall.find(Case.Tag + " end"), std::string::npos) << RecordAtCall;
  }
}

TEST_F(ExecuteTest, WithoutCallbackTheProgramStillRuns) {
  Execute(Stub, Arguments + L"quiet", SW_HIDE);
  for (int I = 0; I < 200 && ReadAll(Record).find("quiet end") == std::string::npos; ++I) ::Sleep(50);
  EXPECT_NE(ReadAll(Record).find("quiet end"), std::string::npos);
}

TEST_F(ExecuteTest, AProgramThatCannotStartCallsBackAtOnceAfterTheShellsErrorBox) {
  TBoxCloser Closer;
  for (const wchar_t* Command : {L"C:\\Nimbrel\\missing uninstaller.exe /S", L"\"C:\\Nimbrel\\missing.exe\""}) {
    const int Before = Closer.Closed();
    DWORD CalledOn = 0;
    bool Returned = false;
    Execute(Command, SW_SHOW, [&] {
      CalledOn = ::GetCurrentThreadId();
      EXPECT_FALSE(Returned);
    });
    Returned = true;
    EXPECT_EQ(CalledOn, ::GetCurrentThreadId()) << "at once, on the calling thread";
    EXPECT_GT(Closer.Closed(), Before) << "the shell showed its error box";
  }
}

TEST_F(ExecuteTest, CommandsOfTheCurrentUserGoToTheDesktopShellFirst) {
  struct TCase {
    const char* Name;
    bool FromCurrentUser;
    bool ShellTakes;
    bool AskedShell;
    bool Started;  // by the program itself
  };
  const TCase Cases[] = {
      {"current user, shell takes it", true, true, true, false},
      {"current user, no shell at the user's level", true, false, true, true},
      {"local machine", false, true, false, true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::filesystem::remove(Record, Ignored);
    std::wstring AskedFile, AskedParameters;
    bool Asked = false;
    const TShellAsUser Shell = [&](const std::wstring& File, const std::wstring& Parameters) {
      Asked = true;
      AskedFile = File;
      AskedParameters = Parameters;
      return Case.ShellTakes;
    };
    const TOwnedHandle Done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ExecuteUninstall(L"\"" + Stub + L"\" " + Arguments + L"u 300", Case.FromCurrentUser, SW_HIDE,
                     [&] { ::SetEvent(Done.get()); }, Shell);
    EXPECT_EQ(Asked, Case.AskedShell);
    if (Asked) {
      EXPECT_EQ(AskedFile, Stub);
      EXPECT_EQ(AskedParameters, Arguments + L"u 300");
    }
    if (Case.Started) {
      EXPECT_EQ(::WaitForSingleObject(Done.get(), 0), WAIT_TIMEOUT) << "called back only after the end";
      ASSERT_TRUE(WaitFor(Done, 20000));
      EXPECT_NE(ReadAll(Record).find("u end"), std::string::npos);
    } else {
      EXPECT_EQ(::WaitForSingleObject(Done.get(), 0), WAIT_OBJECT_0) << "no process: called back at once";
      ::Sleep(1000);
      EXPECT_EQ(ReadAll(Record), "") << "the program did not start it itself";
    }
  }
}

}  // namespace
}  // namespace nimbrel
