// The installed programs as Windows registers them for uninstalling: read from the four
// uninstall registrations, filtered, without duplicates, newest installation first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nimbrel {

// One installed program. Texts "as registered" are the value's text (REG_SZ, REG_EXPAND_SZ not
// expanded) or a REG_DWORD's signed decimal number, else empty.
struct TInstallInfo {
  // The file holding the icon, without quotes or icon index; "%ProgramFiles%" expanded.
  std::wstring DisplayIcon;
  // 0 to 100; 0 when there was none or it was out of range.
  uint16_t DisplayIconIndex = 0;
  // Trimmed (every character up to the blank removed from both ends); never empty.
  std::wstring DisplayName, DisplayVersion;
  // The registered REG_DWORD; 0 when missing or of another type.
  int32_t EstimatedSize = 0;
  // InstallDate: eight digits yyyymmdd when known, otherwise the registered text's digits or
  // empty. Publisher is trimmed and may be empty; UninstallString is trimmed, never empty, with
  // "%ProgramFiles%" expanded.
  std::wstring HelpLink, InstallDate, InstallLocation, Publisher, UninstallString, URLInfoAbout;
  // True when the registration lies under HKEY_CURRENT_USER, where any unelevated program can
  // write it.
  bool FromCurrentUser = false;
};
using TInstallList = std::vector<TInstallInfo>;

// Replaces List with the installed programs of this machine, newest installation first (equal
// dates in reading order). Keys that cannot be read are passed over. Runs on the calling thread.
void GetInstall(TInstallList& List);

// Every "%ProgramFiles%" (any letter case) replaced by the environment variable "ProgramW6432"
// on x64 Windows, else "ProgramFiles", as the process environment holds it now (missing: empty).
std::wstring ExpandProgramFiles(const std::wstring& Text);

}  // namespace nimbrel
