// The hand-over: requests are posted to a message-only window of the main thread, and a
// Synchronize caller waits on an event (and on the main thread's handle, in case it ends).
#include "base/sync.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "base/handle.h"
#include "base/messages.h"

namespace nimbrel {
namespace {

constexpr wchar_t WindowClassName[] = L"NimbrelSynchronize";

std::atomic<DWORD> MainThreadId{0};
std::atomic<HWND> SyncWindow{nullptr};
HANDLE MainThread = nullptr;  // SYNCHRONIZE handle of the main thread, kept for the whole run
std::atomic<TQueueErrorHandler> QueueErrorHandler{nullptr};

// One Synchronize call. Shared by the caller and the posted message, so that a caller that gives
// up (the main thread ended) leaves nothing dangling.
struct TSyncRequest {
  std::function<void()> Proc;
  std::exception_ptr Error;
  TOwnedHandle Done;
};

void RunSyncRequest(LPARAM LParam) {
  std::unique_ptr<std::shared_ptr<TSyncRequest>> Holder(reinterpret_cast<std::shared_ptr<TSyncRequest>*>(LParam));
  TSyncRequest& Request = **Holder;
  try {
    Request.Proc();
  } catch (...) {
    Request.Error = std::current_exception();
  }
  ::SetEvent(Request.Done.get());
}

void RunQueued(LPARAM LParam) {
  std::unique_ptr<std::function<void()>> Proc(reinterpret_cast<std::function<void()>*>(LParam));
  try {
    (*Proc)();
  } catch (...) {
    if (const TQueueErrorHandler Handler = QueueErrorHandler.load()) Handler(std::current_exception());
  }
}

LRESULT CALLBACK SyncWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  switch (Message) {
    case WM_NIMBREL_SYNCHRONIZE:
      RunSyncRequest(LParam);
      return 0;
    case WM_NIMBREL_QUEUE:
      RunQueued(LParam);
      return 0;
    default:
      return ::DefWindowProcW(Window, Message, WParam, LParam);
  }
}

}  // namespace

void InitMainThread() {
  if (MainThreadId.load() != 0) return;
  const HINSTANCE Instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW Class{};
  Class.cbSize = sizeof(Class);
  Class.lpfnWndProc = SyncWindowProc;
  Class.hInstance = Instance;
  Class.lpszClassName = WindowClassName;
  ::RegisterClassExW(&Class);
  const HWND Window = ::CreateWindowExW(0, WindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        Instance, nullptr);
  MainThread = ::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId());
  SyncWindow.store(Window);
  MainThreadId.store(::GetCurrentThreadId());
}

bool IsMainThread() {
  const DWORD Id = MainThreadId.load();
  return Id != 0 && Id == ::GetCurrentThreadId();
}

void Synchronize(const std::function<void()>& Proc) {
  if (IsMainThread()) {
    Proc();
    return;
  }
  const HWND Window = SyncWindow.load();
  if (Window == nullptr) throw std::logic_error("Synchronize: InitMainThread has not run");
  auto Request = std::make_shared<TSyncRequest>();
  Request->Proc = Proc;
  Request->Done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!Request->Done) throw std::runtime_error("Synchronize: no event");
  auto* Posted = new std::shared_ptr<TSyncRequest>(Request);
  if (!::PostMessageW(Window, WM_NIMBREL_SYNCHRONIZE, 0, reinterpret_cast<LPARAM>(Posted))) {
    delete Posted;  // the main thread's window is gone: Proc does not run
    return;
  }
  const HANDLE Waits[] = {Request->Done.get(), MainThread};
  const DWORD Count = MainThread != nullptr ? 2 : 1;
  if (::WaitForMultipleObjects(Count, Waits, FALSE, INFINITE) != WAIT_OBJECT_0) return;
  if (Request->Error) std::rethrow_exception(Request->Error);
}

bool Queue(std::function<void()> Proc) {
  const HWND Window = SyncWindow.load();
  if (Window == nullptr) return false;
  auto* Posted = new std::function<void()>(std::move(Proc));
  if (!::PostMessageW(Window, WM_NIMBREL_QUEUE, 0, reinterpret_cast<LPARAM>(Posted))) {
    delete Posted;
    return false;
  }
  return true;
}

void SetQueueErrorHandler(TQueueErrorHandler Handler) noexcept { QueueErrorHandler.store(Handler); }

unsigned long WaitServingMainThread(void* Handle, unsigned long Milliseconds) {
  if (!IsMainThread()) return ::WaitForSingleObject(Handle, Milliseconds);
  const HWND Window = SyncWindow.load();
  const ULONGLONG Start = ::GetTickCount64();
  for (;;) {
    // Serve what is already there first: MsgWaitForMultipleObjects only wakes for new input.
    MSG Message;
    while (Window != nullptr && ::PeekMessageW(&Message, Window, WM_NIMBREL_SYNCHRONIZE, WM_NIMBREL_QUEUE, PM_REMOVE))
      ::DispatchMessageW(&Message);
    DWORD Remaining = INFINITE;
    if (Milliseconds != INFINITE) {
      const ULONGLONG Elapsed = ::GetTickCount64() - Start;
      Remaining = Elapsed >= Milliseconds ? 0 : static_cast<DWORD>(Milliseconds - Elapsed);
    }
    // Only input that arrived since the last look wakes the wait, so other queued messages,
    // which stay for the message loop, do not make it spin.
    const DWORD Result = ::MsgWaitForMultipleObjectsEx(1, &Handle, Remaining, QS_POSTMESSAGE | QS_SENDMESSAGE, 0);
    if (Result != WAIT_OBJECT_0 + 1) return Result;
    if (Remaining == 0) return WAIT_TIMEOUT;
  }
}

}  // namespace nimbrel
