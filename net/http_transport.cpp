// WinHTTP exchanges.
#include "net/http_transport.h"

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <optional>

#include "base/thread.h"
#include "net/winhttp_api.h"

extern "C" NTSYSAPI LONG NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW Version);

namespace nimbrel {

namespace {

struct TUrlParts {
  bool Secure = false;
  std::wstring Host;
  INTERNET_PORT Port = 0;
  std::wstring PathAndQuery;  // begins with "/"
};

std::optional<TUrlParts> CrackUrl(const TWinHttpApi& Api, const std::wstring& Url) {
  URL_COMPONENTS Parts{};
  Parts.dwStructSize = sizeof(Parts);
  Parts.dwSchemeLength = static_cast<DWORD>(-1);
  Parts.dwHostNameLength = static_cast<DWORD>(-1);
  Parts.dwUrlPathLength = static_cast<DWORD>(-1);
  Parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (Url.empty() || !Api.CrackUrl(Url.c_str(), static_cast<DWORD>(Url.size()), 0, &Parts)) return std::nullopt;
  if (Parts.nScheme != INTERNET_SCHEME_HTTP && Parts.nScheme != INTERNET_SCHEME_HTTPS) return std::nullopt;
  TUrlParts Result;
  Result.Secure = Parts.nScheme == INTERNET_SCHEME_HTTPS;
  Result.Host.assign(Parts.lpszHostName, Parts.dwHostNameLength);
  Result.Port = Parts.nPort;
  Result.PathAndQuery.assign(Parts.lpszUrlPath, Parts.dwUrlPathLength);
  Result.PathAndQuery.append(Parts.lpszExtraInfo, Parts.dwExtraInfoLength);
  if (Result.PathAndQuery.empty() || Result.PathAndQuery.front() != L'/') Result.PathAndQuery.insert(0, 1, L'/');
  if (Result.Host.empty()) return std::nullopt;
  return Result;
}

std::wstring Lower(std::wstring Text) {
  for (wchar_t& C : Text)
    if (C >= L'A' && C <= L'Z') C = static_cast<wchar_t>(C + 32);
  return Text;
}

bool SameName(const std::wstring& A, const std::wstring& B) { return Lower(A) == Lower(B); }

// One header of the answer by index (0 for the first); nullopt when there is no such header.
std::optional<std::wstring> QueryHeader(const TWinHttpApi& Api, HINTERNET Request, DWORD Info, DWORD* Index) {
  DWORD Size = 0;
  Api.QueryHeaders(Request, Info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &Size, Index);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || Size == 0) return std::nullopt;
  std::wstring Value(Size / sizeof(wchar_t) + 1, L'\0');
  if (!Api.QueryHeaders(Request, Info, WINHTTP_HEADER_NAME_BY_INDEX, Value.data(), &Size, Index)) return std::nullopt;
  Value.resize(Size / sizeof(wchar_t));
  return Value;
}

std::wstring QueryHeaderText(const TWinHttpApi& Api, HINTERNET Request, DWORD Info) {
  return QueryHeader(Api, Request, Info, WINHTTP_NO_HEADER_INDEX).value_or(L"");
}

TTransportResult Failed(DWORD Code) {
  // Wine reports a receive time-out as the socket's WSAETIMEDOUT.
  if (Code == WSAETIMEDOUT) Code = ERROR_WINHTTP_TIMEOUT;
  return TransportFailure(Code);
}

bool IsRedirect(int Status) { return Status == 301 || Status == 302 || Status == 303 || Status == 307 || Status == 308; }

// WinHTTP finds the user's proxy by itself (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) from Windows 8.1
// on. RtlGetVersion tells the true version; GetVersionExW answers by the manifest.
bool AutomaticProxySupported() noexcept {
  RTL_OSVERSIONINFOW Version{};
  Version.dwOSVersionInfoSize = sizeof(Version);
  if (RtlGetVersion(&Version) != 0) return false;
  return Version.dwMajorVersion > 6 || (Version.dwMajorVersion == 6 && Version.dwMinorVersion >= 3);
}

// Takes a string WinHTTP allocated with GlobalAlloc and frees it.
std::wstring TakeGlobalText(LPWSTR Text) {
  if (Text == nullptr) return {};
  std::wstring Result(Text);
  ::GlobalFree(Text);
  return Result;
}

// The proxy settings the user made in Windows' Internet settings.
struct TUserProxy {
  bool AutoDetect = false;
  std::wstring ScriptUrl;    // the automatic configuration script; empty when none
  std::wstring Proxy;        // the proxy server(s) as Windows keeps them; empty when none
  std::wstring Bypass;       // the addresses that go direct
};

TUserProxy ReadUserProxy(const TWinHttpApi& Api) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG Config{};
  TUserProxy User;
  if (!Api.GetIEProxyConfigForCurrentUser(&Config)) return User;  // no settings: direct
  User.AutoDetect = Config.fAutoDetect != FALSE;
  User.ScriptUrl = TakeGlobalText(Config.lpszAutoConfigUrl);
  User.Proxy = TakeGlobalText(Config.lpszProxy);
  User.Bypass = TakeGlobalText(Config.lpszProxyBypass);
  return User;
}

// Auto-detection that found no script is not tried again in this run: each try waits for the
// network's answers.
std::atomic<bool> AutoDetectFailed{false};

// How a session reaches its servers (WinHttpOpen's access type, proxy and bypass list).
struct TRoute {
  DWORD Access = WINHTTP_ACCESS_TYPE_NO_PROXY;
  std::wstring Proxy, Bypass;
};

// The route to Url by the user's settings: the script's (or auto-detection's) answer for Url,
// else the user's proxy server, else direct.
TRoute UserRoute(const TWinHttpApi& Api, const std::wstring& UserAgent, const TUserProxy& User, const std::wstring& Url) {
  WINHTTP_AUTOPROXY_OPTIONS Options{};
  if (User.AutoDetect && !AutoDetectFailed.load()) {
    Options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    Options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!User.ScriptUrl.empty()) {
    Options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    Options.lpszAutoConfigUrl = User.ScriptUrl.c_str();
  }
  if (Options.dwFlags != 0) {
    Options.fAutoLogonIfChallenged = TRUE;
    const TOwnedInternet Lookup(
        Api.Open(UserAgent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    WINHTTP_PROXY_INFO Found{};
    if (Lookup && Api.GetProxyForUrl(Lookup.get(), Url.c_str(), &Options, &Found)) {
      TRoute Route;
      Route.Proxy = TakeGlobalText(Found.lpszProxy);
      Route.Bypass = TakeGlobalText(Found.lpszProxyBypass);
      if (Found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !Route.Proxy.empty())
        Route.Access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      return Route;
    }
    if (::GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED && User.ScriptUrl.empty()) AutoDetectFailed = true;
  }
  TRoute Route;
  if (!User.Proxy.empty()) Route = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, User.Proxy, User.Bypass};
  return Route;
}

// A session of Settings for a request to Url. User is set on Windows before 8.1, where the route
// is chosen here, per address (Wine ignores a route set on a session or request once it is open).
TOwnedInternet OpenSession(const TWinHttpApi& Api, const TTransportSettings& Settings,
                           const std::optional<TUserProxy>& User, const std::wstring& Url) {
  TRoute Route;
  if (!Settings.ProxyHost.empty()) {
    Route.Access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    Route.Proxy = Settings.ProxyHost + (Settings.ProxyPort > 0 ? L":" + std::to_wstring(Settings.ProxyPort) : L"");
  } else if (User) {
    Route = UserRoute(Api, Settings.UserAgent, *User, Url);
  } else {
    Route.Access = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
  }
  const bool Named = Route.Access == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  return TOwnedInternet(Api.Open(Settings.UserAgent.c_str(), Route.Access,
                                 Named ? Route.Proxy.c_str() : WINHTTP_NO_PROXY_NAME,
                                 Named && !Route.Bypass.empty() ? Route.Bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0));
}

// The exchange's overall deadline and its stop signal: Left() tells the milliseconds that remain,
// and one guard thread expires Cancel when they run out, or cancels it when Stop is signalled
// (either closes a request a WinHTTP call waits on). One plain thread, because a thread-pool timer
// and a waiter of its own would cost a timer thread and a pool worker besides.
class TDeadline {
 public:
  TDeadline(int Total, HANDLE Stop, TTransportCancel& Cancel)
      : FStart(::GetTickCount64()), FTotal(Total) {
    if (FTotal <= 0 && Stop == nullptr) return;
    FDone.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!FDone) return;
    const DWORD Wait = FTotal <= 0 ? INFINITE : static_cast<DWORD>(FTotal);
    try {
      FThread = StartThread([&Cancel, Stop, Wait, Done = FDone.get()] {
        const HANDLE Waits[] = {Done, Stop};
        const DWORD Woken = ::WaitForMultipleObjects(Stop != nullptr ? 2 : 1, Waits, FALSE, Wait);
        if (Woken == WAIT_OBJECT_0 + 1) Cancel.Cancel();
        else if (Woken == WAIT_TIMEOUT) Cancel.Expire();
      });
    } catch (...) {
      // No guard: the time-outs cut to what is left still end the exchange.
    }
  }
  ~TDeadline() {
    if (!FThread) return;
    ::SetEvent(FDone.get());
    ::WaitForSingleObject(FThread.get(), INFINITE);
  }
  TDeadline(const TDeadline&) = delete;
  TDeadline& operator=(const TDeadline&) = delete;

  // Milliseconds left (at least 1), INT_MAX without a limit; 0 once the time has run out.
  [[nodiscard]] int Left() const noexcept {
    if (FTotal <= 0) return INT_MAX;
    const ULONGLONG Spent = ::GetTickCount64() - FStart;
    return Spent >= static_cast<ULONGLONG>(FTotal) ? 0 : static_cast<int>(FTotal - static_cast<int>(Spent));
  }
  // A step's time-out cut to what is left (WinHTTP reads 0 or less as no limit).
  [[nodiscard]] int Cut(int Timeout) const noexcept {
    const int Rest = Left();
    return Timeout <= 0 ? Rest : std::min(Timeout, Rest);
  }

 private:
  const ULONGLONG FStart;
  const int FTotal;
  TOwnedHandle FDone;
  TOwnedHandle FThread;
};

// Gives every blocking step of Request at most what is left of the deadline. False when nothing
// is left.
bool CutTimeouts(const TWinHttpApi& Api, HINTERNET Request, const TTransportSettings& Settings,
                 const TDeadline& Deadline) {
  if (Deadline.Left() == 0) return false;
  const int Connect = Deadline.Cut(Settings.ConnectionTimeout);
  const int Response = Deadline.Cut(Settings.ResponseTimeout);
  Api.SetTimeouts(Request, Connect, Connect, Response, Response);
  // Waiting for the answer's headers has a time-out of its own.
  DWORD ResponseTimeout = static_cast<DWORD>(Response);
  Api.SetOption(Request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ResponseTimeout, sizeof(ResponseTimeout));
  return true;
}

}  // namespace

void TTransportCancel::Stop(DWORD Error) noexcept {
  HINTERNET Request = nullptr;
  {
    std::lock_guard Guard(FLock);
    if (FStopError == 0) FStopError = Error;
    Request = std::exchange(FRequest, nullptr);
  }
  if (Request != nullptr) detail::CloseInternetHandle(Request);
}

void TTransportCancel::Cancel() noexcept { Stop(CancelledError); }

void TTransportCancel::Expire() noexcept { Stop(ERROR_WINHTTP_TIMEOUT); }

bool TTransportCancel::Cancelled() const noexcept { return StopError() != 0; }

DWORD TTransportCancel::StopError() const noexcept {
  std::lock_guard Guard(FLock);
  return FStopError;
}

bool TTransportCancel::Hold(HINTERNET Request) noexcept {
  {
    std::lock_guard Guard(FLock);
    if (FStopError == 0) {
      FRequest = Request;
      return true;
    }
  }
  detail::CloseInternetHandle(Request);
  return false;
}

void TTransportCancel::Close() noexcept {
  HINTERNET Request = nullptr;
  {
    std::lock_guard Guard(FLock);
    Request = std::exchange(FRequest, nullptr);
  }
  if (Request != nullptr) detail::CloseInternetHandle(Request);
}

std::wstring TransportErrorMessage(DWORD Code) {
  std::wstring Text = WinHttpErrorText(Code);
  if (Text.empty()) {
    switch (Code) {
      case ERROR_WINHTTP_TIMEOUT: Text = L"The operation timed out"; break;
      case ERROR_WINHTTP_NAME_NOT_RESOLVED: Text = L"The server name or address could not be resolved"; break;
      case ERROR_WINHTTP_CANNOT_CONNECT: Text = L"A connection with the server could not be established"; break;
      case ERROR_WINHTTP_CONNECTION_ERROR: Text = L"The connection with the server was reset or terminated"; break;
      case ERROR_WINHTTP_SECURE_FAILURE: Text = L"The server's certificate is invalid or not trusted"; break;
      case ERROR_WINHTTP_SECURE_INVALID_CA: Text = L"The server's certificate was issued by an untrusted authority"; break;
      case ERROR_WINHTTP_OPERATION_CANCELLED: Text = L"The operation was cancelled"; break;
      case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: Text = L"The URL scheme could not be recognized or is not supported"; break;
      case ERROR_WINHTTP_INVALID_URL: Text = L"The URL is invalid"; break;
      case ERROR_WINHTTP_REDIRECT_FAILED: Text = L"The redirection failed"; break;
      default: Text = L"The request failed"; break;
    }
  }
  return L"(" + std::to_wstring(Code) + L") " + Text;
}

TTransportResult TransportFailure(DWORD Code) {
  TTransportResult Result;
  Result.Error = Code;
  Result.Message = TransportErrorMessage(Code);
  return Result;
}

TCookieAddress CookieAddressOf(const std::wstring& Url) {
  TCookieAddress Address;
  const TWinHttpApi* Api = WinHttpApi();
  if (Api == nullptr) return Address;
  const auto Parts = CrackUrl(*Api, Url);
  if (!Parts) return Address;
  Address.Host = Lower(Parts->Host);
  Address.Path = Parts->PathAndQuery.substr(0, Parts->PathAndQuery.find_first_of(L"?#"));
  Address.Secure = Parts->Secure;
  return Address;
}

std::wstring ResolveLocation(const std::wstring& Base, const std::wstring& Location) {
  const size_t Colon = Location.find(L':');
  const size_t FirstSlash = Location.find(L'/');
  if (Colon != std::wstring::npos && (FirstSlash == std::wstring::npos || Colon < FirstSlash)) return Location;
  const size_t SchemeEnd = Base.find(L"://");
  if (SchemeEnd == std::wstring::npos) return Location;
  if (Location.starts_with(L"//")) return Base.substr(0, SchemeEnd + 1) + Location;
  const size_t PathStart = Base.find(L'/', SchemeEnd + 3);
  const std::wstring Origin = Base.substr(0, PathStart);
  if (Location.starts_with(L"/")) return Origin + Location;
  std::wstring Path = PathStart == std::wstring::npos ? L"/" : Base.substr(PathStart);
  Path = Path.substr(0, Path.find_first_of(L"?#"));
  if (Location.starts_with(L"?")) return Origin + Path + Location;
  return Origin + Path.substr(0, Path.rfind(L'/') + 1) + Location;
}

TTransportResult PerformExchange(const TTransportSettings& Settings, TCookieStore& Cookies,
                                 const TTransportRequest& Request, TTransportCancel& Cancel) {
  const TWinHttpApi* Api = WinHttpApi();
  if (Api == nullptr) return Failed(ERROR_MOD_NOT_FOUND);
  if (Request.Stop != nullptr && ::WaitForSingleObject(Request.Stop, 0) == WAIT_OBJECT_0) Cancel.Cancel();
  if (Cancel.Cancelled()) return Failed(Cancel.StopError());
  const TDeadline Deadline(Settings.TotalTimeout, Request.Stop, Cancel);

  const bool NamedProxy = !Settings.ProxyHost.empty();
  // Older Windows: each hop's session takes the route the user's settings give its address.
  std::optional<TUserProxy> User;
  if (!NamedProxy && !AutomaticProxySupported()) User = ReadUserProxy(*Api);
  TOwnedInternet Session;

  std::wstring Method = Request.Method;
  std::wstring Url = Request.Url;
  const std::string* Body = &Request.Body;
  const std::string NoBody;

  for (int Hop = 0;; ++Hop) {
    const auto Parts = CrackUrl(*Api, Url);
    if (!Parts) return Failed(ERROR_WINHTTP_INVALID_URL);
    if (!Session || User) {
      Session = OpenSession(*Api, Settings, User, Url);
      if (!Session) return Failed(::GetLastError());
    }
    TOwnedInternet Connection(Api->Connect(Session.get(), Parts->Host.c_str(), Parts->Port, 0));
    if (!Connection) return Failed(::GetLastError());
    HINTERNET Handle = Api->OpenRequest(Connection.get(), Method.c_str(), Parts->PathAndQuery.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        Parts->Secure ? WINHTTP_FLAG_SECURE : 0);
    if (Handle == nullptr) return Failed(::GetLastError());
    if (!Cancel.Hold(Handle)) return Failed(Cancel.StopError());
    struct TCloseAtEnd {
      TTransportCancel& Cancel;
      ~TCloseAtEnd() { Cancel.Close(); }
    } CloseAtEnd{Cancel};
    auto Fail = [&](DWORD Code) {
      if (Cancel.Cancelled()) return Failed(Cancel.StopError());
      return Failed(Deadline.Left() == 0 ? ERROR_WINHTTP_TIMEOUT : Code);
    };

    DWORD Disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS;
    Api->SetOption(Handle, WINHTTP_OPTION_DISABLE_FEATURE, &Disabled, sizeof(Disabled));
    if (!CutTimeouts(*Api, Handle, Settings, Deadline)) return Fail(ERROR_WINHTTP_TIMEOUT);
    if (NamedProxy && !Settings.ProxyUser.empty()) {
      Api->SetOption(Handle, WINHTTP_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(Settings.ProxyUser.c_str()),
                     static_cast<DWORD>(Settings.ProxyUser.size()));
      Api->SetOption(Handle, WINHTTP_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(Settings.ProxyPassword.c_str()),
                     static_cast<DWORD>(Settings.ProxyPassword.size()));
    }

    THttpHeaders Headers = Settings.Headers;
    for (const THttpHeader& Extra : Request.Headers) {
      std::erase_if(Headers, [&](const THttpHeader& Header) { return SameName(Header.Name, Extra.Name); });
      Headers.push_back(Extra);
    }
    const TCookieAddress Address = CookieAddressOf(Url);
    const std::int64_t Now = CookieClockNow();
    if (const std::wstring CookieHeader = Cookies.HeaderFor(Address, Now); !CookieHeader.empty())
      Headers.push_back({L"Cookie", CookieHeader});
    std::wstring HeaderText;
    for (const THttpHeader& Header : Headers) {
      if (Header.Value.empty() || Header.Name.empty()) continue;
      // A line break inside a value would start a header of its own.
      if (Header.Value.find_first_of(L"\r\n") != std::wstring::npos ||
          Header.Name.find_first_of(L"\r\n:") != std::wstring::npos)
        continue;
      HeaderText += Header.Name + L": " + Header.Value + L"\r\n";
    }
    if (!HeaderText.empty() &&
        !Api->AddRequestHeaders(Handle, HeaderText.c_str(), static_cast<DWORD>(HeaderText.size()),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
      return Fail(::GetLastError());

    const DWORD BodySize = static_cast<DWORD>(Body->size());
    if (!Api->SendRequest(Handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          BodySize != 0 ? const_cast<char*>(Body->data()) : WINHTTP_NO_REQUEST_DATA, BodySize, BodySize, 0))
      return Fail(::GetLastError());
    if (!Api->ReceiveResponse(Handle, nullptr)) return Fail(::GetLastError());

    TTransportResult Result;
    TTransportResponse& Response = Result.Response;
    DWORD Status = 0;
    DWORD StatusSize = sizeof(Status);
    if (!Api->QueryHeaders(Handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                           &Status, &StatusSize, WINHTTP_NO_HEADER_INDEX))
      return Fail(::GetLastError());
    Response.StatusCode = static_cast<int>(Status);
    Response.Url = Url;
    Response.ContentType = QueryHeaderText(*Api, Handle, WINHTTP_QUERY_CONTENT_TYPE);
    Response.ContentEncoding = QueryHeaderText(*Api, Handle, WINHTTP_QUERY_CONTENT_ENCODING);
    if (const std::wstring Length = QueryHeaderText(*Api, Handle, WINHTTP_QUERY_CONTENT_LENGTH); !Length.empty()) {
      try {
        Response.ContentLength = std::stoll(Length);
      } catch (...) {
        Response.ContentLength = -1;
      }
    }
    DWORD Index = 0;
    while (auto SetCookie = QueryHeader(*Api, Handle, WINHTTP_QUERY_SET_COOKIE, &Index)) {
      Response.SetCookies.push_back(*SetCookie);
      if (auto Cookie = ParseSetCookie(*SetCookie, Address, Now)) Cookies.Add(*Cookie, Now);
    }

    const std::wstring Location = QueryHeaderText(*Api, Handle, WINHTTP_QUERY_LOCATION);
    if (Settings.HandleRedirects && IsRedirect(Response.StatusCode) && !Location.empty()) {
      const std::wstring Next = ResolveLocation(Url, Location);
      const auto NextParts = CrackUrl(*Api, Next);
      const bool Downgrade = NextParts && Parts->Secure && !NextParts->Secure;
      if (NextParts && !Downgrade) {
        if (Hop + 1 > MaxRedirects) return Fail(ERROR_WINHTTP_REDIRECT_FAILED);
        if (Response.StatusCode == 303 || ((Response.StatusCode == 301 || Response.StatusCode == 302) && Method == L"POST")) {
          if (Method != L"HEAD") Method = L"GET";
          Body = &NoBody;
        }
        Url = Next;
        continue;
      }
    }

    std::int64_t Received = 0;
    std::vector<char> Buffer(64 * 1024);
    for (;;) {
      // A server that trickles its answer keeps every read short of its time-out: the deadline
      // ends it between reads.
      if (!CutTimeouts(*Api, Handle, Settings, Deadline)) return Fail(ERROR_WINHTTP_TIMEOUT);
      DWORD Available = 0;
      if (!Api->QueryDataAvailable(Handle, &Available)) return Fail(::GetLastError());
      DWORD Read = 0;
      const DWORD Wanted = static_cast<DWORD>(std::clamp<size_t>(Available, 1, Buffer.size()));
      if (!Api->ReadData(Handle, Buffer.data(), Wanted, &Read)) return Fail(::GetLastError());
      if (Read == 0) break;
      Received += Read;
      const std::string_view Piece(Buffer.data(), Read);
      bool Go = true;
      if (Request.Sink) {
        Go = Request.Sink(Piece);
      } else if (Response.Body.size() + Piece.size() > Request.BodyLimit) {
        Response.BodyTooLarge = true;
        Go = false;
      } else {
        Response.Body.append(Piece);
      }
      if (Go && Request.Progress) Request.Progress(Received, Response.ContentLength);
      if (!Go) break;
    }
    if (Cancel.Cancelled()) return Failed(Cancel.StopError());
    Result.Answered = true;
    return Result;
  }
}

}  // namespace nimbrel
