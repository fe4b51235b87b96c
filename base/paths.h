// Paths of programs as Windows stores them: special folders, folder placeholders such as
// "%ProgramFiles%", command lines, version strings and file icons. Text in, text out: none of
// these report errors.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/icon_collection.h"

namespace nimbrel {

// The folder of a CSIDL value without a trailing backslash; empty when the shell does not
// answer S_OK.
std::wstring GetSpecialFolder(int Csidl);

// Whether FileName names an existing file (not a folder).
bool FileExists(const std::wstring& FileName);

// One folder placeholder: its name with the percent signs, and its folder (empty when the
// folder could not be determined).
struct TPathVariable {
  std::wstring Name;
  std::wstring Folder;
};

// The nine placeholders in the order in which they are tried, built from the special folders of
// this machine at the first use (which loads the shell; the program starts without it) and
// unchanged afterwards. Any thread.
const std::vector<TPathVariable>& PathVariables();
// Builds PathVariables now when it is not built yet.
void InitPathVariables();
// The table for a machine whose native processor is 64-bit (or not), with folders from Folder.
std::vector<TPathVariable> BuildPathVariables(bool Native64, const std::function<std::wstring(int Csidl)>& Folder);

// A leading placeholder followed by "\" replaced by its folder (ASCII case ignored); otherwise
// the text unchanged.
std::wstring ExpandPathVars(const std::wstring& Text);
std::wstring ExpandPathVars(const std::wstring& Text, const std::vector<TPathVariable>& Table);
// A leading folder followed by "\" replaced by its placeholder (ASCII case ignored); otherwise
// the path unchanged. Placeholders whose folder is unknown are skipped.
std::wstring ContractPathVars(const std::wstring& Path);
std::wstring ContractPathVars(const std::wstring& Path, const std::vector<TPathVariable>& Table);

struct TCommandLineParts {
  std::wstring Path;
  std::wstring Arguments;
};
// Splits a command line into program path and arguments: a quoted path, else up to the first
// executable extension (.EXE .BAT .COM .CMD .MSI, the earliest anywhere), else the first blank.
TCommandLineParts SplitCommandLine(const std::wstring& CommandLine);
// The file an autostart command runs or loads: the library for rundll32.exe, placeholders
// expanded, doubled backslashes made single (except a leading "\\" of a network path).
std::wstring ExtractCommandPath(const std::wstring& CommandLine);

// Adds each of Keys found in the file's version strings (first translation only) to Values,
// replacing an entry already there, and returns the number of entries in Values afterwards;
// 0, with Values untouched, when the file or its version resource cannot be read. Any thread.
int GetFileVersionStrings(const std::wstring& FileName, const std::vector<std::wstring>& Keys,
                          std::map<std::wstring, std::wstring>& Values);

// The image index for an icon location: a file, optionally in double quotes, and optionally
// ",number" after it (see ParseIconLocation; outer blanks ignored). Each location's icon is
// extracted once, appended to Images and cached in Cache. DefaultIndex for an empty location or
// an icon that could not be stored; 0 (not cached) for a missing file or a file that gives no
// icon. Main thread.
int GetFileIconIndex(std::map<std::wstring, int>& Cache, TIconCollection& Images, const std::wstring& Location,
                     int DefaultIndex);

// An icon location as GetFileIconIndex reads it: Key is the location without quotes and outer
// blanks (the cache key; empty when nothing is left). File is the path between the first two
// double quotes when the location begins with one, commas included, else the part of the key
// before its last comma; Number the icon number after the comma that follows File
// (DefaultNumber when it cannot be read, 0 without a comma).
struct TIconLocation {
  std::wstring Key;
  std::wstring File;
  int Number = 0;
};
TIconLocation ParseIconLocation(const std::wstring& Location, int DefaultNumber);
// The icon at a location (ExtractAssociatedIconW); empty for an empty key, a missing file or a
// file that gives no icon. Any thread: the icon may be added to a collection on another.
TOwnedIcon ExtractFileIcon(const TIconLocation& Location);

}  // namespace nimbrel
