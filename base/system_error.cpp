// The system's text for a Win32 error code.
#include "base/system_error.h"

#include "base/handle.h"

namespace nimbrel {

std::wstring SystemErrorText(DWORD Code) {
  wchar_t* Buffer = nullptr;
  const DWORD Length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code, 0,
      reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  TOwnedLocal Owner(Buffer);
  std::wstring Text = Length != 0 && Buffer != nullptr ? std::wstring(Buffer, Length) : std::wstring();
  while (!Text.empty() && Text.back() <= L' ') Text.pop_back();
  return Text.empty() ? L"System error " + std::to_wstring(Code) : Text;
}

}  // namespace nimbrel
