// The icons a list page shows: appended only, so an index stays valid for the collection's life.
// Main thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/handle.h"

namespace nimbrel {

class TIconCollection {
 public:
  // Takes Icon over and returns its index (the count before the call).
  int Add(TOwnedIcon Icon, std::wstring Name);
  int Count() const { return static_cast<int>(FItems.size()); }
  // nullptr (empty text) for an index outside the collection.
  HICON Icon(int Index) const;
  std::wstring Name(int Index) const;

  // Called by Changed(); an image list fed from the collection sets it to take the new icons.
  std::function<void()> OnChange;
  void Changed();

 private:
  struct TItem {
    TOwnedIcon Icon;
    std::wstring Name;
  };
  std::vector<TItem> FItems;
};

}  // namespace nimbrel
