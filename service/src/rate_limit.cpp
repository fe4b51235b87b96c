// Fixed one-minute windows: the whole table is dropped when the minute turns.
#include "rate_limit.h"

namespace nimbrel::service {

bool TRateLimit::Allow(const std::string& Address, std::int64_t Now) {
  const std::lock_guard Lock(FLock);
  const std::int64_t Minute = Now / 60;
  if (Minute != FMinute) {
    FCounts.clear();
    FMinute = Minute;
  }
  int& Count = FCounts[Address];
  if (Count >= FPerMinute) return false;
  ++Count;
  return true;
}

}  // namespace nimbrel::service
