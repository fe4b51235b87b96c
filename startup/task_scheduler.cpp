// The shared Task Scheduler 2.0 connection and the scheduler that walks and switches root-folder
// tasks through it.
#include "startup/task_scheduler.h"

#include <windows.h>
#include <objbase.h>
#include <taskschd.h>

#include <exception>

#include "base/handle.h"
#include "base/system_library.h"
#include "base/thread.h"

namespace nimbrel {
namespace {

constexpr CLSID ClsidTaskScheduler = {0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
constexpr IID IidTaskService = {0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};

// Not an owner object: it must be released before COM goes, never by a static destructor.
ITaskService* GService = nullptr;
TTaskScheduler* GReplacement = nullptr;

// The connection lives in the multithreaded apartment, which ends (and frees the DLLs it loaded)
// with the last thread in it. The apartment is kept for the connection's life where the system
// can (Windows 8 and later); elsewhere the connection is released after each use (GTransient).
using TMtaCookie = void*;  // CO_MTA_USAGE_COOKIE, looked up at run time
TMtaCookie GMtaCookie = nullptr;
bool GTransient = false;

void ReleaseService() {
  if (GService != nullptr) {
    GService->Release();
    GService = nullptr;
  }
  GTransient = false;
  if (GMtaCookie != nullptr) {
    static const auto Decrement = SystemProc<HRESULT(WINAPI*)(TMtaCookie)>(L"ole32.dll", "CoDecrementMTAUsage");
    if (Decrement != nullptr) Decrement(GMtaCookie);
    GMtaCookie = nullptr;
  }
}

// Keeps the multithreaded apartment for the connection about to be made; false where it cannot.
bool KeepMta() {
  static const auto Increment = SystemProc<HRESULT(WINAPI*)(TMtaCookie*)>(L"ole32.dll", "CoIncrementMTAUsage");
  return Increment != nullptr && SUCCEEDED(Increment(&GMtaCookie));
}

// Releases a connection whose apartment is not kept once a use of it is over.
struct TEndUse {
  ~TEndUse() {
    if (GTransient) ReleaseService();
  }
};

// Makes and connects the shared ITaskService when it does not exist yet; a failure leaves it
// absent and a later use tries again. Under TaskServiceLock, in the multithreaded apartment.
// True when it exists.
bool ConnectTaskService() {
  if (GService != nullptr) return true;
  GTransient = !KeepMta();
  const HRESULT Security = api::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                                     RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (FAILED(Security) && Security != RPC_E_TOO_LATE) {
    ReleaseService();
    return false;
  }
  ITaskService* Service = nullptr;
  if (FAILED(api::CoCreateInstance(ClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                   IidTaskService, reinterpret_cast<void**>(&Service))) ||
      Service == nullptr) {
    ReleaseService();
    return false;
  }
  TOwnedVariant Server, User, Domain, Password;
  if (FAILED(Service->Connect(*Server.get(), *User.get(), *Domain.get(), *Password.get()))) {
    Service->Release();
    ReleaseService();
    return false;
  }
  GService = Service;
  return true;
}

// Runs Body in the multithreaded apartment: here when this thread is in it or can join it for
// the call, else on a thread of its own that the caller waits for (Body does not run when no
// thread can be made). An exception of Body is raised again here.
void InMultithreadedApartment(const std::function<void()>& Body) {
  const HRESULT Joined = api::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(Joined)) {
    struct TLeave {
      ~TLeave() { api::CoUninitialize(); }
    } Leave;
    Body();
    return;
  }
  std::exception_ptr Error;
  const TOwnedHandle Thread = StartThread([&Body, &Error] {
    const TComScope Com(COINIT_MULTITHREADED);
    try {
      if (Com.ok()) Body();
    } catch (...) {
      Error = std::current_exception();
    }
  });
  if (!Thread) return;
  ::WaitForSingleObject(Thread.get(), INFINITE);
  if (Error) std::rethrow_exception(Error);
}

// The root folder of the connected service; empty on failure.
TComPtr<ITaskFolder> RootFolder() {
  TComPtr<ITaskFolder> Folder;
  if (GService == nullptr) return Folder;
  TOwnedBstr Root(api::SysAllocString(L"\\"));
  if (!Root || FAILED(GService->GetFolder(Root.get(), Folder.put()))) Folder.reset();
  return Folder;
}

class TComTaskScheduler final : public TTaskScheduler {
 public:
  void WalkRootTasks(const std::function<void(const std::wstring& Name, bool Enabled)>& Visit) override {
    const TEndUse EndUse;
    if (!ConnectTaskService()) return;
    TComPtr<ITaskFolder> Folder = RootFolder();
    if (!Folder) return;
    TComPtr<IRegisteredTaskCollection> Tasks;
    if (FAILED(Folder.get()->GetTasks(0, Tasks.put())) || !Tasks) return;
    LONG Count = 0;
    if (FAILED(Tasks.get()->get_Count(&Count))) return;
    for (LONG I = 1; I <= Count; ++I) {
      VARIANT Index{};
      V_VT(&Index) = VT_I4;
      V_I4(&Index) = I;
      TComPtr<IRegisteredTask> Task;
      if (FAILED(Tasks.get()->get_Item(Index, Task.put())) || !Task) return;
      TOwnedBstr Name;
      if (FAILED(Task.get()->get_Name(Name.put()))) return;
      VARIANT_BOOL Enabled = VARIANT_FALSE;
      if (FAILED(Task.get()->get_Enabled(&Enabled))) return;
      Visit(Name ? std::wstring(Name.get(), api::SysStringLen(Name.get())) : std::wstring(), Enabled != VARIANT_FALSE);
    }
  }

  void SetTaskEnabled(const std::wstring& Path, bool Enabled) override {
    const TEndUse EndUse;
    if (!ConnectTaskService()) return;
    TComPtr<ITaskFolder> Folder = RootFolder();
    if (!Folder) return;
    TOwnedBstr Name(api::SysAllocStringLen(Path.data(), static_cast<UINT>(Path.size())));
    TComPtr<IRegisteredTask> Task;
    if (!Name || FAILED(Folder.get()->GetTask(Name.get(), Task.put())) || !Task) return;
    Task.get()->put_Enabled(Enabled ? VARIANT_TRUE : VARIANT_FALSE);
  }
};

}  // namespace

void CreateTaskServiceLock() { TaskServiceLock(); }

std::mutex& TaskServiceLock() {
  static std::mutex Lock;
  return Lock;
}

void UseTaskScheduler(const std::function<void(TTaskScheduler& Scheduler)>& Use) {
  const std::lock_guard<std::mutex> Guard(TaskServiceLock());
  TTaskScheduler& Scheduler = TaskScheduler();
  InMultithreadedApartment([&] { Use(Scheduler); });
}

void DisconnectTaskService() {
  const std::lock_guard<std::mutex> Guard(TaskServiceLock());
  if (GService == nullptr && GMtaCookie == nullptr) return;
  InMultithreadedApartment(ReleaseService);
}

TTaskScheduler& TaskScheduler() {
  static TComTaskScheduler Real;
  return GReplacement != nullptr ? *GReplacement : Real;
}

TTaskScheduler* ReplaceTaskScheduler(TTaskScheduler* Scheduler) noexcept {
  TTaskScheduler* Previous = GReplacement;
  GReplacement = Scheduler;
  return Previous;
}

}  // namespace nimbrel
