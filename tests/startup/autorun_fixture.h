// What the autostart tests seed on the machine and take away again: registry values under both
// roots (set with the raw API, independent of TReg), startup files, services, and a scheduler
// that stands in for Wine's, which lists no tasks and switches none.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/handle.h"
#include "base/paths.h"
#include "startup/autorun.h"
#include "startup/task_scheduler.h"

namespace nimbrel::testing_support {

inline const std::wstring RunPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const std::wstring Run32Path = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const std::wstring ApprovedRunPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
inline const std::wstring ApprovedRun32Path = ApprovedRunPath + L"32";
inline const std::wstring ApprovedFolderPath =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\StartupFolder";

inline void SetValue(HKEY Root, const std::wstring& Path, const std::wstring& Name, DWORD Type, const void* Data,
                     size_t Size) {
  TOwnedKey Key;
  ::RegCreateKeyExW(Root, Path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, Key.put(), nullptr);
  ::RegSetValueExW(Key.get(), Name.c_str(), 0, Type, static_cast<const BYTE*>(Data), static_cast<DWORD>(Size));
}
inline void SetText(HKEY Root, const std::wstring& Path, const std::wstring& Name, const std::wstring& Text) {
  SetValue(Root, Path, Name, REG_SZ, Text.c_str(), (Text.size() + 1) * sizeof(wchar_t));
}
inline void SetBytes(HKEY Root, const std::wstring& Path, const std::wstring& Name, const std::vector<uint8_t>& Bytes) {
  SetValue(Root, Path, Name, REG_BINARY, Bytes.data(), Bytes.size());
}
// The value's bytes; nullopt-like empty with Exists false when it is missing.
struct TValue {
  bool Exists = false;
  std::vector<uint8_t> Data;
};
inline TValue GetValue(HKEY Root, const std::wstring& Path, const std::wstring& Name) {
  TValue Result;
  TOwnedKey Key;
  if (::RegOpenKeyExW(Root, Path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, Key.put()) != ERROR_SUCCESS) return Result;
  DWORD Size = 0;
  if (::RegQueryValueExW(Key.get(), Name.c_str(), nullptr, nullptr, nullptr, &Size) != ERROR_SUCCESS) return Result;
  Result.Data.resize(Size);
  ::RegQueryValueExW(Key.get(), Name.c_str(), nullptr, nullptr, Result.Data.data(), &Size);
  Result.Exists = true;
  return Result;
}
inline void DeleteValue(HKEY Root, const std::wstring& Path, const std::wstring& Name) {
  TOwnedKey Key;
  if (::RegOpenKeyExW(Root, Path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, Key.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(Key.get(), Name.c_str());
  }
}

// Creates an empty file (and its folder).
inline void Touch(const std::wstring& Path) {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  std::ofstream(std::filesystem::path(Path)).put('x');
}

inline const TAutorunInfo* FindEntry(const TAutorunList& List, const std::wstring& From, const std::wstring& Target) {
  const auto Found = std::find_if(List.begin(), List.end(),
                                  [&](const TAutorunInfo& Info) { return Info.From == From && Info.Target == Target; });
  return Found == List.end() ? nullptr : &*Found;
}
inline int IndexOf(const TAutorunList& List, const std::wstring& From, const std::wstring& Target) {
  const TAutorunInfo* Found = FindEntry(List, From, Target);
  return Found == nullptr ? -1 : static_cast<int>(Found - List.data());
}

// Wine's service enumeration now and then leaves out a few services (its driver hosts come and
// go, and other services drop out with them): collect again until Wanted is there.
template <typename TPredicate>
void CollectUntil(TAutorunList& List, TPredicate Wanted, int Tries = 100) {
  for (int I = 0; I < Tries; ++I) {
    CollectAutorun(List);
    if (Wanted(List)) return;
    ::Sleep(100);
  }
}

// Switches a service and waits for its start type to show it: Wine's service manager now and
// then answers "no such service" for a moment.
inline DWORD SwitchServiceUntil(const std::wstring& Name, bool Enable, DWORD (*StartTypeOf)(const std::wstring&),
                                const std::wstring& From = L"SERV") {
  const DWORD Wanted = Enable ? SERVICE_AUTO_START : SERVICE_DISABLED;
  DWORD Type = 0;
  for (int I = 0; I < 30 && Type != Wanted; ++I) {
    SwitchAutorun(Name, From, Enable);
    Type = StartTypeOf(Name);
    if (Type != Wanted) ::Sleep(200);
  }
  return Type;
}

// A Win32 service made for a test and deleted with the object.
class TTestService {
 public:
  TTestService(const std::wstring& Name, const std::wstring& Display, DWORD Start, const std::wstring& Binary)
      : FName(Name) {
    TOwnedServiceHandle Manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Remove(Manager.get());
    TOwnedServiceHandle Service(::CreateServiceW(Manager.get(), Name.c_str(), Display.c_str(), SERVICE_ALL_ACCESS,
                                                 SERVICE_WIN32_OWN_PROCESS, Start, SERVICE_ERROR_IGNORE,
                                                 Binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    FCreated = Service.valid();
    // Wine's service manager lets a new service be opened for configuration, and lists it, only
    // some seconds after making it.
    for (int I = 0; I < 200 && FCreated && !Configurable(); ++I) ::Sleep(100);
  }
  [[nodiscard]] bool Configurable() const {
    TOwnedServiceHandle Manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    TOwnedServiceHandle Service(::OpenServiceW(Manager.get(), FName.c_str(), SERVICE_CHANGE_CONFIG));
    return Service.valid();
  }
  ~TTestService() {
    TOwnedServiceHandle Manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    Remove(Manager.get());
  }
  TTestService(const TTestService&) = delete;
  TTestService& operator=(const TTestService&) = delete;
  [[nodiscard]] bool Created() const noexcept { return FCreated; }
  // The configured start type; 0 when it cannot be read.
  [[nodiscard]] DWORD StartType() const { return StartTypeOf(FName); }
  static DWORD StartTypeOf(const std::wstring& Name) {
    TOwnedServiceHandle Manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    TOwnedServiceHandle Service(::OpenServiceW(Manager.get(), Name.c_str(), SERVICE_QUERY_CONFIG));
    std::vector<uint64_t> Buffer(1024);
    DWORD Size = 0;
    auto* Config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(Buffer.data());
    if (!Service || !::QueryServiceConfigW(Service.get(), Config, 8192, &Size)) return 0;
    return Config->dwStartType;
  }

 private:
  void Remove(SC_HANDLE Manager) {
    TOwnedServiceHandle Old(::OpenServiceW(Manager, FName.c_str(), DELETE));
    if (Old) ::DeleteService(Old.get());
  }
  std::wstring FName;
  bool FCreated = false;
};

// Stands in for the Task Scheduler: a root folder of named tasks. Records whether the caller
// held TaskServiceLock and whether any call came from outside the multithreaded apartment.
class TFakeTaskScheduler : public TTaskScheduler {
 public:
  struct TTask {
    std::wstring Name;
    bool Enabled;
  };
  std::vector<TTask> Tasks;
  // The walk fails after this many tasks (-1: never).
  int FailAfter = -1;
  bool LockWasFree = false;
  std::atomic<bool> OutsideMta{false};
  // When set, a walk sets WalkEntered (if given) and then blocks until Hold is set, deaf to any
  // stop, as a hung service would hold it.
  HANDLE Hold = nullptr;
  HANDLE WalkEntered = nullptr;

  void WalkRootTasks(const std::function<void(const std::wstring& Name, bool Enabled)>& Visit) override {
    Note();
    if (Hold != nullptr) {
      if (WalkEntered != nullptr) ::SetEvent(WalkEntered);
      ::WaitForSingleObject(Hold, INFINITE);
    }
    for (size_t I = 0; I < Tasks.size(); ++I) {
      if (FailAfter >= 0 && static_cast<int>(I) == FailAfter) return;
      Visit(Tasks[I].Name, Tasks[I].Enabled);
    }
  }
  void SetTaskEnabled(const std::wstring& Path, bool Enabled) override {
    Note();
    for (TTask& Task : Tasks) {
      if (L"\\" + Task.Name == Path) Task.Enabled = Enabled;
    }
  }

 private:
  void Note() {
    if (TaskServiceLock().try_lock()) {
      LockWasFree = true;
      TaskServiceLock().unlock();
    }
    APTTYPE Type{};
    APTTYPEQUALIFIER Qualifier{};
    if (FAILED(::CoGetApartmentType(&Type, &Qualifier)) || Type != APTTYPE_MTA) OutsideMta = true;
  }
};

// Puts a fake scheduler in place for the object's life.
class TFakeSchedulerScope {
 public:
  explicit TFakeSchedulerScope(TTaskScheduler& Fake) : FPrevious(ReplaceTaskScheduler(&Fake)) {}
  ~TFakeSchedulerScope() { ReplaceTaskScheduler(FPrevious); }
  TFakeSchedulerScope(const TFakeSchedulerScope&) = delete;
  TFakeSchedulerScope& operator=(const TFakeSchedulerScope&) = delete;

 private:
  TTaskScheduler* FPrevious;
};

}  // namespace nimbrel::testing_support
