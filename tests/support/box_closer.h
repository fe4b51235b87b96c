// Test support: a thread that answers this process's dialogs and message boxes (for the
// shell's error box, say) as they appear.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nimbrel::test {

// Closes the message boxes of this process as they appear, counts them and keeps their texts.
class TBoxCloser {
 public:
  TBoxCloser() : FThread([this] { Run(); }) {}
  ~TBoxCloser() {
    FStop = true;
    FThread.join();
  }
  int Closed() const { return FClosed; }
  // The texts of the boxes closed so far, in order: each box's static texts, joined by "|".
  std::vector<std::wstring> Texts() const {
    std::lock_guard Guard(FLock);
    return FTexts;
  }

 private:
  static std::wstring BoxText(HWND Box) {
    std::wstring Text;
    for (HWND Child = ::GetWindow(Box, GW_CHILD); Child != nullptr; Child = ::GetWindow(Child, GW_HWNDNEXT)) {
      wchar_t Class[16] = {};
      ::GetClassNameW(Child, Class, 16);
      wchar_t Line[1024] = {};
      if (::lstrcmpiW(Class, L"Static") != 0 || ::GetWindowTextW(Child, Line, 1024) == 0) continue;
      if (!Text.empty()) Text += L'|';
      Text += Line;
    }
    return Text;
  }

  void Run() {
    while (!FStop) {
      ::EnumWindows(
          [](HWND Window, LPARAM Data) -> BOOL {
            DWORD Process = 0;
            ::GetWindowThreadProcessId(Window, &Process);
            wchar_t Class[16] = {};
            ::GetClassNameW(Window, Class, 16);
            if (Process == ::GetCurrentProcessId() && std::wstring(Class) == L"#32770" && ::IsWindowVisible(Window)) {
              auto* Self = reinterpret_cast<TBoxCloser*>(Data);
              {
                std::lock_guard Guard(Self->FLock);
                Self->FTexts.push_back(BoxText(Window));
              }
              ::PostMessageW(Window, WM_COMMAND, IDOK, 0);
              ++Self->FClosed;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(this));
      ::Sleep(100);
    }
  }
  std::atomic<bool> FStop{false};
  std::atomic<int> FClosed{0};
  mutable std::mutex FLock;
  std::vector<std::wstring> FTexts;
  std::thread FThread;
};

}  // namespace nimbrel::test
