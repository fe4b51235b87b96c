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

// The same rule for a load that ends later, when a worker's result has been handed over: Start
// begins a load (and may finish it at once by calling Finished itself); the page calls Finished
// when the load's result is in. A request while a load is under way is remembered and starts
// the next load from Finished; several such requests give one. Main thread only.
class TAsyncPageLoader {
 public:
  explicit TAsyncPageLoader(std::function<void()> Start) : FStart(std::move(Start)) {}

  // Starts a load now, or once after the load under way. An exception of Start ends the call
  // (a pending request is dropped) and leaves the loader ready for the next request.
  void Request() {
    if (FLoading) {
      FPending = true;
      return;
    }
    Begin();
  }

  // The load under way is over; a remembered request starts the next one now.
  void Finished() {
    FLoading = false;
    if (FStarting || !FPending) return;  // inside Start, Begin starts the next one
    Begin();
  }

  // True from the start of a load until its Finished.
  [[nodiscard]] bool Loading() const noexcept { return FLoading; }

 private:
  void Begin() {
    struct TGuard {
      TAsyncPageLoader& Loader;
      bool Done = false;
      ~TGuard() {
        Loader.FStarting = false;
        if (!Done) Loader.FLoading = Loader.FPending = false;
      }
    } Guard{*this};
    FStarting = true;
    do {
      FPending = false;
      FLoading = true;
      FStart();
    } while (!FLoading && FPending);
    Guard.Done = true;
  }

  std::function<void()> FStart;
  bool FLoading = false;
  bool FPending = false;
  bool FStarting = false;
};

// Paints Window and all its children now (RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN |
// RDW_UPDATENOW), without running any other message.
void PaintNow(HWND Window) noexcept;

}  // namespace nimbrel
