// What identifies the program to the web service: its version and the installation identifier.
// And the start-up check: the request, the hold request and the check that the main window starts.
#pragma once

#include <windows.h>

#include <string>

#include "net/init_check.h"

namespace nimbrel {

// The running executable's file version put into Format: each "%d" takes the next of major,
// minor, release and build ("%%" gives "%", any other text stays as it is), so "%d.%d.%d.%d"
// gives "1.0.0.0". An executable without version information gives the four numbers 0. Any thread.
std::wstring GetAppVersion(const std::wstring& Format);
// The same for any file.
std::wstring GetFileVersionText(const std::wstring& FileName, const std::wstring& Format);

// The installation identifier: the string value OUID under HKEY_CURRENT_USER\Software\Orvanta,
// written with NewUserUnion when it is missing and never changed afterwards. Read on every call.
// Empty when the registry fails (the key cannot be opened or made, the value cannot be written
// or read as text). Any thread.
std::wstring GetUserUnion();

// A new identifier of 32 characters: 8 upper-case hexadecimal digits of a random number from 0 to
// 2147483646, the local date as yymmdd, 4 hexadecimal digits of one from 0 to 65534, the local
// time as hhnnss, and 8 hexadecimal digits of another from 0 to 2147483646. Any thread.
std::wstring NewUserUnion();

// One GET of the start-up endpoint with only the user agent "Mozilla/5.0 (Windows NT 10.0; Win64;
// x64)" and Headers (in order; empty values left out); the whole body decoded as UTF-8 whatever
// its charset, and any status, is the answer. False on a transport failure, leaving Answer as it
// was. Stop (may be null) cancels the request at once. Certificates are checked. Worker thread.
bool RequestInit(const TInitHeaders& Headers, std::wstring& Answer, HANDLE Stop);
inline constexpr size_t InitAnswerLimit = 16 * 1024 * 1024;  // a longer answer counts as a failure

// The check's headers: User-Version, User-Language (CurrentLanguage), User-Debug ("false") and
// User-Union, in this order.
TInitHeaders InitCheckHeaders();

// Tells the service not to offer this version again, on a thread of its own; the process waits
// for it with WaitHoldRequests before it ends, so that a request started just before the window
// closes (Yes with the box ticked) still leaves. Main thread.
void StartHoldRequest();

// Waits up to Milliseconds for the hold requests started so far to end: a plain wait, serving no
// messages (the requests need nothing of the main thread). True when none is left running.
// Main thread, on the way out of the program.
bool WaitHoldRequests(DWORD Milliseconds);
inline constexpr DWORD HoldRequestWait = 5000;  // how long the program's end waits for them

inline constexpr wchar_t UserUnionKey[] = L"Software\\Orvanta";
inline constexpr wchar_t UserUnionValue[] = L"OUID";

}  // namespace nimbrel
