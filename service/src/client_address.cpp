// Parsing addresses and ranges, and walking X-Forwarded-For.
#include "client_address.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

namespace nimbrel::service {
namespace {

constexpr std::array<std::uint8_t, 12> MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

// One element of X-Forwarded-For: an address, an IPv6 one in brackets with a port, or an IPv4
// one with a port, as some proxies write them.
std::optional<TIpAddress> ParseForwardedElement(std::string_view Text) {
  Text = Trim(Text);
  if (const auto Plain = ParseIpAddress(Text)) return Plain;
  if (Text.starts_with('[')) {
    const size_t Close = Text.find(']');
    if (Close == std::string_view::npos || Close + 1 >= Text.size() || Text[Close + 1] != ':') return std::nullopt;
    return ParseIpAddress(Text.substr(1, Close - 1));
  }
  const size_t Colon = Text.find(':');
  if (Colon == std::string_view::npos || Text.find(':', Colon + 1) != std::string_view::npos) return std::nullopt;
  const auto Address = ParseIpAddress(Text.substr(0, Colon));
  return Address && Address->IsIpv4() ? Address : std::nullopt;
}

bool IsTrusted(const TIpAddress& Address, const TTrustedProxies& Trusted) {
  for (const TAddressRange& Range : Trusted) {
    if (Range.Contains(Address)) return true;
  }
  return false;
}

}  // namespace

bool TIpAddress::IsIpv4() const { return std::equal(MappedPrefix.begin(), MappedPrefix.end(), Bytes.begin()); }

std::optional<TIpAddress> ParseIpAddress(std::string_view Text) {
  if (Text.size() >= 2 && Text.front() == '[' && Text.back() == ']') Text = Text.substr(1, Text.size() - 2);
  if (Text.empty() || Text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  char Copy[INET6_ADDRSTRLEN] = {};
  std::memcpy(Copy, Text.data(), Text.size());
  TIpAddress Address;
  in_addr V4{};
  if (inet_pton(AF_INET, Copy, &V4) == 1) {
    std::copy(MappedPrefix.begin(), MappedPrefix.end(), Address.Bytes.begin());
    std::memcpy(Address.Bytes.data() + 12, &V4, 4);
    return Address;
  }
  in6_addr V6{};
  if (inet_pton(AF_INET6, Copy, &V6) == 1) {
    std::memcpy(Address.Bytes.data(), &V6, 16);
    return Address;
  }
  return std::nullopt;
}

std::string FormatIpAddress(const TIpAddress& Address) {
  char Text[INET6_ADDRSTRLEN] = {};
  if (Address.IsIpv4()) {
    inet_ntop(AF_INET, Address.Bytes.data() + 12, Text, sizeof Text);
  } else {
    inet_ntop(AF_INET6, Address.Bytes.data(), Text, sizeof Text);
  }
  return Text;
}

bool TAddressRange::Contains(const TIpAddress& Address) const {
  int Bits = PrefixBits;
  for (size_t I = 0; Bits > 0; ++I, Bits -= 8) {
    const auto Mask = static_cast<std::uint8_t>(Bits >= 8 ? 0xFF : 0xFF << (8 - Bits));
    if ((Address.Bytes[I] & Mask) != First.Bytes[I]) return false;
  }
  return true;
}

std::optional<TAddressRange> ParseAddressRange(std::string_view Text) {
  const size_t Slash = Text.find('/');
  const auto Address = ParseIpAddress(Text.substr(0, Slash));
  if (!Address) return std::nullopt;
  const int Width = Address->IsIpv4() ? 32 : 128;
  int Prefix = Width;
  if (Slash != std::string_view::npos) {
    const std::string_view Digits = Text.substr(Slash + 1);
    const auto [End, Failure] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Prefix);
    if (Digits.empty() || Failure != std::errc() || End != Digits.data() + Digits.size() || Prefix < 0 ||
        Prefix > Width) {
      return std::nullopt;
    }
  }
  TAddressRange Range{*Address, Prefix + (128 - Width)};
  // A range written with host bits set ("10.0.0.1/8") is refused rather than guessed at.
  TIpAddress Masked{};
  int Bits = Range.PrefixBits;
  for (size_t I = 0; I < 16 && Bits > 0; ++I, Bits -= 8) {
    Masked.Bytes[I] = static_cast<std::uint8_t>(Address->Bytes[I] & (Bits >= 8 ? 0xFF : 0xFF << (8 - Bits)));
  }
  if (Masked != *Address) return std::nullopt;
  return Range;
}

std::string ClientAddress(std::string_view Peer, std::string_view ForwardedFor, const TTrustedProxies& Trusted) {
  const auto PeerAddress = ParseIpAddress(Peer);
  if (!PeerAddress) return std::string(Peer);
  TIpAddress Client = *PeerAddress;
  if (!IsTrusted(Client, Trusted)) return FormatIpAddress(Client);
  while (!ForwardedFor.empty()) {
    const size_t Comma = ForwardedFor.rfind(',');
    const std::string_view Element = Comma == std::string_view::npos ? ForwardedFor : ForwardedFor.substr(Comma + 1);
    ForwardedFor = Comma == std::string_view::npos ? std::string_view() : ForwardedFor.substr(0, Comma);
    if (Trim(Element).empty()) continue;
    const auto Hop = ParseForwardedElement(Element);
    if (!Hop) break;
    Client = *Hop;
    if (!IsTrusted(Client, Trusted)) break;
  }
  return FormatIpAddress(Client);
}

}  // namespace nimbrel::service
