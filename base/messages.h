// Every window message of the program's own, in one place, so that no two parts pick the same
// number. All are posted, never sent across threads.
#pragma once

#include <windows.h>

namespace nimbrel {

// The hand-over window of the main thread (base/sync): LParam carries the request.
inline constexpr UINT WM_NIMBREL_SYNCHRONIZE = WM_APP + 1;
inline constexpr UINT WM_NIMBREL_QUEUE = WM_APP + 2;

// Pages: free for a page's own posted work (one range each; a page uses what it needs).
inline constexpr UINT WM_NIMBREL_AUTORUN_FIRST = WM_APP + 0x100;
inline constexpr UINT WM_NIMBREL_AUTORUN_LAST = WM_APP + 0x10F;
inline constexpr UINT WM_NIMBREL_INSTALL_FIRST = WM_APP + 0x110;
inline constexpr UINT WM_NIMBREL_INSTALL_LAST = WM_APP + 0x11F;

// The main window.
inline constexpr UINT WM_NIMBREL_MAIN_FIRST = WM_APP + 0x120;
inline constexpr UINT WM_NIMBREL_MAIN_LAST = WM_APP + 0x12F;

}  // namespace nimbrel
