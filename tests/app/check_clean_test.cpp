// The start-up check and the real clean together, each in a Wine prefix of its own (the clean
// ends every process there): rows the service sends protect processes in the following clean,
// and a service that is down changes nothing for the user.
#include "app/frm_nimbrel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/sync.h"
#include "net/http_client.h"
#include "update/update_check.h"
#include "tests/clean/child_process.h"
#include "tests/net/http_test_server.h"
#include "tests/support/recorded_links.h"
#include "widgets/application.h"
#include "tests/support/pump.h"

namespace nimbrel {
namespace {

using test::ServerUrl;
using test::TChildProcess;
using test::TRecordedLinks;
using test::TTempFolder;

using test::Pump;

int ClientHeight(const TFrmNimbrel& Window) {
  RECT Client;
  ::GetClientRect(Window.Handle(), &Client);
  return Client.bottom;
}

// Presses Clean and waits for the window to close by itself (the clean's four-second wait, the
// purge and the report); true when it did.
bool CleanAndWaitForClose(TFrmNimbrel& Window) {
  ::SendMessageW(Window.BtnStart->Handle(), BM_CLICK, 0, 0);
  for (int I = 0; I < 2400 && ::IsWindow(Window.Handle()); ++I) Pump(25);
  return !::IsWindow(Window.Handle());
}

// Beside the test server on the build's service port.
TEST(ServiceRows, AFileWhiteRowFromTheServiceProtectsAProcessInTheNextCleanANameWhiteRowDoesNot) {
  ASSERT_FALSE(ServerUrl().empty());
  Application().SetErrorSink([](const std::wstring&) {});
  THTTP Control;
  Control.Post(ServerUrl(L"control/answer?path=/api.init.php"),
               std::wstring(LR"({"file_white":["kept-by-service.exe*"],"name_white":["ended-anyway.exe*"]})"));
  ASSERT_EQ(Control.StatusCode(), 200);

  TTempFolder Folder;
  TChildProcess Kept(Folder, L"kept-by-service.exe");
  TChildProcess Ended(Folder, L"ended-anyway.exe");
  ASSERT_TRUE(Kept.Started());
  ASSERT_TRUE(Ended.Started());

  TRecordedLinks Recorded;  // the report page opens here, not in a browser
  TFrmNimbrel Window(nullptr, nullptr, RequestInit);
  Window.Show();
  for (int I = 0; I < 400 && (Window.FileWhite.empty() || Window.FileWhite.back() != L"kept-by-service.exe*"); ++I) Pump(25);
  ASSERT_EQ(Window.FileWhite.back(), L"kept-by-service.exe*") << "the service's rows were merged";
  ASSERT_TRUE(CleanAndWaitForClose(Window));
  EXPECT_TRUE(Ended.WaitEnded(5000)) << "a name_white row protects no process";
  EXPECT_TRUE(Kept.Running()) << "the served file_white row protects its process";
}

// Nothing listens on the build's service port.
TEST(ServiceDown, TheWindowAndTheCleanWorkAndTheCheckEndsWithTheWindow) {
  Application().SetErrorSink([](const std::wstring&) {});
  // Closed while the check waits between attempts: the window goes as fast as one without a
  // check (a check that did not give way would hold the close for a second, then end the program).
  DWORD Closes[2] = {};
  for (const bool Check : {false, true}) {
    TFrmNimbrel Window(nullptr, nullptr, Check ? RequestInit : nullptr);
    Window.Show();
    Pump(2500);
    EXPECT_EQ(ClientHeight(Window), 417) << "no bar";
    const DWORD Start = ::GetTickCount();
    ::DestroyWindow(Window.Handle());
    Closes[Check] = ::GetTickCount() - Start;
  }
  EXPECT_LT(Closes[1], Closes[0] + 500u) << "the waiting check gave way (a close without a check takes " << Closes[0] << " ms)";
  std::printf("close while the check waits: %lu ms, without a check: %lu ms\n", Closes[1], Closes[0]);

  TTempFolder Folder;
  TChildProcess Helper(Folder, L"helper.exe");
  ASSERT_TRUE(Helper.Started());
  TRecordedLinks Recorded;
  TFrmNimbrel Window(nullptr, nullptr, RequestInit);
  Window.Show();
  Pump(1500);
  ASSERT_TRUE(CleanAndWaitForClose(Window)) << "the clean finishes and closes the window while the check waits";
  EXPECT_TRUE(Helper.WaitEnded(5000));
  EXPECT_EQ(Recorded.Links(1, 1500), std::vector<std::wstring>{}) << "no report, no page";
}

}  // namespace
}  // namespace nimbrel
