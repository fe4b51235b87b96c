// WebRequest.
#include "net/web_request.h"

#include "net/http_client.h"
#include "net/identity.h"

namespace nimbrel {

std::wstring WebRequest(const std::wstring& Url, const std::wstring& Body, HANDLE Cancel) {
  THTTP Http;
  Http.SetCancelEvent(Cancel);
  Http.SetCustomHeaders(L"User-Version", GetAppVersion(L"%d.%d.%d.%d"));
  Http.SetCustomHeaders(L"User-Union", GetUserUnion());
  if (Body.empty()) return Http.Get(Url);
  Http.SetContentType(L"application/json");
  return Http.Post(Url, Body);
}

}  // namespace nimbrel
