// The functions of ole32, oleaut32, shell32 and comdlg32 that the program calls, found in System32
// at their first use instead of through the import table: the program starts without loading
// these DLLs (and all they load in turn), and no copy planted beside the program is ever taken.
//
// Each function behaves like the system's function of the same name. When its DLL or the function
// cannot be found, it fails the way the system's function reports a failure, with the reason
// ERROR_PROC_NOT_FOUND: as HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), or as the last error next to
// the failure value (FALSE, nullptr); SysFreeString and CoUninitialize then do nothing.
// Any thread.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <oleauto.h>
#include <shellapi.h>

namespace nimbrel::api {

HRESULT CoInitializeEx(void* Reserved, DWORD Model) noexcept;
void CoUninitialize() noexcept;
HRESULT CoCreateInstance(REFCLSID Class, IUnknown* Outer, DWORD Context, REFIID Interface, void** Object) noexcept;
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR Descriptor, LONG AuthServices, SOLE_AUTHENTICATION_SERVICE* Services,
                             void* Reserved1, DWORD AuthnLevel, DWORD ImpLevel, void* AuthList, DWORD Capabilities,
                             void* Reserved3) noexcept;

BSTR SysAllocString(const OLECHAR* Text) noexcept;
BSTR SysAllocStringLen(const OLECHAR* Text, UINT Length) noexcept;
void SysFreeString(BSTR Text) noexcept;
UINT SysStringLen(BSTR Text) noexcept;
HRESULT VariantClear(VARIANTARG* Value) noexcept;

HRESULT SHGetFolderPathW(HWND Owner, int Folder, HANDLE Token, DWORD Flags, LPWSTR Path) noexcept;
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* Info) noexcept;
HICON ExtractAssociatedIconW(HINSTANCE Instance, LPWSTR Path, WORD* Index) noexcept;

BOOL GetSaveFileNameW(OPENFILENAMEW* Dialog) noexcept;

// Whether the function of that name (one of the above, e.g. "GetSaveFileNameW") can be called:
// for a caller that must tell a missing function from the function's own failure.
bool Available(const char* Name) noexcept;

}  // namespace nimbrel::api

namespace nimbrel {

// Puts the calling thread into COM's single-threaded apartment for the rest of its life, the
// first time it is asked (later calls return at once). For the main thread, before it calls what
// may hand over to COM (the shell's dialogs, its "execute", the desktop shell's dispatch object):
// COM starts only once something needs it. True when the thread is in an apartment (one it was
// in already counts, of either kind); false when COM cannot start, ole32 not found included.
bool JoinComApartment() noexcept;

}  // namespace nimbrel
