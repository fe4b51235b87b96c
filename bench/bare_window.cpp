// The floor for start-up time: a bare Win32 program that only opens an empty 464 x 417 window.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW Class{};
  Class.cbSize = sizeof(Class);
  Class.lpfnWndProc = [](HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) -> LRESULT {
    if (Msg == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcW(Window, Msg, WParam, LParam);
  };
  Class.hInstance = Instance;
  Class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  Class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  Class.lpszClassName = L"NimbrelBenchBare";
  ::RegisterClassExW(&Class);
  RECT Frame{0, 0, 464, 417};
  const DWORD Style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  ::AdjustWindowRectEx(&Frame, Style, FALSE, 0);
  HWND Window = ::CreateWindowExW(0, Class.lpszClassName, L"Bare", Style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  Frame.right - Frame.left, Frame.bottom - Frame.top, nullptr, nullptr, Instance, nullptr);
  ::ShowWindow(Window, SW_SHOW);
  ::UpdateWindow(Window);
  MSG Message;
  while (::GetMessageW(&Message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&Message);
    ::DispatchMessageW(&Message);
  }
  return 0;
}
