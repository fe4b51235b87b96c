// The four uninstall registrations, in the order in which the inventory reads them and the
// Bundle page watches them. Key paths begin with "\" and are opened in the 64-bit view.
#pragma once

#include <windows.h>

#include <array>

namespace nimbrel {

struct TInstallRegistration {
  HKEY RootKey;
  const wchar_t* Key;
};

inline std::array<TInstallRegistration, 4> InstallRegistrations() {
  return {{
      {HKEY_LOCAL_MACHINE, L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
      {HKEY_LOCAL_MACHINE, L"\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
      {HKEY_CURRENT_USER, L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
      {HKEY_CURRENT_USER, L"\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
  }};
}

}  // namespace nimbrel
