// The main window, driven through its child windows as a screen reader or a user would.
#include "app/frm_nimbrel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <optional>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "locale/translate.h"
#include "base/sync.h"
#include "base/utf.h"
#include "bundle/install_page.h"
#include "net/endpoints.h"
#include "update/update_prompt.h"
#include "update/update_status.h"
#include "startup/autorun_page.h"
#include "startup/task_scheduler.h"
#include "tests/support/recorded_links.h"
#include "tests/support/wait_loaded.h"
#include "widgets/application.h"
#include "widgets/page_load.h"
#include "tests/support/pump.h"

namespace nimbrel {
namespace {

using test::TRecordedLinks;

std::vector<std::wstring>& ShownErrors() {
  static std::vector<std::wstring> Errors;
  return Errors;
}

// Wine's Task Scheduler lists no tasks, and its first use may wait seconds for its service to
// start: longer than closing waits for a Startup load. The window's tests use one without tasks.
class TNoTasks : public TTaskScheduler {
 public:
  void WalkRootTasks(const std::function<void(const std::wstring&, bool)>&) override {}
  void SetTaskEnabled(const std::wstring&, bool) override {}
};

class TWindowEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static TNoTasks NoTasks;
    ReplaceTaskScheduler(&NoTasks);
    InitMainThread();
    Application().SetErrorSink([](const std::wstring& Message) { ShownErrors().push_back(Message); });
  }
};
[[maybe_unused]] auto* const Environment = ::testing::AddGlobalTestEnvironment(new TWindowEnvironment);

using test::Pump;

// Presses a control the way UI automation does.
void Press(const TControl* Control) { ::SendMessageW(Control->Handle(), BM_CLICK, 0, 0); }

// A clean whose worker steps are given by the test.
std::unique_ptr<TCleanRun> CleanWith(std::vector<std::wstring> Files, TCleanSteps Steps) {
  return std::make_unique<TCleanRun>(std::move(Files), std::move(Steps));
}

std::unique_ptr<TCleanRun> CleanNeverCalled() {
  return CleanWith({}, [](TCleanJobData&) -> std::wstring {
    ADD_FAILURE() << "no clean was expected";
    return {};
  });
}

class FrmNimbrelTest : public ::testing::Test {
 protected:
  void SetUp() override { ShownErrors().clear(); }
};

TEST_F(FrmNimbrelTest, ClientAreaIsTheDesignedSizeAtTheWindowsDpi) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  RECT Client;
  ::GetClientRect(Window.Handle(), &Client);
  EXPECT_EQ(Client.right, Window.Scale(464));
  EXPECT_EQ(Client.bottom, Window.Scale(417));
  const LONG_PTR Style = ::GetWindowLongPtrW(Window.Handle(), GWL_STYLE);
  EXPECT_FALSE(Style & WS_THICKFRAME) << "fixed border";
  EXPECT_FALSE(Style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(Style & WS_MINIMIZEBOX);
  EXPECT_TRUE(Style & WS_SYSMENU);
}

TEST_F(FrmNimbrelTest, StartsOnTheHomeCardWithTheListsLoaded) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 0);
  EXPECT_TRUE(Window.BtnHome->Down());
  EXPECT_FALSE(Window.BtnAutorun->Down());
  EXPECT_FALSE(Window.Indicator->Visible());
  EXPECT_TRUE(Window.BtnStart->Enabled());
  EXPECT_EQ(Window.FrmAutorun, nullptr);
  EXPECT_EQ(Window.FrmInstall, nullptr);
  EXPECT_FALSE(Window.FileWhite.empty());
  EXPECT_FALSE(Window.NameWhite.empty());
  EXPECT_FALSE(Window.NameBlack.empty());
  ASSERT_NE(Window.ProcessList, nullptr);
  EXPECT_TRUE(Window.ProcessList->empty());
  const std::wstring Tip = Window.LblContent->Caption();
  EXPECT_EQ(Tip.rfind(L"<C><FC:clGray>", 0), 0u) << "centred and grey";
}

// The window translates itself when it is made: its caption (and the taskbar's title) in English
// for every language but Korean, the other captions and the tip in the language in use.
TEST_F(FrmNimbrelTest, TheWindowIsTranslatedWhenItIsMade) {
  LoadTranslation();
  struct TCase {
    const wchar_t* Language;
    const wchar_t* Caption;
    const wchar_t* Home;
    const wchar_t* Start;
  };
  const TCase Cases[] = {
      {L"ko", L"님브렐", L"처음화면", L"실행하기"},
      {L"ja", L"Nimbrel", L"ホーム", L"クリーンアップ"},
      {L"ru", L"Nimbrel", L"Главная", L"Очистить"},
      {L"de", L"Nimbrel", L"Home", L"Clean"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(Case.Language)));
    SetCurrentLanguage(Case.Language);
    TFrmNimbrel Window(nullptr, CleanNeverCalled());
    EXPECT_EQ(Window.Caption(), Case.Caption);
    EXPECT_EQ(Application().Title(), Case.Caption) << "the taskbar's title";
    EXPECT_EQ(Window.LblTitle->Caption(), Translate(L"님브렐"));
    EXPECT_EQ(Window.BtnHome->Caption(), Case.Home);
    EXPECT_EQ(Window.BtnStart->Caption(), Case.Start);
    const std::wstring Tip = Window.LblContent->Caption();
    EXPECT_TRUE(Tip == L"<C><FC:clGray>" + Translate(L"윈도우 필수 프로그램만 남기고 <B>종료</B>합니다.") + L"</FC></C>" ||
                Tip == L"<C><FC:clGray>" + Translate(L"프로그램은 종료만 되며, <B>삭제</B>하지 않습니다.") + L"</FC></C>")
        << testing::PrintToString(Tip);
  }
  SetCurrentLanguage(LanguageCode(GetUserLanguage()));
}

TEST_F(FrmNimbrelTest, EveryControlIsAWindowThatCarriesItsCaption) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  for (const TControl* Control : {static_cast<const TControl*>(Window.BtnHome), static_cast<const TControl*>(Window.BtnAutorun),
                                  static_cast<const TControl*>(Window.BtnInstall), static_cast<const TControl*>(Window.BtnStart),
                                  static_cast<const TControl*>(Window.LblTitle)}) {
    ASSERT_NE(Control->Handle(), nullptr);
    wchar_t Text[64] = {};
    ::GetWindowTextW(Control->Handle(), Text, 64);
    EXPECT_EQ(std::wstring(Text), Control->Caption());
    EXPECT_FALSE(std::wstring(Text).empty());
    EXPECT_EQ(::GetDlgCtrlID(Control->Handle()), ControlIdOf(Control->Name()));
  }
  // The tip's window text is the tip without its mark-up.
  wchar_t Tip[256] = {};
  ::GetWindowTextW(Window.LblContent->Handle(), Tip, 256);
  EXPECT_EQ(std::wstring(Tip).find(L'<'), std::wstring::npos);
}

TEST_F(FrmNimbrelTest, PagesAreMadeOnceAndLoadedOnEveryVisit) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  Press(Window.BtnAutorun);
  EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 1);
  EXPECT_TRUE(Window.BtnAutorun->Down());
  EXPECT_FALSE(Window.BtnHome->Down());
  ASSERT_NE(Window.FrmAutorun, nullptr);
  TFrmAutorun* Frame = Window.FrmAutorun;
  EXPECT_EQ(Frame->LoadCount(), 1);
  EXPECT_EQ(Frame->FFileWhite, &Window.FileWhite);
  EXPECT_EQ(Frame->FNameWhite, &Window.NameWhite);
  EXPECT_EQ(Frame->FNameBlack, &Window.NameBlack);
  EXPECT_EQ(Frame->Parent(), Window.PnlAutorun);

  Press(Window.BtnAutorun);  // the pressed button does nothing
  EXPECT_EQ(Frame->LoadCount(), 1);
  ASSERT_TRUE(test::WaitLoaded(*Frame));

  Press(Window.BtnInstall);
  EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 2);
  ASSERT_NE(Window.FrmInstall, nullptr);
  EXPECT_EQ(Window.FrmInstall->LoadCount(), 1);
  EXPECT_EQ(Window.FrmInstall->FNameBlack, &Window.NameBlack);

  Press(Window.BtnHome);
  EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 0);
  Press(Window.BtnAutorun);
  EXPECT_EQ(Window.FrmAutorun, Frame) << "made once";
  EXPECT_EQ(Frame->LoadCount(), 2) << "loaded on every visit";

  // Exactly one card shows.
  int Shown = 0;
  for (const TPanel* Card : Window.PnlMain->Cards()) Shown += Card->Visible() ? 1 : 0;
  EXPECT_EQ(Shown, 1);
}

TEST_F(FrmNimbrelTest, TheLogoOpensTheHomeLinkEveryTimeAndNeverChangesTheCard) {
  TRecordedLinks Recorded;
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  Press(Window.BtnInstall);
  Press(Window.ImgLogo);
  Press(Window.ImgLogo);
  EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 2);
  EXPECT_TRUE(Window.BtnInstall->Down());
  EXPECT_EQ(Window.FrmInstall->LoadCount(), 1);
  const std::vector<std::wstring> Links = Recorded.Links(2);
  ASSERT_EQ(Links.size(), 2u);
  for (const std::wstring& Link : Links) EXPECT_EQ(Link, HomeLinkUrl());
}

// The logo is clicked by a press and a release on it; a release alone (the press began elsewhere)
// or a press dragged off the logo opens nothing.
TEST_F(FrmNimbrelTest, TheLogoClicksOnlyWhenPressedAndReleasedOnIt) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  int Clicks = 0;
  Window.ImgLogo->OnClick = [&Clicks](TComponent*) { ++Clicks; };
  const HWND Logo = Window.ImgLogo->Handle();
  const LPARAM Inside = MAKELPARAM(20, 20);
  const LPARAM Outside = MAKELPARAM(static_cast<WORD>(-30), 20);
  struct TCase {
    const char* What;
    bool Down;
    LPARAM Up;
    int Clicks;
  };
  const TCase Cases[] = {
      {"a release alone", false, Inside, 0},
      {"a press and a release on the logo", true, Inside, 1},
      {"a press dragged off the logo", true, Outside, 1},
      {"a release after that", false, Inside, 1},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.What);
    if (Case.Down) ::SendMessageW(Logo, WM_LBUTTONDOWN, MK_LBUTTON, Inside);
    ::SendMessageW(Logo, WM_LBUTTONUP, 0, Case.Up);
    EXPECT_EQ(Clicks, Case.Clicks);
    EXPECT_NE(::GetCapture(), Logo) << "the mouse is free again";
  }
  Press(Window.ImgLogo);
  EXPECT_EQ(Clicks, 2) << "BM_CLICK presses it as UI automation does";
  EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 0);
}

TEST_F(FrmNimbrelTest, TheKeyboardReachesAndPressesTheButtons) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  Window.Show();
  ::SetForegroundWindow(Window.Handle());
  ::SetFocus(Window.BtnAutorun->Handle());
  Pump();
  // Space presses the focused button (the button's own keyboard handling).
  ::SendMessageW(Window.BtnAutorun->Handle(), WM_KEYDOWN, VK_SPACE, 0);
  ::SendMessageW(Window.BtnAutorun->Handle(), WM_KEYUP, VK_SPACE, 0xC0000000);
  Pump();
  EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 1);
  // Tab moves the focus on to another button.
  const DWORD TabStops = static_cast<DWORD>(::GetWindowLongPtrW(Window.BtnStart->Handle(), GWL_STYLE)) & WS_TABSTOP;
  EXPECT_NE(TabStops, 0u);
  EXPECT_NE(::GetNextDlgTabItem(Window.Handle(), Window.BtnHome->Handle(), FALSE), nullptr);
  Window.Close();
  Pump();
}

// Tab and Enter go through the program's message loop (dialog keys of the main window), so the
// window runs in it here; a thread timer plays the user, one key per tick, and closes the window.
struct TKeyScript {
  TFrmNimbrel* Window = nullptr;
  int Step = 0;
  TControl* FocusAfterTab = nullptr;  // the control with the focus after Tab, nullptr for none
  int CardAfterEnter = -1;
};
TKeyScript* GKeys = nullptr;

void CALLBACK PlayKeys(HWND, UINT, UINT_PTR, DWORD) {
  TKeyScript& Keys = *GKeys;
  TFrmNimbrel& Window = *Keys.Window;
  switch (Keys.Step++) {
    case 0:
      ::SetForegroundWindow(Window.Handle());
      ::SetFocus(Window.BtnHome->Handle());
      ::PostMessageW(Window.BtnHome->Handle(), WM_KEYDOWN, VK_TAB, 0);
      break;
    case 1:
      Keys.FocusAfterTab = TControl::FromHandle(::GetFocus());
      ::SetFocus(Window.BtnInstall->Handle());
      ::PostMessageW(Window.BtnInstall->Handle(), WM_KEYDOWN, VK_RETURN, 0);
      break;
    case 2:
      Keys.CardAfterEnter = Window.PnlMain->ActiveCardIndex();
      Window.Close();
      break;
    default:
      break;
  }
}

TEST_F(FrmNimbrelTest, TabMovesTheFocusAndEnterPressesInTheMessageLoop) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  TKeyScript Keys;
  Keys.Window = &Window;
  GKeys = &Keys;
  const UINT_PTR Timer = ::SetTimer(nullptr, 0, 200, PlayKeys);
  ASSERT_NE(Timer, 0u);
  Application().Run(Window);
  ::KillTimer(nullptr, Timer);
  GKeys = nullptr;

  ASSERT_GE(Keys.Step, 3) << "the script ran to its end";
  ASSERT_NE(Keys.FocusAfterTab, nullptr);
  EXPECT_NE(Keys.FocusAfterTab, Window.BtnHome) << "Tab moved the focus on";
  EXPECT_NE(dynamic_cast<TStyledButton*>(Keys.FocusAfterTab), nullptr) << "to another button";
  EXPECT_EQ(Keys.CardAfterEnter, 2) << "Enter pressed the focused header button";
}

TEST_F(FrmNimbrelTest, AnUnreadableExceptionFileShowsTheErrorAndLeavesTheButtonIdle) {
  const std::filesystem::path File = std::filesystem::temp_directory_path() / L"NimbrelLockedNoClean.txt";
  TOwnedHandle Locked(::CreateFileW(File.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(Locked);
  bool Ran = false;
  TFrmNimbrel Window(nullptr, CleanWith({File.wstring()}, [&Ran](TCleanJobData&) {
                       Ran = true;
                       return std::wstring();
                     }));
  const size_t Rows = Window.FileWhite.size();
  const std::wstring Caption = Window.BtnStart->Caption();

  Press(Window.BtnStart);
  Pump(300);
  EXPECT_FALSE(Ran);
  ASSERT_EQ(ShownErrors().size(), 1u);
  EXPECT_NE(ShownErrors()[0].find(File.wstring()), std::wstring::npos) << "the message names the file";
  EXPECT_TRUE(Window.BtnStart->Enabled());
  EXPECT_EQ(Window.BtnStart->Caption(), Caption);
  EXPECT_FALSE(Window.Indicator->Visible());
  EXPECT_EQ(Window.FileWhite.size(), Rows) << "nothing appended";
  EXPECT_EQ(Window.CleanRun().State(), TCleanState::Idle);

  Locked.reset();
  ::DeleteFileW(File.c_str());
}

TEST_F(FrmNimbrelTest, ACleanRunsOnceThenClosesTheWindow) {
  const std::filesystem::path File = std::filesystem::temp_directory_path() / L"NimbrelNoClean.txt";
  {
    TOwnedHandle Out(::CreateFileW(File.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD Written = 0;
    ::WriteFile(Out.get(), "notepad.exe*\r\n", 14, &Written, nullptr);
  }
  TRecordedLinks Recorded;
  TOwnedHandle Release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> Runs{0};
  std::vector<std::wstring> SeenRows;
  TFrmNimbrel Window(nullptr, CleanWith({File.wstring()}, [&](TCleanJobData& Data) {
                       ++Runs;
                       SeenRows = Data.FileWhite;
                       ::WaitForSingleObject(Release.get(), 10000);
                       return std::wstring(L"a1B2");
                     }));
  Window.Show();
  Press(Window.BtnStart);
  Pump(200);
  // Running: captionless, disabled, spinning; a second press does nothing.
  EXPECT_TRUE(Window.BtnStart->Caption().empty());
  EXPECT_FALSE(Window.BtnStart->Enabled());
  EXPECT_TRUE(Window.Indicator->Visible());
  EXPECT_TRUE(Window.Indicator->Animate());
  Window.BtnStartClick(Window.BtnStart);
  Press(Window.BtnStart);
  EXPECT_EQ(Window.FileWhite.back(), L"notepad.exe*");

  ::SetEvent(Release.get());
  for (int I = 0; I < 200 && ::IsWindow(Window.Handle()); ++I) Pump(25);
  EXPECT_FALSE(::IsWindow(Window.Handle())) << "the finished clean closes the window";
  EXPECT_EQ(Runs.load(), 1);
  ASSERT_FALSE(SeenRows.empty());
  EXPECT_EQ(SeenRows.back(), L"notepad.exe*");
  EXPECT_EQ(Recorded.Links(1), std::vector<std::wstring>{ReportPageUrl(L"a1B2")}) << "the report page opened";
  ::DeleteFileW(File.c_str());
}

TEST_F(FrmNimbrelTest, TheCleanGetsCopiesOfTheListsOfThePagesThatWereOpened) {
  for (const bool OpenPages : {false, true}) {
    std::atomic<bool> Done{false};
    std::optional<size_t> AutorunRows, InstallRows;
    TFrmNimbrel Window(nullptr, CleanWith({}, [&](TCleanJobData& Data) {
                         if (Data.Autorun) AutorunRows = Data.Autorun->size();
                         if (Data.Install) InstallRows = Data.Install->size();
                         Done = true;
                         return std::wstring();
                       }));
    Window.Show();
    size_t PageRows = 0, PageInventory = 0;
    if (OpenPages) {
      Press(Window.BtnAutorun);
      ASSERT_TRUE(test::WaitLoaded(*Window.FrmAutorun));
      Press(Window.BtnInstall);
      Press(Window.BtnHome);
      PageRows = Window.FrmAutorun->ListAutoObj().size();
      EXPECT_GT(PageRows, 0u) << "the machine's services at least";
      PageInventory = Window.FrmInstall->InventoryCopy().size();
    }
    Press(Window.BtnStart);
    for (int I = 0; I < 200 && !Done; ++I) Pump(25);
    ASSERT_TRUE(Done);
    EXPECT_EQ(AutorunRows.has_value(), OpenPages);
    EXPECT_EQ(InstallRows.has_value(), OpenPages);
    if (OpenPages) {
      EXPECT_EQ(*AutorunRows, PageRows);
      EXPECT_EQ(*InstallRows, PageInventory);
    }
    for (int I = 0; I < 80 && ::IsWindow(Window.Handle()); ++I) Pump(25);
  }
}

TEST_F(FrmNimbrelTest, TheUpdateBarGrowsTheWindowOnceAndOpensItsAddress) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  Window.Show();
  ShowUpdateStatus(Window, L"file:///C:/Windows/notepad.exe");  // not a web address: nothing
  RECT Client;
  ::GetClientRect(Window.Handle(), &Client);
  EXPECT_EQ(Client.bottom, 417);

  TRecordedLinks Recorded;
  ShowUpdateStatus(Window, L"http://127.0.0.1:18080/first");
  ShowUpdateStatus(Window, L"http://127.0.0.1:18080/notify");  // the bar is made once
  ::GetClientRect(Window.Handle(), &Client);
  EXPECT_EQ(Client.right, 464);
  EXPECT_EQ(Client.bottom, 445);
  TUpdateBar* Bar = nullptr;
  int Bars = 0;
  for (TComponent* Component : Window.Components()) {
    if (auto* Found = dynamic_cast<TUpdateBar*>(Component)) {
      Bar = Found;
      ++Bars;
    }
  }
  ASSERT_EQ(Bars, 1);
  EXPECT_EQ(Bar->Name(), L"StatusBar");
  EXPECT_EQ(Bar->Caption(), GetUpdateText(1));
  wchar_t Text[64] = {};
  ::GetWindowTextW(Bar->Handle(), Text, 64);
  EXPECT_EQ(std::wstring(Text), GetUpdateText(1)) << "screen readers read the status text";
  EXPECT_NE(::GetWindowLongPtrW(Bar->Handle(), GWL_STYLE) & WS_TABSTOP, 0) << "reachable with Tab";
  RECT Frame;
  ::GetWindowRect(Bar->Handle(), &Frame);
  EXPECT_EQ(Frame.bottom - Frame.top, 28);
  Press(Bar);
  EXPECT_EQ(Recorded.Links(1), std::vector<std::wstring>{L"http://127.0.0.1:18080/notify"});
}

TEST_F(FrmNimbrelTest, ClosingTheWindowDuringACleanStopsTheWorkerAndEndsTheProgram) {
  TOwnedHandle Release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> StopSeen{false};
  std::atomic<bool> WorkerDone{false};
  std::atomic<int> ProgramEnds{0};
  auto Run = std::make_unique<TCleanRun>(
      std::vector<std::wstring>{},
      [&](TCleanJobData& Data) {
        ::WaitForSingleObject(Data.Stop, INFINITE);
        StopSeen = true;
        // Still whole: the window has not freed what the worker reads.
        EXPECT_FALSE(Data.FileWhite.empty());
        ::WaitForSingleObject(Release.get(), INFINITE);  // a step that would still block
        WorkerDone = true;
        return std::wstring(L"key");
      },
      [&] { ++ProgramEnds; });
  auto Window = std::make_unique<TFrmNimbrel>(nullptr, std::move(Run));
  Window->Show();
  Press(Window->BtnStart);
  ASSERT_EQ(Window->CleanRun().State(), TCleanState::Running);
  ::DestroyWindow(Window->Handle());  // the user closed the window
  EXPECT_TRUE(StopSeen) << "the stop signal reached the step";
  EXPECT_EQ(ProgramEnds, 1) << "the program ends while the step would still block";
  EXPECT_FALSE(WorkerDone);
  EXPECT_NE(Window->CleanRun().State(), TCleanState::Done) << "no finishing step for a closed window";
  Window.reset();
  ::SetEvent(Release.get());
  for (int I = 0; I < 200 && !WorkerDone; ++I) Pump(25);
  EXPECT_TRUE(WorkerDone);
}

// Closing tells every worker first that what it hands over is no longer wanted, and only then
// waits: a start-up answer that comes in while the window waits for its stopping clean changes
// nothing.
TEST_F(FrmNimbrelTest, AnAnswerArrivingWhileClosingWaitsForTheCleanIsDropped) {
  TOwnedHandle CleanStopped(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TOwnedHandle Answered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> WorkerDone{false};
  std::atomic<int> ProgramEnds{0};
  auto Run = std::make_unique<TCleanRun>(
      std::vector<std::wstring>{},
      [&](TCleanJobData& Data) {
        ::WaitForSingleObject(Data.Stop, INFINITE);
        ::SetEvent(CleanStopped.get());
        ::WaitForSingleObject(Answered.get(), 500);
        ::Sleep(200);  // the answer's hand-over is posted meanwhile
        WorkerDone = true;
        return std::wstring();
      },
      [&] { ++ProgramEnds; });
  const std::wstring LateRow = L"nimbrel-late-answer.exe";
  std::atomic<bool> Asked{false};
  TInitRequest Request = [&](const TInitHeaders&, std::wstring& Answer, HANDLE) {
    Asked = true;
    // Deaf to the stop, as an answer already on its way is.
    if (::WaitForSingleObject(CleanStopped.get(), 10000) != WAIT_OBJECT_0) return false;
    Answer = L"{\"file_white\":[\"" + LateRow + L"\"]}";
    ::SetEvent(Answered.get());
    return true;
  };
  auto Window = std::make_unique<TFrmNimbrel>(nullptr, std::move(Run), Request);
  Window->Show();
  // The check starts once the window is painted.
  for (int I = 0; I < 200 && !Asked; ++I) Pump(25);
  ASSERT_TRUE(Asked);
  Press(Window->BtnStart);
  ASSERT_EQ(Window->CleanRun().State(), TCleanState::Running);
  ::DestroyWindow(Window->Handle());  // the user closed the window
  EXPECT_TRUE(WorkerDone);
  EXPECT_EQ(::WaitForSingleObject(Answered.get(), 0), WAIT_OBJECT_0) << "the answer came during the close";
  EXPECT_EQ(std::count(Window->FileWhite.begin(), Window->FileWhite.end(), LateRow), 0)
      << "the answer was not applied to the closing window";
  EXPECT_EQ(ProgramEnds, 0) << "every worker gave way in time";
}

// The start-up check waits for the first paint: when it asks, the shown window and its controls
// have nothing left to paint.
TEST_F(FrmNimbrelTest, TheStartUpCheckAsksOnlyOnceTheWindowIsPainted) {
  std::atomic<HWND> Form{nullptr};
  std::atomic<HWND> Button{nullptr};
  std::atomic<bool> Asked{false};
  std::atomic<bool> Painted{false};
  TInitRequest Request = [&](const TInitHeaders&, std::wstring& Answer, HANDLE) {
    const HWND Shown = Form;
    Painted = Shown != nullptr && ::IsWindowVisible(Shown) && !::GetUpdateRect(Shown, nullptr, FALSE) &&
              !::GetUpdateRect(Button, nullptr, FALSE);
    Asked = true;
    Answer = L"{}";  // answered: no second attempt outlives the test
    return true;
  };
  TFrmNimbrel Window(nullptr, CleanNeverCalled(), Request);
  Form = Window.Handle();
  Button = Window.BtnStart->Handle();
  Window.Show();  // as the message loop shows it, with no message handled in between
  for (int I = 0; I < 200 && !Asked; ++I) Pump(25);
  ASSERT_TRUE(Asked);
  EXPECT_TRUE(Painted);
}

// A close already queued (Alt+F4 just before the click) never runs inside a click handler: not
// while a page loads, nor while the shell is asked to open the home link.
TEST_F(FrmNimbrelTest, ACloseAlreadyQueuedWaitsUntilTheClickIsDone) {
  TRecordedLinks Recorded;
  for (const bool Logo : {false, true}) {
    SCOPED_TRACE(Logo ? "the logo" : "a header button");
    TFrmNimbrel Window(nullptr, CleanNeverCalled());
    Window.Show();
    ::PostMessageW(Window.Handle(), WM_CLOSE, 0, 0);
    if (Logo) {
      Press(Window.ImgLogo);
    } else {
      Press(Window.BtnAutorun);
      if (Window.FrmAutorun != nullptr) {
        Window.FrmAutorun->EndProgram = [] { ADD_FAILURE() << "the load did not give way to the close in time"; };
      }
    }
    ASSERT_TRUE(::IsWindow(Window.Handle())) << "nothing ran the queued close inside the handler";
    if (!Logo) {
      ASSERT_NE(Window.FrmAutorun, nullptr);
      EXPECT_TRUE(::IsWindow(Window.FrmAutorun->Handle()));
      EXPECT_EQ(Window.FrmAutorun->LoadCount(), 1);
      EXPECT_EQ(Window.PnlMain->ActiveCardIndex(), 1);
    }
    for (int I = 0; I < 40 && ::IsWindow(Window.Handle()); ++I) Pump(25);
    EXPECT_FALSE(::IsWindow(Window.Handle())) << "then the close runs";
  }
  EXPECT_EQ(Recorded.Links(1), std::vector<std::wstring>{HomeLinkUrl()}) << "and the link opened";
}

TEST_F(FrmNimbrelTest, TheFinishedCleanClosesOnlyAfterAnOpenMessageBox) {
  TOwnedHandle Release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TFrmNimbrel Window(nullptr, CleanWith({}, [&](TCleanJobData&) {
                       ::WaitForSingleObject(Release.get(), 10000);
                       return std::wstring();
                     }));
  Window.Show();
  Press(Window.BtnStart);
  // The user sits in a message box of the program when the clean's hand-over arrives.
  std::atomic<bool> WindowAliveWhileBoxOpen{false};
  std::thread Closer([&] {
    ::SetEvent(Release.get());
    for (int I = 0; I < 300; ++I) {
      if (HWND Box = ::FindWindowW(L"#32770", L"NimbrelBox")) {
        ::Sleep(1500);  // the hand-over has long run by now
        WindowAliveWhileBoxOpen = ::IsWindow(Window.Handle()) != FALSE;
        ::PostMessageW(Box, WM_COMMAND, IDOK, 0);
        return;
      }
      ::Sleep(10);
    }
  });
  ::MessageBoxW(Window.Handle(), L"waiting", L"NimbrelBox", MB_OK);
  Closer.join();
  EXPECT_EQ(Window.CleanRun().State(), TCleanState::Done) << "the finishing step ran inside the box's loop";
  EXPECT_TRUE(WindowAliveWhileBoxOpen) << "the close waited for the box";
  for (int I = 0; I < 80 && ::IsWindow(Window.Handle()); ++I) Pump(25);
  EXPECT_FALSE(::IsWindow(Window.Handle())) << "and came when the box was gone";
}

TEST_F(FrmNimbrelTest, EveryTipFitsTheHomeCardInEveryLanguage) {
  TFrmNimbrel Window(nullptr, CleanNeverCalled());
  const HWND Label = Window.LblContent->Handle();
  RECT Client;
  ::GetClientRect(Label, &Client);
  HDC Dc = ::GetDC(Label);
  const HFONT Font = Window.LblContent->FontHandle();
  for (const bool Rtl : {false, true}) {
    SetRightToLeftReading(Rtl);
    for (const wchar_t* Language : {L"ko", L"en", L"ja", L"zh", L"ru", L"it", L"fr", L"es", L"ar"}) {
      if (Rtl != (std::wstring(Language) == L"ar")) continue;
      for (const wchar_t* Tip : HomeTips) {
        const TMarkup Markup = ParseMarkup(HomeTipMarkup(Translate(Tip, Language)));
        LOGFONTW Log{};
        ::GetObjectW(Font, sizeof(Log), &Log);
        Log.lfWeight = FW_BOLD;
        TOwnedFont Bold(::CreateFontIndirectW(&Log));
        const auto Lines = LayoutMarkup(Dc, Markup, Client.right,
                                        [&](const TMarkupRun& Run) { return Run.Bold ? Bold.get() : Font; });
        int Height = 0;
        for (const TMarkupLine& Line : Lines) {
          EXPECT_LE(Line.Width, Client.right) << WideToUtf8(Language);
          Height += Line.Height;
        }
        EXPECT_LE(Lines.size(), 2u) << WideToUtf8(Language);
        EXPECT_LE(Height, Client.bottom) << WideToUtf8(Language);
      }
    }
  }
  SetRightToLeftReading(CurrentLanguage() == L"ar");
  ::ReleaseDC(Label, Dc);
}

TEST(MarkupLayout, WrapsAtBlanksAcrossRunsAndKeepsLongWordsWhole) {
  HDC Dc = ::CreateCompatibleDC(nullptr);
  const HFONT Font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  auto WidthOf = [&](const std::wstring& Text) {
    TSelectObject Selected(Dc, Font);
    RECT Box{0, 0, 0, 0};
    ::DrawTextW(Dc, Text.c_str(), static_cast<int>(Text.size()), &Box, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    return static_cast<int>(Box.right);
  };
  const TMarkup Markup = ParseMarkup(L"alpha beta <B>gamma</B> delta<BR>x");
  auto Texts = [](const TMarkupLine& Line) {
    std::wstring Joined;
    for (const TMarkupPiece& Piece : Line.Pieces) Joined += Piece.Text;
    return Joined;
  };
  const auto FontOf = [&](const TMarkupRun&) { return Font; };
  // Wide enough for all: one line per mark-up line, measured as one text.
  auto Lines = LayoutMarkup(Dc, Markup, 10000, FontOf);
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Texts(Lines[0]), L"alpha beta gamma delta");
  EXPECT_NEAR(Lines[0].Width, WidthOf(L"alpha beta gamma delta"), 2);
  // Room for "alpha beta gamma" only: the next word goes down, without its blank.
  Lines = LayoutMarkup(Dc, Markup, WidthOf(L"alpha beta gamma") + 1, FontOf);
  ASSERT_EQ(Lines.size(), 3u);
  EXPECT_EQ(Texts(Lines[0]), L"alpha beta gamma ");
  EXPECT_EQ(Texts(Lines[1]), L"delta");
  EXPECT_EQ(Texts(Lines[2]), L"x");
  // Narrower than any word: a word a line, none cut.
  Lines = LayoutMarkup(Dc, Markup, 1, FontOf);
  EXPECT_EQ(Lines.size(), 5u);
  ::DeleteDC(Dc);
}

TEST(MessageBoxes, ReadRightToLeftInArabicOnly) {
  SetRightToLeftReading(false);
  EXPECT_EQ(MessageBoxType(MB_OK | MB_ICONERROR), static_cast<UINT>(MB_OK | MB_ICONERROR));
  SetRightToLeftReading(true);
  EXPECT_EQ(MessageBoxType(MB_OK | MB_ICONERROR), static_cast<UINT>(MB_OK | MB_ICONERROR | MB_RTLREADING | MB_RIGHT));

  SetRightToLeftReading(CurrentLanguage() == L"ar");
}

TEST(PageLoader, ALoadAskedForDuringALoadRunsOnceAfterIt) {
  int Depth = 0, MaxDepth = 0, Loads = 0;
  TPageLoader* Self = nullptr;
  TPageLoader Loader([&] {
    ++Loads;
    MaxDepth = std::max(MaxDepth, ++Depth);
    if (Loads == 1) {
      Self->Request();  // a watcher's reload, a click and F5 while the first load runs
      Self->Request();
      Self->Request();
      EXPECT_EQ(Loads, 1) << "not nested";
    }
    --Depth;
  });
  Self = &Loader;
  Loader.Request();
  EXPECT_EQ(Loads, 2);
  EXPECT_EQ(MaxDepth, 1);
  EXPECT_FALSE(Loader.Loading());

  TPageLoader Failing([&] { throw std::runtime_error("load failed"); });
  EXPECT_THROW(Failing.Request(), std::runtime_error);
  EXPECT_FALSE(Failing.Loading()) << "ready for the next request";
}

// The same rule when a load ends later, from a worker's hand-over.
TEST(PageLoader, AnAsyncLoadAskedForDuringALoadStartsOnceWhenItIsOver) {
  int Starts = 0;
  TAsyncPageLoader Loader([&] { ++Starts; });
  Loader.Request();
  EXPECT_TRUE(Loader.Loading());
  Loader.Request();
  Loader.Request();
  EXPECT_EQ(Starts, 1) << "remembered, not started";
  Loader.Finished();
  EXPECT_EQ(Starts, 2) << "the remembered requests start one load";
  EXPECT_TRUE(Loader.Loading());
  Loader.Finished();
  EXPECT_EQ(Starts, 2);
  EXPECT_FALSE(Loader.Loading());

  // A load that ends inside its own start (no worker) runs a request made meanwhile after it,
  // never nested.
  int Depth = 0, MaxDepth = 0, Inline = 0;
  TAsyncPageLoader* Self = nullptr;
  TAsyncPageLoader Sync([&] {
    MaxDepth = std::max(MaxDepth, ++Depth);
    if (++Inline == 1) Self->Request();
    Self->Finished();
    --Depth;
  });
  Self = &Sync;
  Sync.Request();
  EXPECT_EQ(Inline, 2);
  EXPECT_EQ(MaxDepth, 1);
  EXPECT_FALSE(Sync.Loading());

  TAsyncPageLoader Failing([&] { throw std::runtime_error("no worker"); });
  EXPECT_THROW(Failing.Request(), std::runtime_error);
  EXPECT_FALSE(Failing.Loading()) << "ready for the next request";
}

}  // namespace
}  // namespace nimbrel
