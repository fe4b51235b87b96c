// The user's exception files ("NoClean.txt"): extra white-list rows read at each clean, never written.
#pragma once

#include "base/list_rows.h"
#include "base/system_error.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel {

// Why an exception file that exists could not be read.
struct TExceptionFileError {
  std::wstring FileName;  // the file's full path
  std::wstring Reason;    // the system's message for Code, without a final line break
  DWORD Code = 0;
};

struct TExceptionRows {
  TStringList Rows;                          // the lines of both files, first file first
  std::optional<TExceptionFileError> Error;  // set: Rows is empty
};

// Decodes a file's bytes: a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE; without one,
// bytes that are all well-formed UTF-8 with at least one above 127 are UTF-8, anything else is
// read in AnsiCodePage. Ill-formed UTF-8 and an odd last byte of UTF-16 become U+FFFD.
std::wstring DecodeListFile(std::string_view Bytes, UINT AnsiCodePage);

// The two exception files in reading order: beside the executable, then "Nimbrel\NoClean.txt"
// under the roaming application-data folder (left out when that folder is unknown).
std::vector<std::wstring> ExceptionFilePaths();

// The lines of one file, unchanged (blank lines kept). A missing file (or a folder of that
// name) gives no lines; a file that exists but cannot be read gives the error.
TExceptionRows ReadExceptionFile(const std::wstring& FileName);

// Both files, all or nothing: the first unreadable file ends the reading and no rows come back.
TExceptionRows ReadExceptionFiles(const std::vector<std::wstring>& FileNames);

}  // namespace nimbrel
