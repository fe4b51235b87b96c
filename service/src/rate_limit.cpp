// A token bucket per address, in a table bounded by age and size.
#include "rate_limit.h"

#include <algorithm>

#include "client_address.h"

namespace nimbrel::service {
namespace {

// The key an address is counted under: its 4 bytes for IPv4, the first 8 for IPv6.
std::string LimitKey(const std::string& Address) {
  const auto Parsed = ParseIpAddress(Address);
  if (!Parsed) {
    std::string Key(1, '?');
    return Key += Address;
  }
  const size_t From = Parsed->IsIpv4() ? 12 : 0;
  const size_t Size = Parsed->IsIpv4() ? 4 : 8;
  return std::string(reinterpret_cast<const char*>(Parsed->Bytes.data() + From), Size);
}

}  // namespace

TRateLimit::TRateLimit(int PerMinute, size_t MaxAddresses)
    : FPerMinute(PerMinute), FMaxAddresses(MaxAddresses < 1 ? 1 : MaxAddresses) {}

bool TRateLimit::Allow(const std::string& Address, std::int64_t Now) {
  const std::string Key = LimitKey(Address);
  const std::int64_t Full = FPerMinute * 60;
  const std::lock_guard Lock(FLock);
  // A bucket untouched for a minute is full again, the same as none; past the bound, the one
  // longest untouched goes to make room.
  while (!FByAge.empty()) {
    const auto Oldest = FBuckets.find(FByAge.back());
    const bool Refilled = Oldest->second.Last <= Now - 60;
    const bool Crowded = FBuckets.size() >= FMaxAddresses && !FBuckets.contains(Key);
    if (!Refilled && !Crowded) break;
    FBuckets.erase(Oldest);
    FByAge.pop_back();
  }
  auto [Found, Added] = FBuckets.try_emplace(Key);
  TBucket& Bucket = Found->second;
  if (Added) {
    FByAge.push_front(Key);
    Bucket.Age = FByAge.begin();
    Bucket.Credit = Full;
    Bucket.Last = Now;
  } else {
    FByAge.splice(FByAge.begin(), FByAge, Bucket.Age);
  }
  if (Now > Bucket.Last) {
    Bucket.Credit = std::min(Full, Bucket.Credit + (Now - Bucket.Last) * FPerMinute);
    Bucket.Last = Now;
  }
  if (Bucket.Credit < 60) return false;
  Bucket.Credit -= 60;
  return true;
}

size_t TRateLimit::Size() {
  const std::lock_guard Lock(FLock);
  return FBuckets.size();
}

}  // namespace nimbrel::service
