// The per-address limit on uploads. Addresses live only in memory, only for the current minute.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace nimbrel::service {

class TRateLimit {
 public:
  explicit TRateLimit(int PerMinute) : FPerMinute(PerMinute) {}

  // Counts one upload from Address at Now (seconds since the epoch); false when Address has already
  // sent PerMinute uploads in the same calendar minute. Any thread.
  bool Allow(const std::string& Address, std::int64_t Now);

 private:
  std::mutex FLock;
  const int FPerMinute;
  std::int64_t FMinute = -1;
  std::unordered_map<std::string, int> FCounts;  // this minute's uploads per address
};

}  // namespace nimbrel::service
