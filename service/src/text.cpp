// Byte-level UTF-8 helpers.
#include "text.h"

#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <locale.h>

namespace nimbrel::service {
namespace {

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

// Decodes the code point at Text[I] and advances I; answers -1 (and advances one byte) for a
// malformed sequence.
long NextCodePoint(std::string_view Text, size_t& I) {
  const auto Lead = static_cast<unsigned char>(Text[I]);
  size_t Length = 0;
  long Point = 0;
  long Minimum = 0;
  if (Lead < 0x80) {
    ++I;
    return Lead;
  } else if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2, Point = Lead & 0x1F, Minimum = 0x80;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3, Point = Lead & 0x0F, Minimum = 0x800;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4, Point = Lead & 0x07, Minimum = 0x10000;
  } else {
    ++I;
    return -1;
  }
  if (I + Length > Text.size()) {
    ++I;
    return -1;
  }
  for (size_t K = 1; K < Length; ++K) {
    const auto Next = static_cast<unsigned char>(Text[I + K]);
    if ((Next & 0xC0) != 0x80) {
      ++I;
      return -1;
    }
    Point = (Point << 6) | (Next & 0x3F);
  }
  if (Point < Minimum || Point > 0x10FFFF || (Point >= 0xD800 && Point <= 0xDFFF)) {
    ++I;
    return -1;
  }
  I += Length;
  return Point;
}

// The C.UTF-8 character classes, made once and never freed; null when the system lacks them
// (then only A-Z are folded).
locale_t Utf8Classes() {
  static const locale_t Classes = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return Classes;
}

}  // namespace

void AppendUtf8(std::string& Out, unsigned long Point) {
  if (Point < 0x80) {
    Out += static_cast<char>(Point);
  } else if (Point < 0x800) {
    Out += static_cast<char>(0xC0 | (Point >> 6));
    Out += static_cast<char>(0x80 | (Point & 0x3F));
  } else if (Point < 0x10000) {
    Out += static_cast<char>(0xE0 | (Point >> 12));
    Out += static_cast<char>(0x80 | ((Point >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Point & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Point >> 18));
    Out += static_cast<char>(0x80 | ((Point >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Point >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Point & 0x3F));
  }
}

bool IsValidUtf8(std::string_view Text) {
  constexpr std::uint64_t HighBits = 0x8080808080808080u;
  size_t I = 0;
  while (I < Text.size()) {
    // Runs of ASCII are passed eight bytes at a time.
    if (I + 8 <= Text.size()) {
      std::uint64_t Eight = 0;
      std::memcpy(&Eight, Text.data() + I, 8);
      if ((Eight & HighBits) == 0) {
        I += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(Text[I]) < 0x80) {
      ++I;
    } else if (NextCodePoint(Text, I) < 0) {
      return false;
    }
  }
  return true;
}

std::string LowerUtf8(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  const locale_t Classes = Utf8Classes();
  size_t I = 0;
  while (I < Text.size()) {
    const size_t Start = I;
    const long Point = NextCodePoint(Text, I);
    if (Point < 0) {
      Out += Text[Start];
    } else if (Point < 0x80) {
      Out += static_cast<char>(Point >= 'A' && Point <= 'Z' ? Point - 'A' + 'a' : Point);
    } else if (Classes != static_cast<locale_t>(nullptr)) {
      AppendUtf8(Out, static_cast<unsigned long>(towlower_l(static_cast<wint_t>(Point), Classes)));
    } else {
      Out.append(Text.substr(Start, I - Start));
    }
  }
  return Out;
}

std::optional<std::string> PercentDecodeSegment(std::string_view Segment) {
  std::string Out;
  Out.reserve(Segment.size());
  for (size_t I = 0; I < Segment.size(); ++I) {
    if (Segment[I] != '%') {
      Out += Segment[I];
      continue;
    }
    if (I + 2 >= Segment.size()) return std::nullopt;
    const int High = HexValue(Segment[I + 1]);
    const int Low = HexValue(Segment[I + 2]);
    if (High < 0 || Low < 0) return std::nullopt;
    Out += static_cast<char>(High * 16 + Low);
    I += 2;
  }
  if (!IsValidUtf8(Out) || Out.find('\0') != std::string::npos) return std::nullopt;
  return Out;
}

std::string PercentEncodeSegment(std::string_view Text) {
  constexpr std::string_view Hex = "0123456789ABCDEF";
  std::string Out;
  Out.reserve(Text.size() * 3);
  for (const char C : Text) {
    const auto Byte = static_cast<unsigned char>(C);
    if ((C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
        C == '_' || C == '~') {
      Out += C;
    } else {
      Out += '%';
      Out += Hex[Byte >> 4];
      Out += Hex[Byte & 15];
    }
  }
  return Out;
}

std::string_view ItemFileName(std::string_view Item) {
  size_t Start = Item.size();
  while (Start > 0 && Item[Start - 1] != '\\' && Item[Start - 1] != ':') --Start;
  return Item.substr(Start);
}

std::string WithoutBidiControls(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (size_t I = 0; I < Text.size(); ++I) {
    // U+202A-U+202E are E2 80 AA-AE, U+2066-U+2069 are E2 81 A6-A9.
    if (Text[I] == '\xE2' && I + 2 < Text.size()) {
      const auto Second = static_cast<unsigned char>(Text[I + 1]), Third = static_cast<unsigned char>(Text[I + 2]);
      if ((Second == 0x80 && Third >= 0xAA && Third <= 0xAE) || (Second == 0x81 && Third >= 0xA6 && Third <= 0xA9)) {
        I += 2;
        continue;
      }
    }
    Out += Text[I];
  }
  return Out;
}

}  // namespace nimbrel::service
