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
#include "rate_limit.h"
#include "report_store.h"

namespace httplib {
class ContentReader;
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace nimbrel::service {

// Seconds since the epoch.
using TClock = std::function<std::int64_t()>;
std::int64_t SystemSeconds();

// A certificate (with its chain) and its private key, both PEM files.
struct TTlsFiles {
  std::filesystem::path Certificate;
  std::filesystem::path Key;
};

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

  // Ends Run: no new connections, requests in progress are answered. Any thread, any time, once or more.
  void Stop();

  // Deletes the reports older than the retention time now; answers how many went (empty on failure).
  std::optional<std::int64_t> PurgeExpired();

 private:
  void Route();
  void AnswerInit(const httplib::Request& Request, httplib::Response& Response);
  void AnswerUpload(const httplib::Request& Request, httplib::Response& Response, const httplib::ContentReader& Reader);
  void AnswerRoot(const httplib::Request& Request, httplib::Response& Response);
  void AnswerEntry(const httplib::Request& Request, httplib::Response& Response);
  std::int64_t OldestKept() const;
  std::string ClientOf(const httplib::Request& Request) const;

  TConfig FConfig;
  TEntryInfo FEntries;
  TReportStore& FStore;
  TClock FClock;
  TRateLimit FLimit;  // uploads and hold requests, per client address
  std::unique_ptr<httplib::Server> FServer;
  int FListenSocket = -1;  // the socket Bind bound, once it has

  std::mutex FStopLock;
  std::condition_variable FStopped;
  bool FStopping = false;    // guarded by FStopLock
  bool FListenDone = false;  // guarded by FStopLock
};

}  // namespace nimbrel::service
