// A standard check box: a system BUTTON window (BM_GETCHECK, BM_CLICK, Space and screen readers
// work as usual) whose caption is its window text. A click raises OnClick after the state changed.
#pragma once

#include "widgets/control.h"

namespace nimbrel {

class TCheckBox : public TControl {
 public:
  TCheckBox(TComponent* Owner, TControl* Parent, std::wstring Name);
  [[nodiscard]] bool Checked() const noexcept;
  // Changes the state without raising OnClick.
  void SetChecked(bool Checked);

 protected:
  void WndProc(TMessage& Message) override;
};

}  // namespace nimbrel
