// The HTTP server on its own, with short deadlines: slow, silent and kept-alive clients are cut
// off, none of them holds a worker, a failing handler costs one answer, and a stop is prompt.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "http_server.h"
#include "raw_client.h"

namespace nimbrel::service {
namespace {

using namespace std::chrono_literals;
using testing::AnswerCount;
using testing::StatusLine;
using testing::TRawClient;
using Clock = std::chrono::steady_clock;

THttpLimits ShortLimits() {
  THttpLimits Limits;
  Limits.Handshake = 400ms;
  Limits.Headers = 400ms;
  Limits.Idle = 300ms;
  Limits.MinRate = 1000;
  Limits.Workers = 1;
  return Limits;
}

// Answers "/" with "ok", sleeps on "/slow", throws on "/throw" and "/oom".
THttpResponse TestHandler(const THttpRequest& Request) {
  if (Request.Path() == "/throw") throw std::runtime_error("broken");
  if (Request.Path() == "/oom") throw std::bad_alloc();
  if (Request.Path() == "/slow") std::this_thread::sleep_for(500ms);
  return THttpResponse{200, {{"Content-Type", "text/plain"}}, "ok:" + std::to_string(Request.Body.size())};
}

class TServerRun {
 public:
  explicit TServerRun(THttpLimits Limits)
      : FServer(Limits, {{"X-Test", "1"}}, [](const THttpRequest&) { return std::optional<THttpResponse>(); }, TestHandler,
                [](int Status, const std::string& Why) { return THttpResponse{Status, {}, Why}; }) {
    FPort = FServer.Bind("127.0.0.1", 0);
    FThread = std::thread([this] { FServer.Run(); });
  }
  ~TServerRun() { Stop(); }

  // Stops the server; answers how long Run took to return.
  Clock::duration Stop() {
    if (!FThread.joinable()) return {};
    const auto Started = Clock::now();
    FServer.Stop();
    FThread.join();
    return Clock::now() - Started;
  }
  int Port() const { return FPort; }

 private:
  THttpServer FServer;
  int FPort = -1;
  std::thread FThread;
};

const std::string Get = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";

TEST(HttpServer, EveryWaitOnTheClientHasADeadline) {
  TServerRun Server(ShortLimits());
  struct TCase {
    const char* Name;
    std::string First;  // sent at once
    std::string Trickle;  // then one byte of it every 50 ms, over and over
  };
  const std::vector<TCase> Cases{
      {"silent", "", ""},
      {"headers one byte at a time", "GET / HTTP/1.1\r\n", "X-Slow: a\r\n"},
      {"kept alive after an answer", Get, ""},
      {"body below the minimum rate", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n", "a"},
  };
  std::vector<std::thread> Threads;
  std::vector<int> ClosedAfter(Cases.size(), -1);  // milliseconds
  for (size_t I = 0; I < Cases.size(); ++I) {
    Threads.emplace_back([&, I] {
      TRawClient Client(Server.Port());
      const auto Started = Clock::now();
      Client.Send(Cases[I].First);
      for (size_t Sent = 0; Clock::now() - Started < 10s; ++Sent) {
        if (!Cases[I].Trickle.empty()) Client.Send(Cases[I].Trickle.substr(Sent % Cases[I].Trickle.size(), 1));
        if (Client.Closed(50ms)) {
          ClosedAfter[I] = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Started).count());
          return;
        }
      }
    });
  }
  // A body that keeps to the minimum rate is read to its end, however long that takes.
  TRawClient Steady(Server.Port());
  Steady.Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3000\r\n\r\n");
  for (int I = 0; I < 30; ++I) {
    std::this_thread::sleep_for(50ms);
    Steady.Send(std::string(100, 'b'));
  }
  const std::string Answer = Steady.ReadAnswer();
  for (auto& Thread : Threads) Thread.join();
  for (size_t I = 0; I < Cases.size(); ++I) {
    EXPECT_GE(ClosedAfter[I], 0) << Cases[I].Name << ": still open after 10 s";
  }
  EXPECT_EQ(StatusLine(Answer), "HTTP/1.1 200 OK");
  EXPECT_NE(Answer.find("ok:3000"), std::string::npos);
}

TEST(HttpServer, ClientsThatWaitHoldNoWorker) {
  THttpLimits Limits = ShortLimits();
  Limits.Headers = 60s;
  Limits.Idle = 60s;
  TServerRun Server(Limits);  // one worker
  std::vector<std::unique_ptr<TRawClient>> Waiting;
  for (int I = 0; I < 50; ++I) {
    Waiting.push_back(std::make_unique<TRawClient>(Server.Port()));
    Waiting.push_back(std::make_unique<TRawClient>(Server.Port()));
    Waiting.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n");  // headers not finished
    Waiting.push_back(std::make_unique<TRawClient>(Server.Port()));
    Waiting.back()->Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nabc");  // body not finished
  }
  TRawClient Client(Server.Port());
  Client.Send(Get);
  EXPECT_EQ(StatusLine(Client.ReadAnswer(3s)), "HTTP/1.1 200 OK");
}

TEST(HttpServer, AFailingHandlerCostsOneAnswerAndTheServerGoesOn) {
  TServerRun Server(ShortLimits());
  TRawClient Client(Server.Port());
  for (const auto& [Path, Status] : std::vector<std::pair<std::string, std::string>>{
           {"/throw", "HTTP/1.1 500 Internal Server Error"},
           {"/oom", "HTTP/1.1 503 Service Unavailable"},
           {"/", "HTTP/1.1 200 OK"}}) {
    Client.Send("GET " + Path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string Answer = Client.ReadAnswer();
    EXPECT_EQ(StatusLine(Answer), Status) << Path;
    EXPECT_NE(Answer.find("X-Test: 1"), std::string::npos) << Path;
  }
}

TEST(HttpServer, StopIsPromptWhateverClientsDoAndSendsTheAnswersBeingMade) {
  THttpLimits Limits = ShortLimits();
  Limits.Headers = 60s;
  Limits.Idle = 60s;
  Limits.Workers = 2;
  auto Server = std::make_unique<TServerRun>(Limits);
  std::atomic<bool> Done{false};
  std::vector<std::thread> Tricklers;
  for (int I = 0; I < 4; ++I) {
    Tricklers.emplace_back([&] {
      TRawClient Client(Server->Port());
      Client.Send("GET / HTTP/1.1\r\n");
      while (!Done && Client.Send("X") && !Client.Closed(50ms)) {
      }
    });
  }
  TRawClient HalfBody(Server->Port());
  HalfBody.Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nabc");
  TRawClient Slow(Server->Port());
  Slow.Send("GET /slow HTTP/1.1\r\nHost: x\r\n\r\n");
  std::this_thread::sleep_for(200ms);  // the slow answer is being made
  const auto Took = Server->Stop();
  EXPECT_LT(Took, 2s);
  const std::string Answer = Slow.ReadAll(2s);
  EXPECT_EQ(StatusLine(Answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(AnswerCount(Answer), 1);
  EXPECT_EQ(HalfBody.ReadAll(2s), "");  // closed unanswered
  Done = true;
  for (auto& Thread : Tricklers) Thread.join();
}

}  // namespace
}  // namespace nimbrel::service
