// Where reports and counters are kept. One small interface, so that another database can stand
// beside SQLite; every implementation is safe to call from the server's worker threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "report.h"

namespace nimbrel::service {

// The most versions whose hold requests are counted at once.
inline constexpr std::int64_t MaxHoldVersions = 10000;

enum class TPutResult {
  Stored,
  KeyTaken,  // a report with this key exists; nothing stored
  Full,      // the storage cap would be passed; nothing stored
  Failed,    // the store failed; nothing stored
};

class TReportStore {
 public:
  virtual ~TReportStore() = default;

  // Stores Report under Key as made at Now (seconds since the epoch), with no other data about the
  // request. All or nothing: any answer but Stored leaves the store as it was.
  virtual TPutResult Put(const std::string& Key, const TReport& Report, std::int64_t Now) = 0;

  // The report stored under Key at NotBefore or later; empty when there is none (or it is older,
  // or the store fails).
  virtual std::optional<TReport> Get(const std::string& Key, std::int64_t NotBefore) = 0;

  // How many reports stored at NotBefore or later list a startup entry whose "from" and file-name
  // part, both through LowerUtf8, are From and Name; empty when the store fails.
  virtual std::optional<std::int64_t> CountEntryReports(const std::string& From, const std::string& Name,
                                                        std::int64_t NotBefore) = 0;

  // Deletes every report stored before Cutoff, and the hold counts of versions that had no hold
  // request since; answers how many reports went, or empty when the store fails.
  virtual std::optional<std::int64_t> DeleteBefore(std::int64_t Cutoff) = 0;

  // Counts one hold request for Version at Now. A version not counted yet is taken only while
  // fewer than MaxHoldVersions are; false when it was not (or the store fails).
  virtual bool AddHold(const std::string& Version, std::int64_t Now) = 0;

  // How many hold requests Version has sent; 0 when none (or the store fails).
  virtual std::int64_t HoldCount(const std::string& Version) = 0;

  // The bytes that stored reports take, as the storage cap counts them.
  virtual std::int64_t UsedBytes() = 0;
};

}  // namespace nimbrel::service
