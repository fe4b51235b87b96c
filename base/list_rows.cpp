// Loading, splitting and matching of row lists.
#include "base/list_rows.h"

#include "base/ascii.h"
#include "base/paths.h"
#include "base/resource.h"
#include "base/utf.h"

#include <windows.h>

#include <cstdint>

namespace nimbrel {
namespace {

bool EqualsIgnoreCaseUser(std::wstring_view A, std::wstring_view B) {
  if (A.size() != B.size()) return false;
  if (A.empty()) return true;
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A.data(), static_cast<int>(A.size()), B.data(),
                          static_cast<int>(B.size())) == CSTR_EQUAL;
}

std::wstring UpperUser(std::wstring_view Text) {
  std::wstring Result(Text);
  if (!Result.empty()) ::CharUpperBuffW(Result.data(), static_cast<DWORD>(Result.size()));
  return Result;
}


}  // namespace

std::string ListRowKey(std::wstring_view Row) {
  // Rows of different lengths are never equal; rows of the same length are equal exactly when
  // their sort keys are (the sort key orders as CompareStringW does, with the same flags).
  const auto Length = static_cast<std::uint32_t>(Row.size());
  std::string Key(reinterpret_cast<const char*>(&Length), sizeof(Length));
  if (Row.empty()) return Key;
  const int Size = ::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, Row.data(),
                                  static_cast<int>(Row.size()), nullptr, 0);
  if (Size > 0) {
    Key.resize(sizeof(Length) + static_cast<size_t>(Size));
    if (::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, Row.data(), static_cast<int>(Row.size()),
                       reinterpret_cast<LPWSTR>(Key.data() + sizeof(Length)), Size) == Size) {
      Key.push_back('k');
      return Key;
    }
    Key.resize(sizeof(Length));
  }
  // No sort key: the row is equal only to its own text (marked apart from every sort key).
  Key.append(reinterpret_cast<const char*>(Row.data()), Row.size() * sizeof(wchar_t));
  Key.push_back('t');
  return Key;
}

int ListIndexOf(const TStringList& List, std::wstring_view Text) {
  for (size_t I = 0; I < List.size(); ++I)
    if (EqualsIgnoreCaseUser(List[I], Text)) return static_cast<int>(I);
  return -1;
}

std::vector<std::wstring> SplitLines(std::wstring_view Text) {
  std::vector<std::wstring> Lines;
  size_t Start = 0;
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] != L'\r' && Text[I] != L'\n') continue;
    Lines.emplace_back(Text.substr(Start, I - Start));
    if (Text[I] == L'\r' && I + 1 < Text.size() && Text[I + 1] == L'\n') ++I;
    Start = I + 1;
  }
  if (Start < Text.size()) Lines.emplace_back(Text.substr(Start));
  return Lines;
}

void LoadListResource(TStringList& List, const wchar_t* Name) {
  std::string_view Bytes = LoadRcData(Name);
  if (Bytes.starts_with("\xEF\xBB\xBF")) Bytes.remove_prefix(3);
  for (auto& Line : SplitLines(Utf8ToWide(Bytes))) List.push_back(std::move(Line));
}

bool MatchesList(const TStringList& List, std::wstring_view Text, bool IsPath) {
  const std::wstring_view FileName = FileNamePart(Text, L"\\/:");
  std::wstring UpperText;  // made once, on the first plain row in path mode
  for (const auto& Raw : List) {
    const std::wstring Row = ExpandPathVars(TrimBlanks(Raw));
    if (Row.empty() || Row.starts_with(L"//")) continue;
    if (IsPath) {
      if (Row.back() == L'*') {
        if (SameTextAscii(std::wstring_view(Row).substr(0, Row.size() - 1), FileName)) return true;
      } else {
        if (UpperText.empty()) UpperText = UpperUser(Text);
        if (UpperText.find(UpperUser(Row)) != std::wstring::npos) return true;
      }
    } else if (Text.size() >= Row.size() &&
               ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, Row.data(), static_cast<int>(Row.size()),
                                Text.data(), static_cast<int>(Row.size())) == CSTR_EQUAL) {
      return true;
    }
  }
  return false;
}

}  // namespace nimbrel
