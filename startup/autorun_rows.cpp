// Merging a new collection into the Startup page's rows.
#include "startup/autorun_rows.h"

#include <unordered_map>
#include <unordered_set>

#include "base/ascii.h"

namespace nimbrel {
namespace {

// The part after the last backslash or colon.
std::wstring FileNamePart(const std::wstring& Text) {
  const size_t Cut = Text.find_last_of(L"\\:");
  return Cut == std::wstring::npos ? Text : Text.substr(Cut + 1);
}

}  // namespace

std::wstring AutorunKey(const std::wstring& From, const std::wstring& Target) { return From + L"|" + Target; }

bool WantsAutorunRow(const TAutorunInfo& Entry, bool ShowAll, const TStringList& FileWhite, const TStringList& NameWhite) {
  if (Entry.Caption.empty()) return false;
  if (!Entry.Enabled && !ShowAll) return false;
  if (SameTextAscii(Entry.From, L"FILE")) return !MatchesList(FileWhite, Entry.Target, true);
  if (SameTextAscii(Entry.From, L"SERV")) return !MatchesList(NameWhite, Entry.Target, false);
  // Tasks and registry values: the name after the last backslash or colon.
  return !MatchesList(NameWhite, FileNamePart(Entry.Target), false);
}

TAutorunMerge MergeAutorunRows(const std::vector<TAutorunItem>& Rows, const TAutorunList& Entries, bool ShowAll,
                               const TStringList& FileWhite, const TStringList& NameWhite) {
  TAutorunMerge Merge;
  Merge.Enabled.reserve(Rows.size());
  std::unordered_map<std::wstring, size_t> RowOfKey;
  for (size_t I = 0; I < Rows.size(); ++I) {
    Merge.Enabled.push_back(Rows[I].Enabled);
    RowOfKey[AsciiUpper(AutorunKey(Rows[I].From, Rows[I].Target))] = I;
  }
  std::unordered_set<std::wstring> Present;
  for (size_t I = 0; I < Entries.size(); ++I) {
    const TAutorunInfo& Entry = Entries[I];
    std::wstring Key = AsciiUpper(AutorunKey(Entry.From, Entry.Target));
    const auto Row = RowOfKey.find(Key);
    Present.insert(std::move(Key));
    if (Row != RowOfKey.end()) {
      Merge.Enabled[Row->second] = Entry.Enabled;
      continue;
    }
    if (WantsAutorunRow(Entry, ShowAll, FileWhite, NameWhite)) Merge.Appended.push_back(I);
  }
  for (size_t I = Rows.size(); I-- > 0;) {
    if (!Present.contains(AsciiUpper(AutorunKey(Rows[I].From, Rows[I].Target)))) Merge.Removed.push_back(I);
  }
  return Merge;
}

}  // namespace nimbrel
