// The update bar.
#include "update/update_status.h"

#include <commctrl.h>

#include "base/shell_open.h"
#include "update/update_prompt.h"
#include "widgets/application.h"

namespace nimbrel {

TUpdateBar::TUpdateBar(TComponent* Owner, TControl* Parent) : TControl(Owner, Parent, UpdateBarName) {
  SetHasCaption(true);
  CreateHandle(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW);
  SetCursor(IDC_HAND);
  SetFont(TFontSpec{DesktopFont().Face, DesktopFont().Height, true, false});
}

void TUpdateBar::SetAddress(const std::wstring& Address) {
  FAddress = Address;
  if (FTip == nullptr && Handle() != nullptr) {
    FTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                             0, ::GetAncestor(Handle(), GA_ROOT), nullptr, ::GetModuleHandleW(nullptr), nullptr);
  }
  if (FTip == nullptr) return;
  TTTOOLINFOW Tool{};
  Tool.cbSize = sizeof(Tool);
  Tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  Tool.hwnd = ::GetAncestor(Handle(), GA_ROOT);
  Tool.uId = reinterpret_cast<UINT_PTR>(Handle());
  Tool.lpszText = FAddress.data();
  ::SendMessageW(FTip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&Tool));
  ::SendMessageW(FTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&Tool));
}

void TUpdateBar::Click() {
  ShellOpen(FAddress);
  TControl::Click();
}

void TUpdateBar::DrawItem(const DRAWITEMSTRUCT& Item) {
  ::FillRect(Item.hDC, &Item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
  const HGDIOBJ Old = ::SelectObject(Item.hDC, FontHandle());
  ::SetBkMode(Item.hDC, TRANSPARENT);
  ::SetTextColor(Item.hDC, RGB(255, 0, 0));
  RECT Box = Item.rcItem;
  const std::wstring Text = Caption();
  ::DrawTextW(Item.hDC, Text.c_str(), static_cast<int>(Text.size()), &Box,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX | (RightToLeftReading() ? DT_RTLREADING : 0));
  ::SelectObject(Item.hDC, Old);
  if ((Item.itemState & ODS_FOCUS) != 0) {
    RECT Focus = Item.rcItem;
    ::InflateRect(&Focus, -2, -2);
    ::DrawFocusRect(Item.hDC, &Focus);
  }
}

void ShowUpdateStatus(TForm& Form, const std::wstring& Hint) {
  if (!IsWebAddress(Hint)) return;
  TUpdateBar* Bar = nullptr;
  for (TComponent* Component : Form.Components()) {
    if (Component->Name() == UpdateBarName) Bar = dynamic_cast<TUpdateBar*>(Component);
  }
  if (Bar == nullptr) {
    const int Top = Form.ClientHeight();
    Bar = Form.Create<TUpdateBar>(&Form);
    Bar->SetBounds(0, Top, Form.ClientWidth(), UpdateBarHeight);
    Form.SetClientSize(Form.ClientWidth(), Top + UpdateBarHeight);
  }
  Bar->SetCaption(GetUpdateText(1));
  Bar->SetAddress(Hint);
  Bar->Invalidate();
}

void ShowUpdateStatus(const std::wstring& Hint) {
  if (TForm* Main = Application().MainForm()) ShowUpdateStatus(*Main, Hint);
}

}  // namespace nimbrel
