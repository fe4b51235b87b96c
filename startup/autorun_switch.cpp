// SwitchAutorun: StartupApproved values for startup files and Run values on Windows 10 and later
// (deleting them before), tasks through the shared Task Scheduler, services by start type.
#include <windows.h>
#include <shlobj.h>

#include <array>
#include <stdexcept>

#include "base/ascii.h"
#include "base/handle.h"
#include "base/paths.h"
#include "base/registry.h"
#include "base/system_error.h"
#include "base/utf.h"
#include "startup/autorun.h"
#include "startup/autorun_sources.h"
#include "startup/task_scheduler.h"

namespace nimbrel {
namespace {

void SwitchFile(const std::wstring& Target, bool Enable) {
  const size_t Slash = Target.rfind(L'\\');
  const std::wstring Folder = Slash == std::wstring::npos ? std::wstring() : Target.substr(0, Slash);
  const std::wstring Name = Slash == std::wstring::npos ? Target : Target.substr(Slash + 1);
  if (IsWindows10OrLater()) {
    const HKEY Root = Folder == GetSpecialFolder(CSIDL_COMMON_STARTUP) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    TReg::WriteBinary(Root, ApprovedFolderKey, Name, MakeStartupApproved(Enable));
    return;
  }
  if (Enable) return;
  if (!::DeleteFileW(Target.c_str())) {
    const DWORD Error = ::GetLastError();
    throw std::runtime_error(WideToUtf8(Target + L"\r\n" + SystemErrorText(Error)));
  }
}

void SwitchRunValue(const std::wstring& Target, bool Enable) {
  HKEY Root = nullptr;
  std::wstring Key;
  std::wstring Name;
  // The value name is all that follows the Run key, backslashes included; only a target of no Run
  // key is split at its last backslash.
  if (!ParseRunValueTarget(Target, Root, Key, Name) && !TReg::Parse(Target, Root, Key, Name)) return;
  if (IsWindows10OrLater()) {
    TReg::WriteBinary(Root, ApprovedKeyOfRunKey(Key), Name, MakeStartupApproved(Enable));
    return;
  }
  // The value only: a subkey of the same name is not the entry and keeps its tree.
  if (!Enable) TReg::DeleteValue(Root, Key, Name);
}

void SwitchTask(const std::wstring& Target, bool Enable) {
  UseTaskScheduler([&](TTaskScheduler& Scheduler) { Scheduler.SetTaskEnabled(Target, Enable); });
}

void SwitchService(const std::wstring& Target, bool Enable) {
  TOwnedServiceHandle Manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!Manager) return;
  // The start type only: the service is never stopped, so the right to stop it is not asked for
  // (Wine even refuses to open a stopped service with it).
  TOwnedServiceHandle Service(::OpenServiceW(Manager.get(), Target.c_str(), SERVICE_CHANGE_CONFIG));
  if (!Service) return;
  ::ChangeServiceConfigW(Service.get(), SERVICE_NO_CHANGE, Enable ? SERVICE_AUTO_START : SERVICE_DISABLED,
                         SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

std::vector<uint8_t> MakeStartupApproved(bool Enable) {
  std::vector<uint8_t> Value(12, 0);
  Value[0] = Enable ? 2 : 3;
  SYSTEMTIME Now;
  ::GetSystemTime(&Now);
  FILETIME Time{};
  ::SystemTimeToFileTime(&Now, &Time);
  const uint64_t Ticks = (static_cast<uint64_t>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
  for (int I = 0; I < 8; ++I) Value[4 + I] = static_cast<uint8_t>(Ticks >> (8 * I));
  return Value;
}

void SwitchAutorun(const std::wstring& Target, const std::wstring& From, bool Enable) {
  using TBranch = void (*)(const std::wstring&, bool);
  struct TDispatch {
    const wchar_t* From;
    TBranch Branch;
  };
  static constexpr std::array<TDispatch, 3> Table = {{
      {L"FILE", SwitchFile},
      {L"SCHE", SwitchTask},
      {L"SERV", SwitchService},
  }};
  for (const TDispatch& Each : Table) {
    if (SameTextAscii(From, Each.From)) {
      Each.Branch(Target, Enable);
      return;
    }
  }
  SwitchRunValue(Target, Enable);
}

}  // namespace nimbrel
