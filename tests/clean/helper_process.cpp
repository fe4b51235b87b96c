// A child process for the clean tests: sleeps until it is ended, or exits after a while.
// Arguments: "window" makes a visible top-level window first; "exit=MS" exits after MS ms.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

LRESULT CALLBACK HelperWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  return ::DefWindowProcW(Window, Message, WParam, LParam);
}

void MakeWindow(HINSTANCE Instance) {
  WNDCLASSW Class{};
  Class.lpfnWndProc = HelperWindowProc;
  Class.hInstance = Instance;
  Class.lpszClassName = L"NimbrelCleanHelper";
  ::RegisterClassW(&Class);
  HWND Window = ::CreateWindowExW(0, Class.lpszClassName, L"clean helper", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, Instance, nullptr);
  ::ShowWindow(Window, SW_SHOWNOACTIVATE);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR CommandLine, int) {
  const std::wstring Arguments(CommandLine);
  DWORD Lifetime = INFINITE;
  if (const size_t At = Arguments.find(L"exit="); At != std::wstring::npos)
    Lifetime = static_cast<DWORD>(std::wcstoul(Arguments.c_str() + At + 5, nullptr, 10));
  if (Arguments.find(L"window") != std::wstring::npos) MakeWindow(Instance);

  const DWORD Start = ::GetTickCount();
  for (;;) {
    const DWORD Elapsed = ::GetTickCount() - Start;
    if (Lifetime != INFINITE && Elapsed >= Lifetime) return 0;
    const DWORD Wait = Lifetime == INFINITE ? INFINITE : Lifetime - Elapsed;
    if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, Wait, QS_ALLINPUT) == WAIT_OBJECT_0) {
      MSG Message;
      while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&Message);
    }
  }
}
