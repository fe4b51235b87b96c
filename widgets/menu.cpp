// Pop-up menus built on demand from the item tree.
#include "widgets/menu.h"

#include "base/handle.h"
#include "widgets/application.h"

namespace nimbrel {

TMenuItem::TMenuItem(TComponent* Owner, std::wstring Name, std::wstring Caption)
    : TComponent(Owner, std::move(Name)), FCaption(std::move(Caption)) {}

TPopupMenu::TPopupMenu(TComponent* Owner, std::wstring Name) : TComponent(Owner, std::move(Name)) {
  FItems = Create<TMenuItem>(L"Items");
}

namespace {

void Build(HMENU Menu, const TMenuItem& Parent, std::vector<TMenuItem*>& Commands) {
  for (TMenuItem* Item : Parent.Items()) {
    if (Item->Caption() == L"-") {
      ::AppendMenuW(Menu, MF_SEPARATOR, 0, nullptr);
    } else if (!Item->Items().empty()) {
      HMENU Sub = ::CreatePopupMenu();
      Build(Sub, *Item, Commands);
      ::AppendMenuW(Menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(Sub), Item->Caption().c_str());
    } else {
      Commands.push_back(Item);
      ::AppendMenuW(Menu, MF_STRING, Commands.size(), Item->Caption().c_str());
    }
  }
}

}  // namespace

void TPopupMenu::Popup(HWND Window, POINT ScreenPoint) {
  TOwnedMenu Menu(::CreatePopupMenu());
  if (!Menu) return;
  std::vector<TMenuItem*> Commands;
  Build(Menu.get(), *FItems, Commands);
  const UINT Flags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON |
                     (RightToLeftReading() ? TPM_LAYOUTRTL | TPM_RIGHTALIGN : TPM_LEFTALIGN);
  const int Chosen = static_cast<int>(::TrackPopupMenu(Menu.get(), Flags, ScreenPoint.x, ScreenPoint.y, 0, Window, nullptr));
  if (Chosen <= 0 || Chosen > static_cast<int>(Commands.size())) return;
  TMenuItem* Item = Commands[static_cast<size_t>(Chosen - 1)];
  if (Item->OnClick) GuardedCall([Item] { Item->OnClick(Item); });
}

}  // namespace nimbrel
