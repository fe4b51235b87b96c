// The HTTP service. No request data (address, headers) is logged or stored with a report; the
// rate limit keeps addresses in memory for the current minute only.
#include "service.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <stdexcept>
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

TLanguage RequestLanguage(const httplib::Request& Request) {
  return PickLanguage(Request.get_header_value("Accept-Language"));
}

void SetPage(httplib::Response& Response, int Status, TLanguage Language, std::string Page) {
  Response.status = Status;
  Response.set_header("Content-Language", std::string(LanguageCode(Language)));
  Response.set_header("Vary", "Accept-Language");
  Response.set_content(std::move(Page), HtmlType);
}

// Pages that show a report, or say that a key has none: private to whoever holds the key.
void SetReportHeaders(httplib::Response& Response) {
  Response.set_header("X-Robots-Tag", "noindex");
  Response.set_header("Cache-Control", "private");
}

void SetJson(httplib::Response& Response, int Status, const nlohmann::json& Answer) {
  Response.status = Status;
  Response.set_header("Cache-Control", "no-store");
  Response.set_content(Answer.dump(), JsonType);
}

void Refuse(httplib::Response& Response, int Status, const std::string& Why) {
  SetJson(Response, Status, {{"error", Why}});
}

}  // namespace

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

namespace {

std::unique_ptr<httplib::Server> MakeServer(const std::optional<TTlsFiles>& Tls) {
  if (!Tls) return std::make_unique<httplib::Server>();
  auto Server = std::make_unique<httplib::SSLServer>(Tls->Certificate.c_str(), Tls->Key.c_str());
  if (!Server->is_valid()) {
    throw std::runtime_error("cannot use the certificate " + Tls->Certificate.string() + " with the key " +
                             Tls->Key.string());
  }
  return Server;
}

}  // namespace

TService::TService(TConfig Config, TEntryInfo Entries, TReportStore& Store, TClock Clock,
                   const std::optional<TTlsFiles>& Tls)
    : FConfig(std::move(Config)),
      FEntries(std::move(Entries)),
      FStore(Store),
      FClock(std::move(Clock)),
      FLimit(FConfig.UploadsPerMinute),
      FServer(MakeServer(Tls)) {
  Route();
}

TService::~TService() { Stop(); }

void TService::Route() {
  httplib::Server& Server = *FServer;
  const size_t Threads = static_cast<size_t>(FConfig.Threads);
  Server.new_task_queue = [Threads] { return new httplib::ThreadPool(Threads); };
  Server.set_payload_max_length(MaxReportBytes);
  // A worker keeps an idle kept-alive connection until this runs out, and a stop waits for the
  // workers: a short time keeps SIGTERM prompt.
  Server.set_keep_alive_timeout(1);
  // Headers and body go out in separate writes: without this, each answer waits for the peer's
  // delayed acknowledgement (some 40 ms).
  Server.set_tcp_nodelay(true);
  // The library listens with a backlog of 5: a burst of new connections past that is dropped and
  // each client waits for its own retry (a second or more). Bind widens it on this socket.
  // SO_REUSEADDR, not the library's SO_REUSEPORT: a restarted service binds at once past the
  // old connections' TIME_WAIT, a second live service on the same port is refused instead of
  // sharing it, and other programs may bind the port once the service has gone.
  Server.set_socket_options([this](socket_t Socket) {
    const int Yes = 1;
    setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &Yes, sizeof(Yes));
    FListenSocket = Socket;
  });
  Server.set_default_headers({
      {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src data:"},
      {"Referrer-Policy", "no-referrer"},
      {"X-Content-Type-Options", "nosniff"},
  });
  Server.Get("/api.init.php", [this](const auto& Request, auto& Response) { AnswerInit(Request, Response); });
  // The server reads a chunked or compressed body without its length limit: only the upload takes a
  // body, and it reads it itself, stopping past the limit.
  Server.set_pre_routing_handler([](const httplib::Request& Request, httplib::Response& Response) {
    const bool Upload = Request.method == "POST" && Request.path == "/report.php";
    const std::string Length = Request.get_header_value("Content-Length");
    const bool HasBody = Request.has_header("Transfer-Encoding") || (!Length.empty() && Length != "0");
    if (Upload || !HasBody) return httplib::Server::HandlerResponse::Unhandled;
    Refuse(Response, 400, "no body expected");
    return httplib::Server::HandlerResponse::Handled;
  });
  Server.Post("/report.php", [this](const httplib::Request& Request, httplib::Response& Response,
                                    const httplib::ContentReader& Reader) { AnswerUpload(Request, Response, Reader); });
  Server.Get("/", [this](const auto& Request, auto& Response) { AnswerRoot(Request, Response); });
  Server.Get("/nimbrel", [](const auto& Request, auto& Response) {
    const TLanguage Language = RequestLanguage(Request);
    SetPage(Response, 200, Language, HomePage(Language));
  });
  Server.Get(R"(/entry/.*)", [this](const auto& Request, auto& Response) { AnswerEntry(Request, Response); });
  Server.set_exception_handler([](const auto&, auto& Response, std::exception_ptr) {
    Refuse(Response, 500, "internal error");
  });
  Server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& Request,
                                                                  httplib::Response& Response) {
    if (!Response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    if (Response.status == 413) {
      Refuse(Response, 400, "larger than 4 MiB");
    } else if (Response.status == 404) {
      const TLanguage Language = RequestLanguage(Request);
      SetPage(Response, 404, Language, NotFoundPage(Language));
    } else {
      Refuse(Response, Response.status, "refused");
    }
    return httplib::Server::HandlerResponse::Handled;
  }));
}

std::string TService::ClientOf(const httplib::Request& Request) const {
  std::string ForwardedFor;
  const size_t Count = Request.get_header_value_count("X-Forwarded-For");
  for (size_t I = 0; I < Count; ++I) {
    if (I > 0) ForwardedFor += ',';
    ForwardedFor += Request.get_header_value("X-Forwarded-For", I);
  }
  return ClientAddress(Request.remote_addr, ForwardedFor, FConfig.TrustedProxies);
}

std::int64_t TService::OldestKept() const {
  return FClock() - static_cast<std::int64_t>(FConfig.RetentionDays) * SecondsPerDay;
}

void TService::AnswerInit(const httplib::Request& Request, httplib::Response& Response) {
  const TInitRequest Init{Request.get_header_value("User-Version"), Request.get_header_value("User-Language"),
                          Request.get_header_value("User-Command")};
  Response.set_header("Cache-Control", "no-store");
  if (IsHoldRequest(Init)) {
    if (!FLimit.Allow(ClientOf(Request), FClock())) return Refuse(Response, 429, "too many requests");
    // Only well-formed versions are counted, each under one spelling, so that the table cannot be
    // filled with junk names.
    if (const auto Version = ParseVersion(Init.Version)) FStore.AddHold(FormatVersion(*Version), FClock());
    Response.set_content("{}", JsonType);
    return;
  }
  Response.set_content(BuildInitAnswer(FConfig, Init), JsonType);
}

void TService::AnswerUpload(const httplib::Request& Request, httplib::Response& Response,
                            const httplib::ContentReader& Reader) {
  if (!FLimit.Allow(ClientOf(Request), FClock())) return Refuse(Response, 429, "too many reports");
  if (Request.is_multipart_form_data()) return Refuse(Response, 400, "not a JSON body");
  std::string Body;
  bool TooLarge = false;
  const bool Read = Reader([&](const char* Data, size_t Size) {
    TooLarge = Body.size() + Size > MaxReportBytes;
    if (!TooLarge) Body.append(Data, Size);
    return !TooLarge;
  });
  if (TooLarge) return Refuse(Response, 400, "larger than 4 MiB");
  if (!Read) return Refuse(Response, 400, "the body could not be read");
  TReportCheck Check = CheckReport(Body);
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

void TService::AnswerRoot(const httplib::Request& Request, httplib::Response& Response) {
  const TLanguage Language = RequestLanguage(Request);
  if (!Request.has_param("report")) return SetPage(Response, 200, Language, HomePage(Language));
  SetReportHeaders(Response);
  const std::string Key = Request.get_param_value("report");
  const auto Report = IsReportKey(Key) ? FStore.Get(Key, OldestKept()) : std::nullopt;
  if (!Report) return SetPage(Response, 404, Language, NotFoundPage(Language));
  SetPage(Response, 200, Language, ReportPage(*Report, Language, FConfig.RetentionDays));
}

void TService::AnswerEntry(const httplib::Request& Request, httplib::Response& Response) {
  const TLanguage Language = RequestLanguage(Request);
  // The raw target, not the decoded path: an encoded "/" inside a name must not split it.
  std::string_view Path(Request.target);
  Path = Path.substr(0, Path.find('?'));
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

int TService::Bind(const std::string& Address, int Port) {
  const int Bound = Port == 0 ? FServer->bind_to_any_port(Address) : (FServer->bind_to_port(Address, Port) ? Port : -1);
  if (Bound > 0 && FListenSocket >= 0) ::listen(FListenSocket, SOMAXCONN);
  return Bound;
}

bool TService::Run() {
  {
    const std::lock_guard Lock(FStopLock);
    if (FStopping) return true;
  }
  // Purges until asked to stop, then stops the server until it has stopped listening: a stop that
  // came before the listening loop began would otherwise be lost.
  std::thread Purger([this] {
    std::unique_lock Lock(FStopLock);
    do {
      Lock.unlock();
      PurgeExpired();
      Lock.lock();
    } while (!FStopped.wait_for(Lock, PurgeInterval, [this] { return FStopping; }));
    while (!FListenDone) {
      Lock.unlock();
      FServer->stop();
      Lock.lock();
      FStopped.wait_for(Lock, std::chrono::milliseconds(20), [this] { return FListenDone; });
    }
  });
  const bool Served = FServer->listen_after_bind();
  {
    const std::lock_guard Lock(FStopLock);
    FStopping = true;
    FListenDone = true;
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
  FServer->stop();
}

std::optional<std::int64_t> TService::PurgeExpired() { return FStore.DeleteBefore(OldestKept()); }

}  // namespace nimbrel::service
