// The start-up check: the request, its headers and the hold request.
#pragma once

#include <windows.h>

#include <string>

#include "update/init_check.h"

namespace nimbrel {

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

}  // namespace nimbrel
