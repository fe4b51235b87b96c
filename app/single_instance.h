// One running copy per desktop session, guarded by a named mutex.
#pragma once

#include "base/handle.h"

namespace nimbrel {

inline constexpr wchar_t InstanceMutexName[] = L"NimbrelMutex";

// Creates the named mutex. False when it already existed (another copy runs). When the mutex
// exists but cannot be opened (a copy under other rights), this copy runs as well. Mutex keeps
// the handle; the caller holds it until the process ends.
bool AcquireSingleInstance(const wchar_t* Name, TOwnedHandle& Mutex);

}  // namespace nimbrel
