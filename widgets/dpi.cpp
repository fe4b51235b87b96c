// Per-monitor DPI, with the Windows 10 calls looked up at run time (older systems lack them).
#include "widgets/dpi.h"

namespace nimbrel {

UINT DpiForWindow(HWND Window) noexcept {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto GetDpi = reinterpret_cast<TGetDpiForWindow>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"));
  if (GetDpi != nullptr && Window != nullptr) {
    const UINT Dpi = GetDpi(Window);
    if (Dpi != 0) return Dpi;
  }
  HDC Screen = ::GetDC(nullptr);
  const int Dpi = Screen != nullptr ? ::GetDeviceCaps(Screen, LOGPIXELSX) : 0;
  if (Screen != nullptr) ::ReleaseDC(nullptr, Screen);
  return Dpi > 0 ? static_cast<UINT>(Dpi) : DesignDpi;
}

}  // namespace nimbrel
