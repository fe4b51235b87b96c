// The abuse benchmark's client (bench/service_abuse.sh): measures a report page's latency on an
// idle service, then again while 64 clients send headers a byte at a time, 64 send report uploads
// slowly (but above the minimum rate), and 256 connections sit silent, each reopened as soon as
// the service closes it; and counts the uploads stored meanwhile, both the slow ones and plain
// ones sent once a second. With --tls every client speaks TLS (the silent ones never start
// their handshake). Not a test: it checks nothing. Usage:
//   service_abuse --port N [--tls] [--seconds S]
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

int GPort = 0;
bool GTls = false;
SSL_CTX* GContext = nullptr;

// A report of some 60 KB, as the program sends it.
std::string Report(int Seed) {
  std::string Body = R"([{"cate":"memory","old":"3221225472","new":"5368709120","tot":"17179869184"})";
  for (int I = 0; I < 300; ++I) {
    Body += R"(,{"cate":"clean","file":"C:\\Program Files\\Vendor)" + std::to_string((I * 7 + Seed) % 90) +
            R"(\\app)" + std::to_string(I) + R"(.exe","state":"1"})";
  }
  for (int I = 0; I < 100; ++I) {
    Body += R"(,{"cate":"start","item":"HKCU\\Software\\Run\\Updater)" + std::to_string((I * 13 + Seed) % 1000) +
            R"(","from":"HKCU"})";
  }
  return Body + "]";
}

// One connection on a plain socket, with TLS on top when asked; blocking.
class TConnection {
 public:
  TConnection(bool Handshake) {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(static_cast<uint16_t>(GPort));
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FOpen = ::connect(FSocket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0;
    const timeval Timeout{5, 0};
    setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &Timeout, sizeof Timeout);
    setsockopt(FSocket, SOL_SOCKET, SO_SNDTIMEO, &Timeout, sizeof Timeout);
    if (FOpen && GTls && Handshake) {
      FSsl = SSL_new(GContext);
      SSL_set_fd(FSsl, FSocket);
      FOpen = SSL_connect(FSsl) == 1;
    }
  }
  ~TConnection() {
    if (FSsl != nullptr) SSL_free(FSsl);
    ::close(FSocket);
  }
  bool Send(const std::string& Data) {
    if (!FOpen) return false;
    if (FSsl != nullptr) return FOpen = SSL_write(FSsl, Data.data(), static_cast<int>(Data.size())) > 0;
    return FOpen = ::send(FSocket, Data.data(), Data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(Data.size());
  }
  // Whether the service has closed the connection (or said something, which ends it for us too).
  bool Ended() {
    if (!FOpen) return true;
    pollfd Poll{FSocket, POLLIN, 0};
    return ::poll(&Poll, 1, 0) > 0;
  }
  // What the service answers, up to the end of the connection.
  std::string ReadAll() {
    std::string All;
    char Buffer[4096];
    for (;;) {
      const int Got = FSsl != nullptr ? SSL_read(FSsl, Buffer, sizeof Buffer)
                                      : static_cast<int>(::recv(FSocket, Buffer, sizeof Buffer, 0));
      if (Got <= 0) return All;
      All.append(Buffer, static_cast<size_t>(Got));
    }
  }

 private:
  int FSocket = -1;
  SSL* FSsl = nullptr;
  bool FOpen = false;
};

std::unique_ptr<httplib::Client> NewClient() {
  auto Client = std::make_unique<httplib::Client>((GTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(GPort));
  Client->enable_server_certificate_verification(false);
  Client->set_connection_timeout(30);
  Client->set_read_timeout(30);
  return Client;
}

std::string Upload(int Seed) {
  const auto Answer = NewClient()->Post("/report.php", Report(Seed), "application/json");
  if (!Answer || Answer->status != 200) return {};
  const size_t At = Answer->body.find("\"pk\":\"");
  return At == std::string::npos ? std::string() : Answer->body.substr(At + 6, 22);
}

struct TLatency {
  double P50 = 0, P99 = 0;
  int Failed = 0;
};

// Fetches the page Fetches times, one after another, each on a new connection.
TLatency PageLatency(const std::string& Key, int Fetches) {
  std::vector<double> Millis;
  int Failed = 0;
  for (int I = 0; I < Fetches; ++I) {
    const auto Started = Clock::now();
    const auto Page = NewClient()->Get("/?report=" + Key);
    Millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Started).count());
    if (!Page || Page->status != 200) ++Failed;
    std::this_thread::sleep_for(20ms);
  }
  std::sort(Millis.begin(), Millis.end());
  return {Millis[Millis.size() / 2], Millis[std::min(Millis.size() - 1, Millis.size() * 99 / 100)], Failed};
}

}  // namespace

int main(int Count, char** Values) {
  int Seconds = 20;
  for (int I = 1; I < Count; ++I) {
    const std::string Name = Values[I];
    if (Name == "--port" && I + 1 < Count) GPort = std::atoi(Values[++I]);
    else if (Name == "--seconds" && I + 1 < Count) Seconds = std::atoi(Values[++I]);
    else if (Name == "--tls") GTls = true;
  }
  GContext = SSL_CTX_new(TLS_client_method());
  const std::string Key = Upload(0);
  if (Key.empty()) {
    std::puts("the first upload failed");
    return 1;
  }
  const int Fetches = Seconds * 20;
  const TLatency Idle = PageLatency(Key, Fetches / 2);

  std::atomic<bool> Done{false};
  std::atomic<int> SlowStored{0}, SlowFailed{0}, PlainStored{0}, PlainFailed{0}, Reopened{0};
  std::vector<std::thread> Threads;
  // 64 clients sending a header byte a second.
  Threads.emplace_back([&] {
    std::vector<std::unique_ptr<TConnection>> Slow(64);
    while (!Done) {
      for (auto& Connection : Slow) {
        if (!Connection || Connection->Ended() || !Connection->Send("X")) {
          if (Connection) ++Reopened;
          Connection = std::make_unique<TConnection>(true);
          Connection->Send("GET /?report=" + Key + " HTTP/1.1\r\nHost: x\r\nX-Slow: ");
        }
      }
      std::this_thread::sleep_for(1s);
    }
  });
  // 256 silent connections.
  Threads.emplace_back([&] {
    std::vector<std::unique_ptr<TConnection>> Idle(256);
    while (!Done) {
      for (auto& Connection : Idle) {
        if (!Connection || Connection->Ended()) {
          if (Connection) ++Reopened;
          Connection = std::make_unique<TConnection>(false);
        }
      }
      std::this_thread::sleep_for(200ms);
    }
  });
  // 64 uploads at 4 KB/s each, from four threads.
  for (int T = 0; T < 4; ++T) {
    Threads.emplace_back([&, T] {
      struct TUpload {
        std::unique_ptr<TConnection> Connection;
        std::string Body;
        size_t Sent = 0;
      };
      std::vector<TUpload> Uploads(16);
      int Seed = T * 100000;
      while (!Done) {
        for (auto& Upload : Uploads) {
          if (!Upload.Connection) {
            Upload.Body = Report(++Seed);
            Upload.Connection = std::make_unique<TConnection>(true);
            Upload.Connection->Send("POST /report.php HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                                    "Connection: close\r\nContent-Length: " + std::to_string(Upload.Body.size()) + "\r\n\r\n");
            Upload.Sent = 0;
          }
          const size_t Part = std::min<size_t>(400, Upload.Body.size() - Upload.Sent);
          if (!Upload.Connection->Send(Upload.Body.substr(Upload.Sent, Part))) {
            ++SlowFailed;
            Upload.Connection.reset();
            continue;
          }
          Upload.Sent += Part;
          if (Upload.Sent == Upload.Body.size()) {
            const std::string Answer = Upload.Connection->ReadAll();
            ++(Answer.find("\"pk\":\"") != std::string::npos ? SlowStored : SlowFailed);
            Upload.Connection.reset();
          }
        }
        std::this_thread::sleep_for(100ms);
      }
    });
  }
  // Plain uploads, one a second.
  Threads.emplace_back([&] {
    for (int Seed = 500000; !Done; ++Seed) {
      ++(Upload(Seed).empty() ? PlainFailed : PlainStored);
      std::this_thread::sleep_for(1s);
    }
  });
  std::this_thread::sleep_for(3s);  // every abusive client connected
  const TLatency Abused = PageLatency(Key, Fetches);
  Done = true;
  for (auto& Thread : Threads) Thread.join();

  std::printf("  report page, idle:          p50 %7.2f ms  p99 %7.2f ms  (%d failed)\n", Idle.P50, Idle.P99, Idle.Failed);
  std::printf("  report page, under abuse:   p50 %7.2f ms  p99 %7.2f ms  (%d failed)  p99 ratio %.2f (goal: at most 3)\n",
              Abused.P50, Abused.P99, Abused.Failed, Abused.P99 / std::max(0.001, Idle.P99));
  std::printf("  uploads stored under abuse: %d plain (%d failed), %d slow ones at 4 KB/s (%d failed)\n",
              PlainStored.load(), PlainFailed.load(), SlowStored.load(), SlowFailed.load());
  std::printf("  connections the service closed and the abusers reopened: %d\n", Reopened.load());
  SSL_CTX_free(GContext);
  return 0;
}
