// The Bundle page through the main window, on a prefix of its own whose uninstall registrations
// the tests seed: the rows, reloads by the watchers, and the uninstaller started for a row.
#include "bundle/install_page.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/frm_nimbrel.h"
#include "app/translate.h"
#include "base/sync.h"
#include "tests/bundle/uninstall_seed.h"
#include "widgets/application.h"

namespace nimbrel {
namespace {

using namespace testing_support;

// Lets the window run (timers, hand-overs) for a while.
void Pump(DWORD Milliseconds) {
  const ULONGLONG Until = ::GetTickCount64() + Milliseconds;
  do {
    Application().ProcessMessages();
    ::Sleep(5);
  } while (::GetTickCount64() < Until);
}

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

}  // namespace
}  // namespace nimbrel
