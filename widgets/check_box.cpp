// The check box over the system's BUTTON class.
#include "widgets/check_box.h"

namespace nimbrel {

TCheckBox::TCheckBox(TComponent* Owner, TControl* Parent, std::wstring Name) : TControl(Owner, Parent, std::move(Name)) {
  SetHasCaption(true);
  CreateHandle(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX);
}

bool TCheckBox::Checked() const noexcept {
  return FHandle != nullptr && ::SendMessageW(FHandle, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool Checked) {
  if (FHandle != nullptr) ::SendMessageW(FHandle, BM_SETCHECK, Checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::WndProc(TMessage& Message) {
  // The system draws the box; the base class would swallow its background erase.
  if (Message.Msg == WM_ERASEBKGND) {
    DefaultHandler(Message);
    return;
  }
  TControl::WndProc(Message);
}

}  // namespace nimbrel
