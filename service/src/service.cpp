// The HTTP service. No request data (address, headers) is logged or stored with a report; the
// rate limit keeps addresses in memory for the current minute only.
#include "service.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "init_answer.h"
#include "language.h"
#include "pages.h"
#include "report_key.h"
#include "text.h"

namespace nimbrel::service {
namespace {

constexpr const char* HtmlType = "text/html; charset=utf-8";
constexpr const char* JsonType = "application/json; charset=utf-8";
constexpr std::int64_t SecondsPerDay = 24 * 60 * 60;
constexpr auto PurgeInterval = std::chrono::minutes(10);

TLanguage RequestLanguage(const THttpRequest& Request) {
  return PickLanguage(Request.Header("Accept-Language"));
}

void SetPage(THttpResponse& Response, int Status, TLanguage Language, std::string Page) {
  Response.Status = Status;
  Response.SetHeader("Content-Language", std::string(LanguageCode(Language)));
  Response.SetHeader("Vary", "Accept-Language");
  Response.SetHeader("Content-Type", HtmlType);
  Response.Body = std::move(Page);
}

// Pages that show a report, or say that a key has none: private to whoever holds the key.
void SetReportHeaders(THttpResponse& Response) {
  Response.SetHeader("X-Robots-Tag", "noindex");
  Response.SetHeader("Cache-Control", "private");
}

void SetJson(THttpResponse& Response, int Status, const nlohmann::json& Answer) {
  Response.Status = Status;
  Response.SetHeader("Cache-Control", "no-store");
  Response.SetHeader("Content-Type", JsonType);
  Response.Body = Answer.dump();
}

void Refuse(THttpResponse& Response, int Status, const std::string& Why) {
  SetJson(Response, Status, {{"error", Why}});
}

THttpResponse Refusal(int Status, const std::string& Why) {
  THttpResponse Response;
  Refuse(Response, Status, Why);
  return Response;
}

bool IsUpload(const THttpRequest& Request) { return Request.Method == "POST" && Request.Path() == "/report.php"; }

THttpLimits Limits(const TConfig& Config) {
  THttpLimits Result;
  Result.BodyBytes = MaxReportBytes;
  Result.Workers = Config.Threads;
  return Result;
}

}  // namespace

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TService::TService(TConfig Config, TEntryInfo Entries, TReportStore& Store, TClock Clock,
                   const std::optional<TTlsFiles>& Tls)
    : FConfig(std::move(Config)),
      FEntries(std::move(Entries)),
      FStore(Store),
      FClock(std::move(Clock)),
      FLimit(FConfig.UploadsPerMinute),
      FServer(Limits(FConfig),
              {
                  {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src data:"},
                  {"Referrer-Policy", "no-referrer"},
                  {"X-Content-Type-Options", "nosniff"},
              },
              [this](const THttpRequest& Request) { return Screen(Request); },
              [this](const THttpRequest& Request) { return Route(Request); }, Refusal, Tls) {}

TService::~TService() { Stop(); }

// Refuses what can be refused from the headers alone, before any body is read: only the upload
// takes a body, it must say how long it is, and the rate limit counts it.
std::optional<THttpResponse> TService::Screen(const THttpRequest& Request) {
  const std::string Length = Request.Header("Content-Length");
  const bool Chunked = Request.HasHeader("Transfer-Encoding");
  if (!IsUpload(Request)) {
    if (Chunked || (!Length.empty() && Length != "0")) return Refusal(400, "no body expected");
    return std::nullopt;
  }
  if (!Chunked && Length.empty()) return Refusal(411, "the length of the body is missing");
  if (!Length.empty() && (Length.size() > 12 || std::stoull(Length) > MaxReportBytes)) {
    return Refusal(413, "larger than 4 MiB");
  }
  if (Request.Header("Content-Type").starts_with("multipart/form-data")) return Refusal(400, "not a JSON body");
  if (!FLimit.Allow(ClientOf(Request), FClock())) return Refusal(429, "too many reports");
  return std::nullopt;
}

THttpResponse TService::Route(const THttpRequest& Request) {
  THttpResponse Response;
  const std::string_view Path = Request.Path();
  if (IsUpload(Request)) {
    AnswerUpload(Request, Response);
  } else if (Request.Method != "GET" && Request.Method != "HEAD") {
    const TLanguage Language = RequestLanguage(Request);
    SetPage(Response, 404, Language, NotFoundPage(Language));
  } else if (Path == "/api.init.php") {
    AnswerInit(Request, Response);
  } else if (Path == "/") {
    AnswerRoot(Request, Response);
  } else if (Path == "/nimbrel") {
    const TLanguage Language = RequestLanguage(Request);
    SetPage(Response, 200, Language, HomePage(Language));
  } else if (Path.starts_with("/entry/")) {
    AnswerEntry(Request, Response);
  } else {
    const TLanguage Language = RequestLanguage(Request);
    SetPage(Response, 404, Language, NotFoundPage(Language));
  }
  return Response;
}

// X-Forwarded-For counts only for a peer among the trusted proxies.
std::string TService::ClientOf(const THttpRequest& Request) const {
  return ClientAddress(Request.PeerAddress, Request.HeaderList("X-Forwarded-For"), FConfig.TrustedProxies);
}

std::int64_t TService::OldestKept() const {
  return FClock() - static_cast<std::int64_t>(FConfig.RetentionDays) * SecondsPerDay;
}

void TService::AnswerInit(const THttpRequest& Request, THttpResponse& Response) {
  const TInitRequest Init{Request.Header("User-Version"), Request.Header("User-Language"),
                          Request.Header("User-Command")};
  Response.SetHeader("Cache-Control", "no-store");
  Response.SetHeader("Content-Type", JsonType);
  if (IsHoldRequest(Init)) {
    if (!FLimit.Allow(ClientOf(Request), FClock())) return Refuse(Response, 429, "too many requests");
    // Only well-formed versions are counted, each under one spelling, so that the table cannot be
    // filled with junk names.
    if (const auto Version = ParseVersion(Init.Version)) FStore.AddHold(FormatVersion(*Version), FClock());
    Response.Body = "{}";
    return;
  }
  Response.Body = BuildInitAnswer(FConfig, Init);
}

// The rate limit, the length and the form were checked before the body was read.
void TService::AnswerUpload(const THttpRequest& Request, THttpResponse& Response) {
  TReportCheck Check = CheckReport(Request.Body);
  if (!Check.Report) return Refuse(Response, 400, Check.Error);
  for (int Attempt = 0; Attempt < 3; ++Attempt) {
    const auto Key = NewReportKey();
    if (!Key) break;
    switch (FStore.Put(*Key, *Check.Report, FClock())) {
      case TPutResult::Stored: return SetJson(Response, 200, {{"pk", *Key}});
      case TPutResult::Full: return Refuse(Response, 503, "storage full");
      case TPutResult::Failed: return Refuse(Response, 503, "storage failed");
      case TPutResult::KeyTaken: continue;
    }
  }
  Refuse(Response, 503, "no key");
}

void TService::AnswerRoot(const THttpRequest& Request, THttpResponse& Response) {
  const TLanguage Language = RequestLanguage(Request);
  const std::optional<std::string> Asked = Request.Query("report");
  if (!Asked) return SetPage(Response, 200, Language, HomePage(Language));
  SetReportHeaders(Response);
  const std::string& Key = *Asked;
  const auto Report = IsReportKey(Key) ? FStore.Get(Key, OldestKept()) : std::nullopt;
  if (!Report) return SetPage(Response, 404, Language, NotFoundPage(Language));
  SetPage(Response, 200, Language, ReportPage(*Report, Language, FConfig.RetentionDays));
}

void TService::AnswerEntry(const THttpRequest& Request, THttpResponse& Response) {
  const TLanguage Language = RequestLanguage(Request);
  // The raw target, not a decoded path: an encoded "/" inside a name must not split it.
  std::string_view Path = Request.Path();
  if (!Path.starts_with("/entry/")) return SetPage(Response, 404, Language, NotFoundPage(Language));
  Path.remove_prefix(std::string_view("/entry/").size());
  const size_t Slash = Path.find('/');
  const auto From = Slash == std::string_view::npos ? std::nullopt : PercentDecodeSegment(Path.substr(0, Slash));
  const auto Name = Slash == std::string_view::npos ? std::nullopt : PercentDecodeSegment(Path.substr(Slash + 1));
  if (!From || !Name || Name->empty() || Path.find('/', Slash + 1) != std::string_view::npos ||
      !SourceLabel(*From, Language)) {
    return SetPage(Response, 404, Language, NotFoundPage(Language));
  }
  TEntryView Entry{*From, *Name, FEntries.Describe(*From, *Name, Language),
                   FStore.CountEntryReports(LowerUtf8(*From), LowerUtf8(*Name), OldestKept())};
  SetPage(Response, 200, Language, EntryPage(Entry, Language));
}

int TService::Bind(const std::string& Address, int Port) { return FServer.Bind(Address, Port); }

bool TService::Run() {
  {
    const std::lock_guard Lock(FStopLock);
    if (FStopping) return true;
  }
  std::thread Purger([this] {
    std::unique_lock Lock(FStopLock);
    do {
      Lock.unlock();
      PurgeExpired();
      Lock.lock();
    } while (!FStopped.wait_for(Lock, PurgeInterval, [this] { return FStopping; }));
  });
  const bool Served = FServer.Run();
  {
    const std::lock_guard Lock(FStopLock);
    FStopping = true;
  }
  FStopped.notify_all();
  Purger.join();
  return Served;
}

void TService::Stop() {
  {
    const std::lock_guard Lock(FStopLock);
    FStopping = true;
  }
  FStopped.notify_all();
  FServer.Stop();
}

std::optional<std::int64_t> TService::PurgeExpired() { return FStore.DeleteBefore(OldestKept()); }

}  // namespace nimbrel::service
