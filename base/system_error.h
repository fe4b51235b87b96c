// The system's text for a Win32 error code.
#pragma once

#include <windows.h>

#include <string>

namespace nimbrel {

// The system's message text for an error code, in the user's language, without the trailing line
// break; "System error N" when the system has none. Never fails.
std::wstring SystemErrorText(DWORD Code);

}  // namespace nimbrel
