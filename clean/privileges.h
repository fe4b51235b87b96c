// Switching privileges of the program's own process token.
#pragma once

namespace nimbrel {

// True when the token now holds the privilege in the requested state; false when the token
// cannot be opened, the name is unknown, or the account does not hold the privilege.
bool EnablePrivilege(const wchar_t* Name, bool Enable);

// Module start-up, main thread, before any window: enables the profiling, quota and debugging
// privileges that the memory purge and the clean use. The program works on without them.
void EnableStartupPrivileges();

}  // namespace nimbrel
