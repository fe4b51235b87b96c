// Which address a request comes from: the peer's own, or, behind a reverse proxy the
// configuration trusts, the one the proxies name in X-Forwarded-For.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::service {

// An IPv4 or IPv6 address; IPv4 is kept as its IPv4-mapped IPv6 form (::ffff:a.b.c.d), so that
// the two spellings of one IPv4 peer are one address.
struct TIpAddress {
  std::array<std::uint8_t, 16> Bytes{};
  bool IsIpv4() const;
  auto operator<=>(const TIpAddress&) const = default;
};

// "192.0.2.1", "2001:db8::1", "::ffff:192.0.2.1", "[2001:db8::1]"; empty for anything else.
std::optional<TIpAddress> ParseIpAddress(std::string_view Text);

// The address as text: dotted for IPv4 (a mapped one included), RFC 5952 form for IPv6.
std::string FormatIpAddress(const TIpAddress& Address);

// An address with a prefix length: "10.0.0.0/8", "2001:db8::/32", or one address ("192.0.2.1").
struct TAddressRange {
  TIpAddress First;
  int PrefixBits = 128;  // of the 128-bit form
  bool Contains(const TIpAddress& Address) const;
};

// Empty when Text is not an address, or its prefix is out of range (over 32 for IPv4, 128 for
// IPv6) or has bits set past it.
std::optional<TAddressRange> ParseAddressRange(std::string_view Text);

using TTrustedProxies = std::vector<TAddressRange>;

// The client's address as text (FormatIpAddress form). Peer is the connection's own address;
// ForwardedFor is every X-Forwarded-For header of the request, joined by ",". Only when Peer is
// trusted is ForwardedFor read, from the right: the first address that is not itself trusted is
// the client. When every listed address is trusted, the leftmost is; when the list ends in
// something that is not an address (or is empty), the last trusted hop is, since a client could
// otherwise choose its own address. A Peer that does not parse comes back as it is.
std::string ClientAddress(std::string_view Peer, std::string_view ForwardedFor, const TTrustedProxies& Trusted);

}  // namespace nimbrel::service
