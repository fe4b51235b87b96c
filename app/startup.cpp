// Module start-up, in the order later steps rely on.
#include "app/startup.h"

#include "locale/translate.h"
#include "base/sync.h"
#include "clean/privileges.h"
#include "startup/task_scheduler.h"
#include "theme/orvanta_style.h"
#include "widgets/application.h"

namespace nimbrel {

void InitializeModules() {
  InitMainThread();
  // A function queued to the main thread that fails shows its error like an event handler's.
  SetQueueErrorHandler([](std::exception_ptr Error) { Application().HandleException(Error); });
  CreateTaskServiceLock();
  LoadTranslation();
  RegisterOrvantaStyle();
  EnableStartupPrivileges();
}

}  // namespace nimbrel
