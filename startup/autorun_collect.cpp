// CollectAutorun: the entries of the startup folders, the Run keys, the root folder's scheduled
// tasks and the Win32 services, in that order.
#include <windows.h>
#include <shlobj.h>

#include <utility>

#include "base/handle.h"
#include "base/paths.h"
#include "base/registry.h"
#include "startup/autorun.h"
#include "startup/autorun_collect.h"
#include "startup/autorun_sources.h"
#include "startup/task_scheduler.h"

namespace nimbrel {
namespace {

using TFindHandle = TOwned<TNullHandleTraits<HANDLE, ::FindClose>>;

void CollectFolder(const std::wstring& Folder, const std::wstring& CommonFolder, TAutorunList& List) {
  if (Folder.empty()) return;
  const HKEY Root = Folder == CommonFolder ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  WIN32_FIND_DATAW Found;
  HANDLE First = ::FindFirstFileW((Folder + L"\\*").c_str(), &Found);
  if (First == INVALID_HANDLE_VALUE) return;
  TFindHandle Find(First);
  do {
    if ((Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::wstring Name = Found.cFileName;
    if (!HasStartupExtension(Name)) continue;
    TAutorunInfo Info;
    Info.FileName = Folder + L"\\" + Name;
    Info.Caption = Name.substr(0, Name.rfind(L'.'));
    Info.Target = Info.FileName;
    Info.From = L"FILE";
    Info.Enabled = ReadStartupApproved(Root, ApprovedFolderKey, Name);
    List.push_back(std::move(Info));
  } while (::FindNextFileW(Find.get(), &Found));
}

void CollectRunKey(HKEY Root, const std::wstring& Key, TAutorunList& List) {
  std::vector<std::wstring> Names;
  if (TReg::ReadValueNames(Root, Key, Names) == 0) return;
  const std::wstring RootName = RootKeyToName(Root, true);
  const std::wstring ApprovedKey = ApprovedKeyOfRunKey(Key);
  for (const std::wstring& Name : Names) {
    TAutorunInfo Info;
    Info.RawData = TReg::ReadString(Root, Key, Name, L"");
    Info.FileName = Info.RawData.empty() ? std::wstring() : ExtractCommandPath(Info.RawData);
    Info.Caption = Name;
    Info.Target = RunValueTarget(Root, Key, Name);
    Info.From = RootName;
    Info.Enabled = ReadStartupApproved(Root, ApprovedKey, Name);
    List.push_back(std::move(Info));
  }
}

void CollectTasks(TAutorunList& List) {
  UseTaskScheduler([&List](TTaskScheduler& Scheduler) {
    Scheduler.WalkRootTasks([&List](const std::wstring& Name, bool Enabled) {
      TAutorunInfo Info;
      Info.Caption = Name;
      Info.Target = L"\\" + Name;
      Info.From = L"SCHE";
      Info.Enabled = Enabled;
      List.push_back(std::move(Info));
    });
  });
}

void CollectServices(TAutorunList& List, const TStopQuery& Stopped) {
  TOwnedServiceHandle Manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
  if (!Manager) return;
  DWORD Needed = 0;
  DWORD Count = 0;
  DWORD Resume = 0;
  if (::EnumServicesStatusW(Manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &Needed, &Count, &Resume)) {
    return;
  }
  const DWORD Error = ::GetLastError();
  if (Error != ERROR_INSUFFICIENT_BUFFER && Error != ERROR_MORE_DATA) return;
  // ENUM_SERVICE_STATUSW holds pointers: the buffer is aligned for them.
  std::vector<ENUM_SERVICE_STATUSW> Buffer(Needed / sizeof(ENUM_SERVICE_STATUSW) + 1);
  if (!::EnumServicesStatusW(Manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL, Buffer.data(),
                             static_cast<DWORD>(Buffer.size() * sizeof(ENUM_SERVICE_STATUSW)), &Needed, &Count,
                             &Resume)) {
    return;
  }
  std::vector<uint64_t> Config;
  for (DWORD I = 0; I < Count; ++I) {
    if (Stopped()) return;
    const ENUM_SERVICE_STATUSW& Entry = Buffer[I];
    TOwnedServiceHandle Service(::OpenServiceW(Manager.get(), Entry.lpServiceName, SERVICE_QUERY_CONFIG));
    if (!Service) continue;
    DWORD Size = 0;
    ::QueryServiceConfigW(Service.get(), nullptr, 0, &Size);
    if (Size == 0) continue;
    Config.assign(Size / sizeof(uint64_t) + 1, 0);
    auto* Query = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(Config.data());
    if (!::QueryServiceConfigW(Service.get(), Query, static_cast<DWORD>(Config.size() * sizeof(uint64_t)), &Size)) {
      continue;
    }
    TAutorunInfo Info;
    Info.FileName = Query->lpBinaryPathName != nullptr ? Query->lpBinaryPathName : L"";
    Info.Caption = Entry.lpDisplayName != nullptr ? Entry.lpDisplayName : L"";
    Info.RawData = Info.FileName;
    Info.Target = Entry.lpServiceName != nullptr ? Entry.lpServiceName : L"";
    Info.From = L"SERV";
    Info.Enabled = Query->dwStartType == SERVICE_AUTO_START;
    List.push_back(std::move(Info));
  }
}

}  // namespace

bool ReadStartupApproved(HKEY RootKey, const std::wstring& Key, const std::wstring& Name) {
  return StartupApprovedIsOn(TReg::ReadBinary(RootKey, Key, Name));
}

void CollectAutorun(TAutorunList& List) {
  CollectAutorun(List, [] { return false; });
}

void CollectAutorun(TAutorunList& List, const TStopQuery& Stopped) {
  List.clear();
  if (Stopped()) return;
  const std::wstring CommonFolder = GetSpecialFolder(CSIDL_COMMON_STARTUP);
  CollectFolder(CommonFolder, CommonFolder, List);
  if (Stopped()) return;
  CollectFolder(GetSpecialFolder(CSIDL_STARTUP), CommonFolder, List);
  for (const TRunKey& Run : RunKeys) {
    if (Stopped()) return;
    CollectRunKey(Run.Root, Run.Key, List);
  }
  if (Stopped()) return;
  CollectTasks(List);
  CollectServices(List, Stopped);
}

}  // namespace nimbrel
