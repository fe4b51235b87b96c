// One registry value as type and raw bytes, and its reading as a number or a text. Shared by
// TReg and the reads on an open key.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel {

struct TRegistryValue {
  DWORD Type = REG_NONE;
  std::vector<uint8_t> Data;
};

// The value's type and data; nullopt when the value is missing or cannot be read.
std::optional<TRegistryValue> QueryRegistryValue(HKEY Key, const std::wstring& Name);

// The four bytes of a REG_DWORD value (with BigEndianToo also of a REG_DWORD_BIG_ENDIAN one, taken
// as stored); nullopt for anything else, a missing value or data of another size.
std::optional<int32_t> RegistryNumber(const std::optional<TRegistryValue>& Value, bool BigEndianToo);

// The text of a REG_SZ or REG_EXPAND_SZ value up to its first NUL; nullopt for anything else.
std::optional<std::wstring> RegistryText(const std::optional<TRegistryValue>& Value);

}  // namespace nimbrel
