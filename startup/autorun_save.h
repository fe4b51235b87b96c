// The saved startup list: one line "From|Caption|Target" per collected entry.
#pragma once

#include <string>

#include "startup/autorun.h"

namespace nimbrel {

// The file's bytes: UTF-8 with a byte-order mark, every line ended by CR LF.
std::string AutorunListText(const TAutorunList& List);

// Writes the list to Path atomically: a new file beside it, written through, then put in place
// (ReplaceFileW over an existing file, keeping its attributes and permissions; MoveFileExW
// otherwise). Empty on success; otherwise the system's message, with an existing file left as it
// was and no new file left behind.
std::wstring SaveAutorunList(const std::wstring& Path, const TAutorunList& List);

}  // namespace nimbrel
