// Reading one registry value as raw bytes, and as a number or a text.
#include "base/registry_value.h"

#include <cstring>

namespace nimbrel {

std::optional<TRegistryValue> QueryRegistryValue(HKEY Key, const std::wstring& Name) {
  if (Key == nullptr) return std::nullopt;
  TRegistryValue Value;
  DWORD Size = 0;
  if (::RegQueryValueExW(Key, Name.c_str(), nullptr, &Value.Type, nullptr, &Size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The value may grow between asking for its size and reading it; a few attempts catch up.
  for (int Attempt = 0; Attempt < 4; ++Attempt) {
    Value.Data.assign(Size, 0);
    if (Size == 0) return Value;
    const LSTATUS Status = ::RegQueryValueExW(Key, Name.c_str(), nullptr, &Value.Type, Value.Data.data(), &Size);
    if (Status == ERROR_SUCCESS) {
      Value.Data.resize(Size);
      return Value;
    }
    if (Status != ERROR_MORE_DATA) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<int32_t> RegistryNumber(const std::optional<TRegistryValue>& Value, bool BigEndianToo) {
  if (!Value || Value->Data.size() != sizeof(int32_t)) return std::nullopt;
  if (Value->Type != REG_DWORD && !(BigEndianToo && Value->Type == REG_DWORD_BIG_ENDIAN)) return std::nullopt;
  int32_t Number = 0;
  std::memcpy(&Number, Value->Data.data(), sizeof(Number));
  return Number;
}

std::optional<std::wstring> RegistryText(const std::optional<TRegistryValue>& Value) {
  if (!Value || (Value->Type != REG_SZ && Value->Type != REG_EXPAND_SZ)) return std::nullopt;
  std::wstring Text(Value->Data.size() / sizeof(wchar_t), L'\0');
  if (!Text.empty()) std::memcpy(Text.data(), Value->Data.data(), Text.size() * sizeof(wchar_t));
  const size_t End = Text.find(L'\0');
  if (End != std::wstring::npos) Text.resize(End);
  return Text;
}

}  // namespace nimbrel
