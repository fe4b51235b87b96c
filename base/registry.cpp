// TReg's reads, writes and deletes by root, key path and value name, and the reads on an open key.
#include "base/registry.h"

#include <winternl.h>

// Deletes the key a handle is open on (DELETE access); not in mingw's headers.
extern "C" NTSYSAPI NTSTATUS NTAPI NtDeleteKey(HANDLE KeyHandle);

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "base/registry_value.h"

namespace nimbrel {
namespace {

constexpr REGSAM WriteAccess = KEY_READ | KEY_WRITE | KEY_WOW64_64KEY;

// A leading "\" means the same as none: keys are always opened from the root.
const wchar_t* SubKey(const std::wstring& Key) { return Key.c_str() + (!Key.empty() && Key[0] == L'\\' ? 1 : 0); }

// Opens for writing, creating the key when it is missing; an empty path opens the root itself.
TOwnedKey OpenForWrite(HKEY RootKey, const std::wstring& Key) {
  TOwnedKey Result;
  if (RootKey == nullptr) return Result;
  const wchar_t* Path = SubKey(Key);
  LSTATUS Status;
  if (*Path == L'\0') {
    Status = ::RegOpenKeyExW(RootKey, nullptr, 0, WriteAccess, Result.put());
  } else {
    Status = ::RegCreateKeyExW(RootKey, Path, 0, nullptr, REG_OPTION_NON_VOLATILE, WriteAccess, nullptr,
                               Result.put(), nullptr);
  }
  if (Status != ERROR_SUCCESS) Result.reset();
  return Result;
}

bool IsTextOrNumberType(DWORD Type) {
  switch (Type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_LINK:
    case REG_MULTI_SZ:
    case REG_QWORD:
      return true;
    default:
      return false;
  }
}

// Fills Names from RegEnumKeyExW or RegEnumValueW; a failing step empties the list and gives 0.
template <typename EnumFn>
int ReadNames(HKEY RootKey, const std::wstring& Key, std::vector<std::wstring>& Names, DWORD MaxLength,
              EnumFn Enum) {
  Names.clear();
  const TOwnedKey Opened = OpenRegistryKey(RootKey, Key);
  if (!Opened) return 0;
  std::vector<wchar_t> Buffer(MaxLength + 1);
  for (DWORD Index = 0;; ++Index) {
    DWORD Length = static_cast<DWORD>(Buffer.size());
    const LSTATUS Status = Enum(Opened.get(), Index, Buffer.data(), &Length);
    if (Status == ERROR_NO_MORE_ITEMS) break;
    if (Status != ERROR_SUCCESS) {
      Names.clear();
      return 0;
    }
    Names.emplace_back(Buffer.data(), Length);
  }
  return static_cast<int>(Names.size());
}

// Whether an open key (opened with REG_OPTION_OPEN_LINK) is a registry link.
bool IsLinkKey(HKEY Key) {
  DWORD Type = 0;
  const LSTATUS Status = ::RegQueryValueExW(Key, L"SymbolicLinkValue", nullptr, &Type, nullptr, nullptr);
  return (Status == ERROR_SUCCESS || Status == ERROR_MORE_DATA) && Type == REG_LINK;
}

// Deletes the subkey Name of Parent with everything below it. Every key is opened as itself
// (REG_OPTION_OPEN_LINK) and deleted through its own handle: a link is removed as the link, and
// nothing it points to is ever touched (an elevated delete in the user's hive must not be
// redirected into the machine's).
void DeleteTree(HKEY Parent, const std::wstring& Name) {
  TOwnedKey Key;
  if (::RegOpenKeyExW(Parent, Name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE | KEY_WOW64_64KEY,
                      Key.put()) != ERROR_SUCCESS)
    return;
  if (!IsLinkKey(Key.get())) {
    DWORD Count = 0;
    ::RegQueryInfoKeyW(Key.get(), nullptr, nullptr, nullptr, &Count, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr);
    wchar_t Child[256];
    for (DWORD Index = Count; Index-- > 0;) {
      DWORD Length = static_cast<DWORD>(std::size(Child));
      if (::RegEnumKeyExW(Key.get(), Index, Child, &Length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        DeleteTree(Key.get(), std::wstring(Child, Length));
      }
    }
  }
  ::NtDeleteKey(Key.get());
}

}  // namespace

TOwnedKey OpenRegistryKey(HKEY RootKey, const std::wstring& Key) {
  TOwnedKey Result;
  if (RootKey == nullptr) return Result;
  constexpr REGSAM Attempts[] = {KEY_READ, STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                                 KEY_QUERY_VALUE};
  for (REGSAM Access : Attempts) {
    const LSTATUS Status = ::RegOpenKeyExW(RootKey, SubKey(Key), 0, Access | KEY_WOW64_64KEY, Result.put());
    if (Status == ERROR_SUCCESS) return Result;
    Result.reset();
    if (Status != ERROR_ACCESS_DENIED) break;
  }
  return Result;
}

bool TReg::IsKey(HKEY RootKey, const std::wstring& Key) {
  if (RootKey == nullptr) return false;
  TOwnedKey Opened;
  constexpr REGSAM Access = STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY;
  // A link counts as a key of its own: it is never followed.
  return ::RegOpenKeyExW(RootKey, SubKey(Key), REG_OPTION_OPEN_LINK, Access, Opened.put()) == ERROR_SUCCESS;
}

std::vector<uint8_t> TReg::ReadBinary(HKEY RootKey, const std::wstring& Key, const std::wstring& Name) {
  const TOwnedKey Opened = OpenRegistryKey(RootKey, Key);
  if (!Opened) return {};
  std::optional<TRegistryValue> Value = QueryRegistryValue(Opened.get(), Name);
  if (!Value) return {};
  // Text and number values are not handed out as bytes; their size in zeros stands in for them.
  if (IsTextOrNumberType(Value->Type)) std::fill(Value->Data.begin(), Value->Data.end(), uint8_t{0});
  return std::move(Value->Data);
}

bool TReg::ReadBool(HKEY RootKey, const std::wstring& Key, const std::wstring& Name, bool Value) {
  const TOwnedKey Opened = OpenRegistryKey(RootKey, Key);
  if (!Opened) return Value;
  const std::optional<int32_t> Number = RegistryNumber(QueryRegistryValue(Opened.get(), Name), true);
  return Number ? *Number != 0 : Value;
}

int32_t TReg::ReadInteger(HKEY RootKey, const std::wstring& Key, const std::wstring& Name, int32_t Value) {
  const TOwnedKey Opened = OpenRegistryKey(RootKey, Key);
  if (!Opened) return Value;
  return RegistryNumber(QueryRegistryValue(Opened.get(), Name), true).value_or(Value);
}

std::wstring TReg::ReadString(HKEY RootKey, const std::wstring& Key, const std::wstring& Name,
                              const std::wstring& Value) {
  const TOwnedKey Opened = OpenRegistryKey(RootKey, Key);
  if (!Opened) return Value;
  return RegistryText(QueryRegistryValue(Opened.get(), Name)).value_or(std::wstring());
}

int TReg::ReadKeyNames(HKEY RootKey, const std::wstring& Key, std::vector<std::wstring>& KeyNames) {
  // Key names are at most 255 characters long.
  return ReadNames(RootKey, Key, KeyNames, 255, [](HKEY Opened, DWORD Index, wchar_t* Buffer, DWORD* Length) {
    return ::RegEnumKeyExW(Opened, Index, Buffer, Length, nullptr, nullptr, nullptr, nullptr);
  });
}

int TReg::ReadValueNames(HKEY RootKey, const std::wstring& Key, std::vector<std::wstring>& ValueNames) {
  // Value names are at most 16383 characters long.
  return ReadNames(RootKey, Key, ValueNames, 16383, [](HKEY Opened, DWORD Index, wchar_t* Buffer, DWORD* Length) {
    return ::RegEnumValueW(Opened, Index, Buffer, Length, nullptr, nullptr, nullptr, nullptr);
  });
}

void TReg::WriteBinary(HKEY RootKey, const std::wstring& Key, const std::wstring& Name,
                       const std::vector<uint8_t>& Value) {
  const TOwnedKey Opened = OpenForWrite(RootKey, Key);
  if (!Opened) return;
  ::RegSetValueExW(Opened.get(), Name.c_str(), 0, REG_BINARY, Value.empty() ? nullptr : Value.data(),
                   static_cast<DWORD>(Value.size()));
}

void TReg::WriteInteger(HKEY RootKey, const std::wstring& Key, const std::wstring& Name, int32_t Value) {
  const TOwnedKey Opened = OpenForWrite(RootKey, Key);
  if (!Opened) return;
  DWORD Data = 0;
  std::memcpy(&Data, &Value, sizeof(Data));
  ::RegSetValueExW(Opened.get(), Name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Data), sizeof(Data));
}

void TReg::WriteString(HKEY RootKey, const std::wstring& Key, const std::wstring& Name, const std::wstring& Value) {
  const TOwnedKey Opened = OpenForWrite(RootKey, Key);
  if (!Opened) return;
  const DWORD Size = static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t));
  ::RegSetValueExW(Opened.get(), Name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()), Size);
}

void TReg::DeleteKey(HKEY RootKey, const std::wstring& Key, const std::wstring& Name) {
  // An empty name would make the key itself the one to delete.
  if (Name.empty()) return;
  const TOwnedKey Opened = OpenForWrite(RootKey, Key);
  if (!Opened) return;
  DeleteTree(Opened.get(), Name);
}

void TReg::DeleteValue(HKEY RootKey, const std::wstring& Key, const std::wstring& Name) {
  const TOwnedKey Opened = OpenForWrite(RootKey, Key);
  if (!Opened) return;
  ::RegDeleteValueW(Opened.get(), Name.c_str());
}

bool ReadBoolDef(HKEY Key, const std::wstring& Name, bool Default) {
  const std::optional<int32_t> Number = RegistryNumber(QueryRegistryValue(Key, Name), false);
  return Number ? *Number != 0 : Default;
}

int32_t ReadIntegerDef(HKEY Key, const std::wstring& Name, int32_t Default) {
  return RegistryNumber(QueryRegistryValue(Key, Name), false).value_or(Default);
}

std::wstring ReadStringDef(HKEY Key, const std::wstring& Name, const std::wstring& Default) {
  const std::optional<TRegistryValue> Value = QueryRegistryValue(Key, Name);
  if (const std::optional<int32_t> Number = RegistryNumber(Value, false)) return std::to_wstring(*Number);
  return RegistryText(Value).value_or(Default);
}

}  // namespace nimbrel
