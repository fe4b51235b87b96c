// WinHTTP's functions from System32.
#include "net/winhttp_api.h"

#include <string>

#include "base/system_library.h"

namespace nimbrel {

namespace {

constexpr wchar_t WinHttpDll[] = L"winhttp.dll";

template <typename F>
bool Load(F& Target, const char* Name) noexcept {
  Target = SystemProc<F>(WinHttpDll, Name);
  return Target != nullptr;
}

TWinHttpApi LoadApi(bool& Complete) noexcept {
  TWinHttpApi Api{};
  Complete = Load(Api.Open, "WinHttpOpen") && Load(Api.Connect, "WinHttpConnect") &&
             Load(Api.OpenRequest, "WinHttpOpenRequest") && Load(Api.AddRequestHeaders, "WinHttpAddRequestHeaders") &&
             Load(Api.SendRequest, "WinHttpSendRequest") && Load(Api.ReceiveResponse, "WinHttpReceiveResponse") &&
             Load(Api.QueryHeaders, "WinHttpQueryHeaders") &&
             Load(Api.QueryDataAvailable, "WinHttpQueryDataAvailable") && Load(Api.ReadData, "WinHttpReadData") &&
             Load(Api.CloseHandle, "WinHttpCloseHandle") && Load(Api.SetOption, "WinHttpSetOption") &&
             Load(Api.SetTimeouts, "WinHttpSetTimeouts") &&
             Load(Api.CrackUrl, "WinHttpCrackUrl") &&
             Load(Api.GetIEProxyConfigForCurrentUser, "WinHttpGetIEProxyConfigForCurrentUser") &&
             Load(Api.GetProxyForUrl, "WinHttpGetProxyForUrl");
  return Api;
}

}  // namespace

const TWinHttpApi* WinHttpApi() noexcept {
  static bool Complete = false;
  static const TWinHttpApi Api = LoadApi(Complete);
  return Complete ? &Api : nullptr;
}

std::wstring WinHttpErrorText(DWORD Code) {
  wchar_t* Buffer = nullptr;
  DWORD Length = 0;
  const DWORD Flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (const HMODULE Module = SystemLibrary(WinHttpDll); Module != nullptr && Code >= WINHTTP_ERROR_BASE &&
                                                         Code <= WINHTTP_ERROR_LAST) {
    Length = ::FormatMessageW(Flags | FORMAT_MESSAGE_FROM_HMODULE, Module, Code, 0,
                              reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  }
  if (Length == 0) {
    Length = ::FormatMessageW(Flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, Code, 0,
                              reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  }
  std::wstring Text(Buffer != nullptr ? Buffer : L"", Length);
  if (Buffer != nullptr) ::LocalFree(Buffer);
  while (!Text.empty() && (Text.back() == L'\n' || Text.back() == L'\r' || Text.back() == L' ')) Text.pop_back();
  return Text;
}

namespace detail {
void CloseInternetHandle(HINTERNET Handle) noexcept {
  if (const TWinHttpApi* Api = WinHttpApi(); Api != nullptr) Api->CloseHandle(Handle);
}
}  // namespace detail

}  // namespace nimbrel
