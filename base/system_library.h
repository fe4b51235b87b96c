// Loading DLLs that are not the loader's known DLLs, and leaving the folder the program was
// started from.
//
// Nimbrel runs as administrator and is usually started from the Downloads folder. Any DLL in the
// import table that the loader does not take from the system by itself would first be looked for
// beside the program, so a planted copy would run elevated before the program starts. The rule:
// - the import table names only kernel32, user32, gdi32, advapi32, msvcrt, ntdll and comctl32
//   (redirected by the manifest), what the first paint needs; a test reads the built program's
//   import table and fails on others;
// - everything else (ole32, oleaut32, shell32, comdlg32 through base/system_api.h; dwmapi,
//   version, uxtheme, winhttp...) is loaded here, by its full System32 path, at its first use, and
//   its functions are found with GetProcAddress.
#pragma once

#include <windows.h>

#include <string>

namespace nimbrel {

// The DLL of that file name (e.g. L"dwmapi.dll") from the System32 folder, loaded once and kept
// for the whole run. nullptr when it cannot be loaded. Any thread.
HMODULE SystemLibrary(const wchar_t* FileName) noexcept;

// A function of a System32 DLL, nullptr when the DLL or the function is missing (older Windows).
// Usage: static const auto Fn = SystemProc<decltype(&::DwmSetWindowAttribute)>(L"dwmapi.dll",
//                                                                                "DwmSetWindowAttribute");
FARPROC SystemProcAddress(const wchar_t* FileName, const char* ProcName) noexcept;

template <typename F>
F SystemProc(const wchar_t* FileName, const char* ProcName) noexcept {
  return reinterpret_cast<F>(SystemProcAddress(FileName, ProcName));
}

// At the entry point, before anything else: later LoadLibrary calls without a full path search
// System32 only (SetDefaultDllDirectories where the system has it, else the program's folder is
// at least taken off the search with SetDllDirectoryW(L"")).
void RestrictDllSearch() noexcept;

// The System32 folder and the shared Windows folder (GetSystemWindowsDirectoryW, not a terminal
// server user's own), without a trailing backslash; empty when the system does not answer. Any
// thread.
std::wstring SystemFolder();
std::wstring WindowsFolder();

// At the entry point, right after RestrictDllSearch: makes System32 the current folder, so that
// nothing opened or started by a relative name is taken from the start folder (usually
// Downloads). False, with the current folder unchanged, when the system refuses.
bool LeaveStartFolder() noexcept;

}  // namespace nimbrel
