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

bool Utf8SecondByteRange(unsigned char Lead, unsigned char& Low, unsigned char& High, int& Further) noexcept {
  Low = 0x80;
  High = 0xBF;
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Further = 0;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Further = 1;
    if (Lead == 0xE0) Low = 0xA0;
    if (Lead == 0xED) High = 0x9F;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Further = 2;
    if (Lead == 0xF0) Low = 0x90;
    if (Lead == 0xF4) High = 0x8F;
  } else {
    return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view Text) noexcept {
  size_t I = 0;
  while (I < Text.size()) {
    const auto Lead = static_cast<unsigned char>(Text[I]);
    if (Lead < 0x80) {
      ++I;
      continue;
    }
    unsigned char Low = 0, High = 0;
    int Further = 0;
    if (!Utf8SecondByteRange(Lead, Low, High, Further)) return false;
    const size_t Length = 2 + static_cast<size_t>(Further);
    if (Text.size() - I < Length) return false;
    const auto Second = static_cast<unsigned char>(Text[I + 1]);
    if (Second < Low || Second > High) return false;
    for (size_t K = 2; K < Length; ++K) {
      const auto Next = static_cast<unsigned char>(Text[I + K]);
      if (Next < 0x80 || Next > 0xBF) return false;
    }
    I += Length;
  }
  return true;
}

}  // namespace nimbrel
