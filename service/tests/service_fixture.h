// A service on a free loopback port inside the test process, with its own SQLite file and a clock
// the test sets.
#pragma once

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include "helpers.h"
#include "service.h"
#include "sqlite_store.h"

namespace nimbrel::service::testing {

inline TConfig TestConfig() {
  TConfigLoad Load = LoadConfig(std::filesystem::path(NIMBREL_SERVICE_SOURCE) / "config.example.json");
  return std::move(*Load.Config);
}

class TRunningService {
 public:
  explicit TRunningService(TConfig Config = TestConfig(), TReportStore* Store = nullptr)
      : FStore(Store != nullptr ? nullptr
                                : std::make_unique<TSqliteStore>(FFolder.Path() / "reports.sqlite", Config.StorageCapBytes)),
        FService(std::move(Config),
                 TEntryInfo::Load(std::filesystem::path(NIMBREL_SERVICE_SOURCE) / "data" / "entries.json"),
                 Store != nullptr ? *Store : *FStore, [this] { return Now.load(); }) {
    // A client writing to a connection the service has closed gets an error, not the signal.
    std::signal(SIGPIPE, SIG_IGN);
    FPort = FService.Bind("127.0.0.1", 0);
    FThread = std::thread([this] { FService.Run(); });
  }
  ~TRunningService() {
    FService.Stop();
    FThread.join();
  }

  int Port() const { return FPort; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(FPort); }
  httplib::Client Client() const {
    httplib::Client Result("127.0.0.1", FPort);
    Result.set_connection_timeout(5);
    Result.set_read_timeout(10);
    return Result;
  }
  TSqliteStore& Store() { return *FStore; }
  TService& Service() { return FService; }

  std::atomic<std::int64_t> Now{1'800'000'000};

 private:
  TTempDir FFolder;
  std::unique_ptr<TSqliteStore> FStore;
  TService FService;
  int FPort = -1;
  std::thread FThread;
};

// The report key cut out of an upload answer the way the program cuts it: the text after
// `"pk":"` (any letter case) up to the next quote; empty when there is none.
inline std::string ProgramKey(const std::string& Answer) {
  std::string Upper = Answer;
  for (char& C : Upper) C = (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
  const size_t Start = Upper.find("\"PK\":\"");
  if (Start == std::string::npos) return {};
  const size_t Begin = Start + 6;
  const size_t End = Answer.find('"', Begin);
  return End == std::string::npos ? std::string() : Answer.substr(Begin, End - Begin);
}

}  // namespace nimbrel::service::testing
