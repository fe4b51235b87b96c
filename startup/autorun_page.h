// The Startup card's page: the machine's autostart entries, switched off and on one at a time,
// opened on the web service's entry page, and saved as a text file. Main thread only; a load
// collects on a worker thread of its own and hands its result back.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/icon_collection.h"
#include "base/list_rows.h"
#include "startup/autorun.h"
#include "startup/autorun_load.h"
#include "startup/autorun_rows.h"
#include "widgets/button.h"
#include "widgets/check_box.h"
#include "widgets/control.h"
#include "widgets/list_view.h"
#include "widgets/menu.h"
#include "widgets/page_load.h"

namespace nimbrel {

class TFrmAutorun : public TPanel {
 public:
  TFrmAutorun(TComponent* Owner, TControl* Parent);
  ~TFrmAutorun() override;

  // Starts collecting the entries on a worker; the rows are brought up to date when its result
  // is handed back (in the message loop). Called on every visit of the card. A load asked for
  // while one is under way runs once after it. Until then the list shows the previous rows and
  // BtnAutorun is disabled.
  void LoadAutorun();
  // True from the start of a load until its result has been applied (or dropped on failure).
  [[nodiscard]] bool Loading() const noexcept { return FLoader.Loading(); }
  // The number of loads started.
  [[nodiscard]] int LoadCount() const noexcept { return FLoadCount; }

  // The entries of the last completed collection, in collection order (white-listed,
  // switched-off and nameless ones included). The clean copies it at its click.
  [[nodiscard]] const TAutorunList& ListAutoObj() const noexcept { return FListAutoObj; }
  // The shown rows, in list order.
  [[nodiscard]] const std::vector<TAutorunItem>& Rows() const noexcept { return FRows; }

  // How the entries are collected; runs on the load's worker thread. Tests put their own in place.
  TAutorunCollector Collector = [](TAutorunList& List, const TStopQuery& Stopped) { CollectAutorun(List, Stopped); };

  // The main window's protection lists (shared, not owned); set before the first load.
  const TStringList* FFileWhite = nullptr;
  const TStringList* FNameWhite = nullptr;
  const TStringList* FNameBlack = nullptr;

  TListView* ListAutorun = nullptr;
  TPanel* PnlAutorun = nullptr;
  TCheckBox* ChkAllList = nullptr;
  TPopupMenu* Menu = nullptr;
  TMenuItem* BtnSave = nullptr;
  TStyledButton* BtnAutorun = nullptr;

  // Event handlers.
  void ListAutorunClick(int Row);
  void ListAutorunDblClick(int Row);
  void ListAutorunKeyDown(WORD Key);
  void ChkAllListClick();
  void BtnSaveClick();
  void BtnAutorunClick();

  // The save dialog's owner and title, for tools that look for it.
  [[nodiscard]] std::wstring SaveDialogTitle() const;

  // A row's tip: its Target and, for registry and service entries, the command it runs.
  [[nodiscard]] std::wstring RowTip(int Row) const;

  // The window starts to go away: a load's result is dropped and its worker told to stop;
  // returns at once. The page's window closing then waits for the worker.
  void AbandonLoad() noexcept;
  // How long closing the page waits for a load's worker to give way (serving hand-overs) before
  // it calls EndProgram: a worker blocked in the task walk holds the scheduler's lock, which the
  // program's end waits for.
  static constexpr DWORD StopWaitMilliseconds = 1000;
  // Ends the whole program at once (TerminateProcess: no destructor runs under a live worker, and
  // the single-instance name is free again). Tests put their own in place.
  std::function<void()> EndProgram = [] { ::TerminateProcess(::GetCurrentProcess(), 0); };

 protected:
  void WndProc(TMessage& Message) override;

 private:
  void StartLoad();
  void StopLoad();
  void ApplyLoad(TAutorunLoadResult& Result);
  void Rebuild();
  void ShowButtonFor(int Row);
  void EnableSwitch(bool Enable);

  TAsyncPageLoader FLoader;
  std::shared_ptr<TAutorunLoadJob> FJob;
  bool FClearBeforeLoad = false;
  int FLoadCount = 0;
  TAutorunList FListAutoObj;
  std::vector<TAutorunItem> FRows;
  TIconCollection DataIcon;
  std::map<std::wstring, int> ListIconObj;
  TOwnedBrush FPanelBrush;
};

}  // namespace nimbrel
