// The hand-over to the main thread: a message-only window of the main thread runs the functions
// that other threads send it, and the caller waits for the answer inside SendMessageW.
#include "base/sync.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <stdexcept>

namespace nimbrel {
namespace {

constexpr UINT WM_SYNCHRONIZE = WM_USER + 1;
constexpr wchar_t WindowClassName[] = L"NimbrelSynchronize";

std::atomic<DWORD> MainThreadId{0};
std::atomic<HWND> SyncWindow{nullptr};

// One hand-over: the function to run and what it threw. Lives on the caller's stack while the
// caller waits inside SendMessageW.
struct TSyncRequest {
  const std::function<void()>* Proc;
  std::exception_ptr Error;
};

LRESULT CALLBACK SyncWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  if (Message == WM_SYNCHRONIZE) {
    auto* Request = reinterpret_cast<TSyncRequest*>(LParam);
    try {
      (*Request->Proc)();
    } catch (...) {
      Request->Error = std::current_exception();
    }
    return 0;
  }
  return ::DefWindowProcW(Window, Message, WParam, LParam);
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
  TSyncRequest Request{&Proc, nullptr};
  ::SendMessageW(Window, WM_SYNCHRONIZE, 0, reinterpret_cast<LPARAM>(&Request));
  // When the main thread has already ended, its window is gone and Proc did not run.
  if (Request.Error) std::rethrow_exception(Request.Error);
}

unsigned long WaitServingMainThread(void* Handle, unsigned long Milliseconds) {
  if (!IsMainThread()) return ::WaitForSingleObject(Handle, Milliseconds);
  const ULONGLONG Start = ::GetTickCount64();
  for (;;) {
    DWORD Remaining = INFINITE;
    if (Milliseconds != INFINITE) {
      const ULONGLONG Elapsed = ::GetTickCount64() - Start;
      Remaining = Elapsed >= Milliseconds ? 0 : static_cast<DWORD>(Milliseconds - Elapsed);
    }
    const DWORD Result = ::MsgWaitForMultipleObjectsEx(1, &Handle, Remaining, QS_SENDMESSAGE,
                                                         MWMO_INPUTAVAILABLE);
    if (Result != WAIT_OBJECT_0 + 1) return Result;
    // Peeking delivers every message sent to this thread's windows; nothing posted is removed.
    MSG Message;
    ::PeekMessageW(&Message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace nimbrel
