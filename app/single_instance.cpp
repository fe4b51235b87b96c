// Single-instance guard. One CreateMutexW both tests and claims the name, so two copies started
// at the same moment cannot both pass.
#include "app/single_instance.h"

namespace nimbrel {

bool AcquireSingleInstance(const wchar_t* Name, TOwnedHandle& Mutex) {
  Mutex.reset(::CreateMutexW(nullptr, TRUE, Name));
  const DWORD Error = ::GetLastError();
  if (Mutex && Error == ERROR_ALREADY_EXISTS) {
    Mutex.reset();
    return false;
  }
  // No handle: the name exists but is not ours to open (ERROR_ACCESS_DENIED), or the system
  // refused the mutex; the program runs either way.
  return true;
}

}  // namespace nimbrel
