// The one DPI-scaling helper: every size is designed at 96 DPI and goes through here.
#pragma once

#include <windows.h>

namespace nimbrel {

constexpr UINT DesignDpi = 96;

// Value (designed at 96 DPI) at Dpi, rounded to nearest.
inline int ScaleForDpi(int Value, UINT Dpi) noexcept { return ::MulDiv(Value, static_cast<int>(Dpi), DesignDpi); }

// The DPI of a window's monitor; 96 when the system cannot tell.
UINT DpiForWindow(HWND Window) noexcept;

}  // namespace nimbrel
