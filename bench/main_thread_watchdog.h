// A watchdog for benchmarks: how long the main thread leaves its messages unanswered.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/handle.h"

namespace nimbrel::bench {

using TWatchClock = std::chrono::steady_clock;

// Measures how long the main thread is blocked: a thread posts a message to a window of the
// main thread every 10 ms and notes the longest time until it is answered. Made on the main thread.
class TWatchdog {
 public:
  TWatchdog() {
    WNDCLASSEXW Class{};
    Class.cbSize = sizeof(Class);
    Class.lpfnWndProc = [](HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) -> LRESULT {
      if (Message == WM_APP + 0x50) {
        ::SetEvent(reinterpret_cast<HANDLE>(LParam));
        return 0;
      }
      return ::DefWindowProcW(Window, Message, WParam, LParam);
    };
    Class.hInstance = ::GetModuleHandleW(nullptr);
    Class.lpszClassName = L"NimbrelBenchWatchdog";
    ::RegisterClassExW(&Class);
    FWindow = ::CreateWindowExW(0, Class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Class.hInstance, nullptr);
  }
  ~TWatchdog() { ::DestroyWindow(FWindow); }

  void Start() {
    FLongest = 0;
    ::ResetEvent(FStop.get());
    FThread = std::thread([this] {
      const HANDLE Waits[] = {FAnswered.get(), FStop.get()};
      for (;;) {
        ::ResetEvent(FAnswered.get());
        const auto Posted = TWatchClock::now();
        ::PostMessageW(FWindow, WM_APP + 0x50, 0, reinterpret_cast<LPARAM>(FAnswered.get()));
        if (::WaitForMultipleObjects(2, Waits, FALSE, INFINITE) != WAIT_OBJECT_0) return;
        FLongest = std::max(FLongest, std::chrono::duration<double, std::milli>(TWatchClock::now() - Posted).count());
        if (::WaitForSingleObject(FStop.get(), 10) == WAIT_OBJECT_0) return;
      }
    });
  }
  // The longest wait for an answer since Start (a ping unanswered at the stop not counted).
  double Stop() {
    ::SetEvent(FStop.get());
    FThread.join();
    return FLongest;
  }

 private:
  HWND FWindow = nullptr;
  TOwnedHandle FAnswered{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  TOwnedHandle FStop{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread FThread;
  double FLongest = 0;
};

}  // namespace nimbrel::bench
