// The collection for a worker that must give way: the same entries as CollectAutorun, with a
// stop question asked as it goes.
#pragma once

#include <functional>

#include "startup/autorun.h"

namespace nimbrel {

// True when the caller is to give way (its window is going away).
using TStopQuery = std::function<bool()>;

// CollectAutorun, asking Stopped before each source and before each service (Wine's service
// manager takes several calls per service). Once Stopped answers true the collection ends and
// List holds the entries collected so far. Stopped is asked between two appends, on the
// collecting thread, so it may read List as it is then. Any thread; a worker has COM initialised for the
// multithreaded apartment (startup/task_scheduler.h).
void CollectAutorun(TAutorunList& List, const TStopQuery& Stopped);

}  // namespace nimbrel
