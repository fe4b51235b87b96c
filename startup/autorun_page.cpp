// The Startup card's page.
#include "startup/autorun_page.h"

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <exception>

#include "locale/translate.h"
#include "base/ascii.h"
#include "base/paths.h"
#include "base/sync.h"
#include "base/shell_open.h"
#include "base/system_api.h"
#include "base/system_error.h"
#include "net/endpoints.h"
#include "startup/autorun_save.h"
#include "widgets/application.h"
#include "widgets/stock_images.h"

namespace nimbrel {
namespace {

constexpr int PanelHeight = 49;
constexpr int ButtonWidth = 84;

bool IsKind(const std::wstring& From, const wchar_t* Kind) { return SameTextAscii(From, Kind); }

}  // namespace

TFrmAutorun::TFrmAutorun(TComponent* Owner, TControl* Parent)
    : TPanel(Owner, Parent, L"FrmAutorun"), FLoader([this] { StartLoad(); }) {
  const int Width = Parent != nullptr ? Parent->Bounds().Width : 362;
  const int Height = Parent != nullptr ? Parent->Bounds().Height : 359;
  SetBounds(0, 0, Width, Height);
  SetColor(RGB(255, 255, 255));

  ListAutorun = Create<TListView>(this, L"ListAutorun", true);
  ListAutorun->SetBounds(0, 0, Width, Height - PanelHeight);
  PnlAutorun = Create<TPanel>(this, L"PnlAutorun");
  PnlAutorun->SetBounds(0, Height - PanelHeight, Width, PanelHeight);
  ChkAllList = Create<TCheckBox>(PnlAutorun, L"ChkAllList");
  ChkAllList->SetBounds(2, 16, 135, 17);
  ChkAllList->SetCaption(L"전체목록");
  BtnAutorun = Create<TStyledButton>(PnlAutorun, L"BtnAutorun");
  BtnAutorun->SetBounds(Width - ButtonWidth, 8, ButtonWidth, PanelHeight - 16);
  BtnAutorun->SetCaption(L"사용안함");
  BtnAutorun->SetCornerRadius(6);
  BtnAutorun->SetStyleFamily(L"Orvanta");
  BtnAutorun->SetStyleAppearance(L"Outline");
  Menu = Create<TPopupMenu>(L"Menu");
  BtnSave = Create<TMenuItem>(L"BtnSave", L"목록 저장");
  Menu->Items()->Add(BtnSave);

  TranslateForm(this);

  // The check box paints on the panel's colour, not the dialog grey.
  FPanelBrush.reset(::CreateSolidBrush(PnlAutorun->Color()));
  auto PanelProc = PnlAutorun->WindowProc;
  PnlAutorun->WindowProc = [this, PanelProc](TMessage& Message) {
    if (Message.Msg == WM_CTLCOLORSTATIC || Message.Msg == WM_CTLCOLORBTN) {
      ::SetBkColor(reinterpret_cast<HDC>(Message.WParam), PnlAutorun->Color());
      Message.Result = reinterpret_cast<LRESULT>(FPanelBrush.get());
      return;
    }
    PanelProc(Message);
  };

  ListAutorun->SetColumns({{Translate(L"프로그램 이름"), -1}, {Translate(L"출처"), 60}});
  ListAutorun->SetColumnFont(1, TFontSpec{L"Consolas", 12, false, false});
  for (int I = 0; I < StockImageCount; ++I) {
    DataIcon.Add(MakeStockIcon(static_cast<TStockImage>(I), ListAutorun->Scale(16)), std::to_wstring(I));
  }
  ListAutorun->SetImages(&DataIcon, 16);
  ListAutorun->SetRowHeight(24);

  ListAutorun->OnGetText = [this](int Row, int Column) -> std::wstring {
    if (Row < 0 || Row >= static_cast<int>(FRows.size())) return {};
    const TAutorunItem& Item = FRows[static_cast<size_t>(Row)];
    return Column == 0 ? Item.FileName : Column == 1 ? Item.From : std::wstring();
  };
  ListAutorun->OnGetImage = [this](int Row) {
    return Row >= 0 && Row < static_cast<int>(FRows.size()) ? FRows[static_cast<size_t>(Row)].Icon : -1;
  };
  ListAutorun->OnIsGrey = [this](int Row) {
    return Row >= 0 && Row < static_cast<int>(FRows.size()) && !FRows[static_cast<size_t>(Row)].Enabled;
  };
  ListAutorun->OnGetTip = [this](int Row) { return RowTip(Row); };
  ListAutorun->OnSelectionChange = [this](int Row) { ListAutorunClick(Row); };
  ListAutorun->OnActivate = [this](int Row) { ListAutorunDblClick(Row); };
  ListAutorun->OnKeyDown = [this](WORD Key) { ListAutorunKeyDown(Key); };
  ListAutorun->OnContextMenu = [this](POINT Screen) { Menu->Popup(ListAutorun->Handle(), Screen); };
  ChkAllList->OnClick = [this](TComponent*) { ChkAllListClick(); };
  BtnAutorun->OnClick = [this](TComponent*) { BtnAutorunClick(); };
  BtnSave->OnClick = [this](TComponent*) { BtnSaveClick(); };
}

TFrmAutorun::~TFrmAutorun() {
  StopLoad();
  // The controls go while the rows, icons and the panel's brush they use still exist.
  DestroyComponents();
}

// The window closing stops a load: its hand-over never reaches the page, and the worker is
// waited for while hand-overs are served (one inside Synchronize can finish); one that does not
// give way in time ends the program.
void TFrmAutorun::WndProc(TMessage& Message) {
  if (Message.Msg == WM_DESTROY) StopLoad();
  TPanel::WndProc(Message);
}

void TFrmAutorun::AbandonLoad() noexcept {
  if (FJob) FJob->Stop();
}

void TFrmAutorun::StopLoad() {
  if (!FJob) return;
  const std::shared_ptr<TAutorunLoadJob> Job = std::move(FJob);
  Job->Stop();
  if (!Job->Wait(StopWaitMilliseconds) && EndProgram) EndProgram();
}

void TFrmAutorun::LoadAutorun() { FLoader.Request(); }

void TFrmAutorun::StartLoad() {
  ++FLoadCount;
  if (FClearBeforeLoad) {
    FClearBeforeLoad = false;
    ListAutorun->Clear();
    FRows.clear();
  }
  EnableSwitch(false);
  TAutorunLoadInput Input;
  Input.Rows = FRows;
  Input.ShowAll = ChkAllList->Checked();
  if (FFileWhite != nullptr) Input.FileWhite = *FFileWhite;
  if (FNameWhite != nullptr) Input.NameWhite = *FNameWhite;
  Input.IconCache = ListIconObj;
  if (IsMainThread()) {
    FJob = TAutorunLoadJob::Start(Input, Collector, [this](TAutorunLoadResult& Result) { ApplyLoad(Result); });
    if (FJob) return;
  }
  // No worker, or no hand-over to this thread: the load runs here.
  TAutorunLoadResult Result = PrepareAutorunLoad(Input, Collector, [] { return false; });
  ApplyLoad(Result);
}

void TFrmAutorun::ApplyLoad(TAutorunLoadResult& Result) {
  FJob.reset();
  // Whatever happens here, the load is over: the next one may start and the switch works again.
  struct TFinish {
    TFrmAutorun& Page;
    ~TFinish() {
      Page.FLoader.Finished();
      if (!Page.Loading()) Page.EnableSwitch(true);
    }
  } Finish{*this};
  if (Result.Error) std::rethrow_exception(Result.Error);
  if (Result.Stopped) return;

  FListAutoObj = std::move(Result.Entries);
  const size_t Kept = std::min(FRows.size(), Result.Merge.Enabled.size());
  for (size_t I = 0; I < Kept; ++I) FRows[I].Enabled = Result.Merge.Enabled[I];
  std::vector<int> NewIconIndex;
  NewIconIndex.reserve(Result.NewIcons.size());
  for (TAutorunNewIcon& Icon : Result.NewIcons) {
    const int Index = DataIcon.Add(std::move(Icon.Icon), Icon.Key);
    ListIconObj[Icon.Key] = Index;
    NewIconIndex.push_back(Index);
  }
  if (!NewIconIndex.empty()) DataIcon.Changed();

  // The list holds only a count: the selection, kept by index, is moved with its entry (rows
  // before it may go) and cleared when its entry goes.
  const int Selected = ListAutorun->SelectedIndex();
  int NewSelected = Selected;
  FRows.reserve(FRows.size() + Result.NewRows.size());
  for (size_t I = 0; I < Result.NewRows.size(); ++I) {
    TAutorunItem& Item = Result.NewRows[I];
    const int NewIcon = Result.NewRowIcon[I];
    if (NewIcon >= 0) Item.Icon = NewIconIndex[static_cast<size_t>(NewIcon)];
    FRows.push_back(std::move(Item));
  }
  for (const size_t Index : Result.Merge.Removed) {  // from the last to the first
    if (Index >= Kept) continue;
    FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(Index));
    if (static_cast<int>(Index) == Selected) {
      NewSelected = -1;
    } else if (static_cast<int>(Index) < Selected && NewSelected > 0) {
      --NewSelected;
    }
  }
  ListAutorun->BeginUpdate();
  struct TEndUpdate {
    TListView* List;
    ~TEndUpdate() { List->EndUpdate(); }
  } EndUpdate{ListAutorun};
  if (NewSelected != Selected) ListAutorun->SetSelectedIndex(-1, false);
  const int Count = static_cast<int>(FRows.size());
  if (ListAutorun->RowCount() != Count) ListAutorun->SetRowCount(Count, true);
  if (NewSelected != Selected && NewSelected >= 0) ListAutorun->SetSelectedIndex(NewSelected, false);
  ListAutorun->RefreshRows();
  ShowButtonFor(ListAutorun->SelectedIndex());
}

void TFrmAutorun::EnableSwitch(bool Enable) {
  // A disabled button cannot keep the focus: it goes to the list, where the selected row is.
  if (!Enable && ::GetFocus() == BtnAutorun->Handle()) ::SetFocus(ListAutorun->Handle());
  BtnAutorun->SetEnabled(Enable);
}

// The rows go when the load starts: at once, or after the load under way.
void TFrmAutorun::Rebuild() {
  FClearBeforeLoad = true;
  LoadAutorun();
}

std::wstring TFrmAutorun::RowTip(int Row) const {
  if (Row < 0 || Row >= static_cast<int>(FRows.size())) return {};
  const TAutorunItem& Item = FRows[static_cast<size_t>(Row)];
  std::wstring Tip = Item.Target;
  if (!IsKind(Item.From, L"FILE") && !IsKind(Item.From, L"SCHE")) {
    for (const TAutorunInfo& Entry : FListAutoObj) {
      if (SameTextAscii(AutorunKey(Entry.From, Entry.Target), AutorunKey(Item.From, Item.Target))) {
        if (!Entry.RawData.empty()) Tip += L"\r\n" + Entry.RawData;
        break;
      }
    }
  }
  return Tip;
}

void TFrmAutorun::ShowButtonFor(int Row) {
  if (Row < 0 || Row >= static_cast<int>(FRows.size())) return;
  const bool Enabled = FRows[static_cast<size_t>(Row)].Enabled;
  BtnAutorun->SetDown(!Enabled);
  BtnAutorun->SetCaption(Translate(Enabled ? L"사용안함" : L"사용함"));
}

void TFrmAutorun::ListAutorunClick(int Row) { ShowButtonFor(Row); }

void TFrmAutorun::ListAutorunDblClick(int Row) {
  if (Row < 0 || Row >= static_cast<int>(FRows.size())) return;
  const TAutorunItem& Item = FRows[static_cast<size_t>(Row)];
  ShellOpen(EntryPageUrl(Item.From, Item.Target));
}

void TFrmAutorun::ListAutorunKeyDown(WORD Key) {
  if (Key == VK_F5) Rebuild();
}

void TFrmAutorun::ChkAllListClick() { Rebuild(); }

// While a load is under way the button is disabled and a click does nothing: the rows may be
// about to change, and a row's state may already be older than a switch just made. Otherwise
// the selected index names a row of FRows (the list and FRows change together).
void TFrmAutorun::BtnAutorunClick() {
  if (Loading()) return;
  EnableSwitch(false);
  std::exception_ptr Error;
  const int Row = ListAutorun->SelectedIndex();
  if (Row >= 0 && Row < static_cast<int>(FRows.size())) {
    const TAutorunItem Item = FRows[static_cast<size_t>(Row)];
    try {
      SwitchAutorun(Item.Target, Item.From, !Item.Enabled);
      BtnAutorun->SetDown(Item.Enabled);
      BtnAutorun->SetCaption(Translate(Item.Enabled ? L"사용함" : L"사용안함"));
    } catch (...) {
      Error = std::current_exception();
    }
  }
  // Also after a failed switch: the row shows what is true, and the button works again once
  // the load's result is in.
  try {
    LoadAutorun();
  } catch (...) {
    if (!Error) Error = std::current_exception();
  }
  if (!Loading()) EnableSwitch(true);
  if (Error) std::rethrow_exception(Error);
}

std::wstring TFrmAutorun::SaveDialogTitle() const { return Translate(L"파일 저장"); }

void TFrmAutorun::BtnSaveClick() {
  std::wstring Filter = Translate(L"텍스트 파일") + L" (*.txt)" + L'\0' + L"*.txt" + L'\0' + Translate(L"모든 파일") +
                        L" (*.*)" + L'\0' + L"*.*" + L'\0' + L'\0';
  const std::wstring Title = SaveDialogTitle();
  wchar_t FileName[MAX_PATH * 4] = {};
  OPENFILENAMEW Dialog{};
  Dialog.lStructSize = sizeof(Dialog);
  Dialog.hwndOwner = ::GetAncestor(Handle(), GA_ROOT);
  Dialog.lpstrFilter = Filter.c_str();
  Dialog.nFilterIndex = 1;
  Dialog.lpstrFile = FileName;
  Dialog.nMaxFile = static_cast<DWORD>(std::size(FileName));
  Dialog.lpstrTitle = Title.c_str();
  Dialog.lpstrDefExt = L"txt";
  // The program's current folder is System32; without a folder of its own the dialog could open
  // there and the list would be saved where the user never looks.
  const std::wstring Documents = GetSpecialFolder(CSIDL_PERSONAL);
  Dialog.lpstrInitialDir = Documents.empty() ? nullptr : Documents.c_str();
  Dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  // The dialog's shell parts run in the main thread's COM apartment, started for it.
  JoinComApartment();
  std::wstring Error;
  if (api::GetSaveFileNameW(&Dialog)) {
    Error = SaveAutorunList(FileName, FListAutoObj);
  } else if (!api::Available("GetSaveFileNameW")) {
    Error = SystemErrorText(ERROR_PROC_NOT_FOUND);  // no dialog to show
  }
  if (Error.empty()) return;  // saved, or cancelled
  const std::wstring Text = Translate(L"오류가 발생했습니다.") + L"\r\n" + Error;
  ShowMessageBox(Dialog.hwndOwner, Text, Title, MB_OK | MB_ICONWARNING);
}

}  // namespace nimbrel
