// One uninstall registration read into a TInstallInfo: the skip rules and the normalising of
// names, icon path and install date. Shared by the inventory and its snapshot.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "bundle/inventory.h"

namespace nimbrel {

// What reading registrations takes from the process environment, read once per pass.
struct TInstallEnvironment {
  std::wstring ProgramFiles;  // what "%ProgramFiles%" stands for
  std::wstring WinDir;
};
TInstallEnvironment CurrentInstallEnvironment();

// The entry of an open registration subkey; nullopt when a skip rule leaves it out (no name or
// no uninstall command after trimming, "ParentKeyName" of any type, "NoRemove" or
// "SystemComponent" as a REG_DWORD other than 0). Touches the file system for Windows Installer
// products and for dates that are not eight digits.
std::optional<TInstallInfo> ReadInstallEntry(HKEY Key, bool FromCurrentUser, const TInstallEnvironment& Environment);

}  // namespace nimbrel
