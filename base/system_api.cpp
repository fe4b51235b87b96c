// System functions found at their first use.
#include "base/system_api.h"

#include <shlobj.h>

#include <cstring>

#include "base/system_library.h"

namespace nimbrel::api {
namespace {

constexpr wchar_t Ole32[] = L"ole32.dll";
constexpr wchar_t OleAut32[] = L"oleaut32.dll";
constexpr wchar_t Shell32[] = L"shell32.dll";
constexpr wchar_t ComDlg32[] = L"comdlg32.dll";

struct TEntry {
  const char* Name;
  const wchar_t* Dll;
};
constexpr TEntry Entries[] = {
    {"CoInitializeEx", Ole32},          {"CoUninitialize", Ole32},       {"CoCreateInstance", Ole32},
    {"CoInitializeSecurity", Ole32},    {"SysAllocString", OleAut32},    {"SysAllocStringLen", OleAut32},
    {"SysFreeString", OleAut32},        {"SysStringLen", OleAut32},      {"VariantClear", OleAut32},
    {"SHGetFolderPathW", Shell32},      {"ShellExecuteExW", Shell32},    {"ExtractAssociatedIconW", Shell32},
    {"GetSaveFileNameW", ComDlg32},
};

// The function of that name from its DLL; nullptr when either is missing.
FARPROC Find(const char* Name) noexcept {
  for (const TEntry& Entry : Entries)
    if (std::strcmp(Entry.Name, Name) == 0) return SystemProcAddress(Entry.Dll, Name);
  return nullptr;
}

template <typename F>
F Find(const char* Name) noexcept {
  return reinterpret_cast<F>(Find(Name));
}

constexpr HRESULT NotFound = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

// Value, with ERROR_PROC_NOT_FOUND as the last error.
template <typename T>
T Missing(T Value) noexcept {
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return Value;
}

}  // namespace

HRESULT CoInitializeEx(void* Reserved, DWORD Model) noexcept {
  static const auto Fn = Find<decltype(&::CoInitializeEx)>("CoInitializeEx");
  return Fn != nullptr ? Fn(Reserved, Model) : NotFound;
}

void CoUninitialize() noexcept {
  static const auto Fn = Find<decltype(&::CoUninitialize)>("CoUninitialize");
  if (Fn != nullptr) Fn();
}

HRESULT CoCreateInstance(REFCLSID Class, IUnknown* Outer, DWORD Context, REFIID Interface, void** Object) noexcept {
  static const auto Fn = Find<decltype(&::CoCreateInstance)>("CoCreateInstance");
  if (Fn != nullptr) return Fn(Class, Outer, Context, Interface, Object);
  if (Object != nullptr) *Object = nullptr;
  return NotFound;
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR Descriptor, LONG AuthServices, SOLE_AUTHENTICATION_SERVICE* Services,
                             void* Reserved1, DWORD AuthnLevel, DWORD ImpLevel, void* AuthList, DWORD Capabilities,
                             void* Reserved3) noexcept {
  static const auto Fn = Find<decltype(&::CoInitializeSecurity)>("CoInitializeSecurity");
  return Fn != nullptr ? Fn(Descriptor, AuthServices, Services, Reserved1, AuthnLevel, ImpLevel, AuthList, Capabilities,
                            Reserved3)
                       : NotFound;
}

BSTR SysAllocString(const OLECHAR* Text) noexcept {
  static const auto Fn = Find<decltype(&::SysAllocString)>("SysAllocString");
  return Fn != nullptr ? Fn(Text) : Missing<BSTR>(nullptr);
}

BSTR SysAllocStringLen(const OLECHAR* Text, UINT Length) noexcept {
  static const auto Fn = Find<decltype(&::SysAllocStringLen)>("SysAllocStringLen");
  return Fn != nullptr ? Fn(Text, Length) : Missing<BSTR>(nullptr);
}

void SysFreeString(BSTR Text) noexcept {
  static const auto Fn = Find<decltype(&::SysFreeString)>("SysFreeString");
  if (Fn != nullptr) Fn(Text);
}

UINT SysStringLen(BSTR Text) noexcept {
  static const auto Fn = Find<decltype(&::SysStringLen)>("SysStringLen");
  return Fn != nullptr ? Fn(Text) : Missing<UINT>(0);
}

HRESULT VariantClear(VARIANTARG* Value) noexcept {
  static const auto Fn = Find<decltype(&::VariantClear)>("VariantClear");
  return Fn != nullptr ? Fn(Value) : NotFound;
}

HRESULT SHGetFolderPathW(HWND Owner, int Folder, HANDLE Token, DWORD Flags, LPWSTR Path) noexcept {
  static const auto Fn = Find<decltype(&::SHGetFolderPathW)>("SHGetFolderPathW");
  return Fn != nullptr ? Fn(Owner, Folder, Token, Flags, Path) : NotFound;
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* Info) noexcept {
  static const auto Fn = Find<decltype(&::ShellExecuteExW)>("ShellExecuteExW");
  return Fn != nullptr ? Fn(Info) : Missing<BOOL>(FALSE);
}

HICON ExtractAssociatedIconW(HINSTANCE Instance, LPWSTR Path, WORD* Index) noexcept {
  static const auto Fn = Find<decltype(&::ExtractAssociatedIconW)>("ExtractAssociatedIconW");
  return Fn != nullptr ? Fn(Instance, Path, Index) : Missing<HICON>(nullptr);
}

BOOL GetSaveFileNameW(OPENFILENAMEW* Dialog) noexcept {
  static const auto Fn = Find<decltype(&::GetSaveFileNameW)>("GetSaveFileNameW");
  return Fn != nullptr ? Fn(Dialog) : Missing<BOOL>(FALSE);
}

bool Available(const char* Name) noexcept { return Find(Name) != nullptr; }

}  // namespace nimbrel::api

namespace nimbrel {

bool JoinComApartment() noexcept {
  thread_local bool Joined = false;  // this thread's apartment was made here and is kept
  if (Joined) return true;
  const HRESULT Result = api::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (Result == S_OK) {
    Joined = true;
    return true;
  }
  // Already in an apartment: whoever made it keeps it, and this call's count is given back.
  if (Result == S_FALSE) api::CoUninitialize();
  return Result == S_FALSE || Result == RPC_E_CHANGED_MODE;
}

}  // namespace nimbrel
