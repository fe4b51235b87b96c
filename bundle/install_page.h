// The Bundle card's page: installed security plug-ins from the black list.
#pragma once

#include <string>
#include <vector>

#include "widgets/control.h"

namespace nimbrel {

class TFrmInstall : public TPanel {
 public:
  TFrmInstall(TComponent* Owner, TControl* Parent);

  // Reloads the program list; called on every visit of the card.
  void LoadInstall();
  [[nodiscard]] int LoadCount() const noexcept { return FLoadCount; }

  // The main window's name black list (shared, not owned).
  const std::vector<std::wstring>* FNameBlack = nullptr;

 private:
  int FLoadCount = 0;
};

}  // namespace nimbrel
