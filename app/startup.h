// Module start-up: the process-wide tables and settings, made once on the main thread before
// any window exists.
#pragma once

namespace nimbrel {

void InitializeModules();

}  // namespace nimbrel
