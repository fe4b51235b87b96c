// The client's pure parts: bodies to text, form posts, cookies, redirect targets.
#include "net/http_body.h"
#include "net/http_cookies.h"
#include "net/http_transport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <limits>
#include <optional>
#include <string>

namespace nimbrel {
namespace {

std::string Gzip(const std::string& Text) {
  z_stream Stream{};
  deflateInit2(&Stream, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string Out(deflateBound(&Stream, static_cast<uLong>(Text.size())) + 32, '\0');
  Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Text.data()));
  Stream.avail_in = static_cast<uInt>(Text.size());
  Stream.next_out = reinterpret_cast<Bytef*>(Out.data());
  Stream.avail_out = static_cast<uInt>(Out.size());
  deflate(&Stream, Z_FINISH);
  Out.resize(Stream.total_out);
  deflateEnd(&Stream);
  return Out;
}

const std::string HangulUtf8 = "\xED\x95\x9C\xEA\xB8\x80";  // 한글
const std::string HangulEucKr = "\xC7\xD1\xB1\xDB";         // 한글 in EUC-KR

TEST(HttpBody, CharsetOfContentType) {
  const std::pair<const wchar_t*, const wchar_t*> Cases[] = {
      {L"text/html; charset=UTF-8", L"utf-8"},   {L"text/html;charset=\"EUC-KR\"", L"euc-kr"},
      {L"text/html; Charset = utf8 ", L"utf8"}, {L"text/html", L""},
      {L"", L""},                                {L"text/plain; format=flowed; charset=ISO-8859-1", L"iso-8859-1"},
  };
  for (const auto& [Type, Charset] : Cases) EXPECT_EQ(CharsetOfContentType(Type), Charset) << Type;
}

TEST(HttpBody, GzipIsInflatedOnlyWhenTheEncodingIsExactlyGzip) {
  const std::string Packed = Gzip("plain " + HangulUtf8);
  const TDecodedBody Inflated = DecodeBody(Packed, L"", L"utf-8", L"gzip");
  ASSERT_TRUE(Inflated.Ok);
  EXPECT_EQ(Inflated.Text, L"plain 한글");
  for (const wchar_t* Encoding : {L"GZIP", L"deflate", L"br", L""}) {
    const TDecodedBody AsItCame = DecodeBody(Packed, L"", L"utf-8", Encoding);
    ASSERT_TRUE(AsItCame.Ok) << Encoding;
    EXPECT_EQ(AsItCame.Text.find(L"plain"), std::wstring::npos) << Encoding;
    EXPECT_FALSE(AsItCame.Text.empty()) << Encoding;
  }
}

TEST(HttpBody, BrokenOrOversizedBodiesFail) {
  std::string Broken = Gzip(std::string(2000, 'x') + "tail");
  for (size_t I = 12; I + 8 < Broken.size(); ++I) Broken[I] = static_cast<char>(Broken[I] ^ 0x5A);
  const std::string Cut = Gzip("some text").substr(0, 15);
  const std::string Bomb = Gzip(std::string(MaxDecodedBody + 1, '\0'));
  EXPECT_LT(Bomb.size(), 64u * 1024u) << "a small body";
  for (const std::string* Body : std::initializer_list<const std::string*>{&Broken, &Cut, &Bomb}) {
    const TDecodedBody Result = DecodeBody(*Body, L"", L"utf-8", L"gzip");
    EXPECT_FALSE(Result.Ok);
    EXPECT_FALSE(Result.Text.empty()) << "the failure's message";
  }
  EXPECT_TRUE(InflateGzip(Gzip(std::string(MaxDecodedBody, 'a'))).has_value()) << "exactly the limit fits";
  EXPECT_FALSE(DecodeBody(std::string(MaxDecodedBody + 1, 'a'), L"", L"utf-8", L"").Ok);
}

TEST(HttpBody, CharsetChoice) {
  struct TCase {
    std::string Body;
    const wchar_t* Declared;
    const wchar_t* Default;
    const wchar_t* Text;
    const wchar_t* Charset;
  };
  const TCase Cases[] = {
      {HangulUtf8, L"utf-8", L"utf-8", L"한글", L"utf-8"},
      {HangulEucKr, L"utf8", L"utf-8", L"한글", L"utf8"},        // not "utf-8": Korean code page
      {HangulEucKr, L"iso-8859-1", L"utf-8", L"한글", L"iso-8859-1"},
      {HangulUtf8, L"iso-8859-1", L"utf-8", L"한글", L"utf-8"},  // the UTF-8 test wins
      {HangulUtf8, L"", L"utf-8", L"한글", L"utf-8"},
      {HangulEucKr, L"", L"euc-kr", L"한글", L"euc-kr"},
      {"ascii only", L"", L"euc-kr", L"ascii only", L"euc-kr"},
      {"", L"", L"utf-8", L"", L"utf-8"},
  };
  for (const TCase& Case : Cases) {
    const TDecodedBody Result = DecodeBody(Case.Body, Case.Declared, Case.Default, L"");
    ASSERT_TRUE(Result.Ok);
    EXPECT_EQ(Result.Text, Case.Text) << Case.Declared;
    EXPECT_EQ(Result.Charset, Case.Charset) << Case.Declared;
  }
  EXPECT_TRUE(KoreanCodePage() == 51949 || KoreanCodePage() == 949);
}

TEST(HttpBody, FormPostText) {
  EXPECT_EQ(FormPostText({L"a=b c", L"second=x&y=z"}, L"utf-8"), L"a=b+c&second=x%26y%3Dz");
  EXPECT_EQ(FormPostText({L"no name here", L"=lead", L"k=é"}, L"utf-8"), L"no+name+here&%3Dlead&k=%C3%A9");
  // Any other charset encodes values (not names) in code page 949.
  EXPECT_EQ(FormPostText({L"이름=한글 값.", L"k_1=a"}, L"euc-kr"), L"%EC%9D%B4%EB%A6%84=%C7%D1%B1%DB%20%B0%AA%2E&k_1=a");
  EXPECT_EQ(FormPostText({}, L"utf-8"), L"");
}

TEST(HttpCookies, ParsedAsBrowsersKeepThem) {
  const TCookieAddress Site{L"www.example.test", L"/shop/cart", false};
  const std::int64_t Now = 13'300'000'000;  // in 2022
  const auto Plain = ParseSetCookie(L"id=42; Path=/; HttpOnly", Site, Now);
  ASSERT_TRUE(Plain);
  EXPECT_EQ(Plain->Name, L"id");
  EXPECT_EQ(Plain->Value, L"42");
  EXPECT_EQ(Plain->Domain, L"www.example.test");
  EXPECT_TRUE(Plain->HostOnly);
  EXPECT_FALSE(Plain->Expires);
  const auto Defaulted = ParseSetCookie(L"a=1", Site, Now);
  ASSERT_TRUE(Defaulted);
  EXPECT_EQ(Defaulted->Path, L"/shop");
  const auto Domain = ParseSetCookie(L"b=2; Domain=.Example.test; Secure; Max-Age=60", Site, Now);
  ASSERT_TRUE(Domain);
  EXPECT_EQ(Domain->Domain, L"example.test");
  EXPECT_FALSE(Domain->HostOnly);
  EXPECT_TRUE(Domain->Secure);
  EXPECT_EQ(Domain->Expires, Now + 60);
  EXPECT_FALSE(ParseSetCookie(L"c=3; Domain=other.test", Site, Now)) << "another site's domain";
  EXPECT_FALSE(ParseSetCookie(L"; Path=/", Site, Now));
  const auto Dated = ParseSetCookie(L"d=4; Expires=Wed, 21 Oct 2015 07:28:00 GMT", Site, Now);
  ASSERT_TRUE(Dated);
  ASSERT_TRUE(Dated->Expires);
  EXPECT_LT(*Dated->Expires, Now) << "a date in the past";
  // The date forms servers send all give the same moment; a date that cannot be read is ignored.
  std::optional<std::int64_t> Moment;
  for (const wchar_t* Date : {L"Wed, 21 Oct 2015 07:28:00 GMT", L"Wednesday, 21-Oct-15 07:28:00 GMT",
                              L"Wed Oct 21 07:28:00 2015", L"21 oct 2015 07:28:00"}) {
    const auto Cookie = ParseSetCookie(std::wstring(L"e=5; Expires=") + Date, Site, Now);
    ASSERT_TRUE(Cookie && Cookie->Expires) << testing::PrintToString(Date);
    if (!Moment) Moment = Cookie->Expires;
    EXPECT_EQ(Cookie->Expires, Moment) << testing::PrintToString(Date);
  }
  const auto Unreadable = ParseSetCookie(L"f=6; Expires=someday", Site, Now);
  ASSERT_TRUE(Unreadable);
  EXPECT_FALSE(Unreadable->Expires);
  EXPECT_EQ(SetCookieNameValue(L"x = y ; Path=/"), std::make_pair(std::wstring(L"x"), std::wstring(L"y")));
  EXPECT_EQ(SetCookieNameValue(L"lonely"), std::make_pair(std::wstring(), std::wstring(L"lonely")));
}

TEST(HttpCookies, StoreSendsWhatMatchesAndForgetsWhatExpired) {
  const std::int64_t Now = 13'300'000'000;  // in 2022
  TCookieStore Store;
  const TCookieAddress Site{L"www.example.test", L"/", false};
  for (const wchar_t* Text : {L"a=1; Path=/", L"b=2; Path=/shop", L"c=3; Domain=example.test; Path=/",
                              L"s=4; Secure; Path=/", L"gone=5; Path=/; Max-Age=0"})
    Store.Add(*ParseSetCookie(Text, Site, Now), Now);
  EXPECT_EQ(Store.HeaderFor({L"www.example.test", L"/shop/item", false}, Now), L"b=2; a=1; c=3");
  EXPECT_EQ(Store.HeaderFor({L"www.example.test", L"/shopping", false}, Now), L"a=1; c=3");
  EXPECT_EQ(Store.HeaderFor({L"api.example.test", L"/", true}, Now), L"c=3");
  EXPECT_EQ(Store.HeaderFor({L"www.example.test", L"/", true}, Now), L"a=1; c=3; s=4");
  EXPECT_EQ(Store.HeaderFor({L"other.test", L"/", false}, Now), L"");
  Store.Add(*ParseSetCookie(L"a=changed; Path=/", Site, Now), Now);
  Store.Add(*ParseSetCookie(L"c=3; Domain=example.test; Path=/; Max-Age=-1", Site, Now), Now);
  EXPECT_EQ(Store.HeaderFor({L"www.example.test", L"/", false}, Now), L"a=changed");
  EXPECT_FALSE(CookieDomainMatches(L"10.0.0.1", L"0.0.1"));
}

TEST(HttpCookies, MaxAgeAtTheEdgesOfTheClock) {
  const std::int64_t Now = 13'300'000'000;  // in 2022
  constexpr std::int64_t Last = std::numeric_limits<std::int64_t>::max();
  const TCookieAddress Site{L"www.example.test", L"/", false};
  struct TCase {
    const wchar_t* MaxAge;
    std::optional<std::int64_t> Expires;  // nullopt: a session cookie
    const wchar_t* Sent;                  // the Cookie header afterwards, over a stored "k=old"
  };
  const TCase Cases[] = {
      {L"60", Now + 60, L"k=new"},
      {L"9223372036854775807", Last, L"k=new"},
      {L"9223372036854775806", Last, L"k=new"},
      {L"99999999999999999999", Last, L"k=new"},
      {L"0", Now - 1, L""},
      {L"-9223372036854775808", Now - 1, L""},
      {L"-99999999999999999999", Now - 1, L""},
      {L"soon", std::nullopt, L"k=new"},
  };
  for (const TCase& Case : Cases) {
    const auto Cookie = ParseSetCookie(std::wstring(L"k=new; Path=/; Max-Age=") + Case.MaxAge, Site, Now);
    ASSERT_TRUE(Cookie) << testing::PrintToString(Case.MaxAge);
    EXPECT_EQ(Cookie->Expires, Case.Expires) << testing::PrintToString(Case.MaxAge);
    TCookieStore Store;
    Store.Add(*ParseSetCookie(L"k=old; Path=/", Site, Now), Now);
    Store.Add(*Cookie, Now);
    EXPECT_EQ(Store.HeaderFor(Site, Now), Case.Sent) << testing::PrintToString(Case.MaxAge);
  }
}

TEST(HttpTransport, RedirectTargets) {
  const std::wstring Base = L"http://host:8080/a/b/c?q=1";
  const std::pair<const wchar_t*, const wchar_t*> Cases[] = {
      {L"https://other/x", L"https://other/x"}, {L"//other/y", L"http://other/y"},
      {L"/root?z", L"http://host:8080/root?z"},   {L"sibling", L"http://host:8080/a/b/sibling"},
      {L"?p=2", L"http://host:8080/a/b/c?p=2"},
  };
  for (const auto& [Location, Expected] : Cases) EXPECT_EQ(ResolveLocation(Base, Location), Expected) << Location;
  EXPECT_EQ(ResolveLocation(L"http://host", L"x"), L"http://host/x");
}

}  // namespace
}  // namespace nimbrel
