// What identifies the program to the web service: its version and the installation identifier.
#pragma once

#include <string>

namespace nimbrel {

// The running executable's file version put into Format: each "%d" takes the next of major,
// minor, release and build ("%%" gives "%", any other text stays as it is), so "%d.%d.%d.%d"
// gives "1.0.0.0". An executable without version information gives the four numbers 0. Any thread.
std::wstring GetAppVersion(const std::wstring& Format);
// The same for any file.
std::wstring GetFileVersionText(const std::wstring& FileName, const std::wstring& Format);

// The installation identifier: the string value OUID under HKEY_CURRENT_USER\Software\Orvanta,
// written with NewUserUnion when it is missing and never changed afterwards. Read on every call.
// Empty when the registry fails (the key cannot be opened or made, the value cannot be written
// or read as text). Any thread.
std::wstring GetUserUnion();

// A new identifier of 32 characters: 8 upper-case hexadecimal digits of a random number from 0 to
// 2147483646, the local date as yymmdd, 4 hexadecimal digits of one from 0 to 65534, the local
// time as hhnnss, and 8 hexadecimal digits of another from 0 to 2147483646. Any thread.
std::wstring NewUserUnion();

inline constexpr wchar_t UserUnionKey[] = L"Software\\Orvanta";
inline constexpr wchar_t UserUnionValue[] = L"OUID";

}  // namespace nimbrel
