// The places autostart entries live in and the small judgements the collection and the switch
// share. Pure functions are here so that tests can call them without touching the machine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel {

inline constexpr wchar_t RunKey[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t Run32Key[] = L"\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t ApprovedRunKey[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
inline constexpr wchar_t ApprovedRun32Key[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
inline constexpr wchar_t ApprovedFolderKey[] =
    L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\StartupFolder";

// The three Run keys, in the order they are collected.
struct TRunKey {
  HKEY Root;
  const wchar_t* Key;
};
inline const TRunKey RunKeys[] = {{HKEY_LOCAL_MACHINE, RunKey}, {HKEY_LOCAL_MACHINE, Run32Key}, {HKEY_CURRENT_USER, RunKey}};

// The Target of a Run value: the root's short name, the key, "\" and the value name, which may
// itself hold "\" (a Windows value name may).
std::wstring RunValueTarget(HKEY Root, const std::wstring& Key, const std::wstring& Name);
// The Run value that a Target names: the root and Run key it begins with (ASCII case ignored)
// and all the rest as the value name. False, with Root nullptr and both texts empty, when it
// begins with none of the Run keys.
bool ParseRunValueTarget(const std::wstring& Target, HKEY& Root, std::wstring& Key, std::wstring& Name);

// The StartupApproved judgement on a value's bytes (empty: missing).
bool StartupApprovedIsOn(const std::vector<uint8_t>& Value) noexcept;
// The StartupApproved key that records the values of a Run key (Run32 for a Wow6432Node key).
std::wstring ApprovedKeyOfRunKey(const std::wstring& RunKeyText);
// Whether a startup-folder file name has one of the extensions that Windows starts.
bool HasStartupExtension(const std::wstring& FileName);
// Windows 10 or later: the major version of GetVersionExW, replaced by the registry's
// CurrentMajorVersionNumber whenever the reported version is above 6.1 (and the value exists).
bool IsWindows10OrLater(DWORD Major, DWORD Minor, std::optional<int32_t> RegistryMajor) noexcept;
// The same for this machine, asked afresh on each call.
bool IsWindows10OrLater();

}  // namespace nimbrel
