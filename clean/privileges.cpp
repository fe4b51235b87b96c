// EnablePrivilege over AdjustTokenPrivileges.
#include "clean/privileges.h"

#include "base/handle.h"

namespace nimbrel {

bool EnablePrivilege(const wchar_t* Name, bool Enable) {
  TOwnedHandle Token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, Token.put())) return false;
  TOKEN_PRIVILEGES Privileges{};
  Privileges.PrivilegeCount = 1;
  if (!::LookupPrivilegeValueW(nullptr, Name, &Privileges.Privileges[0].Luid)) return false;
  Privileges.Privileges[0].Attributes = Enable ? SE_PRIVILEGE_ENABLED : 0;
  ::SetLastError(ERROR_SUCCESS);
  // Succeeds with ERROR_NOT_ALL_ASSIGNED when the account lacks the privilege: only the last error tells.
  ::AdjustTokenPrivileges(Token.get(), FALSE, &Privileges, 0, nullptr, nullptr);
  return ::GetLastError() == ERROR_SUCCESS;
}

void EnableStartupPrivileges() {
  EnablePrivilege(L"SeProfileSingleProcessPrivilege", true);
  EnablePrivilege(L"SeIncreaseQuotaPrivilege", true);
  EnablePrivilege(L"SeDebugPrivilege", true);
}

}  // namespace nimbrel
