// The branches before Windows 10, in a prefix that reports Windows 7: switching off deletes the
// Run value or the startup file, switching on does nothing, tasks and services work as ever.
#include "startup/autorun.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/sync.h"
#include "startup/autorun_page.h"
#include "startup/autorun_sources.h"
#include "widgets/application.h"
#include "tests/startup/autorun_fixture.h"
#include "tests/support/wait_loaded.h"

namespace nimbrel {
namespace {

using namespace testing_support;

class TStartupEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitMainThread();
    InitPathVariables();
    CreateTaskServiceLock();
    Application().SetErrorSink([](const std::wstring& Message) { Errors().push_back(Message); });
  }
  static std::vector<std::wstring>& Errors() {
    static std::vector<std::wstring> Shown;
    return Shown;
  }
};
[[maybe_unused]] auto* const Environment = ::testing::AddGlobalTestEnvironment(new TStartupEnvironment);

TEST(BeforeWindows10, ThePrefixReportsWindows7) { EXPECT_FALSE(IsWindows10OrLater()); }

TEST(BeforeWindows10, SwitchingARunValueOffDeletesTheValueOnly) {
  const std::wstring Target = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT User";
  SetText(HKEY_CURRENT_USER, RunPath, L"NimbrelT User", L"C:\\User\\user.exe");
  // A subkey named like the value, with a tree below it, is not the entry.
  SetText(HKEY_CURRENT_USER, RunPath + L"\\NimbrelT User\\Deeper", L"Keep", L"me");

  SwitchAutorun(Target, L"HKCU", true);
  TAutorunList List;
  CollectAutorun(List);
  ASSERT_NE(FindEntry(List, L"HKCU", Target), nullptr) << "switching on changes nothing";
  EXPECT_FALSE(GetValue(HKEY_CURRENT_USER, ApprovedRunPath, L"NimbrelT User").Exists);

  SwitchAutorun(Target, L"HKCU", false);
  CollectAutorun(List);
  EXPECT_EQ(FindEntry(List, L"HKCU", Target), nullptr) << "the value is gone";
  EXPECT_FALSE(GetValue(HKEY_CURRENT_USER, RunPath, L"NimbrelT User").Exists);
  EXPECT_TRUE(GetValue(HKEY_CURRENT_USER, RunPath + L"\\NimbrelT User\\Deeper", L"Keep").Exists)
      << "the subkey of the same name keeps its tree";
  EXPECT_FALSE(GetValue(HKEY_CURRENT_USER, ApprovedRunPath, L"NimbrelT User").Exists) << "nothing is recorded";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, (RunPath + L"\\NimbrelT User").c_str());
}

TEST(BeforeWindows10, ARunValueNamedWithABackslashIsDeletedWhole) {
  const std::wstring Target = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\NimbrelT a\\b";
  SetText(HKEY_CURRENT_USER, RunPath, L"NimbrelT a\\b", L"C:\\User\\ab.exe");
  TAutorunList List;
  CollectAutorun(List);
  ASSERT_NE(FindEntry(List, L"HKCU", Target), nullptr);

  SwitchAutorun(Target, L"HKCU", false);
  CollectAutorun(List);
  EXPECT_EQ(FindEntry(List, L"HKCU", Target), nullptr) << "switched off";
  EXPECT_FALSE(GetValue(HKEY_CURRENT_USER, RunPath, L"NimbrelT a\\b").Exists);
  HKEY Stray = nullptr;
  EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, (RunPath + L"\\NimbrelT a").c_str(), 0, KEY_READ, &Stray), ERROR_SUCCESS)
      << "no key made of the name's first part";
  if (Stray != nullptr) ::RegCloseKey(Stray);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, (RunPath + L"\\NimbrelT a").c_str());
}

TEST(BeforeWindows10, SwitchingAStartupFileOffDeletesIt) {
  const std::wstring File = GetSpecialFolder(CSIDL_STARTUP) + L"\\NimbrelT Tool.exe";
  Touch(File);
  SwitchAutorun(File, L"FILE", true);
  EXPECT_TRUE(std::filesystem::exists(File)) << "switching on changes nothing";
  SwitchAutorun(File, L"FILE", false);
  EXPECT_FALSE(std::filesystem::exists(File));
  TAutorunList List;
  CollectAutorun(List);
  EXPECT_EQ(FindEntry(List, L"FILE", File), nullptr);
  EXPECT_FALSE(GetValue(HKEY_CURRENT_USER, ApprovedFolderPath, L"NimbrelT Tool.exe").Exists);

  // A file that cannot be deleted is the one error passed on, with the file and the reason.
  try {
    SwitchAutorun(File, L"FILE", false);
    ADD_FAILURE() << "a failed deletion is passed on";
  } catch (const std::runtime_error& Error) {
    EXPECT_NE(std::string(Error.what()).find("NimbrelT Tool.exe"), std::string::npos) << Error.what();
  }
}

TEST(BeforeWindows10, ServicesAndTasksSwitchAsOnWindows10) {
  TTestService Demand(L"NimbrelTDemand", L"Nimbrel Test Demand", SERVICE_DEMAND_START, L"C:\\windows\\system32\\notepad.exe");
  ASSERT_TRUE(Demand.Created());
  TFakeTaskScheduler Fake;
  Fake.Tasks = {{L"NimbrelT Task", true}};
  TFakeSchedulerScope Scope(Fake);
  SwitchAutorun(L"\\NimbrelT Task", L"SCHE", false);
  EXPECT_FALSE(Fake.Tasks[0].Enabled);

  if (SwitchServiceUntil(L"NimbrelTDemand", true, TTestService::StartTypeOf) != SERVICE_AUTO_START) {
    GTEST_SKIP() << "Wine's service manager did not let the new service be configured";
  }
  if (SwitchServiceUntil(L"NimbrelTDemand", false, TTestService::StartTypeOf) != SERVICE_DISABLED) {
    GTEST_SKIP() << "Wine's service manager stopped answering for the service";
  }
}

// A startup file that cannot be deleted: the error reaches the application's handler, and the
// page still reloads and gives the button back.
TEST(BeforeWindows10, AFailedSwitchStillReloadsAndEnablesTheButton) {
  const std::wstring Missing = GetSpecialFolder(CSIDL_STARTUP) + L"\\NimbrelT Gone.exe";
  TPanel Host(nullptr, nullptr, L"Host");
  Host.SetBounds(0, 0, 448, 367);
  auto* Frame = Host.Create<TFrmAutorun>(&Host);
  TStringList Empty;
  Frame->FFileWhite = &Empty;
  Frame->FNameWhite = &Empty;
  Frame->Collector = [&](TAutorunList& List, const TStopQuery&) {
    List = {TAutorunInfo{Missing, L"NimbrelT Gone", L"", Missing, L"FILE", true}};
  };
  Frame->LoadAutorun();
  ASSERT_TRUE(test::WaitLoaded(*Frame));
  ASSERT_EQ(Frame->Rows().size(), 1u);
  Frame->ListAutorun->SetSelectedIndex(0);
  TStartupEnvironment::Errors().clear();
  ::SendMessageW(Frame->BtnAutorun->Handle(), BM_CLICK, 0, 0);
  ASSERT_EQ(TStartupEnvironment::Errors().size(), 1u);
  EXPECT_NE(TStartupEnvironment::Errors()[0].find(L"NimbrelT Gone.exe"), std::wstring::npos);
  EXPECT_EQ(Frame->LoadCount(), 2) << "reloaded after the failure";
  ASSERT_TRUE(test::WaitLoaded(*Frame));
  EXPECT_TRUE(Frame->BtnAutorun->Enabled());
}

}  // namespace
}  // namespace nimbrel
