// The start-up check with the real window against the test server on the build's service port:
// what the service is told, and what each answer does to the window.
#include "app/frm_nimbrel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/handle.h"
#include "base/sync.h"
#include "base/utf.h"
#include "locale/translate.h"
#include "net/http_client.h"
#include "net/identity.h"
#include "update/update_check.h"
#include "update/update_prompt.h"
#include "tests/net/http_test_server.h"
#include "tests/support/recorded_links.h"
#include "widgets/application.h"
#include "tests/support/pump.h"

namespace nimbrel {
namespace {

using test::ServerUrl;
using test::TRecordedLinks;

class TWindowEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitMainThread();
    LoadTranslation();  // the language the check reports
    Application().SetErrorSink([](const std::wstring&) {});
  }
};
[[maybe_unused]] auto* const Environment = ::testing::AddGlobalTestEnvironment(new TWindowEnvironment);

using test::Pump;

std::wstring Control(const std::wstring& What, const std::wstring& Body = {}) {
  THTTP Http;
  const std::wstring Url = ServerUrl(L"control/" + What + L"?path=/api.init.php");
  return Body.empty() ? Http.Get(Url) : Http.Post(Url, Body);
}

int Requests() { return std::stoi(Control(L"count")); }

// Makes the window with the real check and waits until the service has been asked Count times.
void WaitForRequests(int Count) {
  for (int I = 0; I < 400 && Requests() < Count; ++I) Pump(25);
}

int ClientHeight(const TFrmNimbrel& Window) {
  RECT Client;
  ::GetClientRect(Window.Handle(), &Client);
  return Client.bottom;
}

// Presses a button of the update prompt once it shows (from another thread); ticks Hold first.
std::thread AnswerPrompt(int Button, bool Hold) {
  return std::thread([=] {
    for (int I = 0; I < 1000; ++I) {
      for (HWND Box = ::FindWindowW(L"#32770", nullptr); Box != nullptr; Box = ::FindWindowExW(nullptr, Box, L"#32770", nullptr)) {
        if (::GetDlgItem(Box, UpdatePromptTextId) == nullptr || !::IsWindowVisible(Box)) continue;
        if (Hold) ::SendMessageW(::GetDlgItem(Box, UpdatePromptHoldId), BM_CLICK, 0, 0);
        ::PostMessageW(::GetDlgItem(Box, Button), BM_CLICK, 0, 0);
        return;
      }
      ::Sleep(10);
    }
  });
}

TEST(StartupCheck, TellsTheServiceWhoAsksAndMergesTheListRows) {
  ASSERT_FALSE(ServerUrl().empty());
  Control(L"answer", LR"({"file_white":["served.exe*"],"name_white":["Served"],"name_black":["Served Plug-in"]})");
  const int Before = Requests();
  TFrmNimbrel Window(nullptr, nullptr, RequestInit);
  Window.Show();
  WaitForRequests(Before + 1);
  Pump(300);
  const std::wstring Seen = Control(L"last");
  for (const std::wstring& Line : std::vector<std::wstring>{
           L"GET /api.init.php", L"User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)",
        L"User-Version: " + GetAppVersion(L"%d.%d.%d.%d"), L"User-Language: " + CurrentLanguage(), L"User-Debug: false",
        L"User-Union: " + GetUserUnion()})
    EXPECT_NE(Seen.find(Line), std::wstring::npos) << WideToUtf8(Line) << "\n" << WideToUtf8(Seen);
  EXPECT_EQ(Window.FileWhite.back(), L"served.exe*");
  EXPECT_EQ(Window.NameWhite.back(), L"Served");
  EXPECT_EQ(Window.NameBlack.back(), L"Served Plug-in");
  EXPECT_EQ(ClientHeight(Window), 417) << "no notify, no bar";
}

TEST(StartupCheck, NotifyOnlyShowsTheBarWithoutAPrompt) {
  Control(L"answer", LR"({"notify":"http://127.0.0.1:18080/notice"})");
  const int Before = Requests();
  TFrmNimbrel Window(nullptr, nullptr, RequestInit);
  Window.Show();
  WaitForRequests(Before + 1);
  for (int I = 0; I < 80 && ClientHeight(Window) == 417; ++I) Pump(25);
  EXPECT_EQ(ClientHeight(Window), 445);
  EXPECT_TRUE(::IsWindow(Window.Handle()));
}

TEST(StartupCheck, AnOfferedUpdateTakenOpensItsAddressAndClosesTheWindow) {
  TRecordedLinks Recorded;
  for (const bool Take : {false, true}) {
    Control(L"answer", LR"({"update":"http://127.0.0.1:18080/download","info":{"style":"hold","text":"Not again"}})");
    const int Before = Requests();
    std::thread Answerer = AnswerPrompt(Take ? IDYES : IDNO, /*Hold=*/!Take);
    TFrmNimbrel Window(nullptr, nullptr, RequestInit);
    Window.Show();
    WaitForRequests(Before + 1);
    for (int I = 0; I < 120 && ::IsWindow(Window.Handle()) && Requests() < Before + 2; ++I) Pump(25);
    Answerer.join();
    for (int I = 0; I < 80 && ::IsWindow(Window.Handle()) && Take; ++I) Pump(25);
    if (Take) {
      EXPECT_FALSE(::IsWindow(Window.Handle())) << "the window closes for the update";
      EXPECT_EQ(Recorded.Links(1), std::vector<std::wstring>{L"http://127.0.0.1:18080/download"});
    } else {
      EXPECT_TRUE(::IsWindow(Window.Handle()));
      for (int I = 0; I < 80 && Requests() < Before + 2; ++I) Pump(25);
      EXPECT_EQ(Requests(), Before + 2) << "the hold request went out";
      EXPECT_NE(Control(L"last").find(L"User-Command: hold"), std::wstring::npos);
    }
  }
}

TEST(StartupCheck, TheProgramsEndWaitsForAHoldRequestUnderWayWithinItsBound) {
  Control(L"answer", L"{}");
  Control(L"delay", L"2");
  const int Before = Requests();
  StartHoldRequest();
  for (int I = 0; I < 400 && Requests() < Before + 1; ++I) ::Sleep(25);
  ASSERT_EQ(Requests(), Before + 1) << "the request has reached the service";
  EXPECT_FALSE(WaitHoldRequests(100)) << "its answer is still seconds away: the wait gives up";
  Control(L"delay", L"0");
  EXPECT_TRUE(WaitHoldRequests(20000)) << "and waits for it with a longer bound";
  EXPECT_NE(Control(L"last").find(L"User-Command: hold"), std::wstring::npos);
}

// The real program, as a user takes the update with the hold box ticked: the window closes and
// the process ends at once, and the hold request has still reached the service by then.
TEST(StartupCheck, AHoldTickedWithYesReachesTheServiceBeforeTheProgramEnds) {
  TRecordedLinks Recorded;
  Control(L"answer", LR"({"update":"http://127.0.0.1:18080/download","info":{"style":"hold","text":"Not again"}})");
  Control(L"delay", L"0");
  const int Before = Requests();
  std::thread Answerer = AnswerPrompt(IDYES, /*Hold=*/true);
  std::wstring CommandLine =
      L"\"" + std::filesystem::path(L"" NIMBREL_EXE_PATH).make_preferred().wstring() + L"\"";
  STARTUPINFOW Startup{};
  Startup.cb = sizeof(Startup);
  PROCESS_INFORMATION Info{};
  const bool Started =
      ::CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Info);
  Answerer.join();
  ASSERT_TRUE(Started) << ::GetLastError();
  TOwnedHandle Process(Info.hProcess);
  TOwnedHandle Thread(Info.hThread);
  ASSERT_EQ(::WaitForSingleObject(Process.get(), 30000), WAIT_OBJECT_0) << "the program ends for the update";
  EXPECT_EQ(Requests(), Before + 2) << "the check and the hold request";
  EXPECT_NE(Control(L"last").find(L"User-Command: hold"), std::wstring::npos) << WideToUtf8(Control(L"last"));
  EXPECT_EQ(Recorded.Links(1), std::vector<std::wstring>{L"http://127.0.0.1:18080/download"});
}

TEST(StartupCheck, AMalformedEscapeEndsTheCheckQuietly) {
  Control(L"answer", LR"({"notify":"http://x/\u12x4"})");
  const int Before = Requests();
  TFrmNimbrel Window(nullptr, nullptr, RequestInit);
  Window.Show();
  WaitForRequests(Before + 1);
  Pump(500);
  EXPECT_TRUE(::IsWindow(Window.Handle()));
  EXPECT_EQ(ClientHeight(Window), 417);
}

}  // namespace
}  // namespace nimbrel
