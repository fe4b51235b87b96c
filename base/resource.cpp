// RCDATA resources.
#include "base/resource.h"

namespace nimbrel {

std::string_view LoadRcData(const wchar_t* Name, HMODULE Module) noexcept {
  if (Module == nullptr) Module = ::GetModuleHandleW(nullptr);
  HRSRC Found = ::FindResourceW(Module, Name, MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (Found == nullptr) return {};
  HGLOBAL Loaded = ::LoadResource(Module, Found);
  const DWORD Size = ::SizeofResource(Module, Found);
  const void* Data = Loaded != nullptr ? ::LockResource(Loaded) : nullptr;
  if (Data == nullptr) return {};
  return std::string_view(static_cast<const char*>(Data), Size);
}

}  // namespace nimbrel
