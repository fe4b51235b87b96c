// System32 DLLs loaded by full path.
#include "base/system_library.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace nimbrel {

HMODULE SystemLibrary(const wchar_t* FileName) noexcept {
  static std::mutex Lock;
  static std::unordered_map<std::wstring, HMODULE> Loaded;
  try {
    std::lock_guard Guard(Lock);
    if (auto Found = Loaded.find(FileName); Found != Loaded.end()) return Found->second;
    wchar_t Folder[MAX_PATH];
    const UINT Length = ::GetSystemDirectoryW(Folder, MAX_PATH);
    if (Length == 0 || Length >= MAX_PATH) return nullptr;
    std::wstring Path(Folder, Length);
    Path += L'\\';
    Path += FileName;
    // LOAD_LIBRARY_SEARCH_SYSTEM32 keeps the DLL's own imports in System32 too, where supported.
    HMODULE Module = ::LoadLibraryExW(Path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (Module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER)
      Module = ::LoadLibraryExW(Path.c_str(), nullptr, 0);  // a system without the search flags
    if (Module != nullptr) Loaded.emplace(FileName, Module);
    return Module;
  } catch (...) {
    return nullptr;
  }
}

FARPROC SystemProcAddress(const wchar_t* FileName, const char* ProcName) noexcept {
  const HMODULE Module = SystemLibrary(FileName);
  return Module != nullptr ? ::GetProcAddress(Module, ProcName) : nullptr;
}

void RestrictDllSearch() noexcept {
  using TSetDefault = BOOL(WINAPI*)(DWORD);
  const auto SetDefault = reinterpret_cast<TSetDefault>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"));
  if (SetDefault != nullptr && SetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  ::SetDllDirectoryW(L"");
}

}  // namespace nimbrel
