// Test support: lets the thread's messages run until a page's load, handed back from its
// worker, is over.
#pragma once

#include <windows.h>

namespace nimbrel::test {

// Dispatches this thread's messages until Page.Loading() is false or Milliseconds have passed;
// true when the load is over. A WM_QUIT met on the way is put back.
template <typename TPage>
bool WaitLoaded(const TPage& Page, DWORD Milliseconds = 60000) {
  const ULONGLONG Until = ::GetTickCount64() + Milliseconds;
  while (Page.Loading()) {
    if (::GetTickCount64() >= Until) return false;
    MSG Message;
    while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
      if (Message.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(Message.wParam));
        break;
      }
      ::TranslateMessage(&Message);
      ::DispatchMessageW(&Message);
    }
    if (Page.Loading()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

}  // namespace nimbrel::test
