// The program's embedded data (RCDATA resources).
#pragma once

#include <windows.h>

#include <string_view>

namespace nimbrel {

// The bytes of the RCDATA resource Name of Module (nullptr: the program's own module). They stay
// valid while the module is loaded. Empty when the resource is missing or cannot be loaded.
std::string_view LoadRcData(const wchar_t* Name, HMODULE Module = nullptr) noexcept;

}  // namespace nimbrel
