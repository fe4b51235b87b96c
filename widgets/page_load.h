// The page-loading rule: a page's load never runs inside another load of the same page. A load
// asked for while one runs (a registry watcher's hand-over, a click, F5 delivered from inside the
// load) is remembered and runs once after the running load ends; several such requests give one.
// Main thread only. Pages paint their new card before a load with RedrawWindow (UpdateNow), never
// by letting pending messages run.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace nimbrel {

class TPageLoader {
 public:
  explicit TPageLoader(std::function<void()> Load) : FLoad(std::move(Load)) {}

  // Runs the load now, or, inside a running load, once after it. An exception of the load ends
  // the call (a pending request is dropped) and leaves the loader ready for the next request.
  void Request() {
    if (FLoading) {
      FPending = true;
      return;
    }
    struct TGuard {
      TPageLoader& Loader;
      ~TGuard() { Loader.FLoading = false; }
    } Guard{*this};
    FLoading = true;
    do {
      FPending = false;
      FLoad();
    } while (FPending);
  }

  [[nodiscard]] bool Loading() const noexcept { return FLoading; }

 private:
  std::function<void()> FLoad;
  bool FLoading = false;
  bool FPending = false;
};

// Paints Window and all its children now (RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN |
// RDW_UPDATENOW), without running any other message.
void PaintNow(HWND Window) noexcept;

}  // namespace nimbrel
