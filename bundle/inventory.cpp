// GetInstall: the uninstall registrations read into TInstallInfo entries, with the skip rules,
// duplicate removal, icon paths, install dates and the sort.
#include "bundle/inventory.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string_view>
#include <unordered_set>

#include "base/ascii.h"
#include "base/paths.h"
#include "base/registry.h"
#include "bundle/install_registrations.h"

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

// What one GetInstall call takes from the process environment, read once at its start.
struct TInstallEnvironment {
  std::wstring ProgramFiles;
  std::wstring WinDir;
};

class TInventoryReader {
 public:
  TInventoryReader(TInstallList& List, TInstallEnvironment Environment)
      : FList(List), FEnvironment(std::move(Environment)) {}

  // Appends the registrations below Key that pass the skip rules and are not yet listed.
  void Read(HKEY RootKey, const std::wstring& Key) {
    std::vector<std::wstring> Names;
    if (TReg::ReadKeyNames(RootKey, Key, Names) == 0) return;
    for (const std::wstring& Name : Names) {
      const TOwnedKey SubKey = OpenRegistryKey(RootKey, Key + L"\\" + Name);
      if (SubKey) ReadEntry(SubKey.get(), RootKey == HKEY_CURRENT_USER);
    }
  }

 private:
  void ReadEntry(HKEY Key, bool FromCurrentUser) {
    TInstallInfo Entry;
    Entry.DisplayName = TrimBlanks(ReadStringDef(Key, L"DisplayName", {}));
    Entry.UninstallString = TrimBlanks(ReadStringDef(Key, L"UninstallString", {}));
    Entry.Publisher = TrimBlanks(ReadStringDef(Key, L"Publisher", {}));
    if (Entry.DisplayName.empty() || Entry.UninstallString.empty() || ValueExists(Key, L"ParentKeyName") ||
        ReadBoolDef(Key, L"NoRemove", false) || ReadBoolDef(Key, L"SystemComponent", false)) {
      return;
    }
    if (!FSeen.insert(Entry.DisplayName + L'\0' + Entry.Publisher).second) return;

    Entry.DisplayVersion = ReadStringDef(Key, L"DisplayVersion", {});
    Entry.HelpLink = ReadStringDef(Key, L"HelpLink", {});
    Entry.InstallLocation = ReadStringDef(Key, L"InstallLocation", {});
    Entry.URLInfoAbout = ReadStringDef(Key, L"URLInfoAbout", {});
    Entry.InstallDate = ReadStringDef(Key, L"InstallDate", {});
    Entry.EstimatedSize = ReadIntegerDef(Key, L"EstimatedSize", 0);
    Entry.FromCurrentUser = FromCurrentUser;

    std::wstring Icon = ReadStringDef(Key, L"DisplayIcon", {});
    if (Icon.empty()) Icon = Entry.UninstallString;
    if (AsciiUpper(Icon).find(L"MSIEXEC") != std::wstring::npos) {
      Icon = InstallerCachedIcon(Icon, FEnvironment.WinDir);
      if (Icon.empty()) Icon = FEnvironment.WinDir + L"\\System32\\msiexec.exe";
    }
    TIconPath Split = SplitDisplayIcon(Icon);
    Entry.DisplayIcon = ReplaceProgramFiles(Split.File, FEnvironment.ProgramFiles);
    Entry.DisplayIconIndex = Split.Index;
    Entry.UninstallString = ReplaceProgramFiles(Entry.UninstallString, FEnvironment.ProgramFiles);

    Entry.InstallDate = DigitsOf(Entry.InstallDate);
    if (Entry.InstallDate.size() != 8 && FileExists(Entry.DisplayIcon)) {
      Entry.InstallDate = FolderDate(FolderOf(Entry.DisplayIcon));
    }
    FList.push_back(std::move(Entry));
  }

  TInstallList& FList;
  TInstallEnvironment FEnvironment;
  // Display name and publisher of every listed entry, joined by a NUL (which neither holds).
  std::unordered_set<std::wstring> FSeen;
};

}  // namespace

std::wstring ExpandProgramFiles(const std::wstring& Text) { return ReplaceProgramFiles(Text, ProgramFilesFolder()); }

void GetInstall(TInstallList& List) {
  List.clear();
  TInventoryReader Reader(List, {ProgramFilesFolder(), EnvironmentValue(L"WinDir")});
  for (const TInstallRegistration& Registration : InstallRegistrations()) {
    Reader.Read(Registration.RootKey, Registration.Key);
  }
  // Eight-digit dates compare as dates; an empty one sorts after every other.
  std::stable_sort(List.begin(), List.end(),
                   [](const TInstallInfo& A, const TInstallInfo& B) { return A.InstallDate > B.InstallDate; });
}

}  // namespace nimbrel
