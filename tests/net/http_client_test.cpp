// THTTP against the test server of http_server.py (started by with-server.sh).
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>
#include <vector>

#include "base/handle.h"
#include "base/utf.h"
#include "net/http_cookies.h"
#include "net/http_transport.h"
#include "tests/net/http_test_server.h"

namespace nimbrel {
namespace {

using test::EnvText;
using test::ServerUrl;

// The header lines and body of an /echo answer.
struct TEcho {
  std::wstring RequestLine;
  std::vector<std::wstring> Headers;
  std::wstring Body;
  [[nodiscard]] bool Has(const std::wstring& Line) const {
    return std::find(Headers.begin(), Headers.end(), Line) != Headers.end();
  }
  // The value of the first header named Name (exact case); empty when none.
  [[nodiscard]] std::wstring Value(const std::wstring& Name) const {
    for (const auto& Line : Headers)
      if (Line.starts_with(Name + L": ")) return Line.substr(Name.size() + 2);
    return {};
  }
};

TEcho ParseEcho(const std::wstring& Text) {
  TEcho Echo;
  const size_t End = Text.find(L"\n\n");
  std::wstring Head = Text.substr(0, End);
  Echo.Body = End == std::wstring::npos ? L"" : Text.substr(End + 2);
  size_t Start = 0;
  bool First = true;
  while (Start <= Head.size()) {
    const size_t Next = Head.find(L'\n', Start);
    const std::wstring Line = Head.substr(Start, Next == std::wstring::npos ? std::wstring::npos : Next - Start);
    if (First) Echo.RequestLine = Line;
    else Echo.Headers.push_back(Line);
    First = false;
    if (Next == std::wstring::npos) break;
    Start = Next + 1;
  }
  return Echo;
}

class HttpClient : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ServerUrl().empty()) GTEST_SKIP() << "no test server (run through tests/net/with-server.sh)";
  }
};

TEST_F(HttpClient, DefaultHeadersAsTheServerSeesThem) {
  THTTP Http;
  EXPECT_EQ(Http.StatusCode(), 0);
  Http.SetCustomHeaders(L"X-Extra", L"one");
  const TEcho Echo = ParseEcho(Http.Get(ServerUrl(L"echo?x=1")));
  EXPECT_EQ(Http.StatusCode(), 200);
  EXPECT_EQ(Echo.RequestLine, L"GET /echo?x=1");
  for (const wchar_t* Line :
       {L"Accept: text/html,application/xhtml+xml, */*", L"Accept-Encoding: gzip, deflate", L"Accept-Language: ko-KR",
        L"User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
        L"Chrome/126.0.0.0 Safari/537.36",
        L"DNT: 1", L"Cache-Control: no-cache", L"X-Extra: one"})
    EXPECT_TRUE(Echo.Has(Line)) << testing::PrintToString(Line);
  EXPECT_EQ(Echo.Value(L"Cookie"), L"") << "no cookies yet";
  EXPECT_EQ(Echo.Value(L"Content-Type"), L"");
  // Headers set on the instance stay set; an empty value removes one.
  Http.SetCustomHeaders(L"x-extra", L"");
  Http.SetAcceptLanguage(L"en");
  const TEcho Again = ParseEcho(Http.Get(ServerUrl(L"echo")));
  EXPECT_EQ(Again.Value(L"X-Extra"), L"");
  EXPECT_EQ(Again.Value(L"Accept-Language"), L"en");
  EXPECT_EQ(Again.Value(L"DNT"), L"1");
}

TEST_F(HttpClient, ErrorPagesAreBodiesLikeAnyOther) {
  THTTP Http;
  EXPECT_EQ(Http.Get(ServerUrl(L"status/404")), L"<html><body><h1>404</h1></body></html>");
  EXPECT_EQ(Http.StatusCode(), 404);
  EXPECT_EQ(Http.Get(ServerUrl(L"status/500")), L"<html><body><h1>500</h1></body></html>");
  EXPECT_EQ(Http.StatusCode(), 500);
}

TEST_F(HttpClient, ContentEncodingAndSizeLimit) {
  struct TCase {
    const wchar_t* Path;
    int Status;
    bool Inflated;
  };
  const TCase Cases[] = {
      {L"gzip?encoding=gzip", 200, true},    {L"gzip?encoding=GZIP", 200, false},
      {L"gzip?encoding=deflate", 200, false}, {L"broken-gzip", -1, false},
      {L"bomb", -1, false},                   {L"big", -1, false},
  };
  for (const TCase& Case : Cases) {
    THTTP Http;
    const std::wstring Text = Http.Get(ServerUrl(Case.Path));
    EXPECT_EQ(Http.StatusCode(), Case.Status) << Case.Path;
    EXPECT_EQ(Text == L"Gzipped text: 한글", Case.Inflated) << Case.Path;
    if (Case.Status == -1) {
      EXPECT_FALSE(Text.empty()) << "the failure's message: " << Case.Path;
    }
  }
}

TEST_F(HttpClient, Charsets) {
  struct TCase {
    const wchar_t* Query;
    const wchar_t* Charset;  // ContentCharSet afterwards with AllowCharSet
  };
  const TCase Cases[] = {
      {L"hex=ed959ceab880&type=text/html;%20charset=UTF-8", L"utf-8"},
      {L"hex=c7d1b1db&type=text/html;%20charset=utf8", L"utf8"},
      {L"hex=c7d1b1db&type=text/html;%20charset=ISO-8859-1", L"iso-8859-1"},
      {L"hex=c7d1b1db&type=text/html;%20charset=euc-kr", L"euc-kr"},
      {L"hex=ed959ceab880&type=text/html;%20charset=euc-kr", L"utf-8"},
      {L"hex=ed959ceab880", L"utf-8"},
  };
  for (const TCase& Case : Cases) {
    THTTP Http;
    Http.SetAllowCharSet(true);
    EXPECT_EQ(Http.Get(ServerUrl(L"bytes?") + Case.Query), L"한글") << Case.Query;
    EXPECT_EQ(Http.ContentCharSet(), Case.Charset) << Case.Query;
  }
  THTTP Kept;
  Kept.Get(ServerUrl(L"bytes?hex=c7d1b1db&type=text/html;%20charset=euc-kr"));
  EXPECT_EQ(Kept.ContentCharSet(), L"utf-8") << "without AllowCharSet the charset stays";
  Kept.SetContentCharSet(L"euc-kr");
  EXPECT_EQ(Kept.Get(ServerUrl(L"bytes?hex=c7d1b1db")), L"한글") << "no declared charset: ContentCharSet";
}

TEST_F(HttpClient, TextFormAndMultipartPosts) {
  THTTP Fresh;
  TEcho Echo = ParseEcho(Fresh.Post(ServerUrl(L"echo"), std::wstring(L"{\"k\":\"한\"}")));
  EXPECT_EQ(Echo.RequestLine, L"POST /echo");
  EXPECT_EQ(Echo.Value(L"Content-Type"), L"application/x-www-form-urlencoded");
  EXPECT_EQ(Echo.Body, L"{\"k\":\"한\"}") << "UTF-8 without a byte-order mark";
  EXPECT_EQ(Echo.Value(L"Content-Length"), L"11");
  EXPECT_EQ(Fresh.ContentType(), L"application/x-www-form-urlencoded") << "stays set";

  THTTP Json;
  Json.SetContentType(L"application/json");
  Echo = ParseEcho(Json.Post(ServerUrl(L"echo"), std::wstring(L"[]")));
  EXPECT_EQ(Echo.Value(L"Content-Type"), L"application/json");

  THTTP Form;
  Echo = ParseEcho(Form.Post(ServerUrl(L"echo"), std::vector<std::wstring>{L"name=a b", L"loose", L"k=é&"}));
  EXPECT_EQ(Echo.Body, L"name=a+b&loose&k=%C3%A9%26");
  EXPECT_EQ(Echo.Value(L"Content-Type"), L"application/x-www-form-urlencoded");

  THTTP Multipart;
  TMultipartFormData Parts;
  Parts.AddField(L"title", L"한글");
  Parts.AddFile(L"file", L"a.txt", "file bytes", L"text/plain");
  Echo = ParseEcho(Multipart.Post(ServerUrl(L"echo"), Parts));
  const std::wstring Type = Echo.Value(L"Content-Type");
  ASSERT_TRUE(Type.starts_with(L"multipart/form-data; boundary=")) << testing::PrintToString(Type);
  const std::wstring Boundary = Type.substr(Type.find(L'=') + 1);
  EXPECT_EQ(Echo.Body, L"--" + Boundary + L"\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n한글\r\n--" + Boundary +
                           L"\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\nContent-Type: "
                           L"text/plain\r\n\r\nfile bytes\r\n--" + Boundary + L"--\r\n");
  EXPECT_EQ(Multipart.ContentType(), L"") << "the multipart type goes with its request only";
}

TEST_F(HttpClient, CookiesAreKeptAndSentBack) {
  THTTP Http;
  EXPECT_EQ(Http.GetCookie(), L"");
  EXPECT_EQ(Http.GetCookie(L"first"), L"");
  Http.Get(ServerUrl(L"set-cookies"));
  EXPECT_EQ(Http.GetCookie(), L"first=1;second=two words;");
  EXPECT_EQ(Http.GetCookie(L"second"), L"two words");
  EXPECT_EQ(Http.GetCookie(L"SECOND"), L"") << "names match exactly";
  Http.SetCookie(L"added=yes; Path=/", ServerUrl());
  TEcho Echo = ParseEcho(Http.Get(ServerUrl(L"echo")));
  EXPECT_EQ(Echo.Value(L"Cookie"), L"first=1; second=two words; added=yes");
  EXPECT_EQ(Http.GetCookie(), L"") << "the last response set none";

  // A cookie set by a redirecting answer goes with the redirected request.
  THTTP Redirected;
  Echo = ParseEcho(Redirected.Get(ServerUrl(L"redirect?to=/echo&cookie=via=redirect")));
  EXPECT_EQ(Redirected.StatusCode(), 200);
  EXPECT_EQ(Echo.RequestLine, L"GET /echo");
  EXPECT_EQ(Echo.Value(L"Cookie"), L"via=redirect");
}

TEST_F(HttpClient, RedirectsDeleteAndOptions) {
  struct TCase {
    const wchar_t* Code;
    const wchar_t* RequestLine;
    const wchar_t* Body;
  };
  const TCase Cases[] = {
      {L"301", L"GET /echo", L""}, {L"302", L"GET /echo", L""}, {L"303", L"GET /echo", L""},
      {L"307", L"POST /echo", L"data"}, {L"308", L"POST /echo", L"data"},
  };
  for (const TCase& Case : Cases) {
    THTTP Http;
    const TEcho Echo = ParseEcho(Http.Post(ServerUrl(L"redirect?to=/echo&code=") + Case.Code, std::wstring(L"data")));
    EXPECT_EQ(Http.StatusCode(), 200) << Case.Code;
    EXPECT_EQ(Echo.RequestLine, Case.RequestLine) << Case.Code;
    EXPECT_EQ(Echo.Body, Case.Body) << Case.Code;
  }
  THTTP Loop;
  Loop.Get(ServerUrl(L"redirect?loop=1"));
  EXPECT_EQ(Loop.StatusCode(), -1) << "a redirect loop ends";
  THTTP Manual;
  Manual.SetHandleRedirects(false);
  EXPECT_EQ(Manual.Get(ServerUrl(L"redirect?to=/echo")), L"moved");
  EXPECT_EQ(Manual.StatusCode(), 302);

  THTTP Http;
  EXPECT_EQ(Http.Delete(ServerUrl(L"echo")), L"");
  EXPECT_EQ(Http.StatusCode(), 200);
  EXPECT_EQ(Http.Delete(ServerUrl(L"status/404")), L"");
  EXPECT_EQ(Http.StatusCode(), 404);
  EXPECT_EQ(ParseEcho(Http.Options(ServerUrl(L"echo"))).RequestLine, L"OPTIONS /echo");
  EXPECT_EQ(Http.StatusCode(), 200);
}

TEST_F(HttpClient, DownloadWithProgress) {
  THTTP Http;
  Http.Get(ServerUrl(L"status/404"));
  constexpr int32_t Size = 300000;
  std::ostringstream Stream;
  std::vector<std::pair<int32_t, int32_t>> Calls;
  ASSERT_TRUE(Http.Download(ServerUrl(L"download?size=300000"), Stream,
                            [&](int32_t Received, int32_t Total) { Calls.emplace_back(Received, Total); }));
  const std::string Bytes = Stream.str();
  ASSERT_EQ(Bytes.size(), static_cast<size_t>(Size));
  for (size_t I = 0; I < Bytes.size(); I += 997) ASSERT_EQ(static_cast<unsigned char>(Bytes[I]), I % 256) << I;
  ASSERT_FALSE(Calls.empty());
  EXPECT_EQ(Calls.back(), std::make_pair(Size, Size));
  for (size_t I = 1; I < Calls.size(); ++I) EXPECT_GT(Calls[I].first, Calls[I - 1].first);
  EXPECT_EQ(Http.StatusCode(), 404) << "Download leaves the status as it was";

  std::ostringstream Missing;
  EXPECT_FALSE(Http.Download(ServerUrl(L"status/404"), Missing));
  std::ostringstream Nowhere;
  EXPECT_FALSE(Http.Download(L"http://127.0.0.1:" + EnvText("NIMBREL_TEST_CLOSED_PORT") + L"/", Nowhere));
  EXPECT_EQ(Http.StatusCode(), 404);
}

TEST_F(HttpClient, ThroughAProxy) {
  // The test server answers a proxy's requests too: the request line then holds the whole address.
  const std::wstring Port = ServerUrl().substr(std::wstring(L"http://127.0.0.1:").size(),
                                               ServerUrl().size() - std::wstring(L"http://127.0.0.1:").size() - 1);
  THTTP Http;
  Http.SetProxy(L"127.0.0.1", std::stoi(Port), L"", L"");
  const TEcho Echo = ParseEcho(Http.Get(L"http://nimbrel-proxied.example/echo?via=proxy"));
  EXPECT_EQ(Http.StatusCode(), 200);
  // (Wine writes the port into the address: "http://nimbrel-proxied.example:80/echo?via=proxy".)
  EXPECT_TRUE(Echo.RequestLine.starts_with(L"GET http://nimbrel-proxied.example")) << WideToUtf8(Echo.RequestLine);
  EXPECT_TRUE(Echo.RequestLine.ends_with(L"/echo?via=proxy")) << WideToUtf8(Echo.RequestLine);
  EXPECT_EQ(Echo.Value(L"Host"), L"nimbrel-proxied.example");
  Http.SetProxy(L"", 0, L"", L"");
  EXPECT_EQ(ParseEcho(Http.Get(ServerUrl(L"echo"))).RequestLine, L"GET /echo") << "an empty host: no proxy";
}

TEST_F(HttpClient, TransportFailuresAreStatusMinusOneWithTheMessage) {
  THTTP Http;
  const std::wstring Refused = Http.Get(L"http://127.0.0.1:" + EnvText("NIMBREL_TEST_CLOSED_PORT") + L"/");
  EXPECT_EQ(Http.StatusCode(), -1);
  EXPECT_NE(Refused.find(L"(12029)"), std::wstring::npos) << testing::PrintToString(Refused);
  EXPECT_EQ(Http.Get(L"ftp://127.0.0.1/x").empty(), false);
  EXPECT_EQ(Http.StatusCode(), -1);

  THTTP Slow;
  Slow.SetResponseTimeout(500);
  const std::wstring TimedOut = Slow.Get(ServerUrl(L"slow?seconds=5"));
  EXPECT_EQ(Slow.StatusCode(), -1);
  EXPECT_NE(TimedOut.find(L"(12002)"), std::wstring::npos) << testing::PrintToString(TimedOut);
}

TEST_F(HttpClient, AnAnswerThatTricklesInEndsAtTheOverallDeadline) {
  // A byte every 0.2 s keeps each read far inside its own time-out.
  THTTP Http;
  Http.SetTotalTimeout(1500);
  const std::wstring Text = Http.Get(ServerUrl(L"trickle?every=0.2"));
  EXPECT_EQ(Http.StatusCode(), -1);
  EXPECT_NE(Text.find(L"(12002)"), std::wstring::npos) << testing::PrintToString(Text);
  std::ostringstream Stream;
  EXPECT_FALSE(Http.Download(ServerUrl(L"trickle?every=0.2"), Stream));
  EXPECT_FALSE(Stream.str().empty()) << "the first bytes came before the end";

  // The same exchange on a helper thread, as a cancellable request runs.
  TOwnedHandle Cancel(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Http.SetCancelEvent(Cancel.get());
  EXPECT_NE(Http.Get(ServerUrl(L"trickle?every=0.2")).find(L"(12002)"), std::wstring::npos);
}

// An exchange on the caller's own thread gives way to the stop signal it is handed, whether the
// signal comes while it waits for the answer or was there before it began; and its deadline still
// ends an answer that trickles in. (Wine does not end a receive under way when its request handle
// is closed from another thread, as Windows does: there the stopped exchange fails when the
// answer comes, so this checks how it ends, not how soon.)
TEST_F(HttpClient, AnExchangeGivesWayToItsStopSignalAndKeepsItsDeadline) {
  TOwnedHandle Stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TTransportSettings Settings;
  TTransportRequest Request;
  Request.Method = L"GET";
  Request.Url = ServerUrl(L"slow?seconds=2");
  Request.Stop = Stop.get();
  std::thread Setter([&] {
    ::Sleep(300);
    ::SetEvent(Stop.get());
  });
  TCookieStore Cookies;
  TTransportCancel Waiting;
  const TTransportResult Stopped = PerformExchange(Settings, Cookies, Request, Waiting);
  Setter.join();
  EXPECT_FALSE(Stopped.Answered);
  EXPECT_EQ(Stopped.Error, CancelledError);

  Request.Url = ServerUrl(L"echo");
  TTransportCancel Before;
  EXPECT_EQ(PerformExchange(Settings, Cookies, Request, Before).Error, CancelledError) << "stopped before it began";

  ::ResetEvent(Stop.get());
  Settings.TotalTimeout = 1500;
  Request.Url = ServerUrl(L"trickle?every=0.2");
  TTransportCancel Trickled;
  const TTransportResult Expired = PerformExchange(Settings, Cookies, Request, Trickled);
  EXPECT_FALSE(Expired.Answered);
  EXPECT_EQ(Expired.Error, static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
}

TEST_F(HttpClient, AnUntrustedCertificateFailsTheRequest) {
  if (const std::wstring Skip = EnvText("NIMBREL_TEST_TLS_SKIP"); !Skip.empty()) GTEST_SKIP() << Skip;
  const std::wstring Server = EnvText("NIMBREL_TEST_TLS_SERVER");
  if (Server.empty()) GTEST_SKIP() << "no TLS test server";
  THTTP Http;
  const std::wstring Text = Http.Get(Server + L"echo");
  EXPECT_EQ(Http.StatusCode(), -1);
  EXPECT_EQ(Text.find(L"GET /echo"), std::wstring::npos);
  EXPECT_FALSE(Text.empty()) << "the failure's message";
}

TEST_F(HttpClient, TheCancelEventEndsARequestAtOnce) {
  TOwnedHandle Cancel(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  THTTP Http;
  Http.SetCancelEvent(Cancel.get());
  EXPECT_EQ(ParseEcho(Http.Get(ServerUrl(L"echo"))).RequestLine, L"GET /echo") << "unset, requests work";
  std::thread Setter([&] {
    ::Sleep(300);
    ::SetEvent(Cancel.get());
  });
  const DWORD Start = ::GetTickCount();
  const std::wstring Text = Http.Get(ServerUrl(L"slow?seconds=20"));
  const DWORD Elapsed = ::GetTickCount() - Start;
  Setter.join();
  EXPECT_EQ(Http.StatusCode(), -1);
  EXPECT_NE(Text.find(L"(12017)"), std::wstring::npos) << testing::PrintToString(Text);
  EXPECT_LT(Elapsed, 2000u);
  std::ostringstream Stream;
  EXPECT_FALSE(Http.Download(ServerUrl(L"download?size=10"), Stream)) << "still set: nothing is sent";
  EXPECT_TRUE(Stream.str().empty());
  EXPECT_EQ(Http.GetCookie(), L"") << "the cancelled request left nothing behind";
}

// Runs only under tests/net/with-trusted-ca.sh, which makes a throwaway CA trusted by the host.
TEST(HttpsTrusted, ACertificateOfATrustedAuthorityIsAccepted) {
  const std::wstring Server = EnvText("NIMBREL_TEST_TRUSTED_SERVER");
  if (Server.empty()) GTEST_SKIP() << "no trusted HTTPS server (net_https_trusted_tests runs this as root)";
  THTTP Http;
  const TEcho Echo = ParseEcho(Http.Get(Server + L"echo"));
  EXPECT_EQ(Http.StatusCode(), 200);
  EXPECT_EQ(Echo.RequestLine, L"GET /echo");
}

}  // namespace
}  // namespace nimbrel
