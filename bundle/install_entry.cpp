// Reading one uninstall registration: the skip rules, the icon path with the Windows Installer
// cache, the install date with the folder-date fallback, and ExpandProgramFiles.
#include "bundle/install_entry.h"

#include <climits>
#include <cstdio>
#include <string_view>

#include "base/ascii.h"
#include "base/handle.h"
#include "base/paths.h"
#include "base/registry_value.h"

namespace nimbrel {
namespace {

constexpr std::wstring_view ProgramFilesVariable = L"%PROGRAMFILES%";

struct TFindTraits {
  using pointer = HANDLE;
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE Value) noexcept { return Value != nullptr && Value != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE Value) noexcept { ::FindClose(Value); }
};
using TOwnedFind = TOwned<TFindTraits>;

// A process environment variable as it is now; empty when it is missing.
std::wstring EnvironmentValue(const wchar_t* Name) {
  for (DWORD Size = 256;;) {
    std::wstring Value(Size, L'\0');
    const DWORD Length = ::GetEnvironmentVariableW(Name, Value.data(), Size);
    if (Length == 0) return {};
    if (Length < Size) {
      Value.resize(Length);
      return Value;
    }
    Size = Length;  // too small: Length is the size needed, terminating NUL included
  }
}

bool IsX64Windows() {
  SYSTEM_INFO Info{};
  ::GetNativeSystemInfo(&Info);
  return Info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// The program folder that "%ProgramFiles%" stands for in uninstall registrations.
std::wstring ProgramFilesFolder() {
  return EnvironmentValue(IsX64Windows() ? L"ProgramW6432" : L"ProgramFiles");
}

std::wstring ReplaceProgramFiles(const std::wstring& Text, const std::wstring& Folder) {
  const std::wstring Upper = AsciiUpper(Text);
  size_t Found = Upper.find(ProgramFilesVariable);
  if (Found == std::wstring::npos) return Text;
  std::wstring Result;
  size_t From = 0;
  for (; Found != std::wstring::npos; Found = Upper.find(ProgramFilesVariable, From)) {
    Result.append(Text, From, Found - From);
    Result += Folder;
    From = Found + ProgramFilesVariable.size();
  }
  Result.append(Text, From);
  return Result;
}

// The icon index written after a comma: a decimal integer with leading blanks allowed and
// nothing after it. 0 when it is not one or lies outside 0..100.
uint16_t IconIndexOf(std::wstring_view Text) {
  size_t I = 0;
  while (I < Text.size() && Text[I] == L' ') ++I;
  const bool Negative = I < Text.size() && Text[I] == L'-';
  if (I < Text.size() && (Text[I] == L'-' || Text[I] == L'+')) ++I;
  if (I == Text.size()) return 0;
  long long Value = 0;
  for (; I < Text.size(); ++I) {
    if (Text[I] < L'0' || Text[I] > L'9') return 0;
    Value = Value * 10 + (Text[I] - L'0');
    if (Value > INT_MAX) return 0;
  }
  if (Negative || Value > 100) return 0;
  return static_cast<uint16_t>(Value);
}

struct TIconPath {
  std::wstring File;
  uint16_t Index = 0;
};

// Splits "path,index", "\"path\"" and "\"path\",index". A comma inside the quotes belongs to the
// path; an opening quote that is never closed is dropped alone.
TIconPath SplitDisplayIcon(const std::wstring& Text) {
  TIconPath Result;
  std::wstring_view IndexText;
  bool HasIndex = false;
  if (!Text.empty() && Text[0] == L'"') {
    const size_t Close = Text.find(L'"', 1);
    if (Close == std::wstring::npos) {
      Result.File = Text.substr(1);
      return Result;
    }
    Result.File = Text.substr(1, Close - 1);
    const size_t Comma = Text.find(L',', Close + 1);
    if (Comma != std::wstring::npos) {
      HasIndex = true;
      IndexText = std::wstring_view(Text).substr(Comma + 1);
    }
  } else {
    const size_t Comma = Text.find(L',');
    Result.File = Text.substr(0, Comma);
    if (Comma != std::wstring::npos) {
      HasIndex = true;
      IndexText = std::wstring_view(Text).substr(Comma + 1);
    }
  }
  if (HasIndex) Result.Index = IconIndexOf(IndexText);
  return Result;
}

// The first file (hidden and system ones included) in the Windows Installer's cache folder of
// the product code in Text ("{...}"); empty when Text holds no product code or the folder has no
// file.
std::wstring InstallerCachedIcon(const std::wstring& Text, const std::wstring& WinDir) {
  const size_t Open = Text.find(L'{');
  const size_t Close = Text.find(L'}');
  if (Open == std::wstring::npos || Close == std::wstring::npos || Open > Close) return {};
  const std::wstring Folder = WinDir + L"\\Installer\\" + Text.substr(Open, Close - Open + 1) + L"\\";
  WIN32_FIND_DATAW Found{};
  const TOwnedFind Search(::FindFirstFileExW((Folder + L"*.*").c_str(), FindExInfoBasic, &Found,
                                             FindExSearchNameMatch, nullptr, 0));
  if (!Search) return {};
  do {
    if ((Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Folder + Found.cFileName;
  } while (::FindNextFileW(Search.get(), &Found));
  return {};
}

std::wstring DigitsOf(const std::wstring& Text) {
  std::wstring Digits;
  for (wchar_t C : Text) {
    if (C >= L'0' && C <= L'9') Digits += C;
  }
  return Digits;
}

// The folder that holds File: "C:\App" for "C:\App\app.exe", "C:\" for "C:\app.exe"; empty when
// File names no folder.
std::wstring FolderOf(const std::wstring& File) {
  const size_t Last = File.find_last_of(L"\\/:");
  if (Last == std::wstring::npos) return {};
  if (File[Last] != L':' && Last > 0 && File[Last - 1] != L':' && File[Last - 1] != L'\\' &&
      File[Last - 1] != L'/') {
    return File.substr(0, Last);
  }
  return File.substr(0, Last + 1);
}

// The last-write date of Folder in local time as yyyymmdd; empty when it cannot be read.
std::wstring FolderDate(const std::wstring& Folder) {
  if (Folder.empty()) return {};
  WIN32_FILE_ATTRIBUTE_DATA Data{};
  if (!::GetFileAttributesExW(Folder.c_str(), GetFileExInfoStandard, &Data)) return {};
  SYSTEMTIME Utc{};
  SYSTEMTIME Local{};
  if (!::FileTimeToSystemTime(&Data.ftLastWriteTime, &Utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &Utc, &Local)) {
    return {};
  }
  wchar_t Text[16];
  std::swprintf(Text, std::size(Text), L"%04u%02u%02u", unsigned{Local.wYear}, unsigned{Local.wMonth},
                unsigned{Local.wDay});
  return Text;
}

bool ValueExists(HKEY Key, const wchar_t* Name) {
  return ::RegQueryValueExW(Key, Name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// The value in one call for the usual small values (the general read for larger ones).
std::optional<TRegistryValue> ReadValue(HKEY Key, const wchar_t* Name) {
  BYTE Buffer[1024];
  DWORD Size = sizeof(Buffer);
  DWORD Type = REG_NONE;
  const LSTATUS Status = ::RegQueryValueExW(Key, Name, nullptr, &Type, Buffer, &Size);
  if (Status == ERROR_MORE_DATA) return QueryRegistryValue(Key, Name);
  if (Status != ERROR_SUCCESS) return std::nullopt;
  return TRegistryValue{Type, std::vector<uint8_t>(Buffer, Buffer + Size)};
}

// As registered: a REG_SZ or REG_EXPAND_SZ text (not expanded), a REG_DWORD's signed decimal
// number, else empty.
std::wstring ReadText(HKEY Key, const wchar_t* Name) {
  const std::optional<TRegistryValue> Value = ReadValue(Key, Name);
  if (const std::optional<int32_t> Number = RegistryNumber(Value, false)) return std::to_wstring(*Number);
  return RegistryText(Value).value_or(std::wstring());
}

// A REG_DWORD's number; Default for anything else.
int32_t ReadNumber(HKEY Key, const wchar_t* Name, int32_t Default) {
  return RegistryNumber(ReadValue(Key, Name), false).value_or(Default);
}

}  // namespace

TInstallEnvironment CurrentInstallEnvironment() { return {ProgramFilesFolder(), EnvironmentValue(L"WinDir")}; }

std::optional<TInstallInfo> ReadInstallEntry(HKEY Key, bool FromCurrentUser, const TInstallEnvironment& Environment) {
  TInstallInfo Entry;
  Entry.DisplayName = TrimBlanks(ReadText(Key, L"DisplayName"));
  Entry.UninstallString = TrimBlanks(ReadText(Key, L"UninstallString"));
  Entry.Publisher = TrimBlanks(ReadText(Key, L"Publisher"));
  if (Entry.DisplayName.empty() || Entry.UninstallString.empty() || ValueExists(Key, L"ParentKeyName") ||
      ReadNumber(Key, L"NoRemove", 0) != 0 || ReadNumber(Key, L"SystemComponent", 0) != 0) {
    return std::nullopt;
  }
  Entry.DisplayVersion = ReadText(Key, L"DisplayVersion");
  Entry.HelpLink = ReadText(Key, L"HelpLink");
  Entry.InstallLocation = ReadText(Key, L"InstallLocation");
  Entry.URLInfoAbout = ReadText(Key, L"URLInfoAbout");
  Entry.InstallDate = ReadText(Key, L"InstallDate");
  Entry.EstimatedSize = ReadNumber(Key, L"EstimatedSize", 0);
  Entry.FromCurrentUser = FromCurrentUser;

  std::wstring Icon = ReadText(Key, L"DisplayIcon");
  if (Icon.empty()) Icon = Entry.UninstallString;
  if (AsciiUpper(Icon).find(L"MSIEXEC") != std::wstring::npos) {
    Icon = InstallerCachedIcon(Icon, Environment.WinDir);
    if (Icon.empty()) Icon = Environment.WinDir + L"\\System32\\msiexec.exe";
  }
  const TIconPath Split = SplitDisplayIcon(Icon);
  Entry.DisplayIcon = ReplaceProgramFiles(Split.File, Environment.ProgramFiles);
  Entry.DisplayIconIndex = Split.Index;
  Entry.UninstallString = ReplaceProgramFiles(Entry.UninstallString, Environment.ProgramFiles);

  Entry.InstallDate = DigitsOf(Entry.InstallDate);
  if (Entry.InstallDate.size() != 8 && FileExists(Entry.DisplayIcon)) {
    Entry.InstallDate = FolderDate(FolderOf(Entry.DisplayIcon));
  }
  return Entry;
}

std::wstring ExpandProgramFiles(const std::wstring& Text) { return ReplaceProgramFiles(Text, ProgramFilesFolder()); }

}  // namespace nimbrel
