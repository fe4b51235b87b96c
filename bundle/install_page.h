// The Bundle card's page: installed security plug-ins from the black list, their uninstallers,
// and a list that keeps itself current through four registry watchers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/icon_collection.h"
#include "base/list_rows.h"
#include "base/registry.h"
#include "bundle/install_rows.h"
#include "bundle/install_snapshot.h"
#include "bundle/inventory.h"
#include "widgets/button.h"
#include "widgets/control.h"
#include "widgets/list_view.h"
#include "widgets/page_load.h"

namespace nimbrel {

// Main thread only, like every window. From creation on the four watchers run; the list stays
// empty until the first LoadInstall.
class TFrmInstall : public TPanel {
 public:
  TFrmInstall(TComponent* Owner, TControl* Parent);
  // Stops the watchers (last to first), then frees the watcher list, the icon cache and the
  // inventory, then the controls.
  ~TFrmInstall() override;

  // Collects the inventory anew and rebuilds the list (no row selected afterwards). Called on
  // every visit of the card and after each uninstall start. A request made while a reload runs
  // is carried out once after it.
  void LoadInstall();
  // The button's click and the list's double click or Enter: starts the selected row's
  // uninstaller (none without a selection) and reloads.
  void BtnInstallClick(TComponent* Sender);

  // Reloads run so far (of any cause).
  [[nodiscard]] int LoadCount() const noexcept { return FLoadCount; }
  // The rows shown, in list order.
  [[nodiscard]] const std::vector<TInstallItem>& Rows() const noexcept { return FRows; }
  // A copy of the whole inventory of the last reload (not only the listed rows), for a job that
  // reads it on another thread while the page reloads.
  [[nodiscard]] TInstallList InventoryCopy() const { return ListInstObj; }

  // The main window's name black list (shared, not owned); set before the first reload.
  const TStringList* FNameBlack = nullptr;

  TListView* ListInstall = nullptr;
  TPanel* PnlInstall = nullptr;
  TStyledButton* BtnInstall = nullptr;

 protected:
  void WndProc(TMessage& Message) override;

 private:
  // A watcher's report (main thread): the registration is read again once its burst has ended.
  void RegistrationChanged(size_t Index);
  // The load behind the page loader: a full collection when one was asked for, else the
  // registrations reported changed.
  void Reload();
  void ShowRows();
  [[nodiscard]] bool IsBlackListed(const std::wstring& DisplayName);
  // The list's cell text and row image (column 0 only).
  [[nodiscard]] std::wstring ListInstallGetText(int Row, int Column) const;
  [[nodiscard]] int ListInstallGetImageIndex(int Row) const;

  TPageLoader FLoader;
  TChangeBurst FBurst;
  TInstallSnapshot FSnapshot;
  bool FFullPending = false;
  unsigned FChanged = 0;  // bit per registration reported changed since its last reading
  bool FDestroying = false;
  int FLoadCount = 0;

  TInstallList ListInstObj;
  std::map<std::wstring, int> ListIconObj;
  // The four stock pictures (0 blank document, 1 registry, 2 clock, 3 gears), then the programs'
  // icons as they are first needed. Outlives the list, which draws from it.
  TIconCollection DataIcon;
  std::vector<std::unique_ptr<TRegistryWatcher>> ListInstThd;
  std::vector<TInstallItem> FRows;
  // Black-list verdicts by display name, valid while the black list keeps its length (it only
  // ever grows).
  std::unordered_map<std::wstring, bool> FBlackVerdicts;
  size_t FBlackRows = 0;
};

}  // namespace nimbrel
