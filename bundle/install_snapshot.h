// The uninstall registrations as last read, kept between reloads: a reload after a watcher's
// report re-reads only that registration, and in it only the subkeys written since they were
// read. Main thread (or any one thread at a time).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "bundle/inventory.h"

namespace nimbrel {

// A direct subkey: its name and last-write time (100-ns units since 1601, UTC).
struct TSubKeyName {
  std::wstring Name;
  uint64_t LastWrite = 0;
};
// The direct subkeys of an open key in the registry's enumeration order. The list ends at the
// first position the registry does not answer for: a key deleted while it was open, say, gives
// the subkeys read before (none at all when it was deleted before the first).
std::vector<TSubKeyName> ReadSubKeyNames(HKEY Key);

class TInstallSnapshot {
 public:
  // How long after its last write a subkey still counts as unsettled and is read again on every
  // refresh: a write in the same tick of the registry's clock as the read cannot be told apart
  // by its time alone. In 100-ns units.
  static constexpr uint64_t DefaultSettleTime = 2 * 10'000'000ULL;

  explicit TInstallSnapshot(uint64_t SettleTime = DefaultSettleTime) noexcept : FSettleTime(SettleTime) {}

  // Reads registration Index (0 to 3, in the inventory's reading order) again: new subkeys, and
  // those written since they were read or too recently to tell, are read; subkeys that are gone
  // are dropped; a key that cannot be opened leaves the registration empty.
  void Refresh(size_t Index);
  // Forgets what was read and reads all four registrations anew.
  void Reload();

  // The inventory from the registrations as read: in reading order, duplicates by exact display
  // name and publisher dropped (the first wins), sorted by InstallDate descending, stable.
  void Build(TInstallList& List) const;

  // Subkeys read from the registry (not taken from the snapshot) since the counter was reset.
  [[nodiscard]] size_t ReadCount() const noexcept { return FReadCount; }

 private:
  struct TSubKey {
    std::wstring Name;
    uint64_t LastWrite = 0;
    bool Settled = false;
    std::optional<TInstallInfo> Entry;  // nullopt: left out by a skip rule or unreadable
  };
  struct TRegistrationState {
    std::vector<TSubKey> SubKeys;  // in the registry's enumeration order
  };

  uint64_t FSettleTime;
  TRegistrationState FRegistrations[4];
  size_t FReadCount = 0;
};

}  // namespace nimbrel
