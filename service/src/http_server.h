// An event-driven HTTP/1.1 server (HTTPS with a certificate): a few I/O threads read and write
// every connection, and a pool of workers runs the handler, so that no connection holds a worker
// while it waits for its client. Every phase has a deadline of its own; the request line and
// headers, and the body, have size limits; a refused request's connection is closed, never read on.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nimbrel::service {

// A certificate (with its chain) and its private key, both PEM files.
struct TTlsFiles {
  std::filesystem::path Certificate;
  std::filesystem::path Key;
};

using THeaders = std::vector<std::pair<std::string, std::string>>;

struct THttpRequest {
  std::string Method;       // as sent: "GET"
  std::string Target;       // the raw request target: "/entry/hkcu/a%2Fb?x=1"
  THeaders Headers;         // every header line in order, names as sent
  std::string Body;         // the body with its transfer and content coding taken off
  std::string PeerAddress;  // the socket's peer: "127.0.0.1", "::1"

  // The first value of the header Name (any letter case); "" when there is none.
  std::string Header(std::string_view Name) const;
  bool HasHeader(std::string_view Name) const;
  // Every line of the header Name joined by commas in order, as HTTP reads a repeated list header.
  std::string HeaderList(std::string_view Name) const;
  // The target up to its "?".
  std::string_view Path() const;
  // The query parameter Name percent-decoded ("+" as a space); nullopt when the query has none.
  std::optional<std::string> Query(std::string_view Name) const;
};

struct THttpResponse {
  int Status = 200;
  THeaders Headers;  // besides Content-Length, Connection and the server's own headers
  std::string Body;

  // Sets the header Name to Value, replacing any earlier value.
  void SetHeader(std::string_view Name, std::string Value);
};

struct THttpLimits {
  std::size_t HeaderBytes = 64 * 1024;  // request line and headers together
  std::size_t HeaderLines = 100;
  std::size_t BodyBytes = 4 * 1024 * 1024;  // after taking off the content coding too
  std::chrono::milliseconds Handshake{10'000};
  std::chrono::milliseconds Headers{10'000};  // from the connection (or the handshake) to the end of the headers
  std::chrono::milliseconds Idle{5'000};      // a kept-alive connection, to the end of its next headers
  // A body (and an answer) may take Headers plus one second for every MinRate bytes.
  std::size_t MinRate = 2048;
  std::chrono::milliseconds StopGrace{1'500};  // how long Stop waits for answers being made
  int Workers = 8;
};

class THttpServer {
 public:
  // On an I/O thread once a request's headers are in (Body still empty); must not block. An answer
  // refuses the request: it is sent without reading the body, and the connection then closes
  // (after reading and dropping for a while what the client still sends).
  using TScreen = std::function<std::optional<THttpResponse>(const THttpRequest&)>;
  // On a worker thread once the body is in. An exception answers 500 (503 for std::bad_alloc).
  using THandler = std::function<THttpResponse(const THttpRequest&)>;
  // The answer the server itself gives for Status (400, 411, 413, 415, 431, 500, 503) with a short Why.
  using TRefusal = std::function<THttpResponse(int Status, const std::string& Why)>;

  // DefaultHeaders go on every answer; with Tls the port speaks HTTPS only (TLS 1.2 or later,
  // forward-secret AEAD suites, no renegotiation, Strict-Transport-Security on every answer).
  // Throws std::runtime_error when the TLS files cannot be read or do not belong together.
  THttpServer(THttpLimits Limits, THeaders DefaultHeaders, TScreen Screen, THandler Handler, TRefusal Refusal,
              const std::optional<TTlsFiles>& Tls = std::nullopt);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds Address (a literal or a host name) and Port (0: any free port); answers the bound port,
  // or -1 when binding fails. Once, before Run.
  int Bind(const std::string& Address, int Port);

  // Serves until Stop; blocks. The calling thread is one of the I/O threads. False at once when
  // nothing is bound.
  bool Run();

  // Ends Run within StopGrace and a little more: no new connections; connections waiting for their
  // client close at once, unanswered; answers being made are sent. Any thread, any time, once or more.
  void Stop();

  class TImpl;  // defined and used inside the implementation only

 private:
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace nimbrel::service
