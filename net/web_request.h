// One request to the web service with the program's identification, as the clean report sends it.
#pragma once

#include <windows.h>

#include <string>

namespace nimbrel {

// A fresh THTTP with its defaults and the headers "User-Version" (GetAppVersion "%d.%d.%d.%d")
// and "User-Union" (GetUserUnion; left out when the registry fails). A non-empty Body is POSTed
// as "application/json" in UTF-8, an empty one makes a GET. Answers the decoded answer whatever
// its status, or the failure's message. Cancel (a manual-reset event, may be null) ends the
// request at once when it is set. Any thread but the main one (it blocks).
std::wstring WebRequest(const std::wstring& Url, const std::wstring& Body, HANDLE Cancel = nullptr);

}  // namespace nimbrel
