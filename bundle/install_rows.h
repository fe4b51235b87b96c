// What the Bundle page shows, without any window: the rows made from the inventory and the
// black list, and when a burst of registry changes has ended so that the list reloads once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bundle/inventory.h"

namespace nimbrel {

// One row of the Bundle list.
struct TInstallItem {
  std::wstring DisplayName;
  // The entry's publisher, or the text for an unknown one when the entry has none.
  std::wstring Publisher;
  std::wstring InstallDate;
  std::wstring UninstallString;
  // Image index in the page's image collection (0: the blank document).
  int32_t Icon = 0;
  // Whether the uninstall command was registered under HKEY_CURRENT_USER.
  bool FromCurrentUser = false;
};

// The icon location of an entry for GetFileIconIndex: its icon file (in double quotes when the
// path holds a comma), with ",index" when the registration named an index other than 0. Empty
// when the entry has no icon file.
std::wstring IconLocation(const TInstallInfo& Entry);

// The rows for List in its order: only entries whose display name IsBlackListed accepts (the
// black list's verdict, MatchesList without IsPath), one row per display name with the letter
// case of A-Z ignored (the first entry wins), UnknownPublisher where the publisher is empty.
// IconOf gives each row's image index from the entry's IconLocation (0 without IconOf).
std::vector<TInstallItem> BuildInstallRows(const TInstallList& List,
                                           const std::function<bool(const std::wstring& DisplayName)>& IsBlackListed,
                                           const std::wstring& UnknownPublisher,
                                           const std::function<int32_t(const std::wstring& Location)>& IconOf);

// Tells when a burst of changes has ended: a change restarts a quiet period, and a reload comes
// after the first quiet period without change, or at the latest MaxWait after the burst's first
// change, so that a long stream of changes still shows. Times in milliseconds from any steady
// clock. Main thread.
class TChangeBurst {
 public:
  static constexpr uint32_t DefaultQuiet = 25;
  static constexpr uint32_t DefaultMaxWait = 400;

  explicit TChangeBurst(uint32_t Quiet = DefaultQuiet, uint32_t MaxWait = DefaultMaxWait) noexcept
      : FQuiet(Quiet), FMaxWait(MaxWait) {}

  // A change at Now: the delay after which to reload, replacing any reload asked for before.
  [[nodiscard]] uint32_t Change(uint64_t Now) noexcept;
  // The reload is starting: the next change begins a new burst.
  void Reloading() noexcept { FPending = false; }
  [[nodiscard]] bool Pending() const noexcept { return FPending; }

 private:
  uint32_t FQuiet;
  uint32_t FMaxWait;
  bool FPending = false;
  uint64_t FFirst = 0;
};

}  // namespace nimbrel
