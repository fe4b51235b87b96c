// The saved startup list: one line "From|Caption|Target" per collected entry.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "startup/autorun.h"

namespace nimbrel {

// The file's bytes: UTF-8 with a byte-order mark, every line ended by CR LF.
std::string AutorunListText(const TAutorunList& List);

// The system steps of a save that tests replace.
struct TSaveSteps {
  // A name for a new file in Folder (empty, or ending in a separator) that nobody can foresee.
  std::function<std::wstring(const std::wstring& Folder)> TemporaryName;
  // ReplaceFileW of Replaced by Replacement, the old file kept under Backup; ERROR_SUCCESS or the
  // system's error code.
  std::function<DWORD(const std::wstring& Replaced, const std::wstring& Replacement, const std::wstring& Backup)> Replace;
};
// "nim" + 16 random hexadecimal digits + ".tmp" in Folder, and ReplaceFileW.
TSaveSteps SystemSaveSteps();

// Writes the list to Path atomically: a new file beside it under an unforeseeable name, created
// (never opened: a file or link already there is left alone and another name is drawn) without
// following reparse points, written through, then put in place (ReplaceFileW over an existing
// file, keeping its attributes and permissions; MoveFileExW otherwise). Empty on success;
// otherwise the system's message, with an existing file left as it was under its name (also
// when ReplaceFileW has already moved it aside) and no new file left behind.
std::wstring SaveAutorunList(const std::wstring& Path, const TAutorunList& List);
std::wstring SaveAutorunList(const std::wstring& Path, const TAutorunList& List, const TSaveSteps& Steps);

}  // namespace nimbrel
