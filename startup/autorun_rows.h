// The Startup page's rows and how a new collection is merged into them: rows keep their place,
// new entries are appended, vanished ones removed. Pure functions, no windows.
#pragma once

#include <string>
#include <vector>

#include "base/list_rows.h"
#include "startup/autorun.h"

namespace nimbrel {

// One shown row.
struct TAutorunItem {
  std::wstring FileName;  // display name
  std::wstring Target;
  std::wstring From;
  int Icon = 0;
  bool Enabled = false;
};

// "From|Target"; keys are compared with ASCII case ignored.
std::wstring AutorunKey(const std::wstring& From, const std::wstring& Target);

// Whether an entry without a row gets one: it has a caption, it is on or ShowAll is set, and the
// white list of its kind does not cover it (FileWhite by path for startup files, NameWhite by
// name for the rest).
bool WantsAutorunRow(const TAutorunInfo& Entry, bool ShowAll, const TStringList& FileWhite, const TStringList& NameWhite);

// What a reload changes.
struct TAutorunMerge {
  // The new Enabled of each existing row (unchanged for rows whose entry is gone).
  std::vector<bool> Enabled;
  // Indices into the entry list of the entries that become new rows, in list order.
  std::vector<size_t> Appended;
  // Indices of the rows to remove, from the last to the first.
  std::vector<size_t> Removed;
};
// Rows matched to entries by key (the later of two rows with one key takes the entry's state).
TAutorunMerge MergeAutorunRows(const std::vector<TAutorunItem>& Rows, const TAutorunList& Entries, bool ShowAll,
                               const TStringList& FileWhite, const TStringList& NameWhite);

}  // namespace nimbrel
