// The start-up check's request and the hold request.
#include "update/update_check.h"

#include <windows.h>

#include <vector>

#include "base/handle.h"
#include "base/thread.h"
#include "base/utf.h"
#include "locale/translate.h"
#include "net/endpoints.h"
#include "net/http_cookies.h"
#include "net/http_transport.h"
#include "net/identity.h"

namespace nimbrel {

bool RequestInit(const TInitHeaders& Headers, std::wstring& Answer, HANDLE Stop) {
  TTransportSettings Settings;
  Settings.UserAgent = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64)";
  for (const TInitHeader& Header : Headers) Settings.Headers.push_back({Header.Name, Header.Value});
  TTransportRequest Request;
  Request.Method = L"GET";
  Request.Url = InitCheckUrl();
  Request.BodyLimit = InitAnswerLimit;
  TCookieStore Cookies;
  Request.Stop = Stop;  // the request gives way to Stop
  TTransportCancel Cancel;
  const TTransportResult Result = PerformExchange(Settings, Cookies, Request, Cancel);
  if (!Result.Answered || Result.Response.BodyTooLarge) return false;
  Answer = Utf8ToWide(Result.Response.Body);
  return true;
}

TInitHeaders InitCheckHeaders() {
  return {{L"User-Version", GetAppVersion(L"%d.%d.%d.%d")},
          {L"User-Language", CurrentLanguage()},
          {L"User-Debug", L"false"},
          {L"User-Union", GetUserUnion()}};
}

namespace {

// The hold requests' threads. Main thread only.
std::vector<TOwnedHandle>& HoldRequests() {
  static std::vector<TOwnedHandle> Threads;
  return Threads;
}

}  // namespace

void StartHoldRequest() {
  try {
    TOwnedHandle Thread = StartThread([] {
      try {
        std::wstring Ignored;
        RequestInit({{L"User-Version", GetAppVersion(L"%d.%d.%d.%d")}, {L"User-Command", L"hold"}}, Ignored, nullptr);
      } catch (...) {
        // Not told: the service simply asks again next time.
      }
    });
    if (Thread) HoldRequests().push_back(std::move(Thread));
  } catch (...) {
    // No thread: the service simply asks again next time.
  }
}

bool WaitHoldRequests(DWORD Milliseconds) {
  const ULONGLONG Until = ::GetTickCount64() + Milliseconds;
  for (const TOwnedHandle& Thread : HoldRequests()) {
    const ULONGLONG Now = ::GetTickCount64();
    const DWORD Left = Now >= Until ? 0 : static_cast<DWORD>(Until - Now);
    if (::WaitForSingleObject(Thread.get(), Left) != WAIT_OBJECT_0) return false;
  }
  return true;
}

}  // namespace nimbrel
