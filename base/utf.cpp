// UTF-8 <-> UTF-16 through the system's converters.
#include "base/utf.h"

#include <windows.h>

#include <climits>

namespace nimbrel {

std::wstring Utf8ToWide(std::string_view Text) {
  if (Text.empty() || Text.size() > INT_MAX) return {};
  const int Size = static_cast<int>(Text.size());
  const int Length = ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), Size, nullptr, 0);
  if (Length <= 0) return {};
  std::wstring Result(static_cast<size_t>(Length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), Size, Result.data(), Length);
  return Result;
}

std::string WideToUtf8(std::wstring_view Text) {
  if (Text.empty() || Text.size() > INT_MAX) return {};
  const int Size = static_cast<int>(Text.size());
  const int Length = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), Size, nullptr, 0, nullptr, nullptr);
  if (Length <= 0) return {};
  std::string Result(static_cast<size_t>(Length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), Size, Result.data(), Length, nullptr, nullptr);
  return Result;
}

}  // namespace nimbrel
