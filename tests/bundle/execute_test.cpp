// Execute and ExecuteUninstall with real processes: the callback after the end on the main
// thread, the shell's error box for a program that cannot start, the user-level rule, and where
// a program named without a folder is taken from.
#include "bundle/execute.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/box_closer.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "locale/translate.h"
#include "base/handle.h"
#include "base/sync.h"
#include "base/system_library.h"

namespace nimbrel {
namespace {

using test::TBoxCloser;

// With its drive: a path from the root alone is refused as a program.
const std::wstring Stub =
    std::filesystem::absolute(std::filesystem::path(L"" UNINSTALLER_STUB_PATH).make_preferred()).wstring();

bool SameFile(const std::wstring& A, const std::wstring& B) { return ::lstrcmpiW(A.c_str(), B.c_str()) == 0; }

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

TEST(ResolveProgram, FullPathsStandBareNamesComeFromTheFoldersOnly) {
  const std::vector<std::wstring> Folders = {L"C:\\Sys", L"C:\\Win\\"};
  const std::set<std::wstring> Files = {L"C:\\Sys\\msiexec.exe", L"C:\\Sys\\cmd.exe", L"C:\\Win\\regedit.exe",
                                        L"C:\\Sys\\both.exe", L"C:\\Win\\both.exe", L"C:\\Sys\\setup.bat"};
  const auto Exists = [&](const std::wstring& File) { return Files.contains(File); };
  const auto Anything = [](const std::wstring&) { return true; };
  struct TCase {
    const wchar_t* Program;
    const wchar_t* Expected;
    bool EverythingExists;  // the answer does not depend on what the folders hold
  };
  const TCase Cases[] = {
      {L"C:\\Apps\\u.exe", L"C:\\Apps\\u.exe", false},
      {L"d:/apps/u.exe", L"d:/apps/u.exe", false},
      {L"\\\\server\\share\\u.exe", L"\\\\server\\share\\u.exe", false},
      {L"\\\\?\\C:\\u.exe", L"\\\\?\\C:\\u.exe", false},
      {L"msiexec.exe", L"C:\\Sys\\msiexec.exe", false},
      {L"cmd", L"C:\\Sys\\cmd.exe", false},
      {L"regedit.exe", L"C:\\Win\\regedit.exe", false},
      {L"both.exe", L"C:\\Sys\\both.exe", false},
      {L"setup.bat", L"C:\\Sys\\setup.bat", false},
      {L"setup", L"", false},  // only ".exe" is added
      {L"onlyhere.exe", L"", false},
      {L"", L"", true},
      {L"sub\\x.exe", L"", true},
      {L"sub/x.exe", L"", true},
      {L".\\x.exe", L"", true},
      {L"..\\x.exe", L"", true},
      {L"\\x.exe", L"", true},
      {L"C:x.exe", L"", true},
      {L"x.exe:stream", L"", true},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(ResolveProgram(Case.Program, Folders, Exists), Case.Expected) << Case.Program;
    if (Case.EverythingExists) {
      EXPECT_EQ(ResolveProgram(Case.Program, Folders, Anything), L"") << Case.Program;
    }
  }
}

TEST(ResolveProgram, TakesSystemProgramsFromSystem32AndTheWindowsFolder) {
  const std::wstring System = SystemFolder();
  ASSERT_FALSE(System.empty());
  EXPECT_TRUE(SameFile(ResolveProgram(L"msiexec.exe"), System + L"\\msiexec.exe"));
  EXPECT_TRUE(SameFile(ResolveProgram(L"MsiExec"), System + L"\\MsiExec.exe"));
  EXPECT_TRUE(SameFile(ResolveProgram(L"%SystemRoot%\\System32\\msiexec.exe"), System + L"\\msiexec.exe"));
  // A program of the Windows folder that System32 lacks.
  bool WindowsOnly = false;
  for (const auto& File : std::filesystem::directory_iterator(WindowsFolder())) {
    const std::wstring Name = File.path().filename().wstring();
    if (!File.is_regular_file() || File.path().extension() != L".exe" || std::filesystem::exists(System + L"\\" + Name))
      continue;
    WindowsOnly = true;
    EXPECT_TRUE(SameFile(ResolveProgram(Name), WindowsFolder() + L"\\" + Name)) << Name;
    break;
  }
  EXPECT_TRUE(WindowsOnly) << "no program of the Windows folder alone to try";
  // Beside this test program, and in the current folder: not taken.
  const std::filesystem::path Self = std::filesystem::path(Stub).parent_path();
  ASSERT_TRUE(std::filesystem::exists(Self / L"bundle_uninstaller_stub.exe"));
  EXPECT_EQ(ResolveProgram(L"bundle_uninstaller_stub.exe"), L"");
}

// A planted program beside this test program or in the current folder, named without a folder:
// not started, the user is told in their language, and the callback runs at once.
TEST_F(ExecuteTest, AProgramOutsideTheSystemFoldersNamedWithoutAFolderDoesNotRun) {
  LoadTranslation();
  SetCurrentLanguage(L"en");
  wchar_t Previous[MAX_PATH] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, Previous), 0u);
  const std::filesystem::path Start =
      std::filesystem::temp_directory_path() / (L"nimbrel-start-" + std::to_wstring(::GetCurrentProcessId()));
  std::filesystem::create_directories(Start / L"sub");
  for (const wchar_t* Name : {L"onlyhere.exe", L"sub\\onlyhere.exe"}) {
    ASSERT_TRUE(::CopyFileW(Stub.c_str(), (Start / Name).c_str(), FALSE)) << Name;
  }
  ASSERT_TRUE(::SetCurrentDirectoryW(Start.c_str()));

  struct TCase {
    const wchar_t* Command;
    const wchar_t* Program;  // as the box names it
    bool Uninstall;
  };
  const TCase Cases[] = {
      {L"onlyhere.exe ", L"onlyhere.exe", false},
      {L"onlyhere ", L"onlyhere", true},
      {L"\".\\onlyhere.exe\" ", L".\\onlyhere.exe", false},
      {L"sub\\onlyhere.exe ", L"sub\\onlyhere.exe", true},
      {L"bundle_uninstaller_stub.exe ", L"bundle_uninstaller_stub.exe", false},
      {L"bundle_uninstaller_stub ", L"bundle_uninstaller_stub", true},
  };
  TBoxCloser Closer;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(Case.Command)));
    const size_t Boxes = Closer.Texts().size();
    bool Called = false;
    bool AskedShell = false;
    const std::wstring Command = Case.Command + Arguments + L"planted";
    if (Case.Uninstall) {
      ExecuteUninstall(Command, true, SW_HIDE, [&] { Called = true; }, [&](const std::wstring&, const std::wstring&) {
        AskedShell = true;
        return true;
      });
    } else {
      Execute(Command, SW_HIDE, [&] { Called = true; });
    }
    EXPECT_TRUE(Called) << "at once";
    EXPECT_FALSE(AskedShell);
    const std::vector<std::wstring> Texts = Closer.Texts();
    ASSERT_EQ(Texts.size(), Boxes + 1);
    EXPECT_EQ(Texts.back(), std::wstring(L"The program was not found in the Windows folder.\r\n\r\n") + Case.Program);
  }
  ::Sleep(1500);
  EXPECT_EQ(ReadAll(Record), "") << "nothing planted ran";

  ::SetCurrentDirectoryW(Previous);
  std::error_code Ignored;
  std::filesystem::remove_all(Start, Ignored);
  SetCurrentLanguage(L"ko");
}

// A name found in System32 starts from there, by the program itself or by the desktop shell.
TEST_F(ExecuteTest, ASystemProgramNamedWithoutAFolderStartsFromSystem32) {
  const TOwnedHandle Done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ExecuteUninstall(L"cmd /c echo system> \"" + Record.wstring() + L"\"", false, SW_HIDE,
                   [&] { ::SetEvent(Done.get()); });
  ASSERT_TRUE(WaitFor(Done, 20000));
  EXPECT_NE(ReadAll(Record).find("system"), std::string::npos);

  std::wstring AskedFile;
  bool Called = false;
  ExecuteUninstall(L"MsiExec.exe /X{00000000-0000-0000-0000-000000000000}", true, SW_HIDE, [&] { Called = true; },
                   [&](const std::wstring& File, const std::wstring&) {
                     AskedFile = File;
                     return true;
                   });
  EXPECT_TRUE(Called);
  EXPECT_TRUE(SameFile(AskedFile, SystemFolder() + L"\\MsiExec.exe")) << AskedFile;
}

}  // namespace
}  // namespace nimbrel
