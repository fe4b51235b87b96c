// The whole system once, as a user meets it: the main window's real clean in a Wine prefix of its
// own ends two helper programs, its report goes to the real web service, the page of the key
// that comes back is opened, and that page lists the helpers as ended.
#include "app/frm_nimbrel.h"

#include <gtest/gtest.h>

#include "base/sync.h"
#include "base/utf.h"
#include "net/endpoints.h"
#include "net/http_client.h"
#include "tests/clean/child_process.h"
#include "tests/net/http_test_server.h"
#include "tests/support/recorded_links.h"
#include "widgets/application.h"
#include "tests/support/pump.h"

namespace nimbrel {
namespace {

using test::EnvText;
using test::TChildProcess;
using test::TRecordedLinks;
using test::TTempFolder;

using test::Pump;

TEST(EndToEnd, ARealCleansReportPageListsTheEndedHelpers) {
  const std::wstring Service = EnvText("NIMBREL_TEST_SERVICE");
  if (Service.empty()) GTEST_SKIP() << "no web service";
  if (ReportUrl() != Service + L"report.php")
    GTEST_SKIP() << "the build's service address is not the test service's (configure with scripts/configure.sh)";
  Application().SetErrorSink([](const std::wstring&) {});

  TTempFolder Folder;
  TChildProcess First(Folder, L"e2e-first.exe", L"window");
  TChildProcess Second(Folder, L"e2e-second.exe");
  ASSERT_TRUE(First.Started());
  ASSERT_TRUE(Second.Started());
  ASSERT_TRUE(First.WaitWindow(10000));

  TRecordedLinks Recorded;
  TFrmNimbrel Window(nullptr);
  Window.Show();
  Pump(200);
  ::SendMessageW(Window.BtnStart->Handle(), BM_CLICK, 0, 0);
  for (int I = 0; I < 3600 && ::IsWindow(Window.Handle()); ++I) Pump(25);
  ASSERT_FALSE(::IsWindow(Window.Handle())) << "the window closes after the clean";
  EXPECT_TRUE(First.WaitEnded(5000));
  EXPECT_TRUE(Second.WaitEnded(5000));

  const std::vector<std::wstring> Links = Recorded.Links(1);
  ASSERT_EQ(Links.size(), 1u) << "the report page opens";
  const std::wstring Prefix = Service + L"?report=";
  ASSERT_TRUE(Links[0].starts_with(Prefix)) << WideToUtf8(Links[0]);
  EXPECT_EQ(Links[0].size(), Prefix.size() + 22) << "a 128-bit key in URL-safe text";

  THTTP Browser;
  Browser.SetAcceptLanguage(L"en");
  const std::wstring Page = Browser.Get(Links[0]);
  ASSERT_EQ(Browser.StatusCode(), 200) << WideToUtf8(Page);
  for (const wchar_t* Name : {L"e2e-first.exe", L"e2e-second.exe"}) {
    // The row's file cell ends with the helper's name, and its state cell says it was ended.
    EXPECT_NE(Page.find(std::wstring(Name) + L"</span></td><td class=\"s-1\">Ended</td>"), std::wstring::npos)
        << WideToUtf8(Name) << "\n" << WideToUtf8(Page);
  }
}

}  // namespace
}  // namespace nimbrel
