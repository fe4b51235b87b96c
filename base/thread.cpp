#include "base/thread.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace nimbrel {
namespace {

DWORD WINAPI RunBody(void* Parameter) {
  const std::unique_ptr<std::function<void()>> Body(static_cast<std::function<void()>*>(Parameter));
  (*Body)();
  return 0;
}

}  // namespace

TOwnedHandle StartThread(std::function<void()> Body) {
  auto Owned = std::make_unique<std::function<void()>>(std::move(Body));
  TOwnedHandle Thread(::CreateThread(nullptr, 0, RunBody, Owned.get(), 0, nullptr));
  if (Thread) {
    Owned.release();  // the thread's now
  } else {
    const DWORD Error = ::GetLastError();
    Owned.reset();
    ::SetLastError(Error);
  }
  return Thread;
}

}  // namespace nimbrel
