// The load benchmark's client: sends report uploads of a realistic size to a running service at a
// fixed rate, each on its own connection as the program sends them, and prints the most uploads
// per second the service holds, the latency at half that rate, and the report page's latency.
// Latency counts from the moment a request was due, so a service that falls behind shows it.
// After every run it deletes what it stored, through the same kind of store the service uses, and
// lets the database clean up after that delete before the next run.
// Not a test: it checks nothing. Usage:
//   service_load --port N --database FILE|postgresql://... [--seconds S] [--page-rate R] [--https CA_FILE]
//                [--rate R]
// With --https it speaks HTTPS to 127.0.0.1:N (a front such as nginx), trusting the certificate in CA_FILE.
// With --rate it sends uploads at that one rate only (for a profiler), and no pages.
#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "postgresql_store.h"
#include "sqlite_store.h"

using namespace nimbrel::service;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Senders = 64;          // requests that may be open at once
// A rate is held when every upload is stored and 90 % of them are answered within this: a service
// that falls behind a fixed rate builds a queue, and most answers then come seconds late.
constexpr double HeldP90Millis = 100;

// A report as the program writes it: 300 processes, 100 startup entries, 200 installed programs,
// each text a little different per Seed.
std::string RealisticReport(int Seed) {
  std::string Body = R"([{"cate":"memory","old":"3221225472","new":"5368709120","tot":"17179869184"})";
  for (int I = 0; I < 300; ++I) {
    const int Vendor = (I * 7 + Seed) % 90;
    Body += R"(,{"cate":"clean","file":"C:\\Program Files\\Vendor)" + std::to_string(Vendor) + R"(\\app)" +
            std::to_string(I) + R"(.exe","state":")" + (I % 3 == 0 ? "-1" : I % 3 == 1 ? "1" : "-2") + "\"}";
  }
  for (int I = 0; I < 100; ++I) {
    const int Entry = (I * 13 + Seed * 31) % 1000;
    Body += R"(,{"cate":"start","item":"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Updater)" +
            std::to_string(Entry) + R"(","from":"HKCU"})";
  }
  for (int I = 0; I < 200; ++I) {
    Body += R"(,{"cate":"install","displayname":"Product )" + std::to_string((I + Seed) % 500) +
            R"(","publisher":"Vendor )" + std::to_string(I % 90) + R"("})";
  }
  return Body + "]";
}

struct TRun {
  int Sent = 0;
  int Failed = 0;
  double P50 = 0, P90 = 0, P99 = 0;
};

// Sends Rate requests a second for Seconds, request I due at Start + I / Rate; Request answers
// whether it succeeded. Requests not begun five seconds after the end count as failed.
TRun FixedRate(double Rate, double Seconds, const std::function<bool(int)>& Request) {
  const int Total = static_cast<int>(Rate * Seconds);
  std::vector<double> Millis(static_cast<size_t>(Total), 0);
  std::atomic<int> Next{0}, Failed{0};
  const auto Start = Clock::now() + std::chrono::milliseconds(100);
  const auto GiveUp = Start + std::chrono::duration<double>(Seconds + 5);
  std::vector<std::thread> Threads;
  for (int T = 0; T < Senders; ++T) {
    Threads.emplace_back([&] {
      for (int I = Next++; I < Total; I = Next++) {
        const auto Due = Start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(I / Rate));
        std::this_thread::sleep_until(Due);
        bool Ok = false;
        if (Clock::now() < GiveUp) Ok = Request(I);
        Millis[static_cast<size_t>(I)] = std::chrono::duration<double, std::milli>(Clock::now() - Due).count();
        if (!Ok) ++Failed;
      }
    });
  }
  for (auto& Thread : Threads) Thread.join();
  std::sort(Millis.begin(), Millis.end());
  TRun Run;
  Run.Sent = Total;
  Run.Failed = Failed;
  if (!Millis.empty()) {
    Run.P50 = Millis[Millis.size() / 2];
    Run.P90 = Millis[Millis.size() * 9 / 10];
    Run.P99 = Millis[std::min(Millis.size() - 1, Millis.size() * 99 / 100)];
  }
  return Run;
}

}  // namespace

int main(int Count, char** Values) {
  int Port = 0;
  std::string Database, Ca;
  double Seconds = 10, PageRate = 200, OnlyRate = 0;
  for (int I = 1; I + 1 < Count; I += 2) {
    const std::string Name = Values[I], Value = Values[I + 1];
    if (Name == "--port") Port = std::stoi(Value);
    if (Name == "--database") Database = Value;
    if (Name == "--seconds") Seconds = std::stod(Value);
    if (Name == "--page-rate") PageRate = std::stod(Value);
    if (Name == "--https") Ca = Value;
    if (Name == "--rate") OnlyRate = std::stod(Value);
  }
  if (Port <= 0 || Database.empty()) {
    std::fputs("usage: service_load --port N --database FILE|postgresql://... [--seconds S] [--page-rate R] "
               "[--https CA_FILE]\n",
               stderr);
    return 2;
  }
  std::unique_ptr<TReportStore> Store;
  if (IsPostgresqlAddress(Database)) {
    Store = std::make_unique<TPostgresqlStore>(Database, std::int64_t{1} << 40, 1, false);
  } else {
    // Only deletes and reads the usage: the service indexes what it stores.
    Store = std::make_unique<TSqliteStore>(Database, std::int64_t{1} << 40, false);
  }
  // Deletes what a run stored, and lets the database clean up after it before the next run: the
  // next run measures its own uploads, not the vacuum or copy that a mass delete leaves behind.
  const auto DeleteStored = [&] {
    Store->DeleteBefore(std::int64_t{1} << 40);
    if (IsPostgresqlAddress(Database)) {
      PGconn* Connection = PQconnectdb(Database.c_str());
      if (PQstatus(Connection) == CONNECTION_OK) PQclear(PQexec(Connection, "VACUUM"));
      PQfinish(Connection);
    } else {
      sqlite3* Connection = nullptr;
      if (sqlite3_open(Database.c_str(), &Connection) == SQLITE_OK) {
        sqlite3_busy_timeout(Connection, 5000);
        sqlite3_exec(Connection, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
      }
      sqlite3_close(Connection);
    }
  };
  // A new connection per request, as the program makes them: over HTTPS that includes a handshake.
  const auto NewClient = [&] {
    httplib::Client Client((Ca.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(Port));
    if (!Ca.empty()) {
      Client.set_ca_cert_path(Ca.c_str());
      Client.enable_server_certificate_verification(true);
    }
    Client.set_tcp_nodelay(true);
    Client.set_connection_timeout(5);
    Client.set_read_timeout(10);
    return Client;
  };
  DeleteStored();

  std::vector<std::string> Reports;
  for (int Seed = 0; Seed < 16; ++Seed) Reports.push_back(RealisticReport(Seed));
  std::printf("report: %zu bytes (300 processes, 100 startup entries, 200 installed programs), %d senders, "
              "a new %s connection per request, %.0f s per run\n",
              Reports[0].size(), Senders, Ca.empty() ? "HTTP" : "HTTPS", Seconds);
  const auto Upload = [&](int I) {
    httplib::Client Client = NewClient();
    const auto Answer = Client.Post("/report.php", Reports[static_cast<size_t>(I) % Reports.size()],
                                    "application/json");
    return Answer && Answer->status == 200 && Answer->body.starts_with("{\"pk\":\"");
  };
  const auto Held = [](const TRun& Run) { return Run.Failed == 0 && Run.P90 <= HeldP90Millis; };
  const auto Try = [&](double Rate) {
    const TRun Run = FixedRate(Rate, Seconds, Upload);
    const double UsedMiB = static_cast<double>(Store->UsedBytes()) / (1 << 20);
    DeleteStored();
    std::printf("  %5.0f uploads/s: %6d sent, %4d failed, p50 %7.2f ms, p90 %8.2f ms, p99 %8.2f ms, %5.0f MiB "
                "stored and deleted  %s\n",
                Rate, Run.Sent, Run.Failed, Run.P50, Run.P90, Run.P99, UsedMiB, Held(Run) ? "held" : "not held");
    std::fflush(stdout);
    return Run;
  };

  if (OnlyRate > 0) {
    Try(OnlyRate);
    return 0;
  }
  // Doubles the rate until it is not held, then halves the gap twice.
  double Good = 0, Bad = 0;
  for (double Rate = 50; Rate <= 12800; Rate *= 2) {
    if (!Held(Try(Rate))) {
      Bad = Rate;
      break;
    }
    Good = Rate;
  }
  for (int Step = 0; Step < 2 && Bad > 0 && Good > 0; ++Step) {
    const double Rate = std::round((Good + Bad) / 2 / 5) * 5;
    (Held(Try(Rate)) ? Good : Bad) = Rate;
  }
  std::printf("most uploads/s held: %.0f (every upload stored, p90 under %.0f ms)\n", Good, HeldP90Millis);
  if (Good > 0) {
    const TRun Half = Try(Good / 2);
    std::printf("at half that rate, %.0f uploads/s: p50 %.2f ms, p99 %.2f ms, %d failed\n", Good / 2, Half.P50,
                Half.P99, Half.Failed);
  }

  // Report pages of stored realistic reports.
  std::vector<std::string> Keys;
  {
    httplib::Client Client = NewClient();
    for (int I = 0; I < 200; ++I) {
      const auto Answer = Client.Post("/report.php", Reports[static_cast<size_t>(I) % Reports.size()],
                                      "application/json");
      if (Answer && Answer->status == 200) Keys.push_back(Answer->body.substr(7, 22));
    }
  }
  if (!Keys.empty()) {
    const TRun Pages = FixedRate(PageRate, Seconds, [&](int I) {
      httplib::Client Client = NewClient();
      const auto Answer = Client.Get("/?report=" + Keys[static_cast<size_t>(I) % Keys.size()],
                                     {{"Accept-Language", "ko-KR,ko;q=0.9"}});
      return Answer && Answer->status == 200;
    });
    std::printf("report page at %.0f pages/s: p50 %.2f ms, p99 %.2f ms, %d failed\n", PageRate, Pages.P50, Pages.P99,
                Pages.Failed);
  }
  DeleteStored();
  return 0;
}
