// The shared Task Scheduler 2.0 connection and the scheduler that walks and switches root-folder
// tasks through it.
#include "startup/task_scheduler.h"

#include <windows.h>
#include <objbase.h>
#include <taskschd.h>


#include "base/handle.h"

namespace nimbrel {
namespace {

constexpr CLSID ClsidTaskScheduler = {0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
constexpr IID IidTaskService = {0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};

// Not an owner object: it must be released before COM goes, never by a static destructor.
ITaskService* GService = nullptr;
bool GComInitialised = false;
TTaskScheduler* GReplacement = nullptr;

void UndoCom() {
  if (GComInitialised) {
    ::CoUninitialize();
    GComInitialised = false;
  }
}

// The root folder of the connected service; empty on failure.
TComPtr<ITaskFolder> RootFolder() {
  TComPtr<ITaskFolder> Folder;
  if (GService == nullptr) return Folder;
  TOwnedBstr Root(::SysAllocString(L"\\"));
  if (!Root || FAILED(GService->GetFolder(Root.get(), Folder.put()))) Folder.reset();
  return Folder;
}

class TComTaskScheduler final : public TTaskScheduler {
 public:
  void WalkRootTasks(const std::function<void(const std::wstring& Name, bool Enabled)>& Visit) override {
    if (!ConnectTaskService()) return;
    TComPtr<ITaskFolder> Folder = RootFolder();
    if (!Folder) return;
    TComPtr<IRegisteredTaskCollection> Tasks;
    if (FAILED(Folder.get()->GetTasks(0, Tasks.put())) || !Tasks) return;
    LONG Count = 0;
    if (FAILED(Tasks.get()->get_Count(&Count))) return;
    for (LONG I = 1; I <= Count; ++I) {
      VARIANT Index;
      ::VariantInit(&Index);
      V_VT(&Index) = VT_I4;
      V_I4(&Index) = I;
      TComPtr<IRegisteredTask> Task;
      if (FAILED(Tasks.get()->get_Item(Index, Task.put())) || !Task) return;
      TOwnedBstr Name;
      if (FAILED(Task.get()->get_Name(Name.put()))) return;
      VARIANT_BOOL Enabled = VARIANT_FALSE;
      if (FAILED(Task.get()->get_Enabled(&Enabled))) return;
      Visit(Name ? std::wstring(Name.get(), ::SysStringLen(Name.get())) : std::wstring(), Enabled != VARIANT_FALSE);
    }
  }

  void SetTaskEnabled(const std::wstring& Path, bool Enabled) override {
    if (!ConnectTaskService()) return;
    TComPtr<ITaskFolder> Folder = RootFolder();
    if (!Folder) return;
    TOwnedBstr Name(::SysAllocStringLen(Path.data(), static_cast<UINT>(Path.size())));
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

bool ConnectTaskService() {
  if (GService != nullptr) return true;
  const HRESULT Init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (Init == S_OK) {
    GComInitialised = true;
  } else if (Init != S_FALSE && Init != RPC_E_CHANGED_MODE) {
    return false;
  }
  const HRESULT Security = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (FAILED(Security) && Security != RPC_E_TOO_LATE) {
    UndoCom();
    return false;
  }
  ITaskService* Service = nullptr;
  if (FAILED(::CoCreateInstance(ClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IidTaskService,
                                reinterpret_cast<void**>(&Service))) ||
      Service == nullptr) {
    UndoCom();
    return false;
  }
  TOwnedVariant Server, User, Domain, Password;
  if (FAILED(Service->Connect(*Server.get(), *User.get(), *Domain.get(), *Password.get()))) {
    Service->Release();
    UndoCom();
    return false;
  }
  GService = Service;
  return true;
}

void DisconnectTaskService() {
  const std::lock_guard<std::mutex> Guard(TaskServiceLock());
  if (GService != nullptr) {
    GService->Release();
    GService = nullptr;
  }
  UndoCom();
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
