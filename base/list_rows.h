// Lists of text rows (the protection lists and other embedded lists) and their matcher.
// Lists belong to the main thread; a worker reads only a copy taken before it starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nimbrel {

// An ordered list of text rows: not sorted, duplicates kept, never shrinks while the program runs.
using TStringList = std::vector<std::wstring>;

// Position of the first row equal to Text without regard to case (user locale); -1 when absent.
int ListIndexOf(const TStringList& List, std::wstring_view Text);

// Row in the form ListIndexOf compares it: two rows are equal there exactly when their keys are
// equal, so a hash set of keys finds a row without a scan. Keys are bytes, valid for the user
// locale of the moment (made again when it may have changed). Any thread.
std::string ListRowKey(std::wstring_view Row);

// Splits Text into lines at CR LF, CR or LF. Blank lines are kept; a final line break does not
// add an empty line.
std::vector<std::wstring> SplitLines(std::wstring_view Text);

// Appends the rows of the RCDATA resource Name of the program's own module (UTF-8, a leading
// byte-order mark skipped). A resource that is missing or unreadable leaves the list as it was.
void LoadListResource(TStringList& List, const wchar_t* Name);

// True when some row of List covers Text. With IsPath a row ending in "*" names an executable
// (compared with the file-name part of Text) and any other row is searched for inside Text;
// without IsPath a row matches a Text that begins with it. Rows are trimmed, may begin with a
// folder placeholder, and blank and "//" rows never match.
bool MatchesList(const TStringList& List, std::wstring_view Text, bool IsPath);

}  // namespace nimbrel
