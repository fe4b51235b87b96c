// WinHTTP, loaded at run time from System32 (it is not one of the loader's known DLLs, so the
// program never imports it), and the owner of its handles.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "base/handle.h"

namespace nimbrel {

// The WinHTTP functions the client uses; every member is set when WinHttpApi answers non-null.
struct TWinHttpApi {
  decltype(&::WinHttpOpen) Open;
  decltype(&::WinHttpConnect) Connect;
  decltype(&::WinHttpOpenRequest) OpenRequest;
  decltype(&::WinHttpAddRequestHeaders) AddRequestHeaders;
  decltype(&::WinHttpSendRequest) SendRequest;
  decltype(&::WinHttpReceiveResponse) ReceiveResponse;
  decltype(&::WinHttpQueryHeaders) QueryHeaders;
  decltype(&::WinHttpQueryDataAvailable) QueryDataAvailable;
  decltype(&::WinHttpReadData) ReadData;
  decltype(&::WinHttpCloseHandle) CloseHandle;
  decltype(&::WinHttpSetOption) SetOption;
  decltype(&::WinHttpSetTimeouts) SetTimeouts;
  decltype(&::WinHttpCrackUrl) CrackUrl;
  decltype(&::WinHttpGetIEProxyConfigForCurrentUser) GetIEProxyConfigForCurrentUser;
  decltype(&::WinHttpGetProxyForUrl) GetProxyForUrl;
};

// The loaded functions, or nullptr when winhttp.dll or one of them is missing. Any thread.
const TWinHttpApi* WinHttpApi() noexcept;

// The system's text for a WinHTTP or Windows error code; empty when it has none.
std::wstring WinHttpErrorText(DWORD Code);

namespace detail {
void CloseInternetHandle(HINTERNET Handle) noexcept;
}  // namespace detail
using TOwnedInternet = TOwned<TNullHandleTraits<HINTERNET, detail::CloseInternetHandle>>;

}  // namespace nimbrel
