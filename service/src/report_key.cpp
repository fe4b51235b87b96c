// Report keys from getrandom.
#include "report_key.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace nimbrel::service {
namespace {

constexpr std::string_view Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr size_t KeyLength = 22;  // ceil(128 / 6)

}  // namespace

std::optional<std::string> NewReportKey() {
  std::array<std::uint8_t, 16> Bytes{};
  size_t Filled = 0;
  while (Filled < Bytes.size()) {
    const ssize_t Got = getrandom(Bytes.data() + Filled, Bytes.size() - Filled, 0);
    if (Got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    Filled += static_cast<size_t>(Got);
  }
  std::string Key;
  Key.reserve(KeyLength);
  unsigned Buffer = 0;
  int Bits = 0;
  for (const std::uint8_t Byte : Bytes) {
    Buffer = (Buffer << 8) | Byte;
    Bits += 8;
    while (Bits >= 6) {
      Bits -= 6;
      Key += Alphabet[(Buffer >> Bits) & 63];
    }
  }
  Key += Alphabet[(Buffer << (6 - Bits)) & 63];  // the last 2 bits, padded with zeros
  return Key;
}

bool IsReportKey(std::string_view Text) {
  if (Text.size() != KeyLength) return false;
  for (const char C : Text) {
    if (Alphabet.find(C) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace nimbrel::service
