// The HTTP server over Boost.Beast and Asio. Each connection runs on a strand of its own on the
// I/O threads, with one deadline for every wait on its client; the handler runs on the worker pool
// and posts its answer back to the connection's strand. This is the only file that includes Beast.
#include "http_server.h"

#include <openssl/ssl.h>
#include <zlib.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cerrno>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <unordered_map>

namespace nimbrel::service {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using TSteady = std::chrono::steady_clock;
using boost::system::error_code;

constexpr int IoThreads = 2;
constexpr auto AcceptRetry = std::chrono::milliseconds(50);
constexpr auto DrainTime = std::chrono::seconds(2);
// Free room made in a connection's buffer while it reads a body: a read takes at most the room
// there is, and without it an upload of 48 KB came in pieces of some 500 bytes, each a system call
// and a timer change of its own.
constexpr std::size_t BodyReadBytes = 64 * 1024;

std::string Text(beast::string_view View) { return std::string(View.data(), View.size()); }

bool EqualNoCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return (X >= 'A' && X <= 'Z' ? X + 32 : X) == (Y >= 'A' && Y <= 'Z' ? Y + 32 : Y);
         });
}

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

std::string QueryDecode(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '+') {
      Out += ' ';
    } else if (Text[I] == '%' && I + 2 < Text.size() && HexValue(Text[I + 1]) >= 0 && HexValue(Text[I + 2]) >= 0) {
      Out += static_cast<char>(HexValue(Text[I + 1]) * 16 + HexValue(Text[I + 2]));
      I += 2;
    } else {
      Out += Text[I];
    }
  }
  return Out;
}

enum class TInflate { Done, TooLarge, Broken };

// Takes a gzip or zlib coding off Body in place, stopping once the result passes Limit.
TInflate Inflate(std::string& Body, std::size_t Limit) {
  z_stream Stream{};
  if (inflateInit2(&Stream, 15 + 32) != Z_OK) return TInflate::Broken;  // 15 + 32: either header
  Stream.next_in = reinterpret_cast<Bytef*>(Body.data());
  Stream.avail_in = static_cast<uInt>(Body.size());
  std::string Out;
  char Block[65536];
  TInflate Result = TInflate::Done;
  for (;;) {
    Stream.next_out = reinterpret_cast<Bytef*>(Block);
    Stream.avail_out = sizeof Block;
    const int Status = inflate(&Stream, Z_NO_FLUSH);
    if (Status != Z_OK && Status != Z_STREAM_END) {
      Result = TInflate::Broken;
      break;
    }
    const size_t Got = sizeof Block - Stream.avail_out;
    if (Out.size() + Got > Limit) {
      Result = TInflate::TooLarge;
      break;
    }
    Out.append(Block, Got);
    if (Status == Z_STREAM_END) break;
  }
  inflateEnd(&Stream);
  if (Result == TInflate::Done) Body = std::move(Out);
  return Result;
}

// Whether Ec says the request broke HTTP's rules (as against the connection ending or timing out).
bool IsMalformed(const error_code& Ec) {
  return Ec.category() == http::make_error_code(http::error::bad_method).category() &&
         Ec != http::error::end_of_stream && Ec != http::error::partial_message;
}

std::unique_ptr<asio::ssl::context> MakeTlsContext(const TTlsFiles& Files) {
  auto Context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
  SSL_CTX* Native = Context->native_handle();
  SSL_CTX_set_min_proto_version(Native, TLS1_2_VERSION);
  SSL_CTX_set_options(Native, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_COMPRESSION);
  // TLS 1.2: ECDHE with AES-GCM or ChaCha20-Poly1305 only. TLS 1.3's own suites are all of that kind.
  SSL_CTX_set_cipher_list(Native,
                          "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                          "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                          "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305");
  error_code Ec;
  Context->use_certificate_chain_file(Files.Certificate.string(), Ec);
  if (!Ec) Context->use_private_key_file(Files.Key.string(), asio::ssl::context::pem, Ec);
  if (Ec || SSL_CTX_check_private_key(Native) != 1) {
    throw std::runtime_error("cannot use the certificate " + Files.Certificate.string() + " with the key " +
                             Files.Key.string());
  }
  return Context;
}

class TConnectionBase {
 public:
  virtual ~TConnectionBase() = default;
  // Closes the connection unless an answer is being made or sent; any thread.
  virtual void Stop() = 0;
};

}  // namespace

std::string THttpRequest::Header(std::string_view Name) const {
  for (const auto& [Key, Value] : Headers) {
    if (EqualNoCase(Key, Name)) return Value;
  }
  return {};
}

std::string THttpRequest::HeaderList(std::string_view Name) const {
  std::string List;
  for (const auto& [Key, Value] : Headers) {
    if (!EqualNoCase(Key, Name)) continue;
    if (!List.empty()) List += ',';
    List += Value;
  }
  return List;
}

bool THttpRequest::HasHeader(std::string_view Name) const {
  return std::any_of(Headers.begin(), Headers.end(), [&](const auto& Header) { return EqualNoCase(Header.first, Name); });
}

std::string_view THttpRequest::Path() const {
  const std::string_view Whole(Target);
  return Whole.substr(0, Whole.find('?'));
}

std::optional<std::string> THttpRequest::Query(std::string_view Name) const {
  const size_t Mark = Target.find('?');
  if (Mark == std::string::npos) return std::nullopt;
  std::string_view Rest = std::string_view(Target).substr(Mark + 1);
  while (!Rest.empty()) {
    const size_t End = Rest.find('&');
    const std::string_view Pair = Rest.substr(0, End);
    const size_t Equal = Pair.find('=');
    if (QueryDecode(Pair.substr(0, Equal)) == Name) {
      return Equal == std::string_view::npos ? std::string() : QueryDecode(Pair.substr(Equal + 1));
    }
    if (End == std::string_view::npos) break;
    Rest.remove_prefix(End + 1);
  }
  return std::nullopt;
}

void THttpResponse::SetHeader(std::string_view Name, std::string Value) {
  for (auto& Header : Headers) {
    if (EqualNoCase(Header.first, Name)) {
      Header.second = std::move(Value);
      return;
    }
  }
  Headers.emplace_back(std::string(Name), std::move(Value));
}

class THttpServer::TImpl {
 public:
  TImpl(THttpLimits Limits, THeaders DefaultHeaders, TScreen Screen, THandler Handler, TRefusal Refusal,
        const std::optional<TTlsFiles>& Tls)
      : Limits(Limits),
        DefaultHeaders(std::move(DefaultHeaders)),
        Screen(std::move(Screen)),
        Handler(std::move(Handler)),
        Refusal(std::move(Refusal)),
        TlsContext(Tls ? MakeTlsContext(*Tls) : nullptr),
        Pool(static_cast<std::size_t>(std::max(1, Limits.Workers))) {
    if (TlsContext) this->DefaultHeaders.emplace_back("Strict-Transport-Security", "max-age=31536000");
  }

  int Bind(const std::string& Address, int Port);
  bool Run();
  void Stop();

  // The answer to a complete request; never throws. On a worker thread.
  THttpResponse Answer(THttpRequest& Request) noexcept;
  // Whether Stop has come; connections that start after it close at once.
  bool Register(TConnectionBase* Connection, std::weak_ptr<TConnectionBase> Self) {
    const std::lock_guard Guard(Lock);
    if (Stopping) return false;
    Connections.emplace(Connection, std::move(Self));
    return true;
  }
  void Unregister(TConnectionBase* Connection) {
    const std::lock_guard Guard(Lock);
    Connections.erase(Connection);
  }

  const THttpLimits Limits;
  THeaders DefaultHeaders;
  const TScreen Screen;
  const THandler Handler;
  const TRefusal Refusal;

  // Destroyed in reverse order: the connections that the I/O context and the pool still hold
  // unregister themselves and use the TLS context as they go.
  std::mutex Lock;
  std::unordered_map<TConnectionBase*, std::weak_ptr<TConnectionBase>> Connections;  // guarded by Lock
  bool Stopping = false;                                                            // guarded by Lock
  std::unique_ptr<asio::ssl::context> TlsContext;
  asio::io_context Io{IoThreads};
  asio::thread_pool Pool;

 private:
  void Accept();
  void WatchStop();

  asio::strand<asio::io_context::executor_type> AcceptStrand{asio::make_strand(Io)};
  tcp::acceptor Acceptor{AcceptStrand};
  asio::steady_timer RetryTimer{AcceptStrand};
  asio::steady_timer StopTimer{AcceptStrand};
  TSteady::time_point StopDeadline;
};

namespace {

template <bool Secure>
class TConnection final : public TConnectionBase, public std::enable_shared_from_this<TConnection<Secure>> {
  using TStream = std::conditional_t<Secure, beast::ssl_stream<beast::tcp_stream>, beast::tcp_stream>;

 public:
  TConnection(THttpServer::TImpl& Server, tcp::socket Socket)
      : FServer(Server), FStream(MakeStream(Server, std::move(Socket))), FLimits(Server.Limits) {}
  ~TConnection() override { FServer.Unregister(this); }

  // Starts the connection on its own strand.
  void Start() {
    asio::dispatch(FStream.get_executor(), [Self = this->shared_from_this()] { Self->Begin(); });
  }

  void Stop() override {
    asio::post(FStream.get_executor(), [Self = this->shared_from_this()] {
      Self->FStopping = true;
      if (!Self->FBusy && !Self->FWriting) Self->Close();
    });
  }

 private:
  static TStream MakeStream(THttpServer::TImpl& Server, tcp::socket Socket) {
    if constexpr (Secure) {
      return TStream(std::move(Socket), *Server.TlsContext);
    } else {
      (void)Server;
      return TStream(std::move(Socket));
    }
  }

  beast::tcp_stream& Tcp() { return beast::get_lowest_layer(FStream); }

  void Begin() {
    if (!FServer.Register(this, this->weak_from_this())) return Close();
    error_code Ec;
    const tcp::endpoint Peer = Tcp().socket().remote_endpoint(Ec);
    if (Ec) return Close();
    asio::ip::address Address = Peer.address();
    if (Address.is_v6() && Address.to_v6().is_v4_mapped()) {
      Address = asio::ip::make_address_v4(asio::ip::v4_mapped, Address.to_v6());
    }
    FPeer = Address.to_string();
    if constexpr (Secure) {
      Tcp().expires_after(FLimits.Handshake);
      FStream.async_handshake(asio::ssl::stream_base::server, [Self = this->shared_from_this()](error_code Ec) {
        if (Ec) return Self->Close();
        Self->ReadHeader();
      });
    } else {
      ReadHeader();
    }
  }

  void ReadHeader() {
    if (FStopping) return Close();
    FParser.emplace();
    FParser->header_limit(static_cast<std::uint32_t>(FLimits.HeaderBytes));
    FParser->body_limit(FLimits.BodyBytes);
    Tcp().expires_after(FFirst ? FLimits.Headers : FLimits.Idle);
    http::async_read_header(FStream, FBuffer, *FParser,
                            [Self = this->shared_from_this()](error_code Ec, std::size_t) { Self->OnHeader(Ec); });
  }

  void OnHeader(const error_code& Ec) {
    if (Ec == http::error::header_limit) return Refuse(431, "the headers are too large");
    if (Ec == http::error::body_limit) return Refuse(413, TooLarge());  // a declared length past the limit
    if (IsMalformed(Ec)) return Refuse(400, "malformed request");
    if (Ec) return Close();
    try {
      const auto& Head = FParser->get();
      if (static_cast<std::size_t>(std::distance(Head.begin(), Head.end())) > FLimits.HeaderLines) {
        return Refuse(431, "too many header lines");
      }
      FRequest = THttpRequest{};
      FRequest.Method = Text(Head.method_string());
      FRequest.Target = Text(Head.target());
      FRequest.PeerAddress = FPeer;
      FRequest.Headers.reserve(static_cast<std::size_t>(std::distance(Head.begin(), Head.end())));
      for (const auto& Field : Head) FRequest.Headers.emplace_back(Text(Field.name_string()), Text(Field.value()));
      FKeepAlive = Head.keep_alive();
      FHead = Head.method() == http::verb::head;

      // One length only: a body whose end two readers could find differently is refused.
      const auto Lengths = Head.count(http::field::content_length);
      const bool Coded = Head.count(http::field::transfer_encoding) > 0;
      if (Lengths > 1 || (Lengths > 0 && Coded) || (Coded && !FParser->chunked())) {
        return Refuse(400, "the body's length is ambiguous");
      }
      FHasBody = FParser->chunked() || FParser->content_length().value_or(0) > 0;
      const std::string Coding = Text(Head[http::field::content_encoding]);
      if (!Coding.empty() && !EqualNoCase(Coding, "identity") && !EqualNoCase(Coding, "gzip") &&
          !EqualNoCase(Coding, "x-gzip") && !EqualNoCase(Coding, "deflate")) {
        return Refuse(415, "unknown content coding");
      }
      FInflate = !Coding.empty() && !EqualNoCase(Coding, "identity");

      if (std::optional<THttpResponse> Refused = FServer.Screen(FRequest)) {
        return Send(std::move(*Refused), true);
      }
      if (FParser->is_done()) return Dispatch();
      FBodyStart = TSteady::now();
      if (EqualNoCase(Text(Head[http::field::expect]), "100-continue")) {
        static const std::string Continue = "HTTP/1.1 100 Continue\r\n\r\n";
        Tcp().expires_after(FLimits.Headers);
        FWriting = true;
        return asio::async_write(FStream, asio::buffer(Continue),
                                 [Self = this->shared_from_this()](error_code Ec, std::size_t) {
                                   Self->FWriting = false;
                                   if (Ec || Self->FStopping) return Self->Close();
                                   Self->ReadBody();
                                 });
      }
      ReadBody();
    } catch (const std::bad_alloc&) {
      Refuse(503, "out of memory");
    } catch (const std::exception&) {
      Refuse(500, "internal error");
    }
  }

  // Reads on while the body keeps to the minimum rate.
  void ReadBody() {
    if (FStopping) return Close();
    const auto Left = FParser->content_length_remaining();
    const std::size_t Room = Left ? static_cast<std::size_t>(std::min<std::uint64_t>(*Left, BodyReadBytes)) : BodyReadBytes;
    if (FBuffer.capacity() - FBuffer.size() < Room) FBuffer.reserve(FBuffer.size() + Room);
    const std::size_t Received = FParser->get().body().size();
    const auto Allowed = FLimits.Headers + std::chrono::milliseconds(Received * 1000 / std::max<std::size_t>(1, FLimits.MinRate));
    Tcp().expires_at(FBodyStart + Allowed);
    http::async_read_some(FStream, FBuffer, *FParser, [Self = this->shared_from_this()](error_code Ec, std::size_t) {
      if (Ec == http::error::body_limit) return Self->Refuse(413, Self->TooLarge());
      if (IsMalformed(Ec)) return Self->Refuse(400, "malformed body");
      if (Ec) return Self->Close();
      if (Self->FParser->is_done()) return Self->Dispatch();
      Self->ReadBody();
    });
  }

  std::string TooLarge() const {
    return "larger than " + std::to_string(FLimits.BodyBytes / (1024 * 1024)) + " MiB";
  }

  void Dispatch() {
    FRequest.Body = std::move(FParser->get().body());
    FParser.reset();
    FBuffer.shrink_to_fit();  // an idle connection keeps no body's room
    FBusy = true;
    asio::post(FServer.Pool, [Self = this->shared_from_this(), Work = asio::make_work_guard(FStream.get_executor())] {
      THttpResponse Answer = Self->FInflate ? Self->InflateAndAnswer() : Self->FServer.Answer(Self->FRequest);
      asio::post(Self->FStream.get_executor(), [Self, Answer = std::move(Answer)]() mutable {
        Self->FBusy = false;
        Self->Send(std::move(Answer), false);
      });
    });
  }

  THttpResponse InflateAndAnswer() noexcept {
    try {
      switch (Inflate(FRequest.Body, FLimits.BodyBytes)) {
        case TInflate::Done: break;
        case TInflate::TooLarge: return FServer.Refusal(413, TooLarge());
        case TInflate::Broken: return FServer.Refusal(400, "the body could not be decoded");
      }
    } catch (...) {
      return THttpResponse{503, {}, {}};
    }
    return FServer.Answer(FRequest);
  }

  void Refuse(int Status, const std::string& Why) {
    FHead = false;
    try {
      Send(FServer.Refusal(Status, Why), true);
    } catch (...) {
      Close();
    }
  }

  // Sends Answer; then reads the next request, or with Last (or when the request wants it) closes.
  void Send(THttpResponse Answer, bool Last) {
    FClose = Last || !FKeepAlive || FStopping;
    FAnswer = {};
    FAnswer.version(11);
    FAnswer.result(static_cast<unsigned>(Answer.Status));
    for (const auto& [Name, Value] : FServer.DefaultHeaders) FAnswer.set(Name, Value);
    for (auto& [Name, Value] : Answer.Headers) FAnswer.set(Name, std::move(Value));
    FAnswer.body() = std::move(Answer.Body);
    FAnswer.keep_alive(!FClose);
    FAnswer.prepare_payload();
    if (FHead) FAnswer.body().clear();  // Content-Length stays the GET answer's
    const auto Allowed = FStopping ? FLimits.StopGrace
                                   : FLimits.Headers + std::chrono::milliseconds(FAnswer.body().size() * 1000 /
                                                                                 std::max<std::size_t>(1, FLimits.MinRate));
    Tcp().expires_after(Allowed);
    FWriting = true;
    http::async_write(FStream, FAnswer, [Self = this->shared_from_this()](error_code Ec, std::size_t) {
      Self->FWriting = false;
      Self->FAnswer = {};
      if (Ec || Self->FStopping) return Self->Close();
      if (Self->FClose) return Self->Shutdown();
      Self->FFirst = false;
      Self->ReadHeader();
    });
  }

  // Ends the connection after an answer: what the client still sends is read and dropped for a
  // while, so that the answer is not lost to a reset.
  void Shutdown() {
    if constexpr (Secure) {
      Tcp().expires_after(std::chrono::seconds(1));
      FStream.async_shutdown([Self = this->shared_from_this()](error_code) { Self->Close(); });
    } else {
      error_code Ec;
      Tcp().socket().shutdown(tcp::socket::shutdown_send, Ec);
      if (Ec) return Close();
      FDrained = 0;
      Tcp().expires_after(DrainTime);
      Drain();
    }
  }

  void Drain() {
    if (FStopping) return Close();
    FBuffer.consume(FBuffer.size());
    Tcp().async_read_some(FBuffer.prepare(16384), [Self = this->shared_from_this()](error_code Ec, std::size_t Got) {
      Self->FDrained += Got;
      if (Ec || Self->FDrained > Self->FLimits.BodyBytes) return Self->Close();
      Self->Drain();
    });
  }

  void Close() {
    error_code Ec;
    Tcp().socket().shutdown(tcp::socket::shutdown_both, Ec);
    Tcp().close();
  }

  THttpServer::TImpl& FServer;
  TStream FStream;
  const THttpLimits& FLimits;
  beast::flat_buffer FBuffer;
  std::optional<http::request_parser<http::string_body>> FParser;
  THttpRequest FRequest;
  http::response<http::string_body> FAnswer;
  std::string FPeer;
  TSteady::time_point FBodyStart;
  std::size_t FDrained = 0;
  bool FFirst = true;       // no request answered yet
  bool FKeepAlive = false;  // the request asks to keep the connection
  bool FHead = false;
  bool FHasBody = false;
  bool FInflate = false;
  bool FClose = false;     // the answer being sent is the last
  bool FBusy = false;      // a worker is making the answer
  bool FWriting = false;
  bool FStopping = false;
};

}  // namespace

THttpResponse THttpServer::TImpl::Answer(THttpRequest& Request) noexcept {
  try {
    return Handler(Request);
  } catch (const std::bad_alloc&) {
  } catch (const std::exception&) {
    try {
      return Refusal(500, "internal error");
    } catch (...) {
    }
  }
  try {
    return Refusal(503, "out of memory");
  } catch (...) {
    return THttpResponse{503, {}, {}};
  }
}

int THttpServer::TImpl::Bind(const std::string& Address, int Port) {
  error_code Ec;
  tcp::resolver Resolver(Io);
  const auto Found = Resolver.resolve(Address, std::to_string(Port),
                                      tcp::resolver::passive | tcp::resolver::numeric_service, Ec);
  if (Ec) return -1;
  for (const auto& Entry : Found) {
    Acceptor.open(Entry.endpoint().protocol(), Ec);
    if (Ec) continue;
    // SO_REUSEADDR, not SO_REUSEPORT: a restarted service binds at once past the old connections'
    // TIME_WAIT, and a second live service on the same port is refused instead of sharing it.
    Acceptor.set_option(tcp::acceptor::reuse_address(true), Ec);
    if (!Ec) Acceptor.bind(Entry.endpoint(), Ec);
    if (!Ec) Acceptor.listen(asio::socket_base::max_listen_connections, Ec);
    if (!Ec) return Acceptor.local_endpoint().port();
    Acceptor.close(Ec);
  }
  return -1;
}

void THttpServer::TImpl::Accept() {
  Acceptor.async_accept(asio::make_strand(Io), [this](error_code Ec, tcp::socket Socket) {
    if (!Acceptor.is_open()) return;
    if (Ec) {
      // Out of descriptors or memory: wait a little instead of spinning on the same failure.
      RetryTimer.expires_after(AcceptRetry);
      RetryTimer.async_wait([this](error_code Waited) {
        if (!Waited) Accept();
      });
      return;
    }
    error_code Ignored;
    // Headers and body go out in separate writes: without this, each answer waits for the peer's
    // delayed acknowledgement (some 40 ms).
    Socket.set_option(tcp::no_delay(true), Ignored);
    try {
      if (TlsContext) {
        std::make_shared<TConnection<true>>(*this, std::move(Socket))->Start();
      } else {
        std::make_shared<TConnection<false>>(*this, std::move(Socket))->Start();
      }
    } catch (const std::exception&) {
      // the socket closes with the connection that could not be made
    }
    Accept();
  });
}

bool THttpServer::TImpl::Run() {
  if (!Acceptor.is_open()) return false;
  {
    const std::lock_guard Guard(Lock);
    if (Stopping) return true;
  }
  asio::post(AcceptStrand, [this] { Accept(); });
  // An exception that escapes a handler ends only that handler's connection.
  const auto Loop = [this] {
    for (;;) {
      try {
        Io.run();
        return;
      } catch (...) {
      }
    }
  };
  std::vector<std::thread> Others;
  for (int I = 1; I < IoThreads; ++I) Others.emplace_back(Loop);
  Loop();
  for (auto& Thread : Others) Thread.join();
  Pool.join();
  return true;
}

void THttpServer::TImpl::Stop() {
  std::vector<std::shared_ptr<TConnectionBase>> Open;
  {
    const std::lock_guard Guard(Lock);
    Stopping = true;
    for (const auto& [Key, Weak] : Connections) {
      if (auto Connection = Weak.lock()) Open.push_back(std::move(Connection));
    }
  }
  asio::post(AcceptStrand, [this] {
    error_code Ignored;
    Acceptor.close(Ignored);
    RetryTimer.cancel();
    StopDeadline = TSteady::now() + Limits.StopGrace;
    WatchStop();
  });
  for (const auto& Connection : Open) Connection->Stop();
}

// Ends the I/O threads once every connection has gone, or at the stop's deadline.
void THttpServer::TImpl::WatchStop() {
  bool Empty = false;
  {
    const std::lock_guard Guard(Lock);
    Empty = Connections.empty();
  }
  if (Empty || TSteady::now() >= StopDeadline) return Io.stop();
  StopTimer.expires_after(std::chrono::milliseconds(20));
  StopTimer.async_wait([this](error_code) { WatchStop(); });
}

THttpServer::THttpServer(THttpLimits Limits, THeaders DefaultHeaders, TScreen Screen, THandler Handler,
                         TRefusal Refusal, const std::optional<TTlsFiles>& Tls)
    : FImpl(std::make_unique<TImpl>(Limits, std::move(DefaultHeaders), std::move(Screen), std::move(Handler),
                                    std::move(Refusal), Tls)) {}

THttpServer::~THttpServer() = default;

int THttpServer::Bind(const std::string& Address, int Port) { return FImpl->Bind(Address, Port); }

bool THttpServer::Run() { return FImpl->Run(); }

void THttpServer::Stop() { FImpl->Stop(); }

}  // namespace nimbrel::service
