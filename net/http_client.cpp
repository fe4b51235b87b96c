// THTTP.
#include "net/http_client.h"

#include <mutex>
#include <cstdio>
#include <random>

#include "base/handle.h"
#include "base/thread.h"
#include "base/utf.h"
#include "net/http_body.h"

namespace nimbrel {

namespace {

bool SameName(const std::wstring& A, const std::wstring& B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    wchar_t X = A[I], Y = B[I];
    if (X >= L'A' && X <= L'Z') X = static_cast<wchar_t>(X + 32);
    if (Y >= L'A' && Y <= L'Z') Y = static_cast<wchar_t>(Y + 32);
    if (X != Y) return false;
  }
  return true;
}

// One exchange handed to a helper thread, shared by it and the caller until both let go.
struct TSharedExchange {
  TTransportSettings Settings;
  TCookieStore Cookies;
  TTransportRequest Request;
  TTransportCancel Cancel;
  TTransportResult Result;
  // Held while the caller's sink or progress runs; Abandoned keeps them from running once the
  // caller has given up.
  std::mutex Lock;
  bool Abandoned = false;
};

std::string MultipartQuoted(const std::wstring& Text) {
  std::string Result;
  for (const char C : WideToUtf8(Text)) {
    if (C == '"') Result += "%22";
    else if (C == '\r') Result += "%0D";
    else if (C == '\n') Result += "%0A";
    else Result += C;
  }
  return Result;
}

}  // namespace

void TMultipartFormData::AddField(const std::wstring& Name, const std::wstring& Value) {
  FParts.push_back({Name, {}, {}, WideToUtf8(Value), false});
}

void TMultipartFormData::AddFile(const std::wstring& Name, const std::wstring& FileName, std::string Content,
                                 const std::wstring& ContentType) {
  FParts.push_back({Name, FileName, ContentType.empty() ? L"application/octet-stream" : ContentType,
                    std::move(Content), true});
}

std::string TMultipartFormData::Body(const std::string& Boundary) const {
  std::string Body;
  for (const TPart& Part : FParts) {
    Body += "--" + Boundary + "\r\nContent-Disposition: form-data; name=\"" + MultipartQuoted(Part.Name) + "\"";
    if (Part.IsFile) {
      Body += "; filename=\"" + MultipartQuoted(Part.FileName) + "\"\r\nContent-Type: " + WideToUtf8(Part.ContentType);
    }
    Body += "\r\n\r\n" + Part.Content + "\r\n";
  }
  Body += "--" + Boundary + "--\r\n";
  return Body;
}

std::wstring TMultipartFormData::ContentTypeFor(const std::string& Boundary) {
  return L"multipart/form-data; boundary=" + Utf8ToWide(Boundary);
}

THTTP::THTTP() {
  SetAccept(L"text/html,application/xhtml+xml, */*");
  SetAcceptEncoding(L"gzip, deflate");
  SetAcceptLanguage(L"ko-KR");
  FSettings.HandleRedirects = true;
  FSettings.UserAgent =
      L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/126.0.0.0 "
      L"Safari/537.36";
  SetCustomHeaders(L"DNT", L"1");
  SetCustomHeaders(L"Cache-Control", L"no-cache");
}

THTTP::~THTTP() = default;

TTransportResult THTTP::Exchange(TTransportRequest Request) {
  if (FCancelEvent == nullptr) {
    TTransportCancel Cancel;
    return PerformExchange(FSettings, FCookies, Request, Cancel);
  }
  if (::WaitForSingleObject(FCancelEvent, 0) != WAIT_TIMEOUT) return TransportFailure(CancelledError);

  auto Shared = std::make_shared<TSharedExchange>();
  Shared->Settings = FSettings;
  Shared->Cookies = FCookies;
  TSharedExchange* Raw = Shared.get();
  if (Request.Sink) {
    Request.Sink = [Raw, Sink = std::move(Request.Sink)](std::string_view Piece) {
      std::lock_guard Guard(Raw->Lock);
      return !Raw->Abandoned && Sink(Piece);
    };
  }
  if (Request.Progress) {
    Request.Progress = [Raw, Progress = std::move(Request.Progress)](std::int64_t Received, std::int64_t Total) {
      std::lock_guard Guard(Raw->Lock);
      if (!Raw->Abandoned) Progress(Received, Total);
    };
  }
  Shared->Request = std::move(Request);

  const TOwnedHandle Thread = StartThread([Shared] {
    try {
      Shared->Result = PerformExchange(Shared->Settings, Shared->Cookies, Shared->Request, Shared->Cancel);
    } catch (...) {
      Shared->Result = TransportFailure(ERROR_OUTOFMEMORY);
    }
  });
  if (!Thread) {
    return PerformExchange(Shared->Settings, FCookies, Shared->Request, Shared->Cancel);
  }
  const HANDLE Waits[2] = {Thread.get(), FCancelEvent};
  if (::WaitForMultipleObjects(2, Waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
    FCookies = std::move(Shared->Cookies);
    return std::move(Shared->Result);
  }
  {
    std::lock_guard Guard(Shared->Lock);
    Shared->Abandoned = true;
  }
  Shared->Cancel.Cancel();
  return TransportFailure(CancelledError);
}

std::wstring THTTP::Request(const std::wstring& Method, const std::wstring& Url, std::string Body,
                            THttpHeaders Headers, bool Decode) {
  TTransportRequest Exchanged;
  Exchanged.Method = Method;
  Exchanged.Url = Url;
  Exchanged.Body = std::move(Body);
  Exchanged.Headers = std::move(Headers);
  Exchanged.BodyLimit = MaxDecodedBody;
  TTransportResult Result = Exchange(std::move(Exchanged));
  if (!Result.Answered) {
    FStatusCode = -1;
    return Result.Message;
  }
  FResponse = std::move(Result.Response);
  FStatusCode = FResponse->StatusCode;
  if (!Decode) return {};
  if (FResponse->BodyTooLarge) {
    FStatusCode = -1;
    return L"The response body is larger than 16 MiB";
  }
  const TDecodedBody Decoded =
      DecodeBody(FResponse->Body, CharsetOfContentType(FResponse->ContentType), FContentCharSet, FResponse->ContentEncoding);
  if (!Decoded.Ok) {
    FStatusCode = -1;
    return Decoded.Text;
  }
  if (FAllowCharSet) FContentCharSet = Decoded.Charset;
  return Decoded.Text;
}

std::wstring THTTP::Get(const std::wstring& Url) { return Request(L"GET", Url); }

std::wstring THTTP::Options(const std::wstring& Url) { return Request(L"OPTIONS", Url); }

std::wstring THTTP::Post(const std::wstring& Url, const std::wstring& Source) {
  if (ContentType().empty()) SetContentType(L"application/x-www-form-urlencoded");
  return Request(L"POST", Url, WideToUtf8(Source));
}

std::wstring THTTP::Post(const std::wstring& Url, const std::vector<std::wstring>& Source) {
  return Post(Url, FormPostText(Source, FContentCharSet));
}

std::wstring THTTP::Post(const std::wstring& Url, const TMultipartFormData& Source) {
  static std::mt19937_64 Random(std::random_device{}());
  static std::mutex RandomLock;
  std::uint64_t Value = 0;
  {
    std::lock_guard Guard(RandomLock);
    Value = Random();
  }
  char Hex[17];
  std::snprintf(Hex, sizeof(Hex), "%016llX", static_cast<unsigned long long>(Value));
  const std::string Boundary = std::string("----NimbrelFormBoundary") + Hex;
  return Request(L"POST", Url, Source.Body(Boundary), {{L"Content-Type", TMultipartFormData::ContentTypeFor(Boundary)}});
}

std::wstring THTTP::Delete(const std::wstring& Url) { return Request(L"DELETE", Url, {}, {}, false); }

std::wstring THTTP::GetCookie() const {
  std::wstring Text;
  if (!FResponse) return Text;
  for (const std::wstring& SetCookie : FResponse->SetCookies) {
    const auto [Name, Value] = SetCookieNameValue(SetCookie);
    Text += Name + L"=" + Value + L";";
  }
  return Text;
}

std::wstring THTTP::GetCookie(const std::wstring& Name) const {
  if (!FResponse) return {};
  for (const std::wstring& SetCookie : FResponse->SetCookies) {
    auto [CookieName, Value] = SetCookieNameValue(SetCookie);
    if (CookieName == Name) return Value;
  }
  return {};
}

void THTTP::SetCookie(const std::wstring& Cookie, const std::wstring& Url) {
  const std::int64_t Now = CookieClockNow();
  if (auto Parsed = ParseSetCookie(Cookie, CookieAddressOf(Url), Now)) FCookies.Add(*Parsed, Now);
}

std::wstring THTTP::GetCustomHeaders(const std::wstring& Name) const {
  for (const THttpHeader& Header : FSettings.Headers)
    if (SameName(Header.Name, Name)) return Header.Value;
  return {};
}

void THTTP::SetCustomHeaders(const std::wstring& Name, const std::wstring& Value) {
  auto& Headers = FSettings.Headers;
  for (auto It = Headers.begin(); It != Headers.end(); ++It) {
    if (!SameName(It->Name, Name)) continue;
    if (Value.empty()) Headers.erase(It);
    else It->Value = Value;
    return;
  }
  if (!Value.empty()) Headers.push_back({Name, Value});
}

void THTTP::SetProxy(const std::wstring& Host, int Port, const std::wstring& UserID, const std::wstring& UserPW) {
  FSettings.ProxyHost = Host;
  FSettings.ProxyPort = Port;
  FSettings.ProxyUser = UserID;
  FSettings.ProxyPassword = UserPW;
}

}  // namespace nimbrel
