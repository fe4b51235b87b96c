// The client address behind trusted proxies, and the per-address limit.
#include <gtest/gtest.h>

#include "client_address.h"
#include "rate_limit.h"

namespace nimbrel::service {
namespace {

TTrustedProxies Proxies(std::initializer_list<const char*> Texts) {
  TTrustedProxies Result;
  for (const char* Text : Texts) Result.push_back(*ParseAddressRange(Text));
  return Result;
}

TEST(ClientAddress, RangesParseOrAreRefused) {
  struct TCase {
    const char* Text;
    bool Parses;
  };
  for (const TCase& Case : {TCase{"10.0.0.0/8", true}, TCase{"192.0.2.7", true}, TCase{"0.0.0.0/0", true},
                            TCase{"2001:db8::/32", true}, TCase{"::1", true}, TCase{"::/0", true},
                            TCase{"10.0.0.1/8", false}, TCase{"10.0.0.0/33", false}, TCase{"2001:db8::/129", false},
                            TCase{"10.0.0.0/", false}, TCase{"10.0.0.0/-1", false}, TCase{"10.0.0.0/8x", false},
                            TCase{"localhost", false}, TCase{"", false}, TCase{"10.0.0", false}}) {
    EXPECT_EQ(ParseAddressRange(Case.Text).has_value(), Case.Parses) << Case.Text;
  }
  const auto Range = ParseAddressRange("10.1.0.0/16");
  EXPECT_TRUE(Range->Contains(*ParseIpAddress("10.1.255.3")));
  EXPECT_TRUE(Range->Contains(*ParseIpAddress("::ffff:10.1.0.1")));  // the same peer seen on a dual-stack socket
  EXPECT_FALSE(Range->Contains(*ParseIpAddress("10.2.0.1")));
  EXPECT_FALSE(Range->Contains(*ParseIpAddress("2001:db8::1")));
  EXPECT_TRUE(ParseAddressRange("2001:db8:1::/48")->Contains(*ParseIpAddress("2001:db8:1:ffff::9")));
  EXPECT_FALSE(ParseAddressRange("2001:db8:1::/48")->Contains(*ParseIpAddress("2001:db8:2::9")));
}

TEST(ClientAddress, OnlyTrustedPeersNameTheClient) {
  const TTrustedProxies Trusted = Proxies({"10.0.0.0/8", "::1", "2001:db8:ff::/48"});
  struct TCase {
    const char* Peer;
    const char* ForwardedFor;
    const char* Client;
  };
  for (const TCase& Case : {
           // An untrusted peer is the client, whatever it claims.
           TCase{"198.51.100.7", "203.0.113.9", "198.51.100.7"},
           TCase{"::ffff:198.51.100.7", "203.0.113.9", "198.51.100.7"},
           // A trusted peer: the rightmost address that is not trusted.
           TCase{"10.0.0.2", "203.0.113.9", "203.0.113.9"},
           TCase{"10.0.0.2", "1.1.1.1, 203.0.113.9", "203.0.113.9"},  // the left part is the client's own claim
           TCase{"10.0.0.2", "203.0.113.9, 10.0.0.5", "203.0.113.9"},  // through two proxies
           TCase{"::1", "2001:DB8:0:0::7", "2001:db8::7"},
           TCase{"::1", "2001:db8:ff::1, 2001:db8:1::5,2001:db8:ff::2", "2001:db8:1::5"},
           TCase{"10.0.0.2", "[2001:db8::7]:4711", "2001:db8::7"},
           TCase{"10.0.0.2", "203.0.113.9:4711", "203.0.113.9"},
           TCase{"10.0.0.2", "203.0.113.9,", "203.0.113.9"},
           // Every hop trusted: the leftmost one.
           TCase{"10.0.0.2", "10.0.0.9, 10.0.0.5", "10.0.0.9"},
           // Nothing usable: the last trusted hop, never the text.
           TCase{"10.0.0.2", "", "10.0.0.2"},
           TCase{"10.0.0.2", "unknown", "10.0.0.2"},
           TCase{"10.0.0.2", "203.0.113.9, junk, 10.0.0.5", "10.0.0.5"},
       }) {
    EXPECT_EQ(ClientAddress(Case.Peer, Case.ForwardedFor, Trusted), Case.Client)
        << Case.Peer << " / " << Case.ForwardedFor;
  }
  EXPECT_EQ(ClientAddress("10.0.0.2", "203.0.113.9", {}), "10.0.0.2");  // nothing trusted by default
}

TEST(RateLimit, NoBurstAtTheMinutesTurn) {
  TRateLimit Limit(5);
  const std::int64_t Turn = 1'800'000'000 / 60 * 60;
  int Allowed = 0;
  // Ten tries in 2.5 s around the turn of a minute (the clock counts whole seconds).
  for (const std::int64_t At : {Turn - 2, Turn - 2, Turn - 1, Turn - 1, Turn - 1, Turn, Turn, Turn, Turn + 1, Turn}) {
    Allowed += Limit.Allow("192.0.2.1", At) ? 1 : 0;
  }
  EXPECT_EQ(Allowed, 5);
  // Steady tries, one a second for ten minutes: the limit's rate, not twice it.
  Allowed = 0;
  for (std::int64_t At = Turn + 60; At < Turn + 660; ++At) Allowed += Limit.Allow("192.0.2.2", At) ? 1 : 0;
  EXPECT_GE(Allowed, 50);
  EXPECT_LE(Allowed, 56);
  EXPECT_TRUE(Limit.Allow("192.0.2.1", Turn + 120)) << "a quiet address has its whole limit again";
}

TEST(RateLimit, Ipv6CountsPerSlash64AndIpv4PerAddress) {
  TRateLimit Limit(2);
  EXPECT_TRUE(Limit.Allow("2001:db8:1:2::1", 100));
  EXPECT_TRUE(Limit.Allow("2001:db8:1:2:ffff::9", 100));
  EXPECT_FALSE(Limit.Allow("2001:db8:1:2:abcd::1", 100));
  EXPECT_TRUE(Limit.Allow("2001:db8:1:3::1", 100));
  EXPECT_TRUE(Limit.Allow("192.0.2.1", 100));
  EXPECT_TRUE(Limit.Allow("192.0.2.1", 100));
  EXPECT_FALSE(Limit.Allow("::ffff:192.0.2.1", 100));
  EXPECT_TRUE(Limit.Allow("192.0.2.2", 100));
}

TEST(RateLimit, MemoryStaysBoundedAndQuietAddressesGo) {
  TRateLimit Limit(3, 1000);
  for (int I = 0; I < 100000; ++I) {
    const std::string Address = "2001:db8:" + std::to_string(I / 65536) + ":" + std::to_string(I % 65536) + "::1";
    Limit.Allow(Address, 100);
  }
  EXPECT_LE(Limit.Size(), 1000u);
  // A busy address is kept while others come and go; past its limit it stays refused.
  for (int I = 0; I < 3; ++I) EXPECT_TRUE(Limit.Allow("192.0.2.1", 200));
  for (int I = 0; I < 5000; ++I) {
    Limit.Allow("10.0." + std::to_string(I / 256) + "." + std::to_string(I % 256), 200);
    if (I % 500 == 0) {
      EXPECT_FALSE(Limit.Allow("192.0.2.1", 200)) << I;
    }
  }
  EXPECT_EQ(Limit.Size(), 1000u);
  Limit.Allow("192.0.2.9", 400);  // minutes later: every other address has gone quiet
  EXPECT_EQ(Limit.Size(), 1u);
}

}  // namespace
}  // namespace nimbrel::service
