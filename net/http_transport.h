// One HTTP exchange through WinHTTP, synchronous, with the client's own cookie store and
// redirects followed by hand (so that cookies set on the way are kept), and the means to cancel
// it from another thread.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_cookies.h"

namespace nimbrel {

struct THttpHeader {
  std::wstring Name, Value;
};
using THttpHeaders = std::vector<THttpHeader>;

// The client's settings, taken for one exchange.
struct TTransportSettings {
  std::wstring UserAgent;
  THttpHeaders Headers;  // sent with every request, in this order; empty values are left out
  bool HandleRedirects = true;
  int ConnectionTimeout = 60000;  // milliseconds
  int ResponseTimeout = 60000;    // milliseconds, for sending and for receiving
  // Milliseconds for the whole exchange, redirects included, however slowly the answer trickles
  // in; 0 or less: no limit beyond the time-outs above.
  int TotalTimeout = 120000;
  // Empty: the user's proxy settings (Windows 8.1 and later: WinHTTP's automatic proxy; older:
  // the user's Internet settings, with their configuration script or auto-detection).
  std::wstring ProxyHost;
  int ProxyPort = 0;
  std::wstring ProxyUser, ProxyPassword;
};

struct TTransportResponse {
  int StatusCode = 0;
  std::wstring Url;  // the address that answered (after redirects)
  std::wstring ContentType, ContentEncoding;
  std::vector<std::wstring> SetCookies;  // the Set-Cookie texts of the final answer, in order
  std::int64_t ContentLength = -1;       // as announced; -1 when not announced
  std::string Body;                      // unless a sink took it
  bool BodyTooLarge = false;             // reading stopped at the body limit
};

struct TTransportResult {
  bool Answered = false;  // a response arrived (Response is valid); otherwise Error and Message
  DWORD Error = 0;
  std::wstring Message;
  TTransportResponse Response;
};

// Called with each piece of the body as it arrives; false stops reading (no failure).
using TBodySink = std::function<bool(std::string_view Piece)>;
// Called after each piece with the bytes received so far and the announced total (-1 unknown).
using TBodyProgress = std::function<void(std::int64_t Received, std::int64_t Total)>;

// Cancels an exchange from another thread: Cancel closes the exchange's open request handle,
// which makes a waiting WinHTTP call return, and keeps any later step from starting. The
// exchange's own deadline stops it the same way (Expire). One instance serves one exchange.
class TTransportCancel {
 public:
  // Any thread.
  void Cancel() noexcept;
  // Any thread: as Cancel, for an exchange whose time ran out.
  void Expire() noexcept;
  // Stopped by Cancel or Expire.
  [[nodiscard]] bool Cancelled() const noexcept;
  // The failure of a stopped exchange: CancelledError, or ERROR_WINHTTP_TIMEOUT when Expire came
  // first; 0 while it is not stopped.
  [[nodiscard]] DWORD StopError() const noexcept;

  // The exchange's thread: hands over the open request handle (closed by Cancel or Close).
  // False, with the handle closed, when already cancelled.
  bool Hold(HINTERNET Request) noexcept;
  // The exchange's thread: closes the held handle unless Cancel has.
  void Close() noexcept;

 private:
  void Stop(DWORD Error) noexcept;

  mutable std::mutex FLock;
  DWORD FStopError = 0;
  HINTERNET FRequest = nullptr;
};

struct TTransportRequest {
  std::wstring Method;
  std::wstring Url;
  std::string Body;
  THttpHeaders Headers;  // for this request only, after the settings' ones (replacing same names)
  // Where the body goes; null keeps it in Response.Body, up to BodyLimit bytes.
  TBodySink Sink;
  std::size_t BodyLimit = SIZE_MAX;
  TBodyProgress Progress;
  // When signalled (another thread's event), the exchange gives way as if Cancel were called.
  HANDLE Stop = nullptr;
};

// The text of a transport failure: "(code) system text".
std::wstring TransportErrorMessage(DWORD Code);
// A result that carries the failure Code and its message.
TTransportResult TransportFailure(DWORD Code);
inline constexpr DWORD CancelledError = ERROR_WINHTTP_OPERATION_CANCELLED;
inline constexpr int MaxRedirects = 10;

// Performs Request on the calling thread: cookies from Cookies are sent and the answers' cookies
// stored there; redirects (301, 302, 303, 307, 308) are followed up to MaxRedirects when the
// settings say so (POST becomes GET on 301, 302 and 303; https never goes on to http: that answer
// is returned as it is). Certificates are checked by the system. Each step's time-outs are cut to
// what is left of Settings.TotalTimeout, and a guard thread closes the request when it runs out
// (the exchange then fails with ERROR_WINHTTP_TIMEOUT) or when Request.Stop is signalled.
TTransportResult PerformExchange(const TTransportSettings& Settings, TCookieStore& Cookies,
                                 const TTransportRequest& Request, TTransportCancel& Cancel);

// The cookie view of an address; Host empty when Url cannot be cracked.
TCookieAddress CookieAddressOf(const std::wstring& Url);
// Location resolved against Base (absolute, "//host...", "/path" or relative to Base's folder).
std::wstring ResolveLocation(const std::wstring& Base, const std::wstring& Location);

}  // namespace nimbrel
