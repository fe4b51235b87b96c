// Percent-encoding of form fields, in UTF-8 or in a given code page.
#include <windows.h>

#include <climits>
#include <string_view>
#include <system_error>

#include "base/ascii.h"
#include "base/text.h"
#include "base/utf.h"

namespace nimbrel {
namespace {

void AppendPercent(std::wstring& Out, unsigned char Byte) {
  Out += L'%';
  Out += HexDigits[Byte >> 4];
  Out += HexDigits[Byte & 15];
}

bool StaysInUtf8Form(wchar_t C) {
  return (C >= L'A' && C <= L'Z') || (C >= L'a' && C <= L'z') || (C >= L'0' && C <= L'9') ||
         std::wstring_view(L"!$'()*-.@_").find(C) != std::wstring_view::npos;
}

bool IsHighSurrogate(wchar_t C) { return C >= 0xD800 && C <= 0xDBFF; }
bool IsLowSurrogate(wchar_t C) { return C >= 0xDC00 && C <= 0xDFFF; }

[[noreturn]] void ThrowLastError(const char* What) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), What);
}

}  // namespace

std::wstring UrlEncode(const std::wstring& Text) {
  std::wstring Out;
  Out.reserve(Text.size() * 3);
  for (size_t I = 0; I < Text.size(); ++I) {
    const wchar_t C = Text[I];
    if (StaysInUtf8Form(C)) {
      Out += C;
    } else if (C == L' ') {
      Out += L'+';
    } else if (C < 128) {
      AppendPercent(Out, static_cast<unsigned char>(C));
    } else {
      const size_t Length = IsHighSurrogate(C) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1]) ? 2 : 1;
      for (char Byte : WideToUtf8(std::wstring_view(Text).substr(I, Length))) {
        AppendPercent(Out, static_cast<unsigned char>(Byte));
      }
      I += Length - 1;
    }
  }
  return Out;
}

std::wstring PercentEncode(std::wstring_view Text) {
  std::wstring Out;
  Out.reserve(Text.size() * 3);
  for (const char Byte : WideToUtf8(Text)) {
    const auto C = static_cast<unsigned char>(Byte);
    const bool Unreserved = (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' ||
                            C == '.' || C == '_' || C == '~';
    if (Unreserved) {
      Out += static_cast<wchar_t>(C);
    } else {
      AppendPercent(Out, C);
    }
  }
  return Out;
}

std::wstring UrlEncode(const std::wstring& Text, unsigned CodePage) {
  if (CodePage == CP_UTF8) return UrlEncode(Text);
  if (!::IsValidCodePage(CodePage)) {
    throw std::system_error(ERROR_INVALID_PARAMETER, std::system_category(), "UrlEncode: unknown code page");
  }
  if (Text.empty()) return {};
  if (Text.size() > INT_MAX / 4) throw std::system_error(ERROR_INVALID_PARAMETER, std::system_category(), "UrlEncode");
  const int Length = static_cast<int>(Text.size());
  const int Size = ::WideCharToMultiByte(CodePage, 0, Text.data(), Length, nullptr, 0, nullptr, nullptr);
  if (Size <= 0) ThrowLastError("UrlEncode: code page conversion");
  std::string Bytes(static_cast<size_t>(Size), '\0');
  if (::WideCharToMultiByte(CodePage, 0, Text.data(), Length, Bytes.data(), Size, nullptr, nullptr) <= 0) {
    ThrowLastError("UrlEncode: code page conversion");
  }
  constexpr std::string_view Encoded = " .=`!@#$%^&*(){}_+|\\/?:\"'";
  std::wstring Out;
  Out.reserve(Bytes.size() * 3);
  for (char Byte : Bytes) {
    const auto Unsigned = static_cast<unsigned char>(Byte);
    if (Unsigned >= 128 || Encoded.find(Byte) != std::string_view::npos) {
      AppendPercent(Out, Unsigned);
    } else {
      Out += static_cast<wchar_t>(Unsigned);
    }
  }
  return Out;
}

}  // namespace nimbrel
