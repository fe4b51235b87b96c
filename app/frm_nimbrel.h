// The main window: header bar with three page buttons and the logo, and the card panel with the
// home card (Clean button) and the Startup and Bundle pages.
#pragma once

#include <memory>
#include <string>

#include "clean/clean_run.h"
#include "update/init_check.h"
#include "clean/process_table.h"
#include "clean/protection_list.h"
#include "widgets/button.h"
#include "widgets/form.h"
#include "widgets/label.h"
#include "widgets/misc.h"

namespace nimbrel {

class TFrmAutorun;
class TFrmInstall;

// The home card's tips (one is shown, picked at random) and how the label shows a translated one.
inline constexpr const wchar_t* HomeTips[] = {
    L"윈도우 필수 프로그램만 남기고 <B>종료</B>합니다.",
    L"프로그램은 종료만 되며, <B>삭제</B>하지 않습니다.",
};
std::wstring HomeTipMarkup(const std::wstring& Tip);

// A start-up answer as the check's worker reads it: what it asks of the window, and its rows for
// the protection lists (none when it is not JSON or nests too deep). Gives way to Stop. Any thread.
struct TCheckAnswer {
  TInitAnswer Init;
  TServiceLists Lists;
};
TCheckAnswer ReadCheckAnswer(const std::wstring& Answer, HANDLE Stop = nullptr);

// The window class name, for tools and tests that look for the window.
inline constexpr wchar_t MainWindowClass[] = L"TFrmNimbrel";

class TFrmNimbrel : public TForm {
 public:
  // CleanRun: how the Clean button cleans; nullptr for the real clean.
  // InitRequest: how the start-up check asks the service (RequestInit in the program); nullptr
  // starts no check.
  explicit TFrmNimbrel(TComponent* Owner, std::unique_ptr<TCleanRun> CleanRun = nullptr,
                       TInitRequest InitRequest = nullptr);
  // The page frames go before the lists they were handed.
  ~TFrmNimbrel() override;

  // A header button or the logo was clicked.
  void BtnHomeClick(TComponent* Sender);
  // The Clean button was clicked.
  void BtnStartClick(TComponent* Sender);

  TCardPanel* PnlMain = nullptr;
  TPanel* PnlCleaner = nullptr;
  TPanel* PnlAutorun = nullptr;
  TPanel* PnlInstall = nullptr;
  TPanel* PnlHead = nullptr;
  TStyledToolBar* BtnHead = nullptr;
  TStyledButton* BtnHome = nullptr;
  TStyledButton* BtnAutorun = nullptr;
  TStyledButton* BtnInstall = nullptr;
  TPanel* PnlLogo = nullptr;
  TPaintBox* ImgLogo = nullptr;
  TLabel* LblTitle = nullptr;
  TMarkupLabel* LblContent = nullptr;
  TStyledButton* BtnStart = nullptr;
  TActivityIndicator* Indicator = nullptr;
  TFrmAutorun* FrmAutorun = nullptr;
  TFrmInstall* FrmInstall = nullptr;
  TStringList FileWhite;
  TStringList NameWhite;
  TStringList NameBlack;
  // The clean's picture of the running processes; shared with the clean's worker.
  std::shared_ptr<TProcessList> ProcessList;

  [[nodiscard]] const TCleanRun& CleanRun() const noexcept { return *FCleanRun; }

 protected:
  void FormDestroy() override;
  void WndProc(TMessage& Message) override;

 private:
  void CreateControls();
  void FormCreate();
  // Starts the start-up check once, after the first paint.
  void StartCheck();
  void CleanFinished(const std::wstring& Key);
  // The start-up check's answer, on the main thread: prompt, bar, then closing or merging (the
  // rows are moved out of Answer).
  void CheckAnswered(TCheckAnswer& Answer);
  void ShowCleanIdle();

  std::unique_ptr<TCleanRun> FCleanRun;
  TInitRequest FInitRequest;
  std::shared_ptr<TUpdateCheck> FCheck;
};

// Draws the brand mark into Client.
void DrawLogo(HDC Dc, const RECT& Client, UINT Dpi);

}  // namespace nimbrel
