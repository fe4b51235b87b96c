// The service over HTTP on loopback: answers, status codes and headers as the program and a
// browser see them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <set>

#include "client_address.h"
#include "postgresql_fixture.h"
#include "postgresql_store.h"
#include "service_fixture.h"

namespace nimbrel::service {
namespace {

using testing::MemoryObject;
using testing::ProgramKey;
using testing::ReportBody;
using testing::TestConfig;
using testing::TRunningService;

constexpr std::int64_t Day = 24 * 60 * 60;
const std::string Csp = "default-src 'none'; style-src 'unsafe-inline'; img-src data:";

httplib::Result Upload(httplib::Client& Client, const std::string& Body) {
  return Client.Post("/report.php", {{"User-Version", "1.0.0.0"}, {"User-Union", "0123456789ABCDEF0123456789ABCDEF"}},
                     Body, "application/json");
}

httplib::Result Page(httplib::Client& Client, const std::string& Path, const std::string& Language = "en") {
  return Client.Get(Path, {{"Accept-Language", Language}});
}

const std::string MarkupReport = ReportBody(
    {MemoryObject, R"({"cate":"clean","file":"<script>document.title='pwned'</script>","state":"-1"})",
     R"({"cate":"clean","file":"%SystemRoot%\\System32\\svchost.exe","state":"1"})",
     R"({"cate":"start","item":"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive","from":"HKCU"})",
     R"({"cate":"start","item":"HKCU\\Software\\Run\\a/b","from":"HKCU"})",
     R"({"cate":"start","item":"C:\\Users\\\ubbfc\uc218\\Startup\\\uce74\uce74\uc624\ud1a1.lnk","from":"FILE"})",
     R"({"cate":"install","displayname":"\"Quoted\" & <b>bold</b>","publisher":"O'Neil"})"});

TEST(Http, StartUpAnswers) {
  TRunningService Service;
  auto Client = Service.Client();
  const auto Older = Client.Get("/api.init.php", {{"User-Version", "0.9.0.0"}, {"User-Language", "ko"},
                                                  {"User-Debug", "false"}, {"User-Union", "X"}});
  ASSERT_TRUE(Older);
  EXPECT_EQ(Older->status, 200);
  EXPECT_EQ(Older->get_header_value("Content-Type"), "application/json; charset=utf-8");
  const auto Answer = nlohmann::json::parse(Older->body);
  EXPECT_EQ(Answer["update"], "https://www.nimbrel.example/download/Nimbrel-1.0.0.0.exe");
  EXPECT_EQ(Answer["info"]["text"], "님브렐 1.0의 새로운 점");
  EXPECT_TRUE(Answer["file_white"].is_array());

  const auto Same = Client.Get("/api.init.php", {{"User-Version", "1.0.0.0"}, {"User-Language", "ko"}});
  ASSERT_TRUE(Same);
  EXPECT_FALSE(nlohmann::json::parse(Same->body).contains("update"));

  for (int I = 0; I < 2; ++I) {
    const auto Hold = Client.Get("/api.init.php", {{"User-Version", "0.9.0.0"}, {"User-Command", "hold"}});
    ASSERT_TRUE(Hold);
    EXPECT_EQ(Hold->body, "{}");
  }
  ASSERT_TRUE(Client.Get("/api.init.php", {{"User-Version", "not a version"}, {"User-Command", "hold"}}));
  EXPECT_EQ(Service.Store().HoldCount("0.9.0.0"), 2);
  EXPECT_EQ(Service.Store().HoldCount("not a version"), 0);
}

TEST(Http, AnUploadOpensAPrivateReportPage) {
  TRunningService Service;
  auto Client = Service.Client();
  const auto Uploaded = Upload(Client, MarkupReport);
  ASSERT_TRUE(Uploaded);
  EXPECT_EQ(Uploaded->status, 200);
  const std::string Key = ProgramKey(Uploaded->body);
  ASSERT_EQ(Key.size(), 22u) << Uploaded->body;

  const auto Shown = Page(Client, "/?report=" + Key, "ko-KR,ko;q=0.9");
  ASSERT_TRUE(Shown);
  EXPECT_EQ(Shown->status, 200);
  EXPECT_EQ(Shown->get_header_value("Content-Security-Policy"), Csp);
  EXPECT_EQ(Shown->get_header_value("Referrer-Policy"), "no-referrer");
  EXPECT_EQ(Shown->get_header_value("X-Robots-Tag"), "noindex");
  EXPECT_EQ(Shown->get_header_value("Cache-Control"), "private");
  EXPECT_EQ(Shown->get_header_value("Content-Type"), "text/html; charset=utf-8");
  const std::string& Html = Shown->body;
  EXPECT_NE(Html.find("<html lang=\"ko\" dir=\"ltr\">"), std::string::npos);
  EXPECT_NE(Html.find("정리 보고서"), std::string::npos);
  EXPECT_NE(Html.find("&lt;script&gt;document.title=&#39;pwned&#39;&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(Html.find("&quot;Quoted&quot; &amp; &lt;b&gt;bold&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(Html.find("<script"), std::string::npos);
  EXPECT_EQ(Html.find("<b>bold"), std::string::npos);
  // Each startup row links to its entry page, with the name encoded as one segment.
  EXPECT_NE(Html.find("href=\"/entry/hkcu/a%2Fb\""), std::string::npos);
  EXPECT_NE(Html.find("href=\"/entry/file/%EC%B9%B4%EC%B9%B4%EC%98%A4%ED%86%A1.lnk\""), std::string::npos);
}

TEST(Http, FiguresTheProgramCouldNotHaveShowAsUnknown) {
  TRunningService Service;
  auto Client = Service.Client();
  const std::string Key = ProgramKey(
      Upload(Client, ReportBody({R"({"cate":"memory","old":"-1","new":"2147483648","tot":"-1"})"}))->body);
  ASSERT_FALSE(Key.empty());
  const std::string Html = Page(Client, "/?report=" + Key)->body;
  EXPECT_NE(Html.find("<span dir=\"ltr\">2.0 GB</span>"), std::string::npos);
  // Before, freed and total are unknown; without them there is no bar to draw.
  size_t Unknown = 0;
  for (size_t At = Html.find(">unknown<"); At != std::string::npos; At = Html.find(">unknown<", At + 1)) ++Unknown;
  EXPECT_EQ(Unknown, 3u);
  EXPECT_EQ(Html.find("class=\"bar\""), std::string::npos);
}

TEST(Http, MalformedUploadsAreRefusedWholeWithoutAKey) {
  TRunningService Service;
  auto Client = Service.Client();
  const std::string TooLarge = "[" + MemoryObject + R"(,{"cate":"clean","file":")" + std::string(MaxReportBytes, 'a') +
                               R"(","state":"1"}])";
  for (const std::string& Body :
       {std::string("not json"), std::string("[]"), ReportBody({R"({"cate":"clean","file":"a","state":"1"})"}),
        ReportBody({MemoryObject, "{\"cate\":\"clean\",\"file\":\"\xFF\",\"state\":\"1\"}"}),
        ReportBody({MemoryObject, MemoryObject}), TooLarge}) {
    const auto Answer = Upload(Client, Body);
    ASSERT_TRUE(Answer) << Body.substr(0, 80);
    EXPECT_EQ(Answer->status, 400) << Body.substr(0, 80);
    EXPECT_EQ(ProgramKey(Answer->body), "") << Answer->body;
  }
  EXPECT_EQ(Service.Store().UsedBytes(), 0);
}

// Sends Request as it is on a new connection; answers the status line of the answer.
std::string RawStatusLine(int Port, const std::string& Request) {
  const int Socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(static_cast<uint16_t>(Port));
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string Answer;
  if (::connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0 &&
      ::send(Socket, Request.data(), Request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(Request.size())) {
    char Buffer[512];
    ssize_t Got = 0;
    while (Answer.find("\r\n") == std::string::npos && (Got = ::recv(Socket, Buffer, sizeof Buffer, 0)) > 0) {
      Answer.append(Buffer, static_cast<size_t>(Got));
    }
  }
  ::close(Socket);
  return Answer.substr(0, Answer.find("\r\n"));
}

TEST(Http, ChunkedAndCompressedBodiesAreHeldToTheLimitToo) {
  TRunningService Service;
  auto Client = Service.Client();
  // In chunks without a length: a small report is taken, a large one refused once past the limit.
  const auto Chunked = [&](std::string Body) {
    return Client.Post("/report.php", [Body](size_t Offset, httplib::DataSink& Sink) {
      if (Offset < Body.size()) {
        Sink.write(Body.data() + Offset, std::min<size_t>(65536, Body.size() - Offset));
      } else {
        Sink.done();
      }
      return true;
    }, "application/json");
  };
  const auto Small = Chunked(MarkupReport);
  ASSERT_TRUE(Small);
  EXPECT_EQ(Small->status, 200);
  EXPECT_FALSE(ProgramKey(Small->body).empty());
  const auto Large = Chunked(std::string(MaxReportBytes + 100000, ' '));
  ASSERT_TRUE(Large);
  EXPECT_EQ(Large->status, 400);
  // An endless body: the service stops reading soon after the limit instead of holding it all.
  size_t Sent = 0;
  constexpr size_t GiveUp = 96u << 20;
  auto Endless = Service.Client();
  Endless.Post("/report.php", [&](size_t, httplib::DataSink& Sink) {
    static const std::string Block(65536, ' ');
    if (Sent >= GiveUp || !Sink.write(Block.data(), Block.size())) return false;
    Sent += Block.size();
    return true;
  }, "application/json");
  EXPECT_LT(Sent, GiveUp / 3);
  // Compressed: a body of a few kilobytes that unpacks to far more than the limit.
  auto Compressing = Service.Client();
  Compressing.set_compress(true);
  const auto Bomb = Compressing.Post("/report.php", std::string(3 * MaxReportBytes, ' '), "application/json");
  ASSERT_TRUE(Bomb);
  EXPECT_EQ(Bomb->status, 400);
  const auto Packed = Compressing.Post("/report.php", MarkupReport, "application/json");
  ASSERT_TRUE(Packed);
  EXPECT_EQ(Packed->status, 200);
  // Other addresses take no body at all.
  EXPECT_EQ(RawStatusLine(Service.Port(), "GET /nimbrel HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                                          "5\r\nhello\r\n0\r\n\r\n"),
            "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(RawStatusLine(Service.Port(), "GET /nimbrel HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello"),
            "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(RawStatusLine(Service.Port(), "GET /nimbrel HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"),
            "HTTP/1.1 200 OK");
  EXPECT_EQ(Service.Store().UsedBytes() > 0, true);
}

TEST(Http, UploadsPastTheRateLimitGet429UntilTheNextMinute) {
  TConfig Config = TestConfig();
  Config.UploadsPerMinute = 3;
  TRunningService Service(std::move(Config));
  Service.Now = 1'800'000'020;  // twenty seconds into a minute
  auto Client = Service.Client();
  const std::string Body = ReportBody({MemoryObject});
  for (int I = 0; I < 3; ++I) EXPECT_EQ(Upload(Client, Body)->status, 200);
  const auto Refused = Upload(Client, Body);
  EXPECT_EQ(Refused->status, 429);
  EXPECT_EQ(ProgramKey(Refused->body), "");
  Service.Now += 60;
  EXPECT_EQ(Upload(Client, Body)->status, 200);
}

TEST(Http, BehindATrustedProxyEachClientHasItsOwnLimit) {
  const std::string Body = ReportBody({MemoryObject});
  const auto From = [&](httplib::Client& Client, const std::string& Forwarded) {
    return Client.Post("/report.php", {{"X-Forwarded-For", Forwarded}}, Body, "application/json")->status;
  };
  {
    TConfig Config = TestConfig();
    Config.UploadsPerMinute = 2;
    Config.TrustedProxies = {*ParseAddressRange("127.0.0.0/8")};
    TRunningService Service(std::move(Config));
    auto Client = Service.Client();
    EXPECT_EQ(From(Client, "203.0.113.1"), 200);
    EXPECT_EQ(From(Client, "198.51.100.9, 203.0.113.1"), 200);
    EXPECT_EQ(From(Client, "203.0.113.1"), 429);
    EXPECT_EQ(From(Client, "203.0.113.2"), 200) << "another user behind the same proxy";
  }
  {
    // Not trusted: the header is the client's own claim, and changing it gains nothing.
    TConfig Config = TestConfig();
    Config.UploadsPerMinute = 2;
    TRunningService Service(std::move(Config));
    auto Client = Service.Client();
    EXPECT_EQ(From(Client, "203.0.113.1"), 200);
    EXPECT_EQ(From(Client, "203.0.113.2"), 200);
    EXPECT_EQ(From(Client, "203.0.113.3"), 429);
  }
}

TEST(Http, HoldRequestsAreCountedUnderOneSpellingAndUnderTheLimit) {
  TConfig Config = TestConfig();
  Config.UploadsPerMinute = 3;
  TRunningService Service(std::move(Config));
  auto Client = Service.Client();
  const auto Hold = [&](const std::string& Version) {
    return Client.Get("/api.init.php", {{"User-Version", Version}, {"User-Command", "hold"}})->status;
  };
  EXPECT_EQ(Hold("0.1.0.0"), 200);
  EXPECT_EQ(Hold("00000.00001.0.0"), 200);
  EXPECT_EQ(Hold("0.01"), 200);
  EXPECT_EQ(Service.Store().HoldCount("0.1.0.0"), 3);
  EXPECT_EQ(Hold("0.2.0.0"), 429);
  EXPECT_EQ(Upload(Client, ReportBody({MemoryObject}))->status, 429) << "holds and uploads share the limit";
  EXPECT_EQ(Service.Store().HoldCount("0.2.0.0"), 0);
  // The start-up answer itself is never limited.
  EXPECT_EQ(Client.Get("/api.init.php", {{"User-Version", "0.1.0.0"}})->status, 200);
}

TEST(Http, TheExampleRateLimitLetsThreeHundredUploadsAMinuteThrough) {
  TRunningService Service;
  auto Client = Service.Client();
  const std::string Body = ReportBody({MemoryObject});
  int Stored = 0;
  for (int I = 0; I < 300; ++I) Stored += Upload(Client, Body)->status == 200 ? 1 : 0;
  EXPECT_EQ(Stored, 300);
}

TEST(Http, AFullStoreAnswers503AndStoresNothing) {
  TConfig Config = TestConfig();
  Config.StorageCapBytes = 200;
  TRunningService Service(std::move(Config));
  auto Client = Service.Client();
  const auto Answer = Upload(Client, MarkupReport);
  ASSERT_TRUE(Answer);
  EXPECT_EQ(Answer->status, 503);
  EXPECT_EQ(ProgramKey(Answer->body), "");
  EXPECT_EQ(Service.Store().UsedBytes(), 0);
}

// A store whose every operation fails, as a broken disk or database would.
class TFailingStore final : public TReportStore {
 public:
  TPutResult Put(const std::string&, const TReport&, std::int64_t) override { return TPutResult::Failed; }
  std::optional<TReport> Get(const std::string&, std::int64_t) override { return std::nullopt; }
  std::optional<std::int64_t> CountEntryReports(const std::string&, const std::string&, std::int64_t) override {
    return std::nullopt;
  }
  std::optional<std::int64_t> DeleteBefore(std::int64_t) override { return std::nullopt; }
  bool AddHold(const std::string&, std::int64_t) override { return false; }
  std::int64_t HoldCount(const std::string&) override { return 0; }
  std::int64_t UsedBytes() override { return 0; }
};

TEST(Http, AFailingStoreAnswers503AndPagesStillWork) {
  TFailingStore Failing;
  TRunningService Service(TestConfig(), &Failing);
  auto Client = Service.Client();
  const auto Answer = Upload(Client, MarkupReport);
  ASSERT_TRUE(Answer);
  EXPECT_EQ(Answer->status, 503);
  EXPECT_EQ(ProgramKey(Answer->body), "");
  const auto Entry = Page(Client, "/entry/hkcu/OneDrive");
  ASSERT_TRUE(Entry);
  EXPECT_EQ(Entry->status, 200);
  EXPECT_NE(Entry->body.find("Microsoft OneDrive"), std::string::npos);
  EXPECT_EQ(Entry->body.find("Stored reports"), std::string::npos);  // no count to show
  EXPECT_EQ(Client.Get("/api.init.php", {{"User-Version", "1.0.0.0"}, {"User-Command", "hold"}})->body, "{}");
}

TEST(Http, UnknownMalformedAndExpiredKeysGetTheNotFoundPage) {
  TRunningService Service;
  auto Client = Service.Client();
  const std::string Key = ProgramKey(Upload(Client, MarkupReport)->body);
  ASSERT_FALSE(Key.empty());
  Service.Now += 89 * Day;
  EXPECT_EQ(Page(Client, "/?report=" + Key)->status, 200);
  for (const std::string& Path : std::vector<std::string>{"/?report=AAAAAAAAAAAAAAAAAAAAAA", "/?report=",
                                                          "/?report=%3Cscript%3E", "/?report=" + Key + "x"}) {
    const auto Shown = Page(Client, Path, "ar");
    ASSERT_TRUE(Shown);
    EXPECT_EQ(Shown->status, 404) << Path;
    EXPECT_EQ(Shown->get_header_value("X-Robots-Tag"), "noindex");
    EXPECT_NE(Shown->body.find("<html lang=\"ar\" dir=\"rtl\">"), std::string::npos);
    EXPECT_NE(Shown->body.find("الصفحة غير موجودة"), std::string::npos);
  }
  Service.Now += 2 * Day;  // 91 days after the upload
  EXPECT_EQ(Page(Client, "/?report=" + Key)->status, 404);
  EXPECT_EQ(Service.Service().PurgeExpired(), 1);
  EXPECT_EQ(Service.Store().UsedBytes(), 0);
}

TEST(Http, EntryPagesDecodeEachSegmentAfterSplitting) {
  TRunningService Service;
  auto Client = Service.Client();
  ASSERT_EQ(Upload(Client, MarkupReport)->status, 200);
  ASSERT_EQ(Upload(Client, MarkupReport)->status, 200);
  ASSERT_EQ(Upload(Client, ReportBody({MemoryObject, R"({"cate":"start","item":"HKLM\\Run\\OneDrive","from":"HKLM"})"}))->status, 200);
  struct TCase {
    const char* Path;
    int Status;
    const char* Shows;  // a text the page holds
  };
  for (const TCase& Case : {
           TCase{"/entry/hkcu/OneDrive", 200, "Stored reports that list this entry: 2."},
           TCase{"/entry/HKCU/onedrive", 200, "Microsoft OneDrive keeps files"},
           TCase{"/entry/hklm/OneDrive", 200, "Stored reports that list this entry: 1."},
           TCase{"/entry/hkcu/a%2Fb", 200, "Stored reports that list this entry: 2."},
           TCase{"/entry/file/%EC%B9%B4%EC%B9%B4%EC%98%A4%ED%86%A1.lnk", 200, "<h1 dir=\"auto\">카카오톡.lnk</h1>"},
           TCase{"/entry/file/Send%20to%20OneNote.lnk", 200, "OneNote&#39;s helper"},
           TCase{"/entry/serv/%3Cscript%3Ex", 200, "&lt;script&gt;x"},
           TCase{"/entry/sche/Unknown%20Task?x=1", 200, "There is no description of this entry yet."},
           TCase{"/entry/hkcu/a/b", 404, "Page not found"},
           TCase{"/entry/nope/OneDrive", 404, "Page not found"},
           TCase{"/entry/hkcu", 404, "Page not found"},
           TCase{"/entry/hkcu/", 404, "Page not found"},
           TCase{"/entry/hkcu/%ZZ", 404, "Page not found"},
           TCase{"/entry/hkcu/%C3%28", 404, "Page not found"},
       }) {
    const auto Shown = Page(Client, Case.Path);
    ASSERT_TRUE(Shown) << Case.Path;
    EXPECT_EQ(Shown->status, Case.Status) << Case.Path;
    EXPECT_NE(Shown->body.find(Case.Shows), std::string::npos) << Case.Path;
    EXPECT_EQ(Shown->get_header_value("Content-Security-Policy"), Csp);
  }
}

TEST(Http, EntryNamesCannotTurnThePageAroundAndDotNamesGetNoLink) {
  TRunningService Service;
  auto Client = Service.Client();
  // Embeddings, overrides and isolates, each encoded in the address.
  for (const char* Control : {"%E2%80%AA", "%E2%80%AB", "%E2%80%AC", "%E2%80%AD", "%E2%80%AE", "%E2%81%A6",
                              "%E2%81%A7", "%E2%81%A8", "%E2%81%A9"}) {
    const auto Shown = Page(Client, std::string("/entry/hkcu/") + Control + "exe.txt" + Control);
    ASSERT_TRUE(Shown);
    EXPECT_EQ(Shown->status, 200);
    for (const char* Raw : {"\xE2\x80\xAA", "\xE2\x80\xAB", "\xE2\x80\xAC", "\xE2\x80\xAD", "\xE2\x80\xAE",
                            "\xE2\x81\xA6", "\xE2\x81\xA7", "\xE2\x81\xA8", "\xE2\x81\xA9"}) {
      EXPECT_EQ(Shown->body.find(Raw), std::string::npos) << Control;
    }
    EXPECT_NE(Shown->body.find("<h1 dir=\"auto\">exe.txt</h1>"), std::string::npos) << Control;
  }
  // Other right-to-left text stays as it is.
  EXPECT_NE(Page(Client, "/entry/hkcu/%D8%A8%D8%B1%D9%86%D8%A7%D9%85%D8%AC")->body.find("<h1 dir=\"auto\">برنامج</h1>"),
            std::string::npos);

  const auto Uploaded = Upload(Client, ReportBody({MemoryObject, R"({"cate":"start","item":"C:\\Startup\\.","from":"FILE"})",
                                                   R"({"cate":"start","item":"HKCU\\Run\\..","from":"HKCU"})",
                                                   R"({"cate":"start","item":"HKCU\\Run\\ok.exe","from":"HKCU"})"}));
  const std::string Html = Page(Client, "/?report=" + ProgramKey(Uploaded->body))->body;
  EXPECT_NE(Html.find("<span dir=\"ltr\">C:\\Startup\\.</span>"), std::string::npos) << Html;
  EXPECT_NE(Html.find("<span dir=\"ltr\">HKCU\\Run\\..</span>"), std::string::npos);
  EXPECT_EQ(Html.find("href=\"/entry/file/.\""), std::string::npos);
  EXPECT_EQ(Html.find("href=\"/entry/hkcu/..\""), std::string::npos);
  EXPECT_NE(Html.find("href=\"/entry/hkcu/ok.exe\""), std::string::npos);
}

TEST(Http, HomeAndUnknownAddresses) {
  TRunningService Service;
  auto Client = Service.Client();
  for (const char* Path : {"/nimbrel", "/"}) {
    const auto Home = Page(Client, Path, "fr-FR,fr;q=0.9");
    ASSERT_TRUE(Home);
    EXPECT_EQ(Home->status, 200);
    EXPECT_NE(Home->body.find("<html lang=\"fr\""), std::string::npos);
    EXPECT_EQ(Home->get_header_value("Content-Security-Policy"), Csp);
  }
  const auto Unknown = Page(Client, "/wp-login.php", "ja");
  ASSERT_TRUE(Unknown);
  EXPECT_EQ(Unknown->status, 404);
  EXPECT_NE(Unknown->body.find("ページが見つかりません"), std::string::npos);
}

// Six clients upload at once; every upload gets a key of its own and every report is counted.
void ExpectConcurrentUploadsEachGetTheirOwnKey(TRunningService& Service, TReportStore& Store) {
  std::vector<std::thread> Threads;
  std::mutex Lock;
  std::set<std::string> Keys;
  for (int T = 0; T < 6; ++T) {
    Threads.emplace_back([&] {
      auto Client = Service.Client();
      for (int I = 0; I < 20; ++I) {
        const auto Answer = Upload(Client, MarkupReport);
        const std::string Key = Answer ? ProgramKey(Answer->body) : "";
        const std::lock_guard Guard(Lock);
        Keys.insert(Key);
      }
    });
  }
  for (auto& Thread : Threads) Thread.join();
  EXPECT_EQ(Keys.size(), 120u);
  EXPECT_FALSE(Keys.contains(""));
  EXPECT_EQ(Store.CountEntryReports("hkcu", "onedrive", 0), 120);
}

TEST(Http, ConcurrentUploadsEachGetTheirOwnKey) {
  TRunningService Service;
  ExpectConcurrentUploadsEachGetTheirOwnKey(Service, Service.Store());
}

TEST(Http, ConcurrentUploadsToPostgresqlEachGetTheirOwnKey) {
  testing::TPostgresqlDatabase Database;
  if (Database.Address().empty()) GTEST_SKIP() << Database.SkipReason();
  const TConfig Config = TestConfig();
  TPostgresqlStore Store(Database.Address(), Config.StorageCapBytes, Config.Threads);
  TRunningService Service(Config, &Store);
  ExpectConcurrentUploadsEachGetTheirOwnKey(Service, Store);
  // Expiry as on SQLite: the page goes when the report is past its days, and so do its bytes.
  Service.Now += 91 * Day;
  EXPECT_EQ(Service.Service().PurgeExpired(), 120);
  EXPECT_EQ(Store.UsedBytes(), 0);
}

}  // namespace
}  // namespace nimbrel::service
