// Program entry: start-up, the single-instance guard, the main window and its message loop.
#include <windows.h>

#include "app/frm_nimbrel.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "base/shell_open.h"
#include "base/system_library.h"
#include "update/update_check.h"
#include "startup/task_scheduler.h"
#include "widgets/application.h"

#include <cstdlib>

// A windowed program has no standard error for the C++ runtime's verbose terminate handler to
// print to; this one ends the process the same way, and keeps the runtime's name demangler (and
// the formatted output it needs) out of the program.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace nimbrel;
  // Before anything can load a DLL: nothing is ever loaded from the program's own folder.
  RestrictDllSearch();
  // The start folder is usually Downloads: nothing the program starts or opens by a relative name
  // may come from there.
  LeaveStartFolder();
  // COM starts on the main thread only when something there needs it (JoinComApartment).
  InitializeModules();

  TOwnedHandle Mutex;  // lives until the process ends
  if (!AcquireSingleInstance(InstanceMutexName, Mutex)) return 0;

  try {
    TFrmNimbrel Window(nullptr, nullptr, RequestInit);
    Application().Run(Window);
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
  // A hold request started as the window closed still leaves, unless the service is too slow.
  WaitHoldRequests(HoldRequestWait);
  DisconnectTaskService();
  // An address just handed to the shell (the report page after a clean) still opens.
  WaitForShellOpens(ShellOpenExitWaitMilliseconds);
  return 0;
}
