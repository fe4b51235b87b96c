// The per-address limit on uploads and hold requests. Addresses live only in memory, for a minute
// at most after their last request, and only so many at once.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace nimbrel::service {

class TRateLimit {
 public:
  // A token bucket per address: PerMinute requests at once at most, and one more for each
  // 60/PerMinute seconds that pass, so PerMinute a minute over time and no double burst at a
  // minute's turn. IPv6 addresses count per /64, the block one subscriber is given. At most
  // MaxAddresses are kept; past that, the one longest without a request is forgotten first.
  explicit TRateLimit(int PerMinute, size_t MaxAddresses = 65536);

  // Counts one request from Address (text of an IPv4 or IPv6 address; any other text is a key of
  // its own) at Now (seconds since the epoch); false, and not counted, when it would pass the
  // limit. Any thread.
  bool Allow(const std::string& Address, std::int64_t Now);

  // How many addresses are kept now.
  size_t Size();

 private:
  struct TBucket {
    std::int64_t Credit = 0;  // in sixtieths of a request
    std::int64_t Last = 0;    // when Credit was last brought up to date, seconds
    std::list<std::string>::iterator Age;  // place in FByAge
  };

  std::mutex FLock;
  const std::int64_t FPerMinute;
  const size_t FMaxAddresses;
  std::unordered_map<std::string, TBucket> FBuckets;  // by limit key
  std::list<std::string> FByAge;                      // limit keys, latest request first
};

}  // namespace nimbrel::service
