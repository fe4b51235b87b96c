// JSON string escapes, written as pure ASCII and read back.
#include <stdexcept>

#include "base/ascii.h"
#include "base/text.h"

namespace nimbrel {
namespace {


void AppendUnicodeEscape(std::wstring& Out, wchar_t C) {
  const unsigned Code = C;
  Out += L"\\u";
  Out += HexDigits[(Code >> 12) & 15];
  Out += HexDigits[(Code >> 8) & 15];
  Out += HexDigits[(Code >> 4) & 15];
  Out += HexDigits[Code & 15];
}

int HexValue(wchar_t C) {
  if (C >= L'0' && C <= L'9') return C - L'0';
  if (C >= L'A' && C <= L'F') return C - L'A' + 10;
  if (C >= L'a' && C <= L'f') return C - L'a' + 10;
  return -1;
}

}  // namespace

std::wstring JsonEscape(const std::wstring& Text) {
  std::wstring Out;
  Out.reserve(Text.size());
  for (wchar_t C : Text) {
    switch (C) {
      case 8: Out += L"\\b"; break;
      case 9: Out += L"\\t"; break;
      case 10: Out += L"\\n"; break;
      case 12: Out += L"\\f"; break;
      case 13: Out += L"\\r"; break;
      case L'"':
      case L'/':
      case L'\\':
        Out += L'\\';
        Out += C;
        break;
      default:
        if (C < 32 || C >= 128) {
          AppendUnicodeEscape(Out, C);
        } else {
          Out += C;
        }
    }
  }
  return Out;
}

std::wstring JsonUnescape(const std::wstring& Text) {
  std::wstring Out;
  Out.reserve(Text.size());
  size_t I = 0;
  while (I < Text.size()) {
    if (Text[I] != L'\\') {
      Out += Text[I++];
      continue;
    }
    const wchar_t Next = I + 1 < Text.size() ? Text[I + 1] : L'\0';
    switch (Next) {
      case L'"':
      case L'\'':
      case L'/':
      case L'\\': Out += Next; break;
      case L'b': Out += L'\b'; break;
      case L'f': Out += L'\f'; break;
      case L'n': Out += L'\n'; break;
      case L'r': Out += L'\r'; break;
      case L't': Out += L'\t'; break;
      case L'u': {
        // Up to four characters: fewer are left only at the end of the text.
        const std::wstring Digits = Text.substr(I + 2, 4);
        unsigned Code = 0;
        for (wchar_t Digit : Digits) {
          const int Value = HexValue(Digit);
          if (Value < 0) throw std::invalid_argument("JsonUnescape: malformed \\u escape");
          Code = Code * 16 + static_cast<unsigned>(Value);
        }
        if (Digits.empty()) throw std::invalid_argument("JsonUnescape: \\u escape without digits");
        Out += static_cast<wchar_t>(Code);
        I += 6;
        continue;
      }
      default: break;  // an unknown escape, or a backslash at the end: dropped
    }
    I += 2;
  }
  return Out;
}

}  // namespace nimbrel
