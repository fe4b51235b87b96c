// The HTTP service: routes, headers, limits, and the expiry of old reports.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config.h"
#include "entry_info.h"
#include "http_server.h"
#include "rate_limit.h"
#include "report_store.h"

namespace nimbrel::service {

// Seconds since the epoch.
using TClock = std::function<std::int64_t()>;
std::int64_t SystemSeconds();

class TService {
 public:
  // Store must outlive the service. Clock gives the time that reports are stamped and expire by.
  // With Tls the service speaks HTTPS only; throws std::runtime_error when the files cannot be read
  // or the key does not belong to the certificate.
  TService(TConfig Config, TEntryInfo Entries, TReportStore& Store, TClock Clock = SystemSeconds,
           const std::optional<TTlsFiles>& Tls = std::nullopt);
  ~TService();
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;

  // Binds Address and Port (0: any free port); answers the bound port, or -1 when binding fails.
  int Bind(const std::string& Address, int Port);

  // Serves on the bound port until Stop is called; deletes expired reports at once and then every
  // ten minutes. Blocks; false when serving could not start.
  bool Run();

  // Ends Run within two seconds: no new connections, connections waiting for their client close
  // unanswered, requests being answered are answered. Any thread, any time, once or more.
  void Stop();

  // Deletes the reports older than the retention time now; answers how many went (empty on failure).
  std::optional<std::int64_t> PurgeExpired();

 private:
  std::optional<THttpResponse> Screen(const THttpRequest& Request);
  THttpResponse Route(const THttpRequest& Request);
  void AnswerInit(const THttpRequest& Request, THttpResponse& Response);
  void AnswerUpload(const THttpRequest& Request, THttpResponse& Response);
  void AnswerRoot(const THttpRequest& Request, THttpResponse& Response);
  void AnswerEntry(const THttpRequest& Request, THttpResponse& Response);
  std::int64_t OldestKept() const;
  std::string ClientOf(const THttpRequest& Request) const;

  TConfig FConfig;
  TEntryInfo FEntries;
  TReportStore& FStore;
  TClock FClock;
  TRateLimit FLimit;  // uploads and hold requests, per client address
  THttpServer FServer;

  std::mutex FStopLock;
  std::condition_variable FStopped;
  bool FStopping = false;  // guarded by FStopLock
};

}  // namespace nimbrel::service
