// The main window.
#include "app/frm_nimbrel.h"

#include <stdexcept>

#include <chrono>
#include <random>

#include "locale/translate.h"
#include "base/ascii.h"
#include "base/utf.h"
#include "bundle/install_page.h"
#include "base/shell_open.h"
#include "net/endpoints.h"
#include "update/update_check.h"
#include "update/update_prompt.h"
#include "update/update_status.h"
#include "startup/autorun_page.h"
#include "theme/theme_helper.h"
#include "widgets/application.h"
#include "widgets/page_load.h"

namespace nimbrel {

namespace {

constexpr int DesignWidth = 464;
constexpr int DesignHeight = 417;

// Header buttons and the logo, in card order; the logo's index opens the home link.
constexpr const wchar_t* PageSenders[] = {L"BtnHome", L"BtnAutorun", L"BtnInstall", L"ImgLogo"};
constexpr int LogoIndex = 3;
constexpr UINT_PTR StartCheckTimer = 0x4E53;  // "NS"

int PageIndexOf(const TComponent* Sender) {
  if (Sender == nullptr) return -1;
  for (int I = 0; I < static_cast<int>(std::size(PageSenders)); ++I) {
    if (SameTextAscii(Sender->Name(), PageSenders[I])) return I;
  }
  return -1;
}

// Seeded once from the clock when the process starts.
std::mt19937& TipRandom() {
  static std::mt19937 Random(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return Random;
}

}  // namespace

TFrmNimbrel::TFrmNimbrel(TComponent* Owner, std::unique_ptr<TCleanRun> CleanRun, TInitRequest InitRequest)
    : TForm(Owner, L"FrmNimbrel", MainWindowClass, DesignWidth, DesignHeight, TBorderStyle::Single),
      FCleanRun(CleanRun ? std::move(CleanRun) : std::make_unique<TCleanRun>()),
      FInitRequest(std::move(InitRequest)) {
  SetColor(RGB(255, 255, 255));
  SetFont(TFontSpec{L"Segoe UI", 12, false, false});
  SetCaption(L"님브렐");
  CreateControls();
  FormCreate();
}

TFrmNimbrel::~TFrmNimbrel() { DestroyComponents(); }

void TFrmNimbrel::WndProc(TMessage& Message) {
  if (Message.Msg == WM_TIMER && Message.WParam == StartCheckTimer) {
    StartCheck();
    Message.Result = 0;
    return;
  }
  TForm::WndProc(Message);
}

void TFrmNimbrel::CreateControls() {
  PnlMain = Create<TCardPanel>(this, L"PnlMain", 8);
  PnlMain->SetBounds(0, 50, DesignWidth, DesignHeight - 50);
  PnlCleaner = PnlMain->AddCard(L"PnlCleaner");
  PnlAutorun = PnlMain->AddCard(L"PnlAutorun");
  PnlInstall = PnlMain->AddCard(L"PnlInstall");

  PnlHead = Create<TPanel>(this, L"PnlHead");
  PnlHead->SetBounds(0, 0, DesignWidth, 50);

  PnlLogo = Create<TPanel>(PnlHead, L"PnlLogo");
  PnlLogo->SetBounds(DesignWidth - 120, 0, 120, 50);
  ImgLogo = Create<TPaintBox>(PnlLogo, L"ImgLogo");
  ImgLogo->SetBounds(3, 0, 112, 50);
  ImgLogo->SetCursor(IDC_HAND);
  ImgLogo->OnPaint = DrawLogo;

  BtnHead = Create<TStyledToolBar>(PnlHead, L"BtnHead");
  BtnHead->SetBounds(10, 10, DesignWidth - 120 - 20, 30);
  BtnHead->SetButtonSize(70, 30);
  BtnHead->SetIndent(10);
  BtnHome = BtnHead->AddButton(L"BtnHome", L"처음화면");
  BtnAutorun = BtnHead->AddButton(L"BtnAutorun", L"자동실행");
  BtnInstall = BtnHead->AddButton(L"BtnInstall", L"강제설치");
  BtnHead->SetStyle(L"Orvanta", L"Primary", L"Header", 4);
  BtnHead->SetPressed(BtnHome);

  LblTitle = Create<TLabel>(PnlCleaner, L"LblTitle");
  LblTitle->SetBounds(0, 40, 450, 81);
  LblTitle->SetFont(TFontSpec{L"Tahoma", 59, false, true});
  LblTitle->SetAlignment(TTextAlign::Center);
  LblTitle->SetCaption(L"님브렐");

  LblContent = Create<TMarkupLabel>(PnlCleaner, L"LblContent");
  LblContent->SetBounds(2, 172, 449, 33);
  LblContent->SetVerticalCenter(true);

  BtnStart = Create<TStyledButton>(PnlCleaner, L"BtnStart");
  BtnStart->SetBounds(142, 264, 162, 68);
  BtnStart->SetCaption(L"실행하기");
  BtnStart->SetCornerRadius(6);
  BtnStart->SetStyleFamily(L"Orvanta");
  BtnStart->SetStyleClass(L"Primary");
  BtnStart->SetStyleAppearance(L"Outline");

  Indicator = Create<TActivityIndicator>(PnlCleaner, L"Indicator");
  Indicator->SetBounds(207, 282, 32, 32);
  // The spinner sits over the button's centre.
  ::SetWindowPos(Indicator->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  for (TStyledButton* Button : BtnHead->Buttons()) {
    Button->OnClick = [this](TComponent* Sender) { BtnHomeClick(Sender); };
  }
  ImgLogo->OnClick = [this](TComponent* Sender) { BtnHomeClick(Sender); };
  BtnStart->OnClick = [this](TComponent* Sender) { BtnStartClick(Sender); };
}

void TFrmNimbrel::FormCreate() {
  TranslateForm(this);
  AttachTheme(*this);

  SetFont(DesktopFont());  // controls with the parent's font follow; the title keeps its own

  Indicator->SetVisible(false);
  PnlMain->SetActiveCardIndex(0);

  Application().SetTitle(Caption());

  LblContent->SetCaption(HomeTipMarkup(Translate(HomeTips[std::bernoulli_distribution(0.5)(TipRandom()) ? 1 : 0])));

  ProcessList = std::make_shared<TProcessList>();

  LoadListResource(FileWhite, L"file_white");
  LoadListResource(NameWhite, L"name_white");
  LoadListResource(NameBlack, L"name_black");

  // The start-up check waits for the first paint: a timer message comes only once no window of
  // this thread has anything left to paint (a hidden window has nothing to paint).
  if (FInitRequest) ::SetTimer(Handle(), StartCheckTimer, 0, nullptr);
}

void TFrmNimbrel::StartCheck() {
  ::KillTimer(Handle(), StartCheckTimer);
  if (FCheck || !FInitRequest) return;
  FCheck = TUpdateCheck::Start(InitCheckHeaders(), FInitRequest,
                               [this](const std::wstring& Answer, HANDLE Stop) -> std::function<void()> {
                                 // The worker reads; only the step it gives touches the window.
                                 auto Read = std::make_shared<TCheckAnswer>(ReadCheckAnswer(Answer, Stop));
                                 return [this, Read] { CheckAnswered(*Read); };
                               });
}

TCheckAnswer ReadCheckAnswer(const std::wstring& Answer, HANDLE Stop) {
  return {ReadInitAnswer(Answer), ReadServiceLists(WideToUtf8(Answer), Stop)};
}

void TFrmNimbrel::CheckAnswered(TCheckAnswer& Answer) {
  TAnswerActions Actions;
  Actions.Prompt = [this](const TUpdateNotice& Notice) { return ShowUpdatePrompt(Handle(), Notice); };
  Actions.Open = [](const std::wstring& Address) { ShellOpen(Address); };
  Actions.ShowStatus = [this](const std::wstring& Address) { ShowUpdateStatus(*this, Address); };
  Actions.Hold = StartHoldRequest;
  if (HandleInitAnswer(Answer.Init, Actions)) {
    CloseWhenIdle();  // the user took the update
    return;
  }
  MergeListRows(FileWhite, std::move(Answer.Lists.FileWhite));
  MergeListRows(NameWhite, std::move(Answer.Lists.NameWhite));
  MergeListRows(NameBlack, std::move(Answer.Lists.NameBlack));
}

std::wstring HomeTipMarkup(const std::wstring& Tip) { return L"<C><FC:clGray>" + Tip + L"</FC></C>"; }

void TFrmNimbrel::FormDestroy() {
  // Every worker hears first that what it hands over is no longer wanted, and only then is any
  // waited for (serving hand-overs): no finishing step, answer or load result reaches a window
  // being destroyed. A worker that does not give way within a second ends the program, so that a
  // closed Nimbrel can be started again at once; the Startup page waits for its load when its
  // own window goes, right after this.
  FCleanRun->Abandon();
  if (FCheck) FCheck->Abandon();
  if (FrmAutorun != nullptr) FrmAutorun->AbandonLoad();
  FCleanRun->StopWorker();
  if (FCheck && !FCheck->Stop(1000)) ::TerminateProcess(::GetCurrentProcess(), 0);
}

void TFrmNimbrel::BtnHomeClick(TComponent* Sender) {
  const int Index = PageIndexOf(Sender);
  if (Index == PnlMain->ActiveCardIndex()) return;  // the shown page is not loaded again

  if (auto* Button = dynamic_cast<TStyledButton*>(Sender); Button != nullptr && Button->Parent() == BtnHead) {
    BtnHead->SetPressed(Button);
    PnlMain->SetActiveCardIndex(Index);
    // The new card paints before its page loads; no other message runs inside this handler.
    PaintNow(PnlHead->Handle());
    PaintNow(PnlMain->Handle());
  }

  switch (Index) {
    case 1:
      if (FrmAutorun == nullptr) {
        FrmAutorun = Create<TFrmAutorun>(PnlAutorun);
        FrmAutorun->FFileWhite = &FileWhite;
        FrmAutorun->FNameWhite = &NameWhite;
        FrmAutorun->FNameBlack = &NameBlack;
      }
      FrmAutorun->LoadAutorun();
      break;
    case 2:
      if (FrmInstall == nullptr) {
        FrmInstall = Create<TFrmInstall>(PnlInstall);
        FrmInstall->FNameBlack = &NameBlack;
      }
      FrmInstall->LoadInstall();
      break;
    case LogoIndex:
      ShellOpen(HomeLinkUrl());
      break;
    default:
      break;
  }
}

void TFrmNimbrel::BtnStartClick(TComponent* /*Sender*/) {
  if (FCleanRun->State() != TCleanState::Idle) return;

  BtnStart->SetCaption(L"");
  BtnStart->SetEnabled(false);
  Indicator->SetVisible(true);
  Indicator->SetAnimate(true);

  // The report reads copies of the pages' lists as they are now.
  std::optional<TAutorunList> Autorun;
  if (FrmAutorun != nullptr) Autorun = FrmAutorun->ListAutoObj();
  std::optional<TInstallList> Install;
  if (FrmInstall != nullptr) Install = FrmInstall->InventoryCopy();
  const TCleanStart Started = FCleanRun->Start(
      FileWhite, ProcessList, [this](const std::wstring& Key) { CleanFinished(Key); }, std::move(Autorun),
      std::move(Install));
  if (Started.Status == TCleanStartStatus::Started || Started.Status == TCleanStartStatus::NotIdle) return;

  // Nothing was started: the button is usable again and the user learns why.
  ShowCleanIdle();
  std::wstring Message = Translate(L"오류가 발생했습니다.");
  if (!Started.Error.FileName.empty()) Message += L"\r\n\r\n" + Started.Error.FileName;
  if (!Started.Error.Reason.empty()) Message += L"\r\n" + Started.Error.Reason;
  throw std::runtime_error(WideToUtf8(Message));
}

void TFrmNimbrel::ShowCleanIdle() {
  Indicator->SetAnimate(false);
  Indicator->SetVisible(false);
  BtnStart->SetCaption(Translate(L"실행하기"));
  BtnStart->SetEnabled(true);
}

void TFrmNimbrel::CleanFinished(const std::wstring& Key) {
  if (!Key.empty()) ShellOpen(ReportPageUrl(Key));
  CloseWhenIdle();
}

}  // namespace nimbrel
