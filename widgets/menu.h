// Pop-up menus. Items are components (owned like any other part of a window) that also form a
// tree under the menu's root item.
#pragma once

#include <windows.h>

#include <vector>

#include "widgets/control.h"

namespace nimbrel {

class TMenuItem : public TComponent {
 public:
  TMenuItem(TComponent* Owner, std::wstring Name, std::wstring Caption = {});

  [[nodiscard]] bool HasCaption() const override { return true; }
  [[nodiscard]] std::wstring Caption() const override { return FCaption; }
  void SetCaption(const std::wstring& Caption) override { FCaption = Caption; }

  // Sub-items, in menu order (not owned: they belong to their owner component).
  void Add(TMenuItem* Item) { FItems.push_back(Item); }
  [[nodiscard]] const std::vector<TMenuItem*>& Items() const noexcept { return FItems; }

  TNotifyEvent OnClick;

 private:
  std::wstring FCaption;
  std::vector<TMenuItem*> FItems;
};

class TPopupMenu : public TComponent {
 public:
  TPopupMenu(TComponent* Owner, std::wstring Name);

  [[nodiscard]] TMenuItem* Items() const noexcept { return FItems; }
  // Shows the menu at a screen point for Window and runs the chosen item's OnClick.
  void Popup(HWND Window, POINT ScreenPoint);

 private:
  TMenuItem* FItems;
};

}  // namespace nimbrel
