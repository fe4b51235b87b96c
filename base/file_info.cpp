// What the file system tells about a program file: existence, version strings and its icon.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "base/ascii.h"
#include "base/paths.h"
#include "base/system_library.h"

namespace nimbrel {
namespace {

// The decimal integer of Text (an optional sign, blanks around it allowed), or Default.
int ParseInteger(const std::wstring& Text, int Default) {
  const std::wstring Trimmed = TrimBlanks(Text);
  const bool Negative = !Trimmed.empty() && Trimmed[0] == L'-';
  size_t I = !Trimmed.empty() && (Trimmed[0] == L'-' || Trimmed[0] == L'+') ? 1 : 0;
  if (I == Trimmed.size()) return Default;
  long long Value = 0;
  for (; I < Trimmed.size(); ++I) {
    if (Trimmed[I] < L'0' || Trimmed[I] > L'9') return Default;
    Value = Value * 10 + (Trimmed[I] - L'0');
    if (Value > 1LL + INT_MAX) return Default;
  }
  if (Negative) Value = -Value;
  return Value > INT_MAX ? Default : static_cast<int>(Value);
}

}  // namespace

bool FileExists(const std::wstring& FileName) {
  const DWORD Attributes = ::GetFileAttributesW(FileName.c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int GetFileVersionStrings(const std::wstring& FileName, const std::vector<std::wstring>& Keys,
                          std::map<std::wstring, std::wstring>& Values) {
  if (!FileExists(FileName)) return 0;
  // version.dll is not a known DLL: loaded from System32 by full path.
  static const auto InfoSize =
      SystemProc<decltype(&::GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW");
  static const auto Info = SystemProc<decltype(&::GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
  static const auto QueryValue = SystemProc<decltype(&::VerQueryValueW)>(L"version.dll", "VerQueryValueW");
  if (InfoSize == nullptr || Info == nullptr || QueryValue == nullptr) return 0;
  DWORD Handle = 0;
  const DWORD Size = InfoSize(FileName.c_str(), &Handle);
  if (Size == 0) return 0;
  std::vector<uint8_t> Buffer(Size);
  if (!Info(FileName.c_str(), 0, Size, Buffer.data())) return 0;

  void* Translation = nullptr;
  UINT Length = 0;
  if (!QueryValue(Buffer.data(), L"\\VarFileInfo\\Translation\\", &Translation, &Length) ||
      Translation == nullptr || Length < 2 * sizeof(WORD)) {
    return 0;
  }
  const WORD* Pair = static_cast<const WORD*>(Translation);
  wchar_t Block[32];
  std::swprintf(Block, std::size(Block), L"\\StringFileInfo\\%04X%04X\\", Pair[0], Pair[1]);

  for (const std::wstring& Key : Keys) {
    void* Text = nullptr;
    UINT Chars = 0;
    if (QueryValue(Buffer.data(), (Block + Key).c_str(), &Text, &Chars) && Text != nullptr) {
      const auto* Begin = static_cast<const wchar_t*>(Text);
      Values[Key] = std::wstring(Begin, ::wcsnlen(Begin, Chars));
    }
  }
  return static_cast<int>(Values.size());
}

TIconLocation ParseIconLocation(const std::wstring& Location, int DefaultNumber) {
  TIconLocation Result;
  const std::wstring Text = TrimBlanks(Location);
  for (wchar_t C : Text) {
    if (C != L'"') Result.Key += C;
  }
  Result.Key = TrimBlanks(Result.Key);
  // The file: a quoted one whole (commas and all), else the text before the last comma, since a
  // folder may hold a comma and an icon number never does.
  std::wstring Rest = Result.Key;
  size_t Comma = std::wstring::npos;
  const size_t Closing = !Text.empty() && Text[0] == L'"' ? Text.find(L'"', 1) : std::wstring::npos;
  if (Closing != std::wstring::npos) {
    Result.File = Text.substr(1, Closing - 1);
    Rest = Text.substr(Closing + 1);
    Comma = Rest.find(L',');
  } else {
    Comma = Rest.rfind(L',');
    Result.File = Rest.substr(0, Comma);
  }
  Result.File = TrimBlanks(Result.File);
  if (Comma != std::wstring::npos) Result.Number = ParseInteger(Rest.substr(Comma + 1), DefaultNumber);
  return Result;
}

TOwnedIcon ExtractFileIcon(const TIconLocation& Location) {
  if (Location.Key.empty() || !FileExists(Location.File)) return TOwnedIcon();
  // ExtractAssociatedIconW may write a path of up to MAX_PATH characters back into the buffer.
  std::vector<wchar_t> Path(std::max<size_t>(Location.File.size(), MAX_PATH) + 1, L'\0');
  Location.File.copy(Path.data(), Location.File.size());
  WORD Index = static_cast<WORD>(Location.Number);
  return TOwnedIcon(api::ExtractAssociatedIconW(nullptr, Path.data(), &Index));
}

int GetFileIconIndex(std::map<std::wstring, int>& Cache, TIconCollection& Images, const std::wstring& Location,
                     int DefaultIndex) {
  try {
    const TIconLocation Parsed = ParseIconLocation(Location, DefaultIndex);
    if (Parsed.Key.empty()) return DefaultIndex;
    const auto Cached = Cache.find(Parsed.Key);
    if (Cached != Cache.end()) return Cached->second;
    TOwnedIcon Icon = ExtractFileIcon(Parsed);
    if (!Icon) return 0;
    const int Added = Images.Add(std::move(Icon), Parsed.Key);
    Cache[Parsed.Key] = Added;
    Images.Changed();
    return Added;
  } catch (...) {
    return DefaultIndex;
  }
}

}  // namespace nimbrel
