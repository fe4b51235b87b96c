// Measures and prints: report uploads and report page loads per second over loopback, their
// latency, the stored bytes per report and the process's peak memory. Not a test: it checks nothing.
#include <httplib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "report_key.h"
#include "service.h"
#include "sqlite_store.h"

using namespace nimbrel::service;
using Clock = std::chrono::steady_clock;

namespace {

// A report of a typical size: 150 processes, 60 startup entries, 120 installed programs.
std::string TypicalReport(int Seed) {
  std::string Body = R"([{"cate":"memory","old":"3221225472","new":"5368709120","tot":"17179869184"})";
  for (int I = 0; I < 150; ++I) {
    Body += R"(,{"cate":"clean","file":"%ProgramFiles%\\Vendor )" + std::to_string(I) + R"(\\app)" +
            std::to_string(Seed % 7) + R"(.exe","state":")" + (I % 3 == 0 ? "-1" : "1") + "\"}";
  }
  for (int I = 0; I < 60; ++I) {
    Body += R"(,{"cate":"start","item":"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Entry)" +
            std::to_string(I) + R"(","from":"HKCU"})";
  }
  for (int I = 0; I < 120; ++I) {
    Body += R"(,{"cate":"install","displayname":"Program \ud504\ub85c\uadf8\ub7a8 )" + std::to_string(I) +
            R"(","publisher":"Publisher )" + std::to_string(I) + "\"}";
  }
  return Body + "]";
}

struct TRun {
  double Seconds = 0;
  std::vector<double> Millis;
  int Failed = 0;
};

// Runs Count requests spread over Threads clients; Request answers whether one succeeded.
template <class TRequest>
TRun Measure(int Port, int Count, int Threads, TRequest Request) {
  TRun Run;
  std::mutex Lock;
  std::atomic<int> Next{0};
  const auto Start = Clock::now();
  std::vector<std::thread> Workers;
  for (int T = 0; T < Threads; ++T) {
    Workers.emplace_back([&] {
      httplib::Client Client("127.0.0.1", Port);
      Client.set_keep_alive(true);
      Client.set_tcp_nodelay(true);
      for (int I = Next++; I < Count; I = Next++) {
        const auto Began = Clock::now();
        const bool Ok = Request(Client, I);
        const double Millis = std::chrono::duration<double, std::milli>(Clock::now() - Began).count();
        const std::lock_guard Guard(Lock);
        Run.Millis.push_back(Millis);
        Run.Failed += Ok ? 0 : 1;
      }
    });
  }
  for (auto& Worker : Workers) Worker.join();
  Run.Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
  std::sort(Run.Millis.begin(), Run.Millis.end());
  return Run;
}

void Print(const char* What, int Count, const TRun& Run) {
  const auto At = [&](double Share) { return Run.Millis[static_cast<size_t>(Share * (Run.Millis.size() - 1))]; };
  std::printf("%-22s %6d in %6.2f s  %8.0f /s  median %6.2f ms  p99 %6.2f ms  failed %d\n", What, Count, Run.Seconds,
              Count / Run.Seconds, At(0.5), At(0.99), Run.Failed);
}

}  // namespace

int main(int Count, char** Values) {
  const int Uploads = Count > 1 ? std::atoi(Values[1]) : 2000;
  const int Threads = 4;
  const auto Folder = std::filesystem::temp_directory_path() / ("nimbrel-bench-" + *NewReportKey());
  std::filesystem::create_directories(Folder);
  {
    TConfig Config = *LoadConfig(std::filesystem::path(NIMBREL_SERVICE_SOURCE) / "config.example.json").Config;
    Config.UploadsPerMinute = 1000000;
    TSqliteStore Store(Folder / "bench.sqlite", Config.StorageCapBytes);
    TService Service(std::move(Config), {}, Store);
    const int Port = Service.Bind("127.0.0.1", 0);
    std::thread Server([&] { Service.Run(); });

    const std::string Body = TypicalReport(1);
    std::vector<std::string> Keys(static_cast<size_t>(Uploads));
    const TRun Upload = Measure(Port, Uploads, Threads, [&](httplib::Client& Client, int I) {
      const auto Answer = Client.Post("/report.php", Body, "application/json");
      if (!Answer || Answer->status != 200) return false;
      Keys[static_cast<size_t>(I)] = Answer->body.substr(7, 22);
      return true;
    });
    const TRun Pages = Measure(Port, Uploads, Threads, [&](httplib::Client& Client, int I) {
      const auto Answer = Client.Get("/?report=" + Keys[static_cast<size_t>(I)], {{"Accept-Language", "ko"}});
      return Answer && Answer->status == 200;
    });
    const TRun Entries = Measure(Port, Uploads, Threads, [&](httplib::Client& Client, int I) {
      const auto Answer = Client.Get("/entry/hkcu/Entry" + std::to_string(I % 60));
      return Answer && Answer->status == 200;
    });

    std::printf("report body: %zu bytes, %d client threads, service threads %d\n", Body.size(), Threads, 8);
    Print("uploads", Uploads, Upload);
    Print("report pages", Uploads, Pages);
    Print("entry pages (counted)", Uploads, Entries);
    std::printf("stored: %.0f bytes per report (as the cap counts), database file %.1f MiB\n",
                static_cast<double>(Store.UsedBytes()) / Uploads,
                static_cast<double>(std::filesystem::file_size(Folder / "bench.sqlite")) / (1 << 20));
    Service.Stop();
    Server.join();
  }
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  std::printf("peak resident memory of service and clients: %.1f MiB\n", Usage.ru_maxrss / 1024.0);
  std::filesystem::remove_all(Folder);
}
