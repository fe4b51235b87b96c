// Version texts.
#include "version.h"

namespace nimbrel::service {

std::optional<TVersion> ParseVersion(std::string_view Text) {
  TVersion Version{0, 0, 0, 0};
  size_t Part = 0;
  size_t Digits = 0;
  for (const char C : Text) {
    if (C == '.') {
      if (Digits == 0 || ++Part == Version.size()) return std::nullopt;
      Digits = 0;
    } else if (C >= '0' && C <= '9' && Digits < 5) {
      Version[Part] = Version[Part] * 10 + static_cast<unsigned>(C - '0');
      ++Digits;
    } else {
      return std::nullopt;
    }
  }
  if (Digits == 0) return std::nullopt;
  return Version;
}

std::string FormatVersion(const TVersion& Version) {
  return std::to_string(Version[0]) + "." + std::to_string(Version[1]) + "." + std::to_string(Version[2]) + "." +
         std::to_string(Version[3]);
}

}  // namespace nimbrel::service
