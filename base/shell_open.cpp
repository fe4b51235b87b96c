// ShellOpen over ShellExecuteW.
#include "base/shell_open.h"

#include <windows.h>
#include <shellapi.h>

namespace nimbrel {

void ShellOpen(const std::wstring& Target) {
  ::ShellExecuteW(nullptr, L"open", Target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace nimbrel
