// Worker threads that keep alive what they work on.
#pragma once

#include <functional>

#include "base/handle.h"

namespace nimbrel {

// Starts a thread that runs Body and then destroys it there, so that what Body holds (a job's
// shared_ptr, say) lives until the thread is done with it, whenever its other holders let go.
// Body must not throw. The thread's handle; empty when no thread can be made, Body then destroyed
// here and the system's reason left in GetLastError.
TOwnedHandle StartThread(std::function<void()> Body);

}  // namespace nimbrel
