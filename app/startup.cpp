// Module start-up, in the order later steps rely on.
#include "app/startup.h"

#include "app/translate.h"
#include "base/paths.h"
#include "base/sync.h"
#include "clean/privileges.h"
#include "startup/task_scheduler.h"
#include "theme/orvanta_style.h"

namespace nimbrel {

void InitializeModules() {
  InitMainThread();
  InitPathVariables();
  CreateTaskServiceLock();
  LoadTranslation();
  RegisterOrvantaStyle();
  EnableStartupPrivileges();
}

}  // namespace nimbrel
