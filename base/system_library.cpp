// System32 DLLs loaded by full path.
#include "base/system_library.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace nimbrel {
namespace {

// The folder that Get (GetSystemDirectoryW or GetSystemWindowsDirectoryW) names, without a
// trailing backslash; empty when it does not answer.
std::wstring AskFolder(UINT(WINAPI* Get)(LPWSTR, UINT)) {
  wchar_t Folder[MAX_PATH];
  const UINT Length = Get(Folder, MAX_PATH);
  if (Length == 0 || Length >= MAX_PATH) return {};
  std::wstring Result(Folder, Length);
  if (Result.size() > 3 && Result.back() == L'\\') Result.pop_back();
  return Result;
}

}  // namespace

std::wstring SystemFolder() { return AskFolder(::GetSystemDirectoryW); }

std::wstring WindowsFolder() { return AskFolder(::GetSystemWindowsDirectoryW); }

HMODULE SystemLibrary(const wchar_t* FileName) noexcept {
  static std::mutex Lock;
  static std::unordered_map<std::wstring, HMODULE> Loaded;
  try {
    std::lock_guard Guard(Lock);
    if (auto Found = Loaded.find(FileName); Found != Loaded.end()) return Found->second;
    std::wstring Path = SystemFolder();
    if (Path.empty()) return nullptr;
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

bool LeaveStartFolder() noexcept {
  try {
    const std::wstring Folder = SystemFolder();
    return !Folder.empty() && ::SetCurrentDirectoryW(Folder.c_str());
  } catch (...) {
    return false;
  }
}

}  // namespace nimbrel
