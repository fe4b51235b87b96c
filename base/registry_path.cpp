// Textual registry paths: root-key names, splitting a path, and deleting what a path names.
#include <iterator>

#include "base/ascii.h"
#include "base/registry.h"

namespace nimbrel {
namespace {

struct TRootName {
  HKEY RootKey;
  const wchar_t* LongName;
  const wchar_t* ShortName;  // the long name where the root has no short one
};

const TRootName RootNames[] = {
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT", L"HKCR"},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", L"HKCU"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", L"HKLM"},
    {HKEY_USERS, L"HKEY_USERS", L"HKU"},
    {HKEY_PERFORMANCE_DATA, L"HKEY_PERFORMANCE_DATA", L"HKEY_PERFORMANCE_DATA"},
    {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG", L"HKEY_CURRENT_CONFIG"},
    {HKEY_DYN_DATA, L"HKEY_DYN_DATA", L"HKEY_DYN_DATA"},
};

}  // namespace

std::wstring RootKeyToName(HKEY RootKey, bool Short) {
  for (const TRootName& Root : RootNames) {
    if (Root.RootKey == RootKey) return Short ? Root.ShortName : Root.LongName;
  }
  return {};
}

HKEY NameToRootKey(const std::wstring& Text) {
  for (const TRootName& Root : RootNames) {
    if (SameTextAscii(Text, Root.LongName) || SameTextAscii(Text, Root.ShortName)) return Root.RootKey;
  }
  return nullptr;
}

bool TReg::Parse(const std::wstring& Text, HKEY& RootKey, std::wstring& Key, std::wstring& Name) {
  RootKey = nullptr;
  Key.clear();
  Name.clear();
  const size_t First = Text.find(L'\\');
  const size_t Last = Text.rfind(L'\\');
  // Three parts need two separators.
  if (First == std::wstring::npos || First == Last) return false;
  RootKey = NameToRootKey(Text.substr(0, First));
  Key = Text.substr(First + 1, Last - First - 1);
  Name = Text.substr(Last + 1);
  return true;
}

void TReg::Delete(const std::wstring& Text) {
  HKEY RootKey = nullptr;
  std::wstring Key;
  std::wstring Name;
  // An empty last part would name Key itself; such a text deletes nothing.
  if (!Parse(Text, RootKey, Key, Name) || Name.empty()) return;
  const std::wstring Path = Key.empty() ? Name : Key + L"\\" + Name;
  if (IsKey(RootKey, Path)) {
    DeleteKey(RootKey, Key, Name);
  } else {
    DeleteValue(RootKey, Key, Name);
  }
}

}  // namespace nimbrel
