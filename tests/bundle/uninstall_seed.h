// Seeds the four real uninstall registrations for a test: every subkey is removed first, the
// registrations are filled with raw registry calls (independent of the code under test), and
// removed again afterwards. Only for tests that run in a Wine prefix of their own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/handle.h"
#include "bundle/install_registrations.h"

namespace nimbrel::testing_support {

// The registrations by their position in the reading order.
enum TRegistration { Lm64 = 0, Lm32 = 1, Cu64 = 2, Cu32 = 3 };

struct TSeedValue {
  std::wstring Name;
  DWORD Type = REG_SZ;
  std::wstring Text;  // REG_SZ, REG_EXPAND_SZ
  DWORD Number = 0;   // REG_DWORD
};

inline TSeedValue Sz(std::wstring Name, std::wstring Text) { return {std::move(Name), REG_SZ, std::move(Text), 0}; }
inline TSeedValue ExpandSz(std::wstring Name, std::wstring Text) {
  return {std::move(Name), REG_EXPAND_SZ, std::move(Text), 0};
}
inline TSeedValue Dword(std::wstring Name, DWORD Number) { return {std::move(Name), REG_DWORD, {}, Number}; }

inline std::wstring RegistrationPath(TRegistration Registration) {
  return InstallRegistrations()[Registration].Key + 1;  // without the leading "\"
}
inline HKEY RegistrationRoot(TRegistration Registration) { return InstallRegistrations()[Registration].RootKey; }

// Writes one registration subkey with its values (created when missing).
inline void Seed(TRegistration Registration, const std::wstring& SubKey, const std::vector<TSeedValue>& Values) {
  TOwnedKey Key;
  const std::wstring Path = RegistrationPath(Registration) + L"\\" + SubKey;
  ::RegCreateKeyExW(RegistrationRoot(Registration), Path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                    nullptr, Key.put(), nullptr);
  for (const TSeedValue& Value : Values) {
    if (Value.Type == REG_DWORD) {
      ::RegSetValueExW(Key.get(), Value.Name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Value.Number),
                       sizeof(DWORD));
    } else {
      ::RegSetValueExW(Key.get(), Value.Name.c_str(), 0, Value.Type, reinterpret_cast<const BYTE*>(Value.Text.c_str()),
                       static_cast<DWORD>((Value.Text.size() + 1) * sizeof(wchar_t)));
    }
  }
}

// A program with a name and an uninstall command, plus Extra values.
inline void SeedProgram(TRegistration Registration, const std::wstring& SubKey, const std::wstring& DisplayName,
                        const std::wstring& UninstallString, std::vector<TSeedValue> Extra = {}) {
  Extra.push_back(Sz(L"DisplayName", DisplayName));
  Extra.push_back(Sz(L"UninstallString", UninstallString));
  Seed(Registration, SubKey, Extra);
}

inline void Unseed(TRegistration Registration, const std::wstring& SubKey) {
  const std::wstring Path = RegistrationPath(Registration) + L"\\" + SubKey;
  ::RegDeleteTreeW(RegistrationRoot(Registration), Path.c_str());
}

// Removes every registration subkey and leaves the four keys existing and empty.
inline void ClearRegistrations() {
  for (int I = 0; I < 4; ++I) {
    const auto Registration = static_cast<TRegistration>(I);
    ::RegDeleteTreeW(RegistrationRoot(Registration), RegistrationPath(Registration).c_str());
    TOwnedKey Key;
    ::RegCreateKeyExW(RegistrationRoot(Registration), RegistrationPath(Registration).c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, Key.put(), nullptr);
  }
}

}  // namespace nimbrel::testing_support
