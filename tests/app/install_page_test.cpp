// The Bundle page through the main window, on a prefix of its own whose uninstall registrations
// the tests seed: the rows, reloads by the watchers, and the uninstaller started for a row.
#include "bundle/install_page.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "tests/support/box_closer.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/frm_nimbrel.h"
#include "locale/translate.h"
#include "base/sync.h"
#include "tests/bundle/uninstall_seed.h"
#include "widgets/application.h"
#include "tests/support/pump.h"

namespace nimbrel {
namespace {

using test::TBoxCloser;

using namespace testing_support;

using test::Pump;

// Lets the window run until Done holds, at most TimeoutMs; whether it came.
template <typename F>
bool PumpUntil(F Done, DWORD TimeoutMs = 10000) {
  const ULONGLONG Until = ::GetTickCount64() + TimeoutMs;
  while (!Done()) {
    if (::GetTickCount64() > Until) return false;
    Application().ProcessMessages();
    ::Sleep(5);
  }
  return true;
}

void Press(const TControl* Control) { ::SendMessageW(Control->Handle(), BM_CLICK, 0, 0); }

std::vector<std::wstring> RowNames(const TFrmInstall& Page) {
  std::vector<std::wstring> Names;
  for (const TInstallItem& Row : Page.Rows()) Names.push_back(Row.DisplayName);
  return Names;
}

bool Lists(const TFrmInstall& Page, const std::wstring& Name) {
  const std::vector<std::wstring> Names = RowNames(Page);
  return std::find(Names.begin(), Names.end(), Name) != Names.end();
}

// With its drive: a path from the root alone is refused as a program.
const std::wstring Stub =
    std::filesystem::absolute(std::filesystem::path(L"" UNINSTALLER_STUB_PATH).make_preferred()).wstring();

std::string ReadAll(const std::filesystem::path& File) {
  std::ifstream In(File, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// The stub's record file, one per test: which uninstallers started. Gone again when every
// started stub has ended.
struct TStubRecord {
  TStubRecord() {
    std::error_code Ignored;
    std::filesystem::remove(File, Ignored);
  }
  ~TStubRecord() {
    for (int I = 0; I < 100 && Count(" start") != Count(" end"); ++I) ::Sleep(50);
    std::error_code Ignored;
    std::filesystem::remove(File, Ignored);
  }
  // The stub's command line for Tag; with a registration it deletes that subkey after WaitMs.
  std::wstring Command(const std::wstring& Tag, int WaitMs = 0, const std::wstring& Root = {},
                       const std::wstring& SubKeyPath = {}) const {
    std::wstring Result = L"\"" + Stub + L"\" \"" + File.wstring() + L"\" " + Tag + L" " + std::to_wstring(WaitMs);
    if (!Root.empty()) Result += L" " + Root + L" \"" + SubKeyPath + L"\"";
    return Result;
  }
  bool Started(const std::string& Tag) const { return Text().find(Tag + " start") != std::string::npos; }
  std::string Text() const { return ReadAll(File); }
  size_t Count(const std::string& Word) const {
    const std::string All = Text();
    size_t Result = 0;
    for (size_t At = All.find(Word); At != std::string::npos; At = All.find(Word, At + 1)) ++Result;
    return Result;
  }

  static inline int Made = 0;
  const std::filesystem::path File = std::filesystem::temp_directory_path() /
                                     (L"nimbrel-page-stub-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                      std::to_wstring(++Made));
};

int RowOf(const TFrmInstall& Page, const std::wstring& Name) {
  for (size_t I = 0; I < Page.Rows().size(); ++I) {
    if (Page.Rows()[I].DisplayName == Name) return static_cast<int>(I);
  }
  return -1;
}

class InstallPageTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearRegistrations();
    Window = std::make_unique<TFrmNimbrel>(nullptr);
  }
  void TearDown() override {
    Window.reset();
    ClearRegistrations();
  }
  // Shows the Bundle card (the page is made on the first visit).
  TFrmInstall& Visit() {
    Press(Window->BtnInstall);
    EXPECT_NE(Window->FrmInstall, nullptr);
    return *Window->FrmInstall;
  }

  std::unique_ptr<TFrmNimbrel> Window;
};

TEST_F(InstallPageTest, RowsAreBlackListedProgramsNewestFirstOncePerName) {
  SeedProgram(Lm64, L"AnySign", L"AnySign4PC", L"u1.exe", {Sz(L"Publisher", L"Hancom"), Sz(L"InstallDate", L"20200101")});
  SeedProgram(Cu64, L"AnySignLower", L"anysign4pc", L"u2.exe",
              {Sz(L"Publisher", L"Lower"), Sz(L"InstallDate", L"20240101")});
  SeedProgram(Lm64, L"Notepad", L"Notepad++", L"u3.exe", {Sz(L"InstallDate", L"20250101")});
  SeedProgram(Lm64, L"Inca", L"nProtect Online Security", L"u4.exe",
              {Sz(L"Publisher", L"INCA"), Sz(L"InstallDate", L"20230101")});
  SeedProgram(Cu64, L"Inca", L"nProtect Online Security", L"u5.exe",
              {Sz(L"Publisher", L"Other"), Sz(L"InstallDate", L"20230101")});
  SeedProgram(Lm32, L"Ipinside", L"IPinside LWS Agent", L"u6.exe", {Sz(L"InstallDate", L"20220101")});
  SeedProgram(Lm32, L"Veraport", L"Veraport(보안모듈 관리 프로그램) G3", L"u7.exe", {Sz(L"Publisher", L"Wizvera")});

  TFrmInstall& Page = Visit();
  struct TExpected {
    const wchar_t* Name;
    const wchar_t* Publisher;
    const wchar_t* Command;
  };
  const TExpected Expected[] = {
      {L"anysign4pc", L"Lower", L"u2.exe"},
      {L"nProtect Online Security", L"INCA", L"u4.exe"},
      {L"IPinside LWS Agent", L"알수없음", L"u6.exe"},
      {L"Veraport(보안모듈 관리 프로그램) G3", L"Wizvera", L"u7.exe"},
  };
  ASSERT_EQ(Page.Rows().size(), std::size(Expected)) << testing::PrintToString(RowNames(Page));
  for (size_t I = 0; I < std::size(Expected); ++I) {
    EXPECT_EQ(Page.Rows()[I].DisplayName, Expected[I].Name) << I;
    EXPECT_EQ(Page.Rows()[I].Publisher, Expected[I].Publisher) << I;
    EXPECT_EQ(Page.Rows()[I].UninstallString, Expected[I].Command) << I;
  }
  EXPECT_TRUE(Page.Rows()[0].FromCurrentUser);
  EXPECT_FALSE(Page.Rows()[1].FromCurrentUser);

  // The whole inventory goes to the clean report, black-listed or not, as a copy.
  const TInstallList Inventory = Page.InventoryCopy();
  EXPECT_EQ(Inventory.size(), 7u);
  EXPECT_EQ(Inventory.front().DisplayName, L"Notepad++");

  // The unknown publisher has no translation: the same text in every language.
  for (const wchar_t* Language : {L"en", L"ar", L"ja", L"ko"}) {
    SetCurrentLanguage(Language);
    Page.LoadInstall();
    ASSERT_EQ(Page.Rows().size(), std::size(Expected));
    EXPECT_EQ(Page.Rows()[2].Publisher, L"알수없음") << Language;
  }
}

TEST_F(InstallPageTest, ARowGoesByItselfWhenItsRegistrationIsDeletedAlsoOnAnotherCard) {
  SeedProgram(Lm64, L"Any", L"AnySign4PC", L"u.exe");
  SeedProgram(Cu32, L"Key", L"TouchEn nxKey with E2E for 32bit", L"u.exe");
  TFrmInstall& Page = Visit();
  ASSERT_TRUE(Lists(Page, L"AnySign4PC"));
  ASSERT_TRUE(Lists(Page, L"TouchEn nxKey with E2E for 32bit"));

  struct TCase {
    const char* Where;
    TStyledButton* Card;
    TRegistration Registration;
    const wchar_t* SubKey;
    const wchar_t* Name;
  };
  const TCase Cases[] = {
      {"on the Bundle card", Window->BtnInstall, Lm64, L"Any", L"AnySign4PC"},
      {"on the home card", Window->BtnHome, Cu32, L"Key", L"TouchEn nxKey with E2E for 32bit"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Where);
    Press(Case.Card);
    Pump(300);
    const int Loads = Page.LoadCount();
    Unseed(Case.Registration, Case.SubKey);
    EXPECT_TRUE(PumpUntil([&] { return !Lists(Page, Case.Name); }));
    Pump(300);
    EXPECT_EQ(Page.LoadCount(), Loads + 1) << "one reload";
  }
  EXPECT_TRUE(Page.Rows().empty());
}

TEST_F(InstallPageTest, ABurstOfChangesGivesOneReloadAfterIt) {
  TFrmInstall& Page = Visit();
  Pump(200);
  const int Loads = Page.LoadCount();
  // An installer writing its registration value by value, on another thread.
  std::atomic<bool> Written{false};
  std::thread Installer([&Written] {
    for (int I = 0; I < 200; ++I) {
      Seed(Cu64, L"Burst", {Sz(L"Value" + std::to_wstring(I), L"x")});
    }
    SeedProgram(Cu64, L"Burst", L"IPinside Agent", L"u.exe");
    Written = true;
  });
  PumpUntil([&] { return Written.load(); });
  Installer.join();
  EXPECT_TRUE(PumpUntil([&] { return Lists(Page, L"IPinside Agent"); }));
  Pump(500);
  EXPECT_LE(Page.LoadCount() - Loads, 2) << "reloads during and after the burst";
  EXPECT_GE(Page.LoadCount() - Loads, 1);
}

TEST_F(InstallPageTest, TheListShowsTheRowsWithTheirIcons) {
  SeedProgram(Lm64, L"Any", L"AnySign4PC", L"u.exe",
              {Sz(L"Publisher", L"Hancom"), Sz(L"DisplayIcon", L"C:\\windows\\notepad.exe"), Sz(L"InstallDate", L"20240101")});
  SeedProgram(Lm64, L"Ip", L"IPinside LWS Agent", L"u.exe",
              {Sz(L"DisplayIcon", L"C:\\Missing\\agent.exe"), Sz(L"InstallDate", L"20230101")});
  TFrmInstall& Page = Visit();
  const HWND List = Page.ListInstall->Handle();
  ASSERT_EQ(ListView_GetItemCount(List), 2);
  auto Cell = [&](int Row, int Column) {
    wchar_t Text[256] = {};
    ListView_GetItemText(List, Row, Column, Text, 256);
    return std::wstring(Text);
  };
  EXPECT_EQ(Cell(0, 0), L"AnySign4PC");
  EXPECT_EQ(Cell(0, 1), L"Hancom");
  EXPECT_EQ(Cell(1, 0), L"IPinside LWS Agent");
  EXPECT_EQ(Cell(1, 1), L"알수없음");
  EXPECT_EQ(Page.ListInstall->ColumnCaption(0), Translate(L"프로그램 이름"));
  EXPECT_EQ(Page.ListInstall->ColumnCaption(1), Translate(L"출처"));
  EXPECT_GE(Page.Rows()[0].Icon, 4) << "the program's own icon, after the four stock pictures";
  EXPECT_EQ(Page.Rows()[1].Icon, 0) << "a missing icon file shows the blank document";
  EXPECT_EQ(Page.ListInstall->SelectedIndex(), -1);
  RECT Row{LVIR_BOUNDS, 0, 0, 0};
  ASSERT_TRUE(ListView_GetItemRect(List, 0, &Row, LVIR_BOUNDS));
  EXPECT_EQ(Row.bottom - Row.top, Page.Scale(24));

  // A reload drops the selection.
  Page.ListInstall->SetSelectedIndex(1);
  Page.LoadInstall();
  EXPECT_EQ(Page.ListInstall->SelectedIndex(), -1);
}

TEST_F(InstallPageTest, TheSelectedRowsUninstallerStartsByButtonDoubleClickOrEnter) {
  TStubRecord Record;
  const std::wstring Lm = RegistrationPath(Lm64);
  struct TProgram {
    const wchar_t* SubKey;
    const wchar_t* Name;
    const wchar_t* Date;
  };
  const TProgram Programs[] = {
      {L"Any", L"AnySign4PC", L"20240101"},
      {L"Ip", L"IPinside LWS Agent", L"20230101"},
      {L"Vera", L"Veraport(보안모듈 관리 프로그램) G3", L"20220101"},
  };
  for (const TProgram& Program : Programs) {
    SeedProgram(Lm64, Program.SubKey, Program.Name,
                Record.Command(Program.SubKey, 300, L"HKLM", Lm + L"\\" + Program.SubKey),
                {Sz(L"InstallDate", Program.Date)});
  }
  TFrmInstall& Page = Visit();
  ASSERT_EQ(Page.Rows().size(), 3u);

  // Without a selection the button only reloads.
  int Loads = Page.LoadCount();
  Press(Page.BtnInstall);
  EXPECT_EQ(Page.LoadCount(), Loads + 1);
  EXPECT_TRUE(Page.BtnInstall->Enabled());

  struct TWay {
    const char* How;
    const char* Tag;
    const wchar_t* Name;
    std::function<void(int Row)> Activate;
  };
  const TWay Ways[] = {
      {"the button", "Any", L"AnySign4PC",
       [&](int Row) {
         Page.ListInstall->SetSelectedIndex(Row);
         Press(Page.BtnInstall);
       }},
      {"a double click on the row", "Ip", L"IPinside LWS Agent",
       [&](int Row) {
         Page.ListInstall->SetSelectedIndex(Row);
         RECT Rect{LVIR_LABEL, 0, 0, 0};
         ListView_GetItemRect(Page.ListInstall->Handle(), Row, &Rect, LVIR_LABEL);
         ::SendMessageW(Page.ListInstall->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON,
                        MAKELPARAM(Rect.left + 4, (Rect.top + Rect.bottom) / 2));
       }},
      {"Enter on the row", "Vera", L"Veraport(보안모듈 관리 프로그램) G3",
       [&](int Row) {
         Page.ListInstall->SetSelectedIndex(Row);
         ::SetFocus(Page.ListInstall->Handle());
         ::SendMessageW(Page.ListInstall->Handle(), WM_KEYDOWN, VK_RETURN, 0);
       }},
  };
  for (const TWay& Way : Ways) {
    SCOPED_TRACE(Way.How);
    const int Row = RowOf(Page, Way.Name);
    ASSERT_GE(Row, 0);
    const std::string Tag = Way.Tag;
    Loads = Page.LoadCount();
    Way.Activate(Row);
    EXPECT_GE(Page.LoadCount(), Loads + 1) << "reloaded at once";
    EXPECT_TRUE(PumpUntil([&] { return Record.Started(Tag); })) << Record.Text();
    // The uninstaller deletes its registration; the row goes by itself.
    EXPECT_TRUE(PumpUntil([&] { return RowOf(Page, Way.Name) < 0; }));
  }
  EXPECT_TRUE(Page.Rows().empty());
  const std::string Text = Record.Text();
  for (const char* Tag : {"Any", "Ip", "Vera"}) {
    EXPECT_EQ(Text.find(std::string(Tag) + " start"), Text.rfind(std::string(Tag) + " start")) << "started once";
  }
}

TEST_F(InstallPageTest, AnUninstallerOfTheCurrentUserStartsToo) {
  TStubRecord Record;
  SeedProgram(Cu64, L"Key", L"TouchEn nxKey with E2E for 32bit", Record.Command(L"Key"));
  TFrmInstall& Page = Visit();
  ASSERT_EQ(Page.Rows().size(), 1u);
  EXPECT_TRUE(Page.Rows()[0].FromCurrentUser);
  Page.ListInstall->SetSelectedIndex(0);
  Press(Page.BtnInstall);
  EXPECT_TRUE(PumpUntil([&] { return Record.Started("Key"); }));
}

TEST_F(InstallPageTest, AnUninstallerThatCannotStartShowsTheShellsBoxAndLeavesTheList) {
  SeedProgram(Lm64, L"Any", L"AnySign4PC", L"\"C:\\Nimbrel\\missing uninstaller.exe\" /S");
  TFrmInstall& Page = Visit();
  ASSERT_EQ(Page.Rows().size(), 1u);
  TBoxCloser Closer;
  Page.ListInstall->SetSelectedIndex(0);
  Press(Page.BtnInstall);
  EXPECT_GE(Closer.Closed(), 1);
  EXPECT_EQ(RowNames(Page), std::vector<std::wstring>{L"AnySign4PC"});
  EXPECT_TRUE(Page.BtnInstall->Enabled());
}

// The page stops its watchers when the window goes, also while they are reporting a burst: no
// hand-over or reload reaches a page that is gone.
TEST_F(InstallPageTest, TheWindowGoesWhileTheWatchersReport) {
  Visit();
  std::atomic<bool> Stop{false};
  std::thread Installer([&Stop] {
    for (int I = 0; !Stop; ++I) Seed(I % 2 == 0 ? Lm64 : Cu64, L"Busy", {Sz(L"Value" + std::to_wstring(I % 50), L"x")});
  });
  Pump(150);
  Window.reset();
  Pump(300);
  Stop = true;
  Installer.join();
  SUCCEED();
}

}  // namespace
}  // namespace nimbrel
