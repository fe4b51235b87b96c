// Test support: a thread that answers this process's dialogs and message boxes (for the
// shell's error box, say) as they appear.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace nimbrel::test {

// Closes the message boxes of this process as they appear, and counts them.
class TBoxCloser {
 public:
  TBoxCloser() : FThread([this] { Run(); }) {}
  ~TBoxCloser() {
    FStop = true;
    FThread.join();
  }
  int Closed() const { return FClosed; }

 private:
  void Run() {
    while (!FStop) {
      ::EnumWindows(
          [](HWND Window, LPARAM Data) -> BOOL {
            DWORD Process = 0;
            ::GetWindowThreadProcessId(Window, &Process);
            wchar_t Class[16] = {};
            ::GetClassNameW(Window, Class, 16);
            if (Process == ::GetCurrentProcessId() && std::wstring(Class) == L"#32770" && ::IsWindowVisible(Window)) {
              ::PostMessageW(Window, WM_COMMAND, IDOK, 0);
              ++reinterpret_cast<TBoxCloser*>(Data)->FClosed;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(this));
      ::Sleep(100);
    }
  }
  std::atomic<bool> FStop{false};
  std::atomic<int> FClosed{0};
  std::thread FThread;
};

}  // namespace nimbrel::test
