// The Startup page through its window: seeded Run values of the current user, tasks from a fake
// scheduler, the rest of the machine's entries filtered out by the test's collector.
#include "startup/autorun_page.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "locale/translate.h"
#include "base/ascii.h"
#include "base/paths.h"
#include "base/utf.h"
#include "base/sync.h"
#include "net/endpoints.h"
#include "startup/autorun_save.h"
#include "widgets/stock_images.h"
#include "tests/startup/autorun_fixture.h"
#include "tests/support/recorded_links.h"
#include "tests/support/wait_loaded.h"
#include "widgets/application.h"

namespace nimbrel {
namespace {

using test::TRecordedLinks;
using test::WaitLoaded;

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
void TestCollector(TAutorunList& List, const TStopQuery& Stopped) {
  CollectAutorun(List, Stopped);
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
    Host->SetVisible(true);
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
  // Starts a load and waits for its result to be in.
  void Load() {
    Frame->LoadAutorun();
    Loaded();
  }
  void Loaded() { ASSERT_TRUE(WaitLoaded(*Frame)) << "the load's result came in"; }
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

  EXPECT_TRUE(Frame->Rows().empty());
  Frame->LoadAutorun();
  EXPECT_TRUE(Frame->Loading());
  EXPECT_FALSE(Frame->BtnAutorun->Enabled()) << "no switching while the rows may change";
  Loaded();
  EXPECT_TRUE(Frame->BtnAutorun->Enabled());
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
  Load();
  EXPECT_EQ(RowOf(L"Off"), -1);
  Press(Frame->ChkAllList);
  Loaded();
  EXPECT_EQ(::SendMessageW(Frame->ChkAllList->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
  const int Off = RowOf(L"Off");
  ASSERT_GE(Off, 0);
  EXPECT_FALSE(Frame->Rows()[static_cast<size_t>(Off)].Enabled) << "drawn grey";
  EXPECT_EQ(RowOf(L"Guard"), -1) << "white-listed, all programs or not";
  Press(Frame->ChkAllList);
  Loaded();
  EXPECT_EQ(RowOf(L"Off"), -1);
}

TEST_F(AutorunPageTest, TheButtonSwitchesTheSelectedEntryAndNamesTheNextAction) {
  Load();
  const int One = RowOf(L"One");
  ASSERT_GE(One, 0);
  Select(One);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Disable");
  EXPECT_FALSE(Frame->BtnAutorun->Down());

  Press(Frame->BtnAutorun);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Enable") << "named at once, before the reload is in";
  Loaded();
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
  Loaded();
  Value = GetValue(HKEY_CURRENT_USER, ApprovedRunPath, Prefix + L"One");
  ASSERT_EQ(Value.Data.size(), 12u);
  EXPECT_EQ(Value.Data[0], 2);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Disable");
  EXPECT_FALSE(Frame->BtnAutorun->Down());

  // Switched off again, F5 rebuilds without it; selecting the task by keyboard names its state.
  Press(Frame->BtnAutorun);
  Loaded();
  ::SendMessageW(Frame->ListAutorun->Handle(), WM_KEYDOWN, VK_F5, 0);
  Loaded();
  EXPECT_EQ(RowOf(L"One"), -1);
  EXPECT_EQ(Shown().size(), 1u);
  Fake.Tasks[0].Enabled = false;
  Load();
  Select(0);
  EXPECT_EQ(Frame->BtnAutorun->Caption(), L"Enable");
  EXPECT_TRUE(ShownErrors().empty());
}

TEST_F(AutorunPageTest, TheSelectionFollowsItsEntryAcrossAReload) {
  Load();
  const int Task = RowOf(L"Task");
  ASSERT_EQ(Task, 1);
  Select(Task);
  DeleteValue(HKEY_CURRENT_USER, RunPath, Prefix + L"One");
  SetText(HKEY_CURRENT_USER, RunPath, Prefix + L"New", L"C:\\NoSuch\\new.exe");
  Load();
  EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"SCHE|\\" + Prefix + L"Task", L"HKCU|" + RunTarget + Prefix + L"New"}))
      << "the vanished row goes, the new entry comes last";
  EXPECT_EQ(Frame->ListAutorun->SelectedIndex(), 0);
  Fake.Tasks.clear();
  Load();
  EXPECT_EQ(Frame->ListAutorun->SelectedIndex(), -1) << "cleared when its entry goes";
}

TEST_F(AutorunPageTest, EnterAndDoubleClickOpenTheEntryPage) {
  TRecordedLinks Recorded;
  Load();
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

// A collector that holds the load on its worker until released.
class THeldCollector {
 public:
  THeldCollector() : FRelease(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  TAutorunCollector Collector() {
    return [this](TAutorunList& List, const TStopQuery& Stopped) {
      ++Calls;
      Deepest = std::max(Deepest.load(), ++Depth);
      if (Calls == 1) {
        Started = true;
        while (::WaitForSingleObject(FRelease.get(), 10) == WAIT_TIMEOUT && !Stopped()) {
        }
      }
      TestCollector(List, Stopped);
      --Depth;
    };
  }
  void Release() { ::SetEvent(FRelease.get()); }
  std::atomic<int> Calls{0}, Depth{0}, Deepest{0};
  std::atomic<bool> Started{false};

 private:
  TOwnedHandle FRelease;
};

TEST_F(AutorunPageTest, ALoadAskedForDuringALoadRunsOnceAfterIt) {
  THeldCollector Held;
  Frame->Collector = Held.Collector();
  Frame->LoadAutorun();
  Frame->LoadAutorun();  // e.g. F5 and a visit of the card while the list is collected
  Frame->LoadAutorun();
  EXPECT_TRUE(Frame->Loading());
  Held.Release();
  Loaded();
  EXPECT_EQ(Held.Calls, 2) << "the requests during the load gave one more";
  EXPECT_EQ(Held.Deepest, 1) << "never two at once";
  EXPECT_EQ(Frame->LoadCount(), 2);
  EXPECT_EQ(Shown().size(), 2u);
}

// While a load is under way the page shows and keeps the last completed collection, and the
// switch does nothing: a row's state may be older than the load's.
TEST_F(AutorunPageTest, TheSwitchWaitsForALoadUnderWay) {
  Load();
  const std::vector<std::wstring> Before = Shown();
  const size_t Entries = Frame->ListAutoObj().size();
  const int One = RowOf(L"One");
  ASSERT_GE(One, 0);
  Select(One);
  ::SetFocus(Frame->BtnAutorun->Handle());

  THeldCollector Held;
  Frame->Collector = Held.Collector();
  DeleteValue(HKEY_CURRENT_USER, RunPath, Prefix + L"One");
  Frame->LoadAutorun();
  EXPECT_EQ(::GetFocus(), Frame->ListAutorun->Handle()) << "the disabled button passed the focus to the list";
  Press(Frame->BtnAutorun);
  Frame->BtnAutorunClick();
  EXPECT_FALSE(GetValue(HKEY_CURRENT_USER, ApprovedRunPath, Prefix + L"One").Exists) << "nothing switched";
  EXPECT_EQ(Shown(), Before);
  EXPECT_EQ(Frame->ListAutoObj().size(), Entries) << "the clean copies the last completed collection";
  EXPECT_EQ(Frame->ListAutorun->SelectedIndex(), One);

  Held.Release();
  Loaded();
  EXPECT_EQ(RowOf(L"One"), -1) << "the result is in";
  EXPECT_EQ(Frame->ListAutoObj().size(), Entries - 1);
  EXPECT_TRUE(Frame->BtnAutorun->Enabled());
}

// The page's window closing stops its load: the worker sees the stop signal, may still finish a
// Synchronize call, and has ended when the page is gone; its result never arrives.
TEST_F(AutorunPageTest, ClosingThePageStopsItsLoadAndWaitsForTheWorker) {
  std::atomic<bool> Started{false}, SawStop{false}, Synchronized{false}, Ended{false};
  Frame->Collector = [&](TAutorunList& List, const TStopQuery& Stopped) {
    Started = true;
    for (int I = 0; I < 1000 && !Stopped(); ++I) ::Sleep(10);
    SawStop = Stopped();
    Synchronize([&] { Synchronized = true; });
    List.push_back(TAutorunInfo{L"", Prefix + L"Late", L"", L"\\" + Prefix + L"Late", L"SCHE", true});
    Ended = true;
  };
  Frame->LoadAutorun();
  for (int I = 0; I < 500 && !Started; ++I) ::Sleep(10);
  ASSERT_TRUE(Started);
  Host.reset();
  EXPECT_TRUE(SawStop);
  EXPECT_TRUE(Synchronized) << "the worker's hand-over was served while it was waited for";
  EXPECT_TRUE(Ended) << "the worker had ended";
  MSG Message;
  while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&Message);  // nothing arrives
}

// A worker that does not give way, blocked in the task walk (where it holds the scheduler's
// lock, which the program's end waits for), is waited for a moment only: then the program ends.
TEST_F(AutorunPageTest, ClosingThePageDuringABlockedTaskWalkEndsTheProgram) {
  TOwnedHandle Hold(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TOwnedHandle Entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Fake.Hold = Hold.get();
  Fake.WalkEntered = Entered.get();
  std::atomic<bool> CollectorDone{false};
  std::atomic<int> ProgramEnds{0};
  std::atomic<bool> WalkHeldAtEnd{false};
  Frame->Collector = [&](TAutorunList& List, const TStopQuery& Stopped) {
    TestCollector(List, Stopped);
    CollectorDone = true;
  };
  Frame->EndProgram = [&] {
    ++ProgramEnds;
    WalkHeldAtEnd = !CollectorDone;
  };
  Frame->LoadAutorun();
  ASSERT_EQ(::WaitForSingleObject(Entered.get(), 10000), WAIT_OBJECT_0) << "the walk began";
  Host.reset();
  EXPECT_EQ(ProgramEnds, 1) << "closing ended the program";
  EXPECT_TRUE(WalkHeldAtEnd) << "while the walk still blocked";

  ::SetEvent(Hold.get());
  for (int I = 0; I < 1000 && !CollectorDone; ++I) ::Sleep(10);
  EXPECT_TRUE(CollectorDone);
  MSG Message;
  while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&Message);  // nothing arrives
}

// Tab goes as the program's message loop takes it (dialog keys): list, check box, button, and
// round again; a disabled button is passed over.
TEST_F(AutorunPageTest, TabMovesTheFocusFromTheListToTheCheckBoxToTheButton) {
  Load();
  auto Tab = [&] {
    MSG Key{::GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(::IsDialogMessageW(Host->Handle(), &Key));
    return ::GetFocus();
  };
  ::SetFocus(Frame->ListAutorun->Handle());
  ASSERT_EQ(::GetFocus(), Frame->ListAutorun->Handle());
  EXPECT_EQ(Tab(), Frame->ChkAllList->Handle());
  EXPECT_EQ(Tab(), Frame->BtnAutorun->Handle());
  EXPECT_EQ(Tab(), Frame->ListAutorun->Handle()) << "and on, round to the list";

  THeldCollector Held;
  Frame->Collector = Held.Collector();
  Frame->LoadAutorun();
  ::SetFocus(Frame->ChkAllList->Handle());
  EXPECT_EQ(Tab(), Frame->ListAutorun->Handle()) << "the button is disabled while loading";
  Held.Release();
  Loaded();
}

// The context menu from the keyboard: Shift+F10 and the context-menu key on the list open the
// menu with "Save List". A timer, which runs inside the menu's loop, reads it and closes it.
std::vector<std::wstring> GMenuItems;
bool GMenuSeen = false;
void CALLBACK ReadAndCloseMenu(HWND, UINT, UINT_PTR, DWORD) {
  HWND Popup = nullptr;
  while ((Popup = ::FindWindowExW(nullptr, Popup, L"#32768", nullptr)) != nullptr) {
    DWORD Process = 0;
    ::GetWindowThreadProcessId(Popup, &Process);
    if (Process == ::GetCurrentProcessId() && ::IsWindowVisible(Popup)) break;
  }
  if (Popup == nullptr) return;
  GMenuSeen = true;
  const auto Menu = reinterpret_cast<HMENU>(::SendMessageW(Popup, MN_GETHMENU, 0, 0));
  for (int I = 0; Menu != nullptr && I < ::GetMenuItemCount(Menu); ++I) {
    wchar_t Text[128] = {};
    ::GetMenuStringW(Menu, static_cast<UINT>(I), Text, 128, MF_BYPOSITION);
    GMenuItems.emplace_back(Text);
  }
  ::EndMenu();
}

TEST_F(AutorunPageTest, ShiftF10AndTheMenuKeyOpenTheContextMenu) {
  Load();
  Select(0);
  const HWND List = Frame->ListAutorun->Handle();
  struct TKeys {
    const char* Name;
    UINT Down, Up;
    WORD Key;
    bool Shift;
  };
  for (const TKeys& Keys : {TKeys{"Shift+F10", WM_SYSKEYDOWN, WM_SYSKEYUP, VK_F10, true},
                            TKeys{"context-menu key", WM_KEYDOWN, WM_KEYUP, VK_APPS, false}}) {
    SCOPED_TRACE(Keys.Name);
    GMenuItems.clear();
    GMenuSeen = false;
    BYTE State[256] = {};
    ::GetKeyboardState(State);
    State[VK_SHIFT] = Keys.Shift ? 0x80 : 0;
    ::SetKeyboardState(State);
    ::SetFocus(List);
    const UINT_PTR Timer = ::SetTimer(nullptr, 0, 100, ReadAndCloseMenu);
    ::SendMessageW(List, Keys.Down, Keys.Key, 1);
    ::SendMessageW(List, Keys.Up, Keys.Key, 0xC0000001);
    // A menu asked for by a posted message opens when it runs.
    for (int I = 0; I < 50 && !GMenuSeen; ++I) {
      MSG Message;
      while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&Message);
      ::Sleep(20);
    }
    ::KillTimer(nullptr, Timer);
    State[VK_SHIFT] = 0;
    ::SetKeyboardState(State);
    EXPECT_TRUE(GMenuSeen) << "the menu opened";
    EXPECT_EQ(GMenuItems, std::vector<std::wstring>{L"Save List"});
  }
}

// A row's tip tells two entries of one name apart: its Target, and for registry and service
// entries the command it runs.
TEST_F(AutorunPageTest, ARowsTipShowsItsTargetAndTheCommandOfRegistryAndServiceEntries) {
  const TAutorunList Entries = {
      {L"C:\\Startup\\a.lnk", Prefix + L"File", L"", L"C:\\Startup\\a.lnk", L"FILE", true},
      {L"C:\\a.exe", Prefix + L"Machine", L"\"C:\\a.exe\" /m", L"HKLM\\Run\\" + Prefix + L"Machine", L"HKLM", true},
      {L"C:\\b.exe", Prefix + L"User", L"C:\\b.exe -u", L"HKCU\\Run\\" + Prefix + L"User", L"HKCU", true},
      {L"", Prefix + L"Task", L"", L"\\" + Prefix + L"Task", L"SCHE", true},
      {L"C:\\s.exe", Prefix + L"Service", L"C:\\s.exe -k", L"NimbrelPService", L"SERV", true},
      {L"C:\\c.exe", Prefix + L"Bare", L"", L"HKCU\\Run\\" + Prefix + L"Bare", L"HKCU", true},
  };
  Frame->Collector = [&](TAutorunList& List, const TStopQuery&) { List = Entries; };
  Load();
  const std::vector<std::wstring> Tips = {
      L"C:\\Startup\\a.lnk",
      L"HKLM\\Run\\" + Prefix + L"Machine\r\n\"C:\\a.exe\" /m",
      L"HKCU\\Run\\" + Prefix + L"User\r\nC:\\b.exe -u",
      L"\\" + Prefix + L"Task",
      L"NimbrelPService\r\nC:\\s.exe -k",
      L"HKCU\\Run\\" + Prefix + L"Bare",
  };
  ASSERT_EQ(Frame->Rows().size(), Tips.size());
  for (size_t I = 0; I < Tips.size(); ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(Frame->RowTip(static_cast<int>(I)), Tips[I]);
    EXPECT_EQ(Frame->ListAutorun->OnGetTip(static_cast<int>(I)), Tips[I]) << "the list asks the page";
  }
  EXPECT_EQ(Frame->RowTip(static_cast<int>(Tips.size())), L"");
  EXPECT_EQ(Frame->RowTip(-1), L"");
}

// New rows read their files: the product name, one image per icon location shared by the rows
// that show it and kept for later loads, the registry image for an empty location and the blank
// document for a missing file. The same whether the files are read while the collection goes on
// (a collector that asks whether to stop between appends) or after it.
TEST_F(AutorunPageTest, NewRowsShowTheirFilesNamesAndSharedIcons) {
  const std::wstring Notepad = GetSpecialFolder(CSIDL_SYSTEM) + L"\\notepad.exe";
  std::map<std::wstring, std::wstring> Strings;
  GetFileVersionStrings(Notepad, {L"ProductName"}, Strings);
  const std::wstring Product = Strings[L"ProductName"].empty() ? Prefix + L"A" : Strings[L"ProductName"];
  auto Entry = [&](const std::wstring& Name, const std::wstring& File) {
    return TAutorunInfo{File, Prefix + Name, L"\"" + File + L"\"", RunTarget + Prefix + Name, L"HKCU", true};
  };
  for (const bool AsksBetweenAppends : {true, false}) {
    SCOPED_TRACE(AsksBetweenAppends ? "read during the collection" : "read after it");
    TearDown();
    SetUp();
    TAutorunList Entries = {Entry(L"A", Notepad), Entry(L"B", L"\"" + Notepad + L"\""), Entry(L"Empty", L""),
                            Entry(L"Gone", L"C:\\NoSuch\\gone.exe")};
    Frame->Collector = [&](TAutorunList& List, const TStopQuery& Stopped) {
      List.clear();
      for (const TAutorunInfo& Info : Entries) {
        if (AsksBetweenAppends && Stopped()) return;
        List.push_back(Info);
      }
    };
    Load();
    ASSERT_EQ(Frame->Rows().size(), 4u);
    const auto& Rows = Frame->Rows();
    EXPECT_EQ(Rows[0].FileName, Product);
    EXPECT_EQ(Rows[0].Icon, StockImageCount) << "the first icon after the four stock images";
    EXPECT_EQ(Rows[1].Icon, Rows[0].Icon) << "quotes aside, the same location: one image";
    EXPECT_EQ(Rows[2].Icon, static_cast<int>(TStockImage::Registry));
    EXPECT_EQ(Rows[3].Icon, static_cast<int>(TStockImage::Document));
    EXPECT_EQ(Rows[3].FileName, Prefix + L"Gone") << "no version resource: the caption";

    Entries.push_back(Entry(L"C", Notepad));
    Load();
    ASSERT_EQ(Frame->Rows().size(), 5u);
    EXPECT_EQ(Frame->Rows()[4].Icon, Frame->Rows()[0].Icon) << "the icon kept from the first load";
  }
}

// Only opens the save dialog and cancels it: writing the file is tested on its own. The program
// runs in System32, as it does after start, and the dialog still opens in the user's documents.
TEST_F(AutorunPageTest, TheSaveDialogOpensInTheDocumentsAndCancelWritesNothing) {
  Load();
  std::atomic<bool> Found{false};
  std::wstring Folder;
  const DWORD Process = ::GetCurrentProcessId();
  const std::wstring Title = Frame->SaveDialogTitle();
  wchar_t Previous[MAX_PATH] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, Previous), 0u);
  wchar_t System[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(System, MAX_PATH), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(System));
  std::thread Closer([&] {
    for (int I = 0; I < 200 && !Found; ++I) {
      ::Sleep(50);
      HWND Dialog = ::FindWindowW(L"#32770", Title.c_str());
      DWORD Owner = 0;
      if (Dialog != nullptr && ::GetWindowThreadProcessId(Dialog, &Owner) && Owner == Process) {
        ::Sleep(200);  // the dialog fills its folder view after it shows
        wchar_t Path[MAX_PATH] = {};
        ::SendMessageW(Dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(Path));
        Folder = Path;
        Found = true;
        ::PostMessageW(Dialog, WM_COMMAND, IDCANCEL, 0);
      }
    }
  });
  Frame->BtnSaveClick();
  Closer.join();
  ::SetCurrentDirectoryW(Previous);
  EXPECT_TRUE(Found) << "a dialog titled " << testing::PrintToString(Title);
  EXPECT_TRUE(ShownErrors().empty());
  EXPECT_EQ(AsciiUpper(Folder), AsciiUpper(GetSpecialFolder(CSIDL_PERSONAL))) << "not " << WideToUtf8(System);
}

}  // namespace
}  // namespace nimbrel
