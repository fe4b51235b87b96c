// The registry watcher thread: waits on the key's change notification and its stop signal
// together, re-arming the notification after each change, and reports on the main thread.
#include "base/registry.h"
#include "base/sync.h"

namespace nimbrel {

TRegistryWatcher::TRegistryWatcher(HKEY RootKey, std::wstring Key, std::function<void()> Proc, bool WatchSub)
    : FRootKey(RootKey),
      FKey(std::move(Key)),
      FProc(std::move(Proc)),
      FWatchSub(WatchSub),
      FStop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      FArmed(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  // Without a stop signal the thread could never be stopped: it is not started at all.
  if (FStop) FThread.reset(::CreateThread(nullptr, 0, &TRegistryWatcher::Run, this, 0, nullptr));
}

TRegistryWatcher::~TRegistryWatcher() {
  Terminate();
  WaitFor(INFINITE);
}

void TRegistryWatcher::Terminate() {
  FTerminated = true;
  if (FStop) ::SetEvent(FStop.get());
}

bool TRegistryWatcher::WaitFor(unsigned long Milliseconds) {
  if (!FThread) return true;
  return WaitServingMainThread(FThread.get(), Milliseconds) == WAIT_OBJECT_0;
}

bool TRegistryWatcher::WaitArmed(unsigned long Milliseconds) {
  if (!FThread || !FArmed) return true;
  const HANDLE Handles[] = {FArmed.get(), FThread.get()};
  const DWORD Result = ::WaitForMultipleObjects(2, Handles, FALSE, Milliseconds);
  return Result == WAIT_OBJECT_0 || Result == WAIT_OBJECT_0 + 1;
}

DWORD WINAPI TRegistryWatcher::Run(void* Self) {
  auto* Watcher = static_cast<TRegistryWatcher*>(Self);
  Watcher->Execute();
  if (Watcher->FArmed) ::SetEvent(Watcher->FArmed.get());
  return 0;
}

void TRegistryWatcher::Execute() {
  const TOwnedKey Key = OpenRegistryKey(FRootKey, FKey);
  if (!Key) return;
  const TOwnedHandle Changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!Changed) return;
  constexpr DWORD Filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET |
                           REG_NOTIFY_CHANGE_SECURITY;
  auto Arm = [&] {
    return ::RegNotifyChangeKeyValue(Key.get(), FWatchSub ? TRUE : FALSE, Filter, Changed.get(), TRUE) ==
           ERROR_SUCCESS;
  };
  if (!Arm()) return;
  if (FArmed) ::SetEvent(FArmed.get());
  const HANDLE Handles[] = {FStop.get(), Changed.get()};
  for (;;) {
    // The stop signal comes first, so that it wins when both are set.
    if (::WaitForMultipleObjects(2, Handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
    // Armed again before the callback, so that changes made while it runs are reported next;
    // a key that can no longer be watched (deleted, for one) reports this change and ends.
    const bool Armed = Arm();
    if (FTerminated) return;
    try {
      // Checked again on the main thread: an owner that stops the watcher there must not see
      // a callback that started afterwards.
      Synchronize([this] {
        if (!FTerminated) FProc();
      });
    } catch (...) {
      // A failing callback costs this one report, not the watcher.
    }
    if (!Armed) return;
  }
}

std::unique_ptr<TRegistryWatcher> RegistryMonitor(HKEY RootKey, const std::wstring& Key, std::function<void()> Proc,
                                                  bool WatchSub) {
  return std::make_unique<TRegistryWatcher>(RootKey, Key, std::move(Proc), WatchSub);
}

}  // namespace nimbrel
