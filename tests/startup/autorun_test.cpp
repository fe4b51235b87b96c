// Collecting and switching autostart entries against a seeded Wine prefix (Windows 10).
#include "startup/autorun.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "base/registry.h"
#include "startup/autorun_sources.h"
#include "tests/startup/autorun_fixture.h"

namespace nimbrel {
namespace {

using namespace testing_support;

class TStartupEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitPathVariables();
    CreateTaskServiceLock();
  }
  void TearDown() override { DisconnectTaskService(); }
};
[[maybe_unused]] auto* const Environment = ::testing::AddGlobalTestEnvironment(new TStartupEnvironment);

// The entries other than services, as "From|Target|on/off" (Wine's service list is not stable).
// The Startup page's tests, which may run beside these in the same prefix, add and remove Run
// values of their own ("NimbrelP ..."): those are left out too.
std::vector<std::wstring> WithoutServices(const TAutorunList& List) {
  std::vector<std::wstring> Result;
  for (const TAutorunInfo& Info : List) {
    if (Info.Caption.rfind(L"NimbrelP ", 0) == 0) continue;
    if (Info.From != L"SERV") Result.push_back(Info.From + L"|" + Info.Target + (Info.Enabled ? L"|on" : L"|off"));
  }
  return Result;
}

const std::wstring TestKey = L"Software\\NimbrelStartupTests";

std::vector<uint8_t> Bytes(std::initializer_list<int> Values) {
  std::vector<uint8_t> Result;
  for (int Value : Values) Result.push_back(static_cast<uint8_t>(Value));
  return Result;
}

TEST(StartupApproved, ReadsOffOnlyFromTwelveBytesWithTheLowestBitSet) {
  struct TCase {
    const char* What;
    bool Present;
    DWORD Type;
    std::vector<uint8_t> Data;
    bool On;
  };
  auto Twelve = [](int First) {
    std::vector<uint8_t> Value(12, 0);
    Value[0] = static_cast<uint8_t>(First);
    return Value;
  };
  const TCase Cases[] = {
      {"missing", false, REG_BINARY, {}, true},
      {"empty", true, REG_BINARY, {}, true},
      {"02 on", true, REG_BINARY, Twelve(2), true},
      {"03 off", true, REG_BINARY, Twelve(3), false},
      {"06 on (written by Windows)", true, REG_BINARY, Twelve(6), true},
      {"07 off (written by Windows)", true, REG_BINARY, Twelve(7), false},
      {"01 off", true, REG_BINARY, Twelve(1), false},
      {"00 on", true, REG_BINARY, Twelve(0), true},
      {"8 bytes from 03", true, REG_BINARY, Bytes({3, 0, 0, 0, 0, 0, 0, 0}), true},
      {"13 bytes from 03", true, REG_BINARY, Bytes({3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), true},
      {"a number", true, REG_DWORD, Bytes({3, 0, 0, 0}), true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, TestKey.c_str());
    if (Case.Present) SetValue(HKEY_CURRENT_USER, TestKey, L"Entry", Case.Type, Case.Data.data(), Case.Data.size());
    EXPECT_EQ(ReadStartupApproved(HKEY_CURRENT_USER, TestKey, L"Entry"), Case.On);
    EXPECT_EQ(ReadStartupApproved(HKEY_CURRENT_USER, L"\\" + TestKey, L"Entry"), Case.On) << "leading backslash";
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, TestKey.c_str());
  EXPECT_TRUE(ReadStartupApproved(HKEY_CURRENT_USER, TestKey, L"Entry")) << "missing key";
}

TEST(StartupApproved, MadeValuesCarryTheStateAndTheUtcTime) {
  for (const bool Enable : {true, false}) {
    FILETIME Before;
    ::GetSystemTimeAsFileTime(&Before);
    const std::vector<uint8_t> Value = MakeStartupApproved(Enable);
    FILETIME After;
    ::GetSystemTimeAsFileTime(&After);
    ASSERT_EQ(Value.size(), 12u);
    EXPECT_EQ(Value[0], Enable ? 2 : 3);
    EXPECT_EQ(Value[1] | Value[2] | Value[3], 0);
    uint64_t Ticks = 0;
    for (int I = 7; I >= 0; --I) Ticks = (Ticks << 8) | Value[4 + I];
    auto AsTicks = [](FILETIME Time) { return (uint64_t{Time.dwHighDateTime} << 32) | Time.dwLowDateTime; };
    // SYSTEMTIME holds milliseconds: the written time may lie up to 1 ms before the first reading.
    EXPECT_GE(Ticks + 10000, AsTicks(Before));
    EXPECT_LE(Ticks, AsTicks(After));
    EXPECT_EQ(StartupApprovedIsOn(Value), Enable) << "reads back as written";
  }
}

TEST(AutorunSources, WindowsTenIsDecidedByTheRegistryAboveSixPointOne) {
  struct TCase {
    DWORD Major, Minor;
    std::optional<int32_t> Registry;
    bool Ten;
  };
  const TCase Cases[] = {
      {6, 1, 10, false},  // Windows 7 never asks the registry
      {6, 1, std::nullopt, false},
      {6, 2, 10, true},   // a program without a manifest entry for 10 is told 6.2
      {6, 3, std::nullopt, false},
      {6, 2, 6, false},
      {10, 0, std::nullopt, true},
      {10, 0, 11, true},
      {5, 1, 10, false},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(IsWindows10OrLater(Case.Major, Case.Minor, Case.Registry), Case.Ten)
        << Case.Major << "." << Case.Minor;
  }
  EXPECT_TRUE(IsWindows10OrLater()) << "test prefixes report Windows 10";
}

TEST(AutorunSources, RunTargetsKeepTheWholeValueName) {
  const std::wstring Run = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::wstring Run32 = L"\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
  struct TCase {
    std::wstring Target;
    bool Ok;
    HKEY Root;
    std::wstring Key, Name;
  } Cases[] = {
      {L"HKCU" + Run + L"\\a\\b", true, HKEY_CURRENT_USER, Run, L"a\\b"},
      {L"HKLM" + Run + L"\\Tray", true, HKEY_LOCAL_MACHINE, Run, L"Tray"},
      {L"hklm\\SOFTWARE\\wow6432node\\Microsoft\\Windows\\CurrentVersion\\Run\\Old\\", true, HKEY_LOCAL_MACHINE, Run32,
       L"Old\\"},
      {L"HKCU" + Run + L"\\", true, HKEY_CURRENT_USER, Run, L""},  // the default value
      {L"HKCU" + Run32 + L"\\x", false, nullptr, L"", L""},        // not a key that is collected
      {L"HKCU" + Run + L"Once\\x", false, nullptr, L"", L""},
      {L"HKCU" + Run, false, nullptr, L"", L""},
      {L"HKLM\\Run", false, nullptr, L"", L""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(Case.Target));
    HKEY Root = HKEY_CLASSES_ROOT;
    std::wstring Key = L"stale", Name = L"stale";
    EXPECT_EQ(ParseRunValueTarget(Case.Target, Root, Key, Name), Case.Ok);
    EXPECT_EQ(Root, Case.Root);
    EXPECT_EQ(Key, Case.Key);
    EXPECT_EQ(Name, Case.Name);
    if (Case.Ok && Case.Target.substr(0, 4) != L"hklm") {
      EXPECT_EQ(RunValueTarget(Root, Key, Name), Case.Target);
    }
  }
}

TEST(AutorunSources, StartupExtensionsIgnoreCase) {
  for (const wchar_t* Name : {L"App.LNK", L"a.url", L"x.Exe", L"b.bat", L"c.CMD", L"d.com", L"two.dots.lnk"}) {
    EXPECT_TRUE(HasStartupExtension(Name)) << testing::PrintToString(std::wstring(Name));
  }
  for (const wchar_t* Name : {L"desktop.ini", L"readme.txt", L"lnk", L"a.lnk.bak", L"", L"a.lnkx"}) {
    EXPECT_FALSE(HasStartupExtension(Name)) << testing::PrintToString(std::wstring(Name));
  }
  EXPECT_EQ(ApprovedKeyOfRunKey(L"\\Software\\wow6432node\\X\\Run"),
            L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32");
  EXPECT_EQ(ApprovedKeyOfRunKey(L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
            L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run");
}

// Startup files, Run values and services seeded by the test; tasks from the fake scheduler.
class CollectAutorunTest : public testing::Test {
 protected:
  void SetUp() override {
    Common = GetSpecialFolder(CSIDL_COMMON_STARTUP);
    User = GetSpecialFolder(CSIDL_STARTUP);
    ASSERT_FALSE(Common.empty());
    ASSERT_FALSE(User.empty());
    ASSERT_NE(Common, User);
    TearDown();
  }
  void TearDown() override {
    for (const std::wstring& Folder : {Common, User}) {
      for (const wchar_t* Name : {L"NimbrelT App.LNK", L"NimbrelT Tool.exe", L"NimbrelT notes.txt", L"NimbrelT Both.lnk"}) {
        std::filesystem::remove(Folder + L"\\" + Name);
      }
      std::filesystem::remove_all(Folder + L"\\NimbrelT Sub");
    }
    for (const std::wstring& Name : {std::wstring(L"NimbrelT App.LNK"), std::wstring(L"NimbrelT Both.lnk")}) {
      DeleteValue(HKEY_CURRENT_USER, ApprovedFolderPath, Name);
      DeleteValue(HKEY_LOCAL_MACHINE, ApprovedFolderPath, Name);
    }
    for (const wchar_t* Name : {L"NimbrelT Machine", L"NimbrelT Number"}) DeleteValue(HKEY_LOCAL_MACHINE, RunPath, Name);
    DeleteValue(HKEY_LOCAL_MACHINE, Run32Path, L"NimbrelT Old");
    DeleteValue(HKEY_CURRENT_USER, RunPath, L"NimbrelT User");
    DeleteValue(HKEY_CURRENT_USER, RunPath, L"NimbrelT a\\b");
    DeleteValue(HKEY_CURRENT_USER, ApprovedRunPath, L"NimbrelT a\\b");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (ApprovedRunPath + L"\\NimbrelT a").c_str());
    DeleteValue(HKEY_CURRENT_USER, RunPath, L"");
    for (const wchar_t* Name : {L"NimbrelT Machine", L"NimbrelT User", L"NimbrelT Old"}) {
      DeleteValue(HKEY_LOCAL_MACHINE, ApprovedRunPath, Name);
      DeleteValue(HKEY_LOCAL_MACHINE, ApprovedRun32Path, Name);
      DeleteValue(HKEY_CURRENT_USER, ApprovedRunPath, Name);
    }
  }

  std::wstring Common, User;
};

TEST_F(CollectAutorunTest, StartupFolderFilesOfBothFolders) {
  Touch(Common + L"\\NimbrelT App.LNK");
  Touch(Common + L"\\NimbrelT notes.txt");
  Touch(Common + L"\\NimbrelT Sub\\Inner.lnk");
  Touch(Common + L"\\NimbrelT Both.lnk");
  Touch(User + L"\\NimbrelT Both.lnk");
  Touch(User + L"\\NimbrelT Tool.exe");
  const std::vector<uint8_t> Off{3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  SetBytes(HKEY_LOCAL_MACHINE, ApprovedFolderPath, L"NimbrelT Both.lnk", Off);
  SetBytes(HKEY_CURRENT_USER, ApprovedFolderPath, L"NimbrelT App.LNK", Off);  // the wrong root: still on

  TAutorunList List{TAutorunInfo{L"stale", L"stale", L"", L"stale", L"FILE", true}};
  CollectAutorun(List);
  EXPECT_EQ(FindEntry(List, L"FILE", L"stale"), nullptr) << "the list is emptied first";

  const TAutorunInfo* App = FindEntry(List, L"FILE", Common + L"\\NimbrelT App.LNK");
  ASSERT_NE(App, nullptr) << "the extension test ignores case";
  EXPECT_EQ(App->FileName, Common + L"\\NimbrelT App.LNK");
  EXPECT_EQ(App->Caption, L"NimbrelT App");
  EXPECT_EQ(App->RawData, L"");
  EXPECT_TRUE(App->Enabled) << "judged under HKLM for the common folder";

  const TAutorunInfo* CommonBoth = FindEntry(List, L"FILE", Common + L"\\NimbrelT Both.lnk");
  const TAutorunInfo* UserBoth = FindEntry(List, L"FILE", User + L"\\NimbrelT Both.lnk");
  ASSERT_NE(CommonBoth, nullptr);
  ASSERT_NE(UserBoth, nullptr);
  EXPECT_FALSE(CommonBoth->Enabled);
  EXPECT_TRUE(UserBoth->Enabled) << "judged under HKCU";
  EXPECT_EQ(CommonBoth->Caption, UserBoth->Caption);

  EXPECT_NE(FindEntry(List, L"FILE", User + L"\\NimbrelT Tool.exe"), nullptr);
  EXPECT_EQ(FindEntry(List, L"FILE", Common + L"\\NimbrelT notes.txt"), nullptr);
  EXPECT_EQ(FindEntry(List, L"FILE", Common + L"\\NimbrelT Sub"), nullptr);
  EXPECT_EQ(FindEntry(List, L"FILE", Common + L"\\NimbrelT Sub\\Inner.lnk"), nullptr);
  EXPECT_LT(IndexOf(List, L"FILE", Common + L"\\NimbrelT Both.lnk"), IndexOf(List, L"FILE", User + L"\\NimbrelT Both.lnk"))
      << "the common folder comes first";
}

TEST_F(CollectAutorunTest, RunValuesOfTheThreeKeys) {
  SetText(HKEY_LOCAL_MACHINE, RunPath, L"NimbrelT Machine", L"\"C:\\Program Files\\App\\app.exe\" --tray");
  const DWORD Number = 7;
  SetValue(HKEY_LOCAL_MACHINE, RunPath, L"NimbrelT Number", REG_DWORD, &Number, sizeof(Number));
  SetText(HKEY_LOCAL_MACHINE, Run32Path, L"NimbrelT Old", L"C:\\Old\\old.exe /s");
  SetText(HKEY_CURRENT_USER, RunPath, L"NimbrelT User", L"%AppData%\\User\\user.exe");
  SetText(HKEY_CURRENT_USER, RunPath, L"", L"C:\\Default\\default.exe");
  const std::vector<uint8_t> Off{3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  SetBytes(HKEY_LOCAL_MACHINE, ApprovedRun32Path, L"NimbrelT Old", Off);
  SetBytes(HKEY_LOCAL_MACHINE, ApprovedRunPath, L"NimbrelT User", Off);  // another root: the user's stays on
  SetBytes(HKEY_CURRENT_USER, ApprovedRunPath, L"NimbrelT Machine", Off);  // another root: stays on

  TAutorunList List;
  CollectAutorun(List);
  const std::wstring Machine = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT Machine";
  const TAutorunInfo* Info = FindEntry(List, L"HKLM", Machine);
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(Info->Caption, L"NimbrelT Machine");
  EXPECT_EQ(Info->RawData, L"\"C:\\Program Files\\App\\app.exe\" --tray");
  EXPECT_EQ(Info->FileName, L"C:\\Program Files\\App\\app.exe");
  EXPECT_TRUE(Info->Enabled);

  Info = FindEntry(List, L"HKLM", L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT Number");
  ASSERT_NE(Info, nullptr) << "a value that is not text is listed";
  EXPECT_EQ(Info->RawData, L"");
  EXPECT_EQ(Info->FileName, L"");

  const std::wstring Old = L"HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT Old";
  Info = FindEntry(List, L"HKLM", Old);
  ASSERT_NE(Info, nullptr);
  EXPECT_FALSE(Info->Enabled) << "judged by Run32";
  EXPECT_EQ(Info->FileName, L"C:\\Old\\old.exe");

  const std::wstring UserTarget = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT User";
  Info = FindEntry(List, L"HKCU", UserTarget);
  ASSERT_NE(Info, nullptr);
  EXPECT_TRUE(Info->Enabled);
  EXPECT_EQ(Info->FileName, GetSpecialFolder(CSIDL_APPDATA) + L"\\User\\user.exe");

  Info = FindEntry(List, L"HKCU", L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\");
  ASSERT_NE(Info, nullptr) << "the default value";
  EXPECT_EQ(Info->Caption, L"");
  EXPECT_EQ(Info->FileName, L"C:\\Default\\default.exe");

  EXPECT_LT(IndexOf(List, L"HKLM", Machine), IndexOf(List, L"HKLM", Old));
  EXPECT_LT(IndexOf(List, L"HKLM", Old), IndexOf(List, L"HKCU", UserTarget));
}

TEST_F(CollectAutorunTest, ServicesOfEveryStartTypeAfterTheTasks) {
  TTestService Auto(L"NimbrelTAuto", L"Nimbrel Test Auto", SERVICE_AUTO_START, L"C:\\Svc\\auto.exe -service");
  TTestService Demand(L"NimbrelTDemand", L"Nimbrel Test Demand", SERVICE_DEMAND_START, L"\"C:\\Svc\\demand.exe\"");
  TTestService Disabled(L"NimbrelTDisabled", L"Nimbrel Test Disabled", SERVICE_DISABLED, L"C:\\Svc\\off.exe");
  ASSERT_TRUE(Auto.Created() && Demand.Created() && Disabled.Created());
  TFakeTaskScheduler Fake;
  Fake.Tasks = {{L"NimbrelT Task", true}, {L"NimbrelT Off Task", false}};
  TFakeSchedulerScope Scope(Fake);
  Touch(User + L"\\NimbrelT Tool.exe");

  TAutorunList List;
  CollectAutorun(List);
  const TAutorunInfo* Task = FindEntry(List, L"SCHE", L"\\NimbrelT Task");
  ASSERT_NE(Task, nullptr);
  EXPECT_EQ(Task->Caption, L"NimbrelT Task");
  EXPECT_EQ(Task->FileName, L"");
  EXPECT_TRUE(Task->Enabled);
  ASSERT_NE(FindEntry(List, L"SCHE", L"\\NimbrelT Off Task"), nullptr);
  EXPECT_FALSE(FindEntry(List, L"SCHE", L"\\NimbrelT Off Task")->Enabled);
  EXPECT_FALSE(Fake.LockWasFree) << "the walk runs under TaskServiceLock";

  // Collection order: files, Run values, tasks, services.
  const int File = IndexOf(List, L"FILE", User + L"\\NimbrelT Tool.exe");
  const int FirstTask = IndexOf(List, L"SCHE", L"\\NimbrelT Task");
  EXPECT_LT(File, FirstTask);
  EXPECT_EQ(IndexOf(List, L"SCHE", L"\\NimbrelT Off Task"), FirstTask + 1);
  for (size_t I = 0; I < List.size(); ++I) {
    if (List[I].From == L"SERV") {
      EXPECT_GT(static_cast<int>(I), FirstTask + 1);
    } else if (List[I].From != L"SCHE") {
      EXPECT_LT(static_cast<int>(I), FirstTask);
    }
  }

  // A walk that fails part-way keeps the tasks found before the failure.
  Fake.FailAfter = 1;
  CollectAutorun(List);
  EXPECT_NE(FindEntry(List, L"SCHE", L"\\NimbrelT Task"), nullptr);
  EXPECT_EQ(FindEntry(List, L"SCHE", L"\\NimbrelT Off Task"), nullptr);

  TAutorunList Again;
  CollectAutorun(Again);
  EXPECT_EQ(WithoutServices(Again), WithoutServices(List)) << "nothing changed, nothing differs";

  CollectUntil(List, [](const TAutorunList& Each) {
    return FindEntry(Each, L"SERV", L"NimbrelTAuto") && FindEntry(Each, L"SERV", L"NimbrelTDemand") &&
           FindEntry(Each, L"SERV", L"NimbrelTDisabled");
  });
  if (!FindEntry(List, L"SERV", L"NimbrelTAuto") || !FindEntry(List, L"SERV", L"NimbrelTDemand") ||
      !FindEntry(List, L"SERV", L"NimbrelTDisabled")) {
    GTEST_SKIP() << "Wine's service manager left the new services out of its list";
  }
  struct TCase {
    const wchar_t* Name;
    const wchar_t* Display;
    const wchar_t* Binary;
    bool Enabled;
  };
  const TCase Cases[] = {
      {L"NimbrelTAuto", L"Nimbrel Test Auto", L"C:\\Svc\\auto.exe -service", true},
      {L"NimbrelTDemand", L"Nimbrel Test Demand", L"\"C:\\Svc\\demand.exe\"", false},
      {L"NimbrelTDisabled", L"Nimbrel Test Disabled", L"C:\\Svc\\off.exe", false},
  };
  for (const TCase& Case : Cases) {
    const TAutorunInfo* Info = FindEntry(List, L"SERV", Case.Name);
    ASSERT_NE(Info, nullptr) << testing::PrintToString(std::wstring(Case.Name));
    EXPECT_EQ(Info->Caption, Case.Display);
    EXPECT_EQ(Info->FileName, Case.Binary) << "arguments included, unchanged";
    EXPECT_EQ(Info->RawData, Case.Binary);
    EXPECT_EQ(Info->Enabled, Case.Enabled);
  }

}

TEST_F(CollectAutorunTest, SwitchingWritesWhatTheCollectionReadsBack) {
  Touch(Common + L"\\NimbrelT App.LNK");
  Touch(User + L"\\NimbrelT Tool.exe");
  SetText(HKEY_LOCAL_MACHINE, Run32Path, L"NimbrelT Old", L"C:\\Old\\old.exe");
  SetText(HKEY_CURRENT_USER, RunPath, L"NimbrelT User", L"C:\\User\\user.exe");
  SetText(HKEY_CURRENT_USER, RunPath, L"NimbrelT a\\b", L"C:\\User\\ab.exe");
  TTestService Demand(L"NimbrelTSwitched", L"Nimbrel Test Switched", SERVICE_DEMAND_START, L"C:\\Svc\\demand.exe");
  ASSERT_TRUE(Demand.Created());
  TFakeTaskScheduler Fake;
  Fake.Tasks = {{L"NimbrelT Task", true}};
  TFakeSchedulerScope Scope(Fake);

  struct TCase {
    std::wstring From, Target;
    HKEY ApprovedRoot;
    std::wstring ApprovedKey, ApprovedName;
  };
  const TCase Cases[] = {
      {L"FILE", Common + L"\\NimbrelT App.LNK", HKEY_LOCAL_MACHINE, ApprovedFolderPath, L"NimbrelT App.LNK"},
      {L"FILE", User + L"\\NimbrelT Tool.exe", HKEY_CURRENT_USER, ApprovedFolderPath, L"NimbrelT Tool.exe"},
      {L"HKLM", L"HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT Old",
       HKEY_LOCAL_MACHINE, ApprovedRun32Path, L"NimbrelT Old"},
      {L"HKCU", L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT User", HKEY_CURRENT_USER,
       ApprovedRunPath, L"NimbrelT User"},
      // A value name may hold a backslash: it is recorded under its whole name.
      {L"HKCU", L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT a\\b", HKEY_CURRENT_USER,
       ApprovedRunPath, L"NimbrelT a\\b"},
      {L"SCHE", L"\\NimbrelT Task", nullptr, L"", L""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(Case.Target));
    for (const bool Enable : {false, true, false}) {
      SwitchAutorun(Case.Target, Case.From, Enable);
      TAutorunList List;
      CollectAutorun(List);
      const TAutorunInfo* Info = FindEntry(List, Case.From, Case.Target);
      ASSERT_NE(Info, nullptr) << "the entry stays on Windows 10";
      EXPECT_EQ(Info->Enabled, Enable);
      if (Case.ApprovedRoot != nullptr) {
        const TValue Value = GetValue(Case.ApprovedRoot, Case.ApprovedKey, Case.ApprovedName);
        ASSERT_EQ(Value.Data.size(), 12u);
        EXPECT_EQ(Value.Data[0], Enable ? 2 : 3);
      }
    }
  }
  EXPECT_FALSE(TReg::IsKey(HKEY_CURRENT_USER, ApprovedRunPath + L"\\NimbrelT a")) << "no key made of the name's first part";
  EXPECT_TRUE(std::filesystem::exists(Common + L"\\NimbrelT App.LNK")) << "the file stays in place";
  EXPECT_FALSE(Fake.LockWasFree) << "the switch runs under TaskServiceLock";

  // Services change their start type only; the code ignores case.
  if (SwitchServiceUntil(L"NimbrelTSwitched", true, TTestService::StartTypeOf) != SERVICE_AUTO_START) {
    GTEST_SKIP() << "Wine's service manager did not let the new service be configured";
  }
  TAutorunList List;
  CollectUntil(List, [](const TAutorunList& Each) { return FindEntry(Each, L"SERV", L"NimbrelTSwitched") != nullptr; });
  ASSERT_NE(FindEntry(List, L"SERV", L"NimbrelTSwitched"), nullptr);
  EXPECT_TRUE(FindEntry(List, L"SERV", L"NimbrelTSwitched")->Enabled);
  if (SwitchServiceUntil(L"NimbrelTSwitched", false, TTestService::StartTypeOf, L"serv") != SERVICE_DISABLED) {
    GTEST_SKIP() << "Wine's service manager stopped answering for the service";
  }
}

TEST_F(CollectAutorunTest, UnknownEntriesChangeNothingAndShowNothing) {
  TFakeTaskScheduler Fake;
  Fake.Tasks = {{L"NimbrelT Task", true}};
  TFakeSchedulerScope Scope(Fake);
  TAutorunList Before;
  CollectAutorun(Before);
  EXPECT_NO_THROW(SwitchAutorun(L"\\NimbrelT No Such Task", L"SCHE", false));
  EXPECT_NO_THROW(SwitchAutorun(L"NimbrelTNoSuchService", L"SERV", false));
  EXPECT_NO_THROW(SwitchAutorun(L"HKLM\\Run", L"HKLM", false)) << "a target that does not parse";
  EXPECT_TRUE(Fake.Tasks[0].Enabled);
  TAutorunList After;
  CollectAutorun(After);
  EXPECT_EQ(WithoutServices(After), WithoutServices(Before));
}

// The shared connection lives in the multithreaded apartment: callers in a single-threaded
// apartment (the program's main thread switches tasks), in the multithreaded one (a load's
// worker) and without COM all walk and switch through it from there, under the lock.
TEST(TaskSchedulerApartment, EveryCallerWalksAndSwitchesInTheMultithreadedApartment) {
  struct TCase {
    const char* Caller;
    bool Com;
    DWORD Model;
  };
  const TCase Cases[] = {
      {"single-threaded apartment", true, COINIT_APARTMENTTHREADED},
      {"multithreaded apartment", true, COINIT_MULTITHREADED},
      {"no COM", false, 0},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Caller);
    TFakeTaskScheduler Fake;
    Fake.Tasks = {{L"NimbrelT Task", true}, {L"NimbrelT Other", true}};
    TFakeSchedulerScope Scope(Fake);
    TAutorunList List;
    std::thread Caller([&] {
      std::optional<TComScope> Com;
      if (Case.Com) Com.emplace(Case.Model);
      SwitchAutorun(L"\\NimbrelT Task", L"SCHE", false);
      CollectAutorun(List);
    });
    Caller.join();
    const TAutorunInfo* Task = FindEntry(List, L"SCHE", L"\\NimbrelT Task");
    ASSERT_NE(Task, nullptr);
    EXPECT_FALSE(Task->Enabled) << "switched off";
    ASSERT_NE(FindEntry(List, L"SCHE", L"\\NimbrelT Other"), nullptr);
    EXPECT_TRUE(FindEntry(List, L"SCHE", L"\\NimbrelT Other")->Enabled);
    EXPECT_FALSE(Fake.OutsideMta) << "every call came from the multithreaded apartment";
    EXPECT_FALSE(Fake.LockWasFree) << "and under TaskServiceLock";
  }
}

// Wine's own Task Scheduler registers tasks but lists none and switches none: collecting and
// switching through it must pass quietly, also from a single-threaded apartment such as the main
// thread's (the connection is then used from a thread of the multithreaded one).
TEST(RealTaskScheduler, ListingAndSwitchingFailQuietly) {
  for (const bool SingleThreaded : {false, true}) {
    SCOPED_TRACE(SingleThreaded ? "single-threaded apartment" : "no COM");
    std::thread Caller([&] {
      std::optional<TComScope> Com;
      if (SingleThreaded) Com.emplace(COINIT_APARTMENTTHREADED);
      TAutorunList List;
      EXPECT_NO_THROW(CollectAutorun(List));
      EXPECT_FALSE(List.empty()) << "the other sources still answer";
      EXPECT_NO_THROW(SwitchAutorun(L"\\NimbrelT No Such Task", L"SCHE", false));
      TAutorunList Again;
      EXPECT_NO_THROW(CollectAutorun(Again));
      EXPECT_EQ(WithoutServices(Again), WithoutServices(List));
    });
    Caller.join();
  }
}

}  // namespace
}  // namespace nimbrel
