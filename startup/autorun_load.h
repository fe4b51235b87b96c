// One load of the Startup page off the main thread: the collection, its merge with a copy of the
// rows, and each new row's display name and icon. What needs the page's window (the image list,
// the icon cache, the rows of the list control) stays with the page, which applies the result.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/handle.h"
#include "base/list_rows.h"
#include "startup/autorun.h"
#include "startup/autorun_collect.h"
#include "startup/autorun_rows.h"

namespace nimbrel {

// What a load starts from: copies taken on the main thread when it starts.
struct TAutorunLoadInput {
  // The page's rows. They change only when a load's result is applied, so they are still these
  // when this load's result comes in.
  std::vector<TAutorunItem> Rows;
  bool ShowAll = false;
  TStringList FileWhite;
  TStringList NameWhite;
  // The page's icon cache: icon location key to image index.
  std::map<std::wstring, int> IconCache;
};

// An icon that no row had shown yet, for the page to append to its images and cache.
struct TAutorunNewIcon {
  std::wstring Key;
  TOwnedIcon Icon;
};

struct TAutorunLoadResult {
  TAutorunList Entries;  // the collection, in collection order
  TAutorunMerge Merge;   // against the input's rows
  // One per Merge.Appended, in that order. Icon is final unless NewRowIcon names a new icon.
  std::vector<TAutorunItem> NewRows;
  // Per new row: the index in NewIcons of the icon it shows, -1 when its Icon is final.
  std::vector<int> NewRowIcon;
  std::vector<TAutorunNewIcon> NewIcons;
  // The load gave way to a stop, or its collector failed (Error): nothing of it is shown.
  bool Stopped = false;
  std::exception_ptr Error;
};

// Fills List (replacing it), asking Stopped as it goes, between two appends (as CollectAutorun
// does: at each ask the entries so far can be read).
using TAutorunCollector = std::function<void(TAutorunList& List, const TStopQuery& Stopped)>;

// The worker's part of a load: collects, merges with Input.Rows, and makes the new rows: a task
// shows the clock and its caption, a service the gears and its caption, any other entry the
// product name of its file (else its caption) and its file's icon (the registry image for an
// empty location, the blank document for a missing file or one without an icon). Each file's
// version resource and each icon location are read once per load, by a second thread while the
// collection goes on (from what Collect has appended each time it asks Stopped), the rest after
// it. Any thread. An exception of Collect is returned in Error.
TAutorunLoadResult PrepareAutorunLoad(const TAutorunLoadInput& Input, const TAutorunCollector& Collect,
                                      const TStopQuery& Stopped);

// One load on a worker thread of its own (COM initialised for the multithreaded apartment, as the
// Task Scheduler connection wants it). The job is freed when both the worker and the last holder
// on the main thread have let go of it.
class TAutorunLoadJob : public std::enable_shared_from_this<TAutorunLoadJob> {
 public:
  // Main thread; receives the result unless the job was stopped first.
  using TDone = std::function<void(TAutorunLoadResult& Result)>;

  // Main thread. Starts the worker, which hands its result to Done with one Queue call (Done
  // runs in the main thread's message loop). nullptr when no thread can be made.
  static std::shared_ptr<TAutorunLoadJob> Start(TAutorunLoadInput Input, TAutorunCollector Collect, TDone Done);

  // Main thread: Done will not run, and the worker gives way as soon as it can.
  void Stop() noexcept;
  // Main thread: waits for the worker while serving hand-overs (so a worker inside Synchronize
  // can finish); true when it has ended.
  bool Wait(DWORD Milliseconds);

  TAutorunLoadJob(TAutorunLoadInput Input, TAutorunCollector Collect, TDone Done);

 private:
  void Run();

  TAutorunLoadInput FInput;
  TAutorunCollector FCollect;
  TDone FDone;
  TOwnedHandle FThread;
  TOwnedHandle FStop;
  bool FStopped = false;  // main thread only
};

}  // namespace nimbrel
