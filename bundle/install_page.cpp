// The Bundle page: layout, reloads (full on a visit, per registration after a watcher's burst),
// uninstall start and teardown.
#include "bundle/install_page.h"

#include <algorithm>

#include "locale/translate.h"
#include "base/paths.h"
#include "bundle/execute.h"
#include "bundle/install_registrations.h"
#include "widgets/stock_images.h"

namespace nimbrel {
namespace {

constexpr UINT_PTR ReloadTimer = 1;
constexpr int BarHeight = 49;
constexpr int BarPadding = 8;
constexpr int ButtonWidth = 84;
constexpr int ButtonHeight = 33;
constexpr int RowHeight = 24;
constexpr int PublisherWidth = 140;
constexpr int StockImageSize = 32;  // drawn large, shown at the list's icon size

}  // namespace

TFrmInstall::TFrmInstall(TComponent* Owner, TControl* Parent)
    : TPanel(Owner, Parent, L"FrmInstall"), FLoader([this] { Reload(); }) {
  const int Width = Parent != nullptr ? Parent->Bounds().Width : 448;
  const int Height = Parent != nullptr ? Parent->Bounds().Height : 367;
  SetBounds(0, 0, Width, Height);

  for (int Image = 0; Image < StockImageCount; ++Image) {
    DataIcon.Add(MakeStockIcon(static_cast<TStockImage>(Image), StockImageSize), {});
  }
  ListInstall = Create<TListView>(this, L"ListInstall", true);
  ListInstall->SetBounds(0, 0, Width, Height - BarHeight);
  ListInstall->SetColumns({{Translate(L"프로그램 이름"), -1}, {Translate(L"출처"), PublisherWidth}});
  ListInstall->SetRowHeight(RowHeight);
  ListInstall->SetImages(&DataIcon);
  ListInstall->OnGetText = [this](int Row, int Column) { return ListInstallGetText(Row, Column); };
  ListInstall->OnGetImage = [this](int Row) { return ListInstallGetImageIndex(Row); };
  ListInstall->OnActivate = [this](int /*Row*/) { BtnInstallClick(ListInstall); };

  PnlInstall = Create<TPanel>(this, L"PnlInstall");
  PnlInstall->SetBounds(0, Height - BarHeight, Width, BarHeight);
  BtnInstall = Create<TStyledButton>(PnlInstall, L"BtnInstall");
  BtnInstall->SetBounds(Width - ButtonWidth, BarPadding, ButtonWidth, ButtonHeight);
  BtnInstall->SetCaption(L"삭제하기");
  BtnInstall->SetCornerRadius(6);
  BtnInstall->SetStyleFamily(L"Orvanta");
  BtnInstall->SetStyleClass(L"Primary");
  BtnInstall->SetStyleAppearance(L"Outline");
  BtnInstall->OnClick = [this](TComponent* Sender) { BtnInstallClick(Sender); };
  TranslateForm(this);

  const auto Registrations = InstallRegistrations();
  for (size_t Index = 0; Index < Registrations.size(); ++Index) {
    ListInstThd.push_back(RegistryMonitor(Registrations[Index].RootKey, Registrations[Index].Key,
                                          [this, Index] { RegistrationChanged(Index); }, true));
  }
}

TFrmInstall::~TFrmInstall() {
  FDestroying = true;
  for (auto It = ListInstThd.rbegin(); It != ListInstThd.rend(); ++It) {
    if (!*It) continue;
    (*It)->Terminate();
    (*It)->WaitFor(INFINITE);  // serves hand-overs, so a watcher inside one can finish
    It->reset();
  }
  ListInstThd.clear();
  ListIconObj.clear();
  ListInstObj.clear();
  if (Handle() != nullptr) ::KillTimer(Handle(), ReloadTimer);
  DestroyComponents();
}

void TFrmInstall::LoadInstall() {
  FFullPending = true;
  if (Handle() != nullptr) PaintNow(Handle());
  FLoader.Request();
}

void TFrmInstall::BtnInstallClick(TComponent* /*Sender*/) {
  BtnInstall->SetEnabled(false);
  struct TEnable {
    TStyledButton* Button;
    ~TEnable() { Button->SetEnabled(true); }
  } Enable{BtnInstall};
  const int Row = ListInstall->SelectedIndex();
  if (Row >= 0 && Row < static_cast<int>(FRows.size())) {
    const TInstallItem Item = FRows[static_cast<size_t>(Row)];
    ExecuteUninstall(Item.UninstallString, Item.FromCurrentUser, SW_SHOW);
  }
  LoadInstall();
}

void TFrmInstall::RegistrationChanged(size_t Index) {
  if (FDestroying || Handle() == nullptr) return;
  FChanged |= 1u << Index;
  const uint32_t Delay = FBurst.Change(::GetTickCount64());
  ::SetTimer(Handle(), ReloadTimer, std::max<UINT>(Delay, USER_TIMER_MINIMUM), nullptr);
}

void TFrmInstall::WndProc(TMessage& Message) {
  // A double click beside the rows (no row under the mouse) clicks the button too: it reloads.
  if (Message.Msg == WM_NOTIFY && ListInstall != nullptr) {
    const auto* Header = reinterpret_cast<const NMHDR*>(Message.LParam);
    if (Header->hwndFrom == ListInstall->Handle() && Header->code == NM_DBLCLK &&
        reinterpret_cast<const NMITEMACTIVATE*>(Header)->iItem < 0) {
      BtnInstallClick(ListInstall);
      Message.Result = 0;
      return;
    }
  }
  if (Message.Msg == WM_TIMER && Message.WParam == ReloadTimer) {
    ::KillTimer(Handle(), ReloadTimer);
    FBurst.Reloading();
    FLoader.Request();
    Message.Result = 0;
    return;
  }
  TPanel::WndProc(Message);
}

void TFrmInstall::Reload() {
  ++FLoadCount;
  if (FFullPending) {
    FFullPending = false;
    FChanged = 0;
    FSnapshot.Reload();
  } else {
    const unsigned Changed = std::exchange(FChanged, 0u);
    for (size_t Index = 0; Index < 4; ++Index) {
      if ((Changed & (1u << Index)) != 0) FSnapshot.Refresh(Index);
    }
  }
  FSnapshot.Build(ListInstObj);

  FRows = BuildInstallRows(
      ListInstObj, [this](const std::wstring& DisplayName) { return IsBlackListed(DisplayName); },
      Translate(L"알수없음"), [this](const std::wstring& Location) {
        return static_cast<int32_t>(GetFileIconIndex(ListIconObj, DataIcon, Location, 0));
      });
  ShowRows();
}

bool TFrmInstall::IsBlackListed(const std::wstring& DisplayName) {
  if (FNameBlack == nullptr) return false;
  if (FNameBlack->size() != FBlackRows) {
    FBlackVerdicts.clear();
    FBlackRows = FNameBlack->size();
  }
  const auto Found = FBlackVerdicts.find(DisplayName);
  if (Found != FBlackVerdicts.end()) return Found->second;
  const bool Verdict = MatchesList(*FNameBlack, DisplayName, false);
  FBlackVerdicts.emplace(DisplayName, Verdict);
  return Verdict;
}

void TFrmInstall::ShowRows() {
  ListInstall->SetSelectedIndex(-1);
  ListInstall->SetRowCount(static_cast<int>(FRows.size()));
  ListInstall->RefreshRows();
}

std::wstring TFrmInstall::ListInstallGetText(int Row, int Column) const {
  if (Row < 0 || Row >= static_cast<int>(FRows.size())) return {};
  const TInstallItem& Item = FRows[static_cast<size_t>(Row)];
  switch (Column) {
    case 0: return Item.DisplayName;
    case 1: return Item.Publisher;
    default: return {};
  }
}

int TFrmInstall::ListInstallGetImageIndex(int Row) const {
  if (Row < 0 || Row >= static_cast<int>(FRows.size())) return -1;
  return FRows[static_cast<size_t>(Row)].Icon;
}

}  // namespace nimbrel
