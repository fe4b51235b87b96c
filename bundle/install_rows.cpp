// The Bundle list's rows and the end of a burst of changes.
#include "bundle/install_rows.h"

#include <unordered_set>

#include "base/ascii.h"

namespace nimbrel {

std::wstring IconLocation(const TInstallInfo& Entry) {
  if (Entry.DisplayIcon.empty()) return {};
  // A path with a comma in it is quoted, so that it is read back whole.
  const std::wstring File =
      Entry.DisplayIcon.find(L',') == std::wstring::npos ? Entry.DisplayIcon : L"\"" + Entry.DisplayIcon + L"\"";
  if (Entry.DisplayIconIndex == 0) return File;
  return File + L"," + std::to_wstring(Entry.DisplayIconIndex);
}

std::vector<TInstallItem> BuildInstallRows(const TInstallList& List,
                                           const std::function<bool(const std::wstring& DisplayName)>& IsBlackListed,
                                           const std::wstring& UnknownPublisher,
                                           const std::function<int32_t(const std::wstring& Location)>& IconOf) {
  std::vector<TInstallItem> Rows;
  // Display names of the rows, A-Z folded.
  std::unordered_set<std::wstring> Listed;
  for (const TInstallInfo& Entry : List) {
    if (!IsBlackListed(Entry.DisplayName)) continue;
    if (!Listed.insert(AsciiUpper(Entry.DisplayName)).second) continue;
    TInstallItem& Row = Rows.emplace_back();
    Row.DisplayName = Entry.DisplayName;
    Row.Publisher = Entry.Publisher.empty() ? UnknownPublisher : Entry.Publisher;
    Row.InstallDate = Entry.InstallDate;
    Row.UninstallString = Entry.UninstallString;
    Row.FromCurrentUser = Entry.FromCurrentUser;
    Row.Icon = IconOf ? IconOf(IconLocation(Entry)) : 0;
  }
  return Rows;
}

uint32_t TChangeBurst::Change(uint64_t Now) noexcept {
  if (!FPending) {
    FPending = true;
    FFirst = Now;
  }
  const uint64_t Deadline = FFirst + FMaxWait;
  if (Now >= Deadline) return 0;
  const uint64_t Left = Deadline - Now;
  return static_cast<uint32_t>(Left < FQuiet ? Left : FQuiet);
}

}  // namespace nimbrel
