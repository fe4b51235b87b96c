// The Startup card's page: the machine's autostart entries, switched off and on one at a time,
// opened on the web service's entry page, and saved as a text file. Main thread only.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/icon_collection.h"
#include "base/list_rows.h"
#include "startup/autorun.h"
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

  // Collects the entries and brings the rows up to date; called on every visit of the card. A
  // load asked for while one runs runs once after it, never inside it.
  void LoadAutorun();
  [[nodiscard]] int LoadCount() const noexcept { return FLoadCount; }

  // The entries of the last collection, in collection order (white-listed, switched-off and
  // nameless ones included). The clean copies it at its click.
  [[nodiscard]] const TAutorunList& ListAutoObj() const noexcept { return FListAutoObj; }
  // The shown rows, in list order.
  [[nodiscard]] const std::vector<TAutorunItem>& Rows() const noexcept { return FRows; }

  // How the entries are collected; tests put their own in place.
  std::function<void(TAutorunList& List)> Collector = CollectAutorun;

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

 private:
  void Load();
  void Rebuild();
  TAutorunItem MakeRow(const TAutorunInfo& Entry);
  void ShowButtonFor(int Row);
  std::wstring RowTip(int Row) const;

  TPageLoader FLoader;
  int FLoadCount = 0;
  TAutorunList FListAutoObj;
  std::vector<TAutorunItem> FRows;
  TIconCollection DataIcon;
  std::map<std::wstring, int> ListIconObj;
  TOwnedBrush FPanelBrush;
};

}  // namespace nimbrel
