// The clean's report step inside the main window: the page opened for the key the service sends,
// nothing opened without one, the window closing in every case, and a close during the upload
// that the upload gives way to at once.
#include "app/frm_nimbrel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cstdio>

#include "base/paths.h"
#include "base/sync.h"
#include "base/utf.h"
#include "bundle/install_page.h"
#include "clean/clean_report.h"
#include "net/endpoints.h"
#include "net/http_client.h"
#include "startup/autorun_page.h"
#include "tests/net/http_test_server.h"
#include "tests/support/recorded_links.h"
#include "widgets/application.h"
#include "tests/support/pump.h"

namespace nimbrel {
namespace {

using test::EnvText;
using test::ServerUrl;
using test::TRecordedLinks;

class TWindowEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitMainThread();
    InitPathVariables();
    Application().SetErrorSink([](const std::wstring&) {});
  }
};
[[maybe_unused]] auto* const Environment = ::testing::AddGlobalTestEnvironment(new TWindowEnvironment);

using test::Pump;

void Press(const TControl* Control) { ::SendMessageW(Control->Handle(), BM_CLICK, 0, 0); }

// Worker steps that report one known process to Url, as the real steps do after the purge.
TCleanSteps ReportTo(const std::wstring& Url) {
  return [Url](TCleanJobData& Data) {
    TProcessInfo Info;
    Info.ProcessID = 4;
    Info.FileName = L"System";
    Data.Processes->push_back(Info);
    return SendReport(Url, Data);
  };
}

int ReportCount() {
  THTTP Control;
  const std::wstring Count = Control.Get(ServerUrl(L"control/count"));
  return Control.StatusCode() == 200 ? std::stoi(Count) : -1;
}

// The body the service received last; empty when none.
std::wstring LastReportBody() {
  THTTP Control;
  const std::wstring Text = Control.Get(ServerUrl(L"control/last"));
  if (Control.StatusCode() != 200) return {};
  const size_t End = Text.find(L"\n\n");
  return End == std::wstring::npos ? std::wstring() : Text.substr(End + 2);
}

class ReportWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ServerUrl().empty()) GTEST_SKIP() << "no test server";
  }
};

TEST_F(ReportWindow, TheKeyOpensTheReportPageAndTheWindowClosesInEveryCase) {
  struct TCase {
    const wchar_t* Answer;  // what the service answers; nullptr: nothing listens
    const wchar_t* Key;     // the key whose page opens; nullptr: none
  };
  const TCase Cases[] = {
      {L"{\"ok\":true,\"pk\":\"r-42\"}", L"r-42"},
      {L"{\"PK\":\"a b&c\"}", L"a b&c"},
      {L"{\"pk\":\"\"}", nullptr},
      {L"<html>Internal error</html>", nullptr},
      {nullptr, nullptr},
  };
  for (const TCase& Case : Cases) {
    const std::string Label = Case.Answer ? WideToUtf8(Case.Answer) : "no service";
    TRecordedLinks Recorded;
    std::wstring Url = ServerUrl(L"report.php");
    if (Case.Answer != nullptr) {
      THTTP Control;
      Control.Post(ServerUrl(L"control/answer"), std::wstring(Case.Answer));
      ASSERT_EQ(Control.StatusCode(), 200);
    } else {
      Url = L"http://127.0.0.1:" + EnvText("NIMBREL_TEST_CLOSED_PORT") + L"/report.php";
    }
    const int Before = ReportCount();
    TFrmNimbrel Window(nullptr, std::make_unique<TCleanRun>(std::vector<std::wstring>{}, ReportTo(Url)));
    Window.Show();
    Press(Window.BtnStart);
    for (int I = 0; I < 400 && ::IsWindow(Window.Handle()); ++I) Pump(25);
    EXPECT_FALSE(::IsWindow(Window.Handle())) << "the window closes: " << Label;
    EXPECT_EQ(Window.CleanRun().State(), TCleanState::Done) << Label;
    EXPECT_EQ(ReportCount(), Before + (Case.Answer != nullptr ? 1 : 0)) << Label;
    if (Case.Answer != nullptr) {
      // Neither page was opened: the memory object and the one process only.
      const std::wstring Body = LastReportBody();
      EXPECT_TRUE(Body.starts_with(L"[{\"cate\":\"memory\",\"old\":\"")) << WideToUtf8(Body);
      EXPECT_TRUE(Body.ends_with(L"\"},{\"cate\":\"clean\",\"file\":\"System\",\"state\":\"1\"}]")) << WideToUtf8(Body);
    }
    if (Case.Key != nullptr) {
      EXPECT_EQ(Recorded.Links(1), std::vector<std::wstring>{ReportPageUrl(Case.Key)}) << Label;
    } else {
      EXPECT_EQ(Recorded.Links(1, 1500), std::vector<std::wstring>{}) << "no page opens: " << Label;
    }
  }
}

// How long closing the window takes when no clean runs.
DWORD IdleCloseMilliseconds() {
  TFrmNimbrel Window(nullptr, std::make_unique<TCleanRun>(std::vector<std::wstring>{}, ReportTo(L"")));
  Window.Show();
  Pump(300);
  const DWORD Start = ::GetTickCount();
  ::DestroyWindow(Window.Handle());
  return ::GetTickCount() - Start;
}

TEST_F(ReportWindow, ClosingTheWindowDuringTheUploadEndsItAtOnce) {
  const DWORD Idle = IdleCloseMilliseconds();
  TRecordedLinks Recorded;
  THTTP Control;
  Control.Post(ServerUrl(L"control/answer"), std::wstring(L"{\"pk\":\"too-late\"}"));
  std::atomic<int> ProgramEnds{0};
  const int Before = ReportCount();
  auto Window = std::make_unique<TFrmNimbrel>(
      nullptr, std::make_unique<TCleanRun>(std::vector<std::wstring>{}, ReportTo(ServerUrl(L"report.php?slow=20")),
                                           [&] { ++ProgramEnds; }));
  Window->Show();
  Press(Window->BtnStart);
  // The upload has reached the service, which keeps it waiting for 20 seconds.
  for (int I = 0; I < 200 && ReportCount() == Before; ++I) Pump(25);
  ASSERT_EQ(ReportCount(), Before + 1);
  Pump(200);
  ASSERT_EQ(Window->CleanRun().State(), TCleanState::Running);

  const DWORD Start = ::GetTickCount();
  ::DestroyWindow(Window->Handle());  // the user closed the window
  const DWORD Elapsed = ::GetTickCount() - Start;
  EXPECT_LT(Elapsed, Idle + 1000u) << "the close is not held by the upload (an idle close takes " << Idle << " ms)";
  std::printf("close during the upload: %lu ms, idle close: %lu ms\n", Elapsed, Idle);
  EXPECT_EQ(ProgramEnds, 0) << "the worker gave way by itself; the program did not have to be ended";
  EXPECT_NE(Window->CleanRun().State(), TCleanState::Done) << "no finishing step for a closed window";
  Window.reset();
  EXPECT_EQ(Recorded.Links(1, 1500), std::vector<std::wstring>{}) << "no report page after a close";
}

TEST_F(ReportWindow, TheOpenedPagesListsGoWithTheReportAsTheyWereAtTheClick) {
  // One installed program registered for the run, so that the inventory holds a known entry.
  static constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NimbrelReportTest";
  const std::pair<const wchar_t*, const wchar_t*> Values[] = {
      {L"DisplayName", L"키보드 보안 Report"}, {L"Publisher", L"Nimbrel \"Test\""},
      {L"UninstallString", L"C:\\nowhere\\uninstall.exe"}};
  for (const auto& [Name, Value] : Values)
    ::RegSetKeyValueW(HKEY_CURRENT_USER, UninstallKey, Name, REG_SZ, Value,
                      static_cast<DWORD>((std::wcslen(Value) + 1) * sizeof(wchar_t)));
  struct TRemoveKey {
    ~TRemoveKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, UninstallKey); }
  } RemoveKey;
  THTTP Control;
  Control.Post(ServerUrl(L"control/answer"), std::wstring(L"{\"pk\":\"pages\"}"));

  TRecordedLinks Recorded;
  TFrmNimbrel Window(nullptr, std::make_unique<TCleanRun>(std::vector<std::wstring>{}, ReportTo(ServerUrl(L"report.php"))));
  Window.Show();
  Press(Window.BtnAutorun);
  Press(Window.BtnInstall);
  Press(Window.BtnHome);
  ASSERT_NE(Window.FrmAutorun, nullptr);
  ASSERT_NE(Window.FrmInstall, nullptr);
  const TAutorunList Autorun = Window.FrmAutorun->ListAutoObj();
  const TInstallList Install = Window.FrmInstall->InventoryCopy();
  Press(Window.BtnStart);
  for (int I = 0; I < 400 && ::IsWindow(Window.Handle()); ++I) Pump(25);
  EXPECT_FALSE(::IsWindow(Window.Handle()));
  EXPECT_EQ(Recorded.Links(1), std::vector<std::wstring>{ReportPageUrl(L"pages")});

  const std::wstring Body = LastReportBody();
  std::wstring Tail = L"{\"cate\":\"clean\",\"file\":\"System\",\"state\":\"1\"}";
  for (const TAutorunInfo& Entry : Autorun) Tail += L"," + StartObject(Entry.Target, Entry.From);
  for (const TInstallInfo& Program : Install) Tail += L"," + InstallObject(Program.DisplayName, Program.Publisher);
  Tail += L"]";
  EXPECT_TRUE(Body.ends_with(Tail)) << WideToUtf8(Body);
  EXPECT_NE(Body.find(L"{\"cate\":\"install\",\"displayname\":\"\\uD0A4\\uBCF4\\uB4DC \\uBCF4\\uC548 Report\","
                      L"\"publisher\":\"Nimbrel \\\"Test\\\"\"}"),
            std::wstring::npos)
      << "the whole inventory goes, not only black-listed programs: " << WideToUtf8(Body);
  EXPECT_TRUE(std::all_of(Body.begin(), Body.end(), [](wchar_t C) { return C >= 32 && C < 127; }));
}

}  // namespace
}  // namespace nimbrel
