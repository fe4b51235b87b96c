// ASCII-only case folding and trimming: only A-Z and a-z fold, and "trim" drops every character
// of code 32 or below from both ends. Shared by the registry, path and text helpers.
#pragma once

#include <string>
#include <string_view>

namespace nimbrel {

constexpr wchar_t AsciiUpper(wchar_t C) noexcept { return C >= L'a' && C <= L'z' ? wchar_t(C - 32) : C; }

inline std::wstring AsciiUpper(std::wstring_view Text) {
  std::wstring Result(Text);
  for (wchar_t& C : Result) C = AsciiUpper(C);
  return Result;
}

inline bool SameTextAscii(std::wstring_view A, std::wstring_view B) noexcept {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    if (AsciiUpper(A[I]) != AsciiUpper(B[I])) return false;
  }
  return true;
}

// Whether Text begins with Prefix, ASCII case ignored.
inline bool StartsWithAscii(std::wstring_view Text, std::wstring_view Prefix) noexcept {
  return Text.size() >= Prefix.size() && SameTextAscii(Text.substr(0, Prefix.size()), Prefix);
}

// Upper-case hexadecimal digits, for %XX and \uXXXX escapes.
inline constexpr wchar_t HexDigits[] = L"0123456789ABCDEF";

// The file-name part of Path: everything after the last of Separators (the whole text when
// there is none). Callers choose the set: L"\\:" or L"\\/:".
inline std::wstring_view FileNamePart(std::wstring_view Path, std::wstring_view Separators) noexcept {
  const size_t Last = Path.find_last_of(Separators);
  return Last == std::wstring_view::npos ? Path : Path.substr(Last + 1);
}

inline std::wstring TrimBlanks(std::wstring_view Text) {
  size_t First = 0;
  size_t Last = Text.size();
  while (First < Last && Text[First] <= L' ') ++First;
  while (Last > First && Text[Last - 1] <= L' ') --Last;
  return std::wstring(Text.substr(First, Last - First));
}

}  // namespace nimbrel
