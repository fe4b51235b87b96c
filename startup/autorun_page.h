// The Startup card's page: the machine's autostart entries.
#pragma once

#include <string>
#include <vector>

#include "widgets/control.h"

namespace nimbrel {

class TFrmAutorun : public TPanel {
 public:
  TFrmAutorun(TComponent* Owner, TControl* Parent);

  // Reloads the entry list; called on every visit of the card.
  void LoadAutorun();
  [[nodiscard]] int LoadCount() const noexcept { return FLoadCount; }

  // The main window's protection lists (shared, not owned).
  const std::vector<std::wstring>* FFileWhite = nullptr;
  const std::vector<std::wstring>* FNameWhite = nullptr;
  const std::vector<std::wstring>* FNameBlack = nullptr;

 private:
  int FLoadCount = 0;
};

}  // namespace nimbrel
