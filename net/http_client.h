// THTTP: the program's HTTP client. Text in, text out: browser-like default headers, a cookie
// store of its own, redirects followed, gzip bodies inflated, bodies decoded as UTF-8 or EUC-KR,
// and every failure turned into status -1 with the error's message as the result text. Server
// certificates are checked by the system: one it does not trust fails like any transport failure.
// An instance is used by one thread at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "net/http_cookies.h"
#include "net/http_transport.h"

namespace nimbrel {

using TDownloadProgress = std::function<void(int32_t Received, int32_t Total)>;

// The parts of a multipart/form-data post, in order.
class TMultipartFormData {
 public:
  void AddField(const std::wstring& Name, const std::wstring& Value);
  // A file part: Content is sent as it is, under FileName with ContentType
  // ("application/octet-stream" when empty).
  void AddFile(const std::wstring& Name, const std::wstring& FileName, std::string Content,
               const std::wstring& ContentType = {});
  // The body for Boundary, and the Content-Type that announces it.
  [[nodiscard]] std::string Body(const std::string& Boundary) const;
  static std::wstring ContentTypeFor(const std::string& Boundary);

 private:
  struct TPart {
    std::wstring Name, FileName, ContentType;
    std::string Content;
    bool IsFile = false;
  };
  std::vector<TPart> FParts;
};

class THTTP {
 public:
  THTTP();
  ~THTTP();
  THTTP(const THTTP&) = delete;
  THTTP& operator=(const THTTP&) = delete;

  // Requests. Each returns the decoded body of the answer whatever its status (Delete: empty
  // text on success); on a failure StatusCode becomes -1 and the result is the error's message.
  std::wstring Get(const std::wstring& Url);
  std::wstring Options(const std::wstring& Url);
  // The UTF-8 bytes of Source, no byte-order mark. An empty "Content-Type" is first set to
  // "application/x-www-form-urlencoded" (and stays set).
  std::wstring Post(const std::wstring& Url, const std::wstring& Source);
  // A form post of "name=value" lines (FormPostText), sent as the text post above.
  std::wstring Post(const std::wstring& Url, const std::vector<std::wstring>& Source);
  // A multipart/form-data post; its Content-Type goes with this request only.
  std::wstring Post(const std::wstring& Url, const TMultipartFormData& Source);
  std::wstring Delete(const std::wstring& Url);
  void Get(const std::wstring& Url, std::wstring& Result) { Result = Get(Url); }
  void Post(const std::wstring& Url, const std::wstring& Source, std::wstring& Result) { Result = Post(Url, Source); }
  void Post(const std::wstring& Url, const std::vector<std::wstring>& Source, std::wstring& Result) {
    Result = Post(Url, Source);
  }

  // GET with the body written to Stream as it arrives (no size limit). Proc, when given, is
  // called after each piece with the bytes received so far and the announced total (-1 when not
  // announced), each cut to 32 bits, on the thread that receives. True exactly when the status is
  // 200; false on any failure. StatusCode and the last response are left as they were.
  bool Download(const std::wstring& Url, std::ostream& Stream, TDownloadProgress Proc = {});

  // The cookies of the last response: "name=value;" for each, in order; empty before the first.
  std::wstring GetCookie() const;
  // The value of the last response's first cookie named exactly Name; empty when none.
  std::wstring GetCookie(const std::wstring& Name) const;
  // Adds a server cookie text (as in a Set-Cookie header) for Url to the store.
  void SetCookie(const std::wstring& Cookie, const std::wstring& Url);

  // A request header by name (ASCII case ignored); empty when not set. Setting an empty value
  // removes it. Headers stay set for every later request of the instance.
  std::wstring GetCustomHeaders(const std::wstring& Name) const;
  void SetCustomHeaders(const std::wstring& Name, const std::wstring& Value);

  std::wstring Accept() const { return GetCustomHeaders(L"Accept"); }
  void SetAccept(const std::wstring& Value) { SetCustomHeaders(L"Accept", Value); }
  std::wstring AcceptEncoding() const { return GetCustomHeaders(L"Accept-Encoding"); }
  void SetAcceptEncoding(const std::wstring& Value) { SetCustomHeaders(L"Accept-Encoding", Value); }
  std::wstring AcceptLanguage() const { return GetCustomHeaders(L"Accept-Language"); }
  void SetAcceptLanguage(const std::wstring& Value) { SetCustomHeaders(L"Accept-Language", Value); }
  std::wstring ContentType() const { return GetCustomHeaders(L"Content-Type"); }
  void SetContentType(const std::wstring& Value) { SetCustomHeaders(L"Content-Type", Value); }

  const std::wstring& UserAgent() const noexcept { return FSettings.UserAgent; }
  void SetUserAgent(const std::wstring& Value) { FSettings.UserAgent = Value; }
  bool HandleRedirects() const noexcept { return FSettings.HandleRedirects; }
  void SetHandleRedirects(bool Value) noexcept { FSettings.HandleRedirects = Value; }
  int ConnectionTimeOut() const noexcept { return FSettings.ConnectionTimeout; }
  void SetConnectionTimeOut(int Milliseconds) noexcept { FSettings.ConnectionTimeout = Milliseconds; }
  int ResponseTimeout() const noexcept { return FSettings.ResponseTimeout; }
  void SetResponseTimeout(int Milliseconds) noexcept { FSettings.ResponseTimeout = Milliseconds; }
  // The whole request, redirects and a slowly trickling answer included (120 s at first); when it
  // runs out the request fails with the time-out's message. 0 or less: no such limit.
  int TotalTimeout() const noexcept { return FSettings.TotalTimeout; }
  void SetTotalTimeout(int Milliseconds) noexcept { FSettings.TotalTimeout = Milliseconds; }
  // Proxy host and port for every later request, no scheme; an empty host uses the user's
  // proxy settings.
  void SetProxy(const std::wstring& Host, int Port, const std::wstring& UserID, const std::wstring& UserPW);

  // When true, the charset each decoded response was decoded by becomes ContentCharSet.
  bool AllowCharSet() const noexcept { return FAllowCharSet; }
  void SetAllowCharSet(bool Value) noexcept { FAllowCharSet = Value; }
  // The charset assumed when a response declares none ("utf-8" at first); also chooses the value
  // encoding of form posts.
  const std::wstring& ContentCharSet() const noexcept { return FContentCharSet; }
  void SetContentCharSet(const std::wstring& Value) { FContentCharSet = Value; }
  // Kept and returned only.
  bool DetectEncoding() const noexcept { return FDetectEncoding; }
  void SetDetectEncoding(bool Value) noexcept { FDetectEncoding = Value; }

  // The status of the last request; 0 before the first, -1 after a failed one.
  int StatusCode() const noexcept { return FStatusCode; }

  // A manual-reset event that cancels requests: while it is set, or once it becomes set, a
  // request gives way at once (status -1 and the cancellation message; Download false): the
  // exchange runs on a helper thread, the caller waits for it or for Cancel, and a cancelled
  // exchange has its WinHTTP request closed from the caller's thread and is left to end on its
  // own; nothing of it reaches the instance or the caller's stream afterwards. nullptr (the
  // default) runs exchanges on the calling thread. The event must outlive the instance's requests.
  void SetCancelEvent(HANDLE Event) noexcept { FCancelEvent = Event; }

 private:
  TTransportResult Exchange(TTransportRequest Request);
  std::wstring Request(const std::wstring& Method, const std::wstring& Url, std::string Body = {},
                       THttpHeaders Headers = {}, bool DecodeBody = true);

  bool FAllowCharSet = false;
  TTransportSettings FSettings;
  TCookieStore FCookies;
  std::optional<TTransportResponse> FResponse;
  TDownloadProgress FReceiveProc;
  std::wstring FContentCharSet = L"utf-8";
  int32_t FStatusCode = 0;
  bool FDetectEncoding = false;
  HANDLE FCancelEvent = nullptr;
};

}  // namespace nimbrel
