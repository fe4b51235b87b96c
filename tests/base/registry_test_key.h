// A test key under HKEY_CURRENT_USER that each test owns: removed and created afresh before the
// test, removed after it. Values are set and checked with the raw API, independent of TReg.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/handle.h"

namespace nimbrel::testing_support {

inline const std::wstring TestKeyPath = L"Software\\NimbrelBaseTests";

inline void RemoveTestKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, TestKeyPath.c_str()); }

inline TOwnedKey CreateKey(const std::wstring& Path) {
  TOwnedKey Key;
  ::RegCreateKeyExW(HKEY_CURRENT_USER, Path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, Key.put(), nullptr);
  return Key;
}

inline bool KeyExists(const std::wstring& Path) {
  TOwnedKey Key;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, Path.c_str(), 0, KEY_READ, Key.put()) == ERROR_SUCCESS;
}

inline void SetRaw(const std::wstring& Path, const std::wstring& Name, DWORD Type, const void* Data, size_t Size) {
  TOwnedKey Key = CreateKey(Path);
  ::RegSetValueExW(Key.get(), Name.c_str(), 0, Type, static_cast<const BYTE*>(Data), static_cast<DWORD>(Size));
}

struct TRawValue {
  bool Exists = false;
  DWORD Type = REG_NONE;
  std::vector<uint8_t> Data;
};

inline TRawValue GetRaw(const std::wstring& Path, const std::wstring& Name) {
  TRawValue Result;
  TOwnedKey Key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, Path.c_str(), 0, KEY_READ, Key.put()) != ERROR_SUCCESS) return Result;
  DWORD Size = 0;
  if (::RegQueryValueExW(Key.get(), Name.c_str(), nullptr, &Result.Type, nullptr, &Size) != ERROR_SUCCESS) {
    return Result;
  }
  Result.Data.resize(Size);
  ::RegQueryValueExW(Key.get(), Name.c_str(), nullptr, &Result.Type, Result.Data.data(), &Size);
  Result.Exists = true;
  return Result;
}

}  // namespace nimbrel::testing_support
