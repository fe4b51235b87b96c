// The shared judgements of the autostart code.
#include "startup/autorun_sources.h"

#include <algorithm>
#include <array>

#include "base/ascii.h"
#include "base/registry.h"

namespace nimbrel {

bool StartupApprovedIsOn(const std::vector<uint8_t>& Value) noexcept {
  // Windows writes 02/06 for on and 03/07 for off: the lowest bit of the first byte means off.
  return Value.size() != 12 || (Value[0] & 1) == 0;
}

std::wstring ApprovedKeyOfRunKey(const std::wstring& RunKeyText) {
  return AsciiUpper(RunKeyText).find(L"WOW6432NODE") != std::wstring::npos ? ApprovedRun32Key : ApprovedRunKey;
}

std::wstring RunValueTarget(HKEY Root, const std::wstring& Key, const std::wstring& Name) {
  return RootKeyToName(Root, true) + Key + L"\\" + Name;
}

bool ParseRunValueTarget(const std::wstring& Target, HKEY& Root, std::wstring& Key, std::wstring& Name) {
  Root = nullptr;
  Key.clear();
  Name.clear();
  for (const TRunKey& Run : RunKeys) {
    const std::wstring Prefix = RunValueTarget(Run.Root, Run.Key, L"");
    if (!StartsWithAscii(Target, Prefix)) continue;
    Root = Run.Root;
    Key = Run.Key;
    Name = Target.substr(Prefix.size());
    return true;
  }
  return false;
}

bool HasStartupExtension(const std::wstring& FileName) {
  static constexpr std::array<const wchar_t*, 6> Extensions = {L".url", L".lnk", L".exe", L".bat", L".cmd", L".com"};
  const size_t Dot = FileName.rfind(L'.');
  if (Dot == std::wstring::npos) return false;
  const std::wstring Extension = FileName.substr(Dot);
  return std::any_of(Extensions.begin(), Extensions.end(),
                     [&](const wchar_t* Each) { return SameTextAscii(Extension, Each); });
}

bool IsWindows10OrLater(DWORD Major, DWORD Minor, std::optional<int32_t> RegistryMajor) noexcept {
  DWORD Effective = Major;
  if ((Major > 6 || (Major == 6 && Minor > 1)) && RegistryMajor) Effective = static_cast<DWORD>(*RegistryMajor);
  return Effective >= 10;
}

bool IsWindows10OrLater() {
  OSVERSIONINFOW Info{};
  Info.dwOSVersionInfoSize = sizeof(Info);
  if (!::GetVersionExW(&Info)) return false;
  std::optional<int32_t> RegistryMajor;
  constexpr int32_t Missing = -1;
  const int32_t Read = TReg::ReadInteger(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                         L"CurrentMajorVersionNumber", Missing);
  if (Read != Missing) RegistryMajor = Read;
  return IsWindows10OrLater(Info.dwMajorVersion, Info.dwMinorVersion, RegistryMajor);
}

}  // namespace nimbrel
