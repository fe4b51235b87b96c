// The append-only icon collection of a list page.
#include "base/icon_collection.h"

namespace nimbrel {

int TIconCollection::Add(TOwnedIcon Icon, std::wstring Name) {
  FItems.push_back(TItem{std::move(Icon), std::move(Name)});
  return Count() - 1;
}

HICON TIconCollection::Icon(int Index) const {
  return Index >= 0 && Index < Count() ? FItems[static_cast<size_t>(Index)].Icon.get() : nullptr;
}

std::wstring TIconCollection::Name(int Index) const {
  return Index >= 0 && Index < Count() ? FItems[static_cast<size_t>(Index)].Name : std::wstring();
}

void TIconCollection::Changed() {
  if (OnChange) OnChange();
}

}  // namespace nimbrel
