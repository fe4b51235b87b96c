// The Startup page through its window: seeded Run values of the current user, tasks from a fake
// scheduler, the rest of the machine's entries filtered out by the test's collector.
#include "startup/autorun_page.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/translate.h"
#include "base/utf.h"
#include "base/sync.h"
#include "net/endpoints.h"
#include "startup/autorun_save.h"
#include "tests/startup/autorun_fixture.h"
#include "tests/support/recorded_links.h"
#include "widgets/application.h"

namespace nimbrel {
namespace {

using test::TRecordedLinks;

using namespace testing_support;

std::vector<std::wstring>& ShownErrors() {
  static std::vector<std::wstring> Errors;
  return Errors;
}

class TPageEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    InitMainThread();
    InitPathVariables();
    CreateTaskServiceLock();
    LoadTranslation();
    SetCurrentLanguage(L"en");
    Application().SetErrorSink([](const std::wstring& Message) { ShownErrors().push_back(Message); });
  }
};
[[maybe_unused]] auto* const Environment = ::testing::AddGlobalTestEnvironment(new TPageEnvironment);

const std::wstring Prefix = L"NimbrelP ";
const std::wstring RunTarget = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";

// Only the test's own entries: Run values and tasks named with the prefix.
void TestCollector(TAutorunList& List) {
  CollectAutorun(List);
  std::erase_if(List, [](const TAutorunInfo& Info) { return Info.Caption.rfind(Prefix, 0) != 0; });
}

void Press(const TControl* Control) { ::SendMessageW(Control->Handle(), BM_CLICK, 0, 0); }

class AutorunPageTest : public testing::Test {
 protected:
  void SetUp() override {
    ShownErrors().clear();
    Clean();
    SetText(HKEY_CURRENT_USER, RunPath, Prefix + L"One", L"C:\\NoSuch\\one.exe");
    SetText(HKEY_CURRENT_USER, RunPath, Prefix + L"Off", L"C:\\NoSuch\\off.exe");
    SetText(HKEY_CURRENT_USER, RunPath, Prefix + L"Guard", L"C:\\NoSuch\\guard.exe");
    SetBytes(HKEY_CURRENT_USER, ApprovedRunPath, Prefix + L"Off", MakeStartupApproved(false));
    Fake.Tasks = {{Prefix + L"Task", true}};
    Previous = ReplaceTaskScheduler(&Fake);
    NameWhite = {Prefix + L"Guard"};
    Host = std::make_unique<TPanel>(nullptr, nullptr, L"Host");
    Host->SetBounds(0, 0, 448, 367);
    Frame = Host->Create<TFrmAutorun>(Host.get());
    Frame->Collector = TestCollector;
    Frame->FFileWhite = &FileWhite;
    Frame->FNameWhite = &NameWhite;
    Frame->FNameBlack = &FileWhite;
  }
  void TearDown() override {
    Host.reset();
    ReplaceTaskScheduler(Previous);
    Clean();
  }
  static void Clean() {
    for (const wchar_t* Name : {L"One", L"Off", L"Guard", L"New"}) {
      DeleteValue(HKEY_CURRENT_USER, RunPath, Prefix + Name);
      DeleteValue(HKEY_CURRENT_USER, ApprovedRunPath, Prefix + Name);
    }
  }
  // The shown rows as "From|Target".
  std::vector<std::wstring> Shown() const {
    std::vector<std::wstring> Result;
    for (const TAutorunItem& Row : Frame->Rows()) Result.push_back(Row.From + L"|" + Row.Target);
    return Result;
  }
  int RowOf(const std::wstring& Name) const {
    const auto& Rows = Frame->Rows();
    for (size_t I = 0; I < Rows.size(); ++I) {
      if (Rows[I].Target == RunTarget + Prefix + Name || Rows[I].Target == L"\\" + Prefix + Name) return static_cast<int>(I);
    }
    return -1;
  }
  void Select(int Row) {
    LVITEMW State{};
    State.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    State.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(Frame->ListAutorun->Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&State));
  }
  std::wstring CellText(int Row, int Column) const {
    wchar_t Buffer[256] = {};
    LVITEMW Item{};
    Item.iSubItem = Column;
    Item.pszText = Buffer;
    Item.cchTextMax = 256;
    ::SendMessageW(Frame->ListAutorun->Handle(), LVM_GETITEMTEXTW, static_cast<WPARAM>(Row), reinterpret_cast<LPARAM>(&Item));
    return Buffer;
  }

  TFakeTaskScheduler Fake;
  TTaskScheduler* Previous = nullptr;
  TStringList FileWhite;
  TStringList NameWhite;
  std::unique_ptr<TPanel> Host;
  TFrmAutorun* Frame = nullptr;
};

TEST_F(AutorunPageTest, TheFirstLoadShowsTheEntriesThatAreOnAndNotWhiteListed) {
  EXPECT_EQ(Frame->ListAutorun->ColumnCaption(0), L"Program");
  EXPECT_EQ(Frame->ListAutorun->ColumnCaption(1), L"Loc");
  EXPECT_EQ(Frame->ChkAllList->Caption(), L"All Programs");
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Disable");
  EXPECT_EQ(Frame->BtnSave->Caption(), L"Save List");
  EXPECT_EQ(::SendMessageW(Frame->ChkAllList->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  Frame->LoadAutorun();
  EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"HKCU|" + RunTarget + Prefix + L"One", L"SCHE|\\" + Prefix + L"Task"}));
  EXPECT_EQ(CellText(0, 0), Prefix + L"One") << "no product name: the value name";
  EXPECT_EQ(CellText(0, 1), L"HKCU");
  EXPECT_EQ(CellText(1, 1), L"SCHE");
  EXPECT_EQ(Frame->Rows()[0].Icon, 0) << "a missing file shows the blank document";
  EXPECT_EQ(Frame->Rows()[1].Icon, 2) << "a task shows the clock";

  // Every collected entry is saved, the hidden ones too.
  const std::string Text = AutorunListText(Frame->ListAutoObj());
  for (const wchar_t* Name : {L"One", L"Off", L"Guard"}) {
    EXPECT_NE(Text.find(WideToUtf8(L"HKCU|" + Prefix + Name + L"|" + RunTarget + Prefix + Name + L"\r\n")), std::string::npos)
        << WideToUtf8(Name);
  }
}

TEST_F(AutorunPageTest, SwitchedOffEntriesShowOnlyWithAllPrograms) {
  Frame->LoadAutorun();
  EXPECT_EQ(RowOf(L"Off"), -1);
  Press(Frame->ChkAllList);
  EXPECT_EQ(::SendMessageW(Frame->ChkAllList->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
  const int Off = RowOf(L"Off");
  ASSERT_GE(Off, 0);
  EXPECT_FALSE(Frame->Rows()[static_cast<size_t>(Off)].Enabled) << "drawn grey";
  EXPECT_EQ(RowOf(L"Guard"), -1) << "white-listed, all programs or not";
  Press(Frame->ChkAllList);
  EXPECT_EQ(RowOf(L"Off"), -1);
}

TEST_F(AutorunPageTest, TheButtonSwitchesTheSelectedEntryAndNamesTheNextAction) {
  Frame->LoadAutorun();
  const int One = RowOf(L"One");
  ASSERT_GE(One, 0);
  Select(One);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Disable");
  EXPECT_FALSE(Frame->BtnAutorun->Down());

  Press(Frame->BtnAutorun);
  TValue Value = GetValue(HKEY_CURRENT_USER, ApprovedRunPath, Prefix + L"One");
  ASSERT_EQ(Value.Data.size(), 12u);
  EXPECT_EQ(Value.Data[0], 3);
  EXPECT_EQ(RowOf(L"One"), One) << "the row stays in its place, greyed";
  EXPECT_FALSE(Frame->Rows()[static_cast<size_t>(One)].Enabled);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Enable");
  EXPECT_TRUE(Frame->BtnAutorun->Down());
  EXPECT_TRUE(Frame->BtnAutorun->Enabled());
  EXPECT_EQ(Frame->ListAutorun->SelectedIndex(), One);

  Press(Frame->BtnAutorun);
  Value = GetValue(HKEY_CURRENT_USER, ApprovedRunPath, Prefix + L"One");
  ASSERT_EQ(Value.Data.size(), 12u);
  EXPECT_EQ(Value.Data[0], 2);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Disable");
  EXPECT_FALSE(Frame->BtnAutorun->Down());

  // Switched off again, F5 rebuilds without it; selecting the task by keyboard names its state.
  Press(Frame->BtnAutorun);
  ::SendMessageW(Frame->ListAutorun->Handle(), WM_KEYDOWN, VK_F5, 0);
  EXPECT_EQ(RowOf(L"One"), -1);
  EXPECT_EQ(Shown().size(), 1u);
  Fake.Tasks[0].Enabled = false;
  Frame->LoadAutorun();
  Select(0);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Enable");
  EXPECT_TRUE(ShownErrors().empty());
}

TEST_F(AutorunPageTest, TheSelectionFollowsItsEntryAcrossAReload) {
  Frame->LoadAutorun();
  const int Task = RowOf(L"Task");
  ASSERT_EQ(Task, 1);
  Select(Task);
  DeleteValue(HKEY_CURRENT_USER, RunPath, Prefix + L"One");
  SetText(HKEY_CURRENT_USER, RunPath, Prefix + L"New", L"C:\\NoSuch\\new.exe");
  Frame->LoadAutorun();
  EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"SCHE|\\" + Prefix + L"Task", L"HKCU|" + RunTarget + Prefix + L"New"}))
      << "the vanished row goes, the new entry comes last";
  EXPECT_EQ(Frame->ListAutorun->SelectedIndex(), 0);
  Fake.Tasks.clear();
  Frame->LoadAutorun();
  EXPECT_EQ(Frame->ListAutorun->SelectedIndex(), -1) << "cleared when its entry goes";
}

TEST_F(AutorunPageTest, EnterAndDoubleClickOpenTheEntryPage) {
  TRecordedLinks Recorded;
  Frame->LoadAutorun();
  const int One = RowOf(L"One");
  Select(One);
  ::SendMessageW(Frame->ListAutorun->Handle(), WM_KEYDOWN, VK_RETURN, 0);
  RECT Row{};
  Row.left = LVIR_BOUNDS;
  ::SendMessageW(Frame->ListAutorun->Handle(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&Row));
  const LPARAM Point = MAKELPARAM(Row.left + 40, (Row.top + Row.bottom) / 2);
  ::SendMessageW(Frame->ListAutorun->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, Point);
  ::SendMessageW(Frame->ListAutorun->Handle(), WM_LBUTTONUP, 0, Point);
  ::SendMessageW(Frame->ListAutorun->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, Point);
  ::SendMessageW(Frame->ListAutorun->Handle(), WM_LBUTTONUP, 0, Point);
  const std::vector<std::wstring> Links = Recorded.Links(2);
  ASSERT_EQ(Links.size(), 2u);
  EXPECT_EQ(Links[0], EntryPageUrl(L"HKCU", RunTarget + Prefix + L"One"));
  EXPECT_EQ(Links[1], EntryPageUrl(L"SCHE", L"\\" + Prefix + L"Task"));
}

TEST_F(AutorunPageTest, AReloadAskedForDuringALoadRunsAfterIt) {
  int Calls = 0;
  int Depth = 0;
  int Deepest = 0;
  Frame->Collector = [&](TAutorunList& List) {
    ++Calls;
    Deepest = std::max(Deepest, ++Depth);
    if (Calls == 1) Frame->LoadAutorun();  // e.g. F5 delivered while the list is collected
    TestCollector(List);
    --Depth;
  };
  Frame->LoadAutorun();
  EXPECT_EQ(Calls, 2);
  EXPECT_EQ(Deepest, 1) << "never nested";
  EXPECT_EQ(Frame->LoadCount(), 2);
  EXPECT_EQ(Shown().size(), 2u);
}

// Only opens the save dialog and cancels it: writing the file is tested on its own.
TEST_F(AutorunPageTest, TheSaveDialogOpensAndCancelWritesNothing) {
  Frame->LoadAutorun();
  std::atomic<bool> Found{false};
  const DWORD Process = ::GetCurrentProcessId();
  const std::wstring Title = Frame->SaveDialogTitle();
  std::thread Closer([&] {
    for (int I = 0; I < 200 && !Found; ++I) {
      ::Sleep(50);
      HWND Dialog = ::FindWindowW(L"#32770", Title.c_str());
      DWORD Owner = 0;
      if (Dialog != nullptr && ::GetWindowThreadProcessId(Dialog, &Owner) && Owner == Process) {
        Found = true;
        ::PostMessageW(Dialog, WM_COMMAND, IDCANCEL, 0);
      }
    }
  });
  Frame->BtnSaveClick();
  Closer.join();
  EXPECT_TRUE(Found) << "a dialog titled " << testing::PrintToString(Title);
  EXPECT_TRUE(ShownErrors().empty());
}

}  // namespace
}  // namespace nimbrel
