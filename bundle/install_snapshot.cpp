// The snapshot of the four uninstall registrations and the inventory built from it.
#include "bundle/install_snapshot.h"

#include <algorithm>
#include <unordered_set>

#include "base/handle.h"
#include "base/registry.h"
#include "bundle/install_entry.h"
#include "bundle/install_registrations.h"

namespace nimbrel {
namespace {

uint64_t TimeValue(const FILETIME& Time) {
  return (static_cast<uint64_t>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
}

uint64_t SystemTimeNow() {
  FILETIME Now{};
  ::GetSystemTimeAsFileTime(&Now);
  return TimeValue(Now);
}

}  // namespace

std::vector<TSubKeyName> ReadSubKeyNames(HKEY Key) {
  std::vector<TSubKeyName> Names;
  wchar_t Name[256];  // key names are at most 255 characters long
  for (DWORD Position = 0;; ++Position) {
    DWORD Length = static_cast<DWORD>(std::size(Name));
    FILETIME LastWrite{};
    // ERROR_NO_MORE_ITEMS ends the list; any other error (ERROR_KEY_DELETED for a key deleted
    // while open) would come back for every further position too.
    if (::RegEnumKeyExW(Key, Position, Name, &Length, nullptr, nullptr, nullptr, &LastWrite) != ERROR_SUCCESS) break;
    Names.push_back(TSubKeyName{std::wstring(Name, Length), TimeValue(LastWrite)});
  }
  return Names;
}

void TInstallSnapshot::Refresh(size_t Index) {
  if (Index >= std::size(FRegistrations)) return;
  const TInstallRegistration Registration = InstallRegistrations()[Index];
  TRegistrationState& State = FRegistrations[Index];
  // Written at or after this time: unsettled.
  const uint64_t Unsettled = SystemTimeNow() - FSettleTime;

  std::unordered_map<std::wstring, TSubKey*> Known;
  for (TSubKey& SubKey : State.SubKeys) Known.emplace(SubKey.Name, &SubKey);
  std::vector<TSubKey> SubKeys;

  const TOwnedKey Key = OpenRegistryKey(Registration.RootKey, Registration.Key);
  if (Key) {
    const TInstallEnvironment Environment = CurrentInstallEnvironment();
    for (TSubKeyName& Listed : ReadSubKeyNames(Key.get())) {
      TSubKey& SubKey = SubKeys.emplace_back();
      SubKey.Name = std::move(Listed.Name);
      SubKey.LastWrite = Listed.LastWrite;
      SubKey.Settled = SubKey.LastWrite < Unsettled;
      const auto Found = Known.find(SubKey.Name);
      if (Found != Known.end() && Found->second->Settled && Found->second->LastWrite == SubKey.LastWrite) {
        SubKey.Entry = std::move(Found->second->Entry);
        continue;
      }
      ++FReadCount;
      const TOwnedKey Opened = OpenRegistryKey(Key.get(), SubKey.Name);
      if (Opened) {
        SubKey.Entry = ReadInstallEntry(Opened.get(), Registration.RootKey == HKEY_CURRENT_USER, Environment);
      } else {
        SubKey.Settled = false;  // try again next time
      }
    }
  }
  State.SubKeys = std::move(SubKeys);
}

void TInstallSnapshot::Reload() {
  for (TRegistrationState& State : FRegistrations) State.SubKeys.clear();
  for (size_t Index = 0; Index < std::size(FRegistrations); ++Index) Refresh(Index);
}

void TInstallSnapshot::Build(TInstallList& List) const {
  List.clear();
  // Display name and publisher of every listed entry, joined by a NUL (which neither holds).
  std::unordered_set<std::wstring> Seen;
  for (const TRegistrationState& State : FRegistrations) {
    for (const TSubKey& SubKey : State.SubKeys) {
      if (!SubKey.Entry) continue;
      if (!Seen.insert(SubKey.Entry->DisplayName + L'\0' + SubKey.Entry->Publisher).second) continue;
      List.push_back(*SubKey.Entry);
    }
  }
  // Eight-digit dates compare as dates; an empty one sorts after every other.
  std::stable_sort(List.begin(), List.end(),
                   [](const TInstallInfo& A, const TInstallInfo& B) { return A.InstallDate > B.InstallDate; });
}

}  // namespace nimbrel
