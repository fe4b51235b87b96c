// nimbrel-service as its own process: start-up, refusing a bad configuration, SIGTERM, a new
// process taking the same port at once, two processes sharing one PostgreSQL database, and HTTPS.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "helpers.h"
#include "postgresql_fixture.h"
#include "raw_client.h"
#include "service_fixture.h"

extern char** environ;

namespace nimbrel::service {
namespace {

using testing::MemoryObject;
using testing::ProgramKey;
using testing::ReportBody;
using testing::TPostgresqlDatabase;
using testing::TRawClient;
using testing::TTempDir;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::filesystem::path Source = NIMBREL_SERVICE_SOURCE;

// One service process with its standard output and error on pipes; killed if the test leaves it running.
class TServiceProcess {
 public:
  explicit TServiceProcess(const std::vector<std::string>& Arguments) {
    int Out[2], Err[2];
    if (::pipe(Out) != 0 || ::pipe(Err) != 0) return;
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Out[1], 1);
    posix_spawn_file_actions_adddup2(&Actions, Err[1], 2);
    posix_spawn_file_actions_addclose(&Actions, Out[0]);
    posix_spawn_file_actions_addclose(&Actions, Err[0]);
    std::vector<std::string> All{NIMBREL_SERVICE_BINARY};
    All.insert(All.end(), Arguments.begin(), Arguments.end());
    std::vector<char*> Argv;
    for (auto& Argument : All) Argv.push_back(Argument.data());
    Argv.push_back(nullptr);
    if (posix_spawn(&FPid, Argv[0], &Actions, nullptr, Argv.data(), environ) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&Actions);
    ::close(Out[1]);
    ::close(Err[1]);
    FOut = Out[0];
    FErr = Err[0];
  }
  ~TServiceProcess() {
    if (FPid > 0 && !FExited) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) ::close(FOut);
    if (FErr >= 0) ::close(FErr);
  }

  // The port from the "listening on" line; -1 when the process ends or says nothing within 5 s.
  int Port() {
    std::string Line;
    const auto Deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < Deadline && Line.find('\n') == std::string::npos) {
      pollfd Poll{FOut, POLLIN, 0};
      if (::poll(&Poll, 1, 100) <= 0) continue;
      char Buffer[256];
      const ssize_t Got = ::read(FOut, Buffer, sizeof Buffer);
      if (Got <= 0) return -1;
      Line.append(Buffer, static_cast<size_t>(Got));
    }
    const size_t Colon = Line.rfind(':');
    return Colon == std::string::npos ? -1 : std::atoi(Line.c_str() + Colon + 1);
  }

  void Signal(int Number) { ::kill(FPid, Number); }

  // The exit code when the process exits within Timeout; -1 when it does not (or is killed by a signal).
  int Wait(std::chrono::milliseconds Timeout) {
    const auto Deadline = Clock::now() + Timeout;
    while (Clock::now() < Deadline) {
      int Status = 0;
      if (::waitpid(FPid, &Status, WNOHANG) == FPid) {
        FExited = true;
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  std::string Errors() {
    std::string Text;
    char Buffer[256];
    pollfd Poll{FErr, POLLIN, 0};
    while (::poll(&Poll, 1, 0) > 0) {
      const ssize_t Got = ::read(FErr, Buffer, sizeof Buffer);
      if (Got <= 0) break;
      Text.append(Buffer, static_cast<size_t>(Got));
    }
    return Text;
  }

 private:
  pid_t FPid = -1;
  int FOut = -1, FErr = -1;
  bool FExited = false;
};

const std::string OneDriveReport = ReportBody(
    {MemoryObject, R"({"cate":"clean","file":"C:\\Program Files\\Helper\\helper.exe","state":"-1"})",
     R"({"cate":"start","item":"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive","from":"HKCU"})"});

TEST(Process, SigtermStopsTheServiceAndANewOneTakesThePortAtOnceButNotWhileItRuns) {
  TTempDir Folder;
  const auto Database = Folder.Path() / "new.sqlite";
  const std::vector<std::string> Common{"--config", (Source / "config.example.json").string(), "--database",
                                        Database.string()};
  int Port = -1;
  {
    std::vector<std::string> Arguments = Common;
    Arguments.insert(Arguments.end(), {"--port", "0"});
    TServiceProcess First(Arguments);
    Port = First.Port();
    ASSERT_GT(Port, 0) << First.Errors();
    EXPECT_TRUE(std::filesystem::exists(Database));
    // A kept-alive connection that has just been served must not hold the stop up.
    httplib::Client Client("127.0.0.1", Port);
    Client.set_keep_alive(true);
    const auto Answer = Client.Get("/api.init.php", {{"User-Version", "0.1.0.0"}});
    ASSERT_TRUE(Answer);
    EXPECT_EQ(Answer->status, 200);
    // Nor do clients that keep sending headers a byte at a time, or an upload half sent.
    std::atomic<bool> Done{false};
    std::vector<std::thread> Tricklers;
    for (int I = 0; I < 2; ++I) {
      Tricklers.emplace_back([&] {
        TRawClient Slow(Port);
        Slow.Send("GET /nimbrel HTTP/1.1\r\n");
        while (!Done && Slow.Send("X") && !Slow.Closed(100ms)) {
        }
      });
    }
    TRawClient HalfUpload(Port);
    HalfUpload.Send("POST /report.php HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n" + OneDriveReport);
    std::this_thread::sleep_for(300ms);
    const auto Started = Clock::now();
    First.Signal(SIGTERM);
    EXPECT_EQ(First.Wait(std::chrono::seconds(10)), 0) << First.Errors();
    EXPECT_LT(Clock::now() - Started, std::chrono::seconds(3));
    EXPECT_EQ(HalfUpload.ReadAll(1s), "");
    Done = true;
    for (auto& Thread : Tricklers) Thread.join();
  }
  std::vector<std::string> Arguments = Common;
  Arguments.insert(Arguments.end(), {"--port", std::to_string(Port)});
  TServiceProcess Second(Arguments);
  EXPECT_EQ(Second.Port(), Port) << Second.Errors();
  httplib::Client Client("127.0.0.1", Port);
  const auto Home = Client.Get("/nimbrel");
  ASSERT_TRUE(Home);
  EXPECT_EQ(Home->status, 200);
  // A second live service on the same port is refused instead of sharing it.
  TServiceProcess Third(Arguments);
  EXPECT_EQ(Third.Wait(std::chrono::seconds(10)), 1) << "the port is taken";
  EXPECT_NE(Third.Errors().find("cannot listen"), std::string::npos);
  Second.Signal(SIGINT);
  EXPECT_EQ(Second.Wait(std::chrono::seconds(10)), 0);
}

TEST(Process, ABadConfigurationStopsTheStart) {
  TTempDir Folder;
  const auto Config = Folder.Path() / "config.json";
  std::ofstream(Config) << R"({"latest_version":"1.0.0.0","notices":{"en":{"text":"closing } brace"}}})";
  TServiceProcess Service({"--config", Config.string(), "--port", "0", "--database",
                           (Folder.Path() / "db.sqlite").string()});
  EXPECT_EQ(Service.Wait(std::chrono::seconds(5)), 2);
  EXPECT_NE(Service.Errors().find("}"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Folder.Path() / "db.sqlite"));

  TServiceProcess NoConfig({"--port", "0"});
  EXPECT_EQ(NoConfig.Wait(std::chrono::seconds(5)), 2);
  EXPECT_NE(NoConfig.Errors().find("--config"), std::string::npos);
}

TEST(Process, TwoServicesOnOnePostgresqlDatabaseServeEachOthersReports) {
  TPostgresqlDatabase Database;
  if (Database.Address().empty()) GTEST_SKIP() << Database.SkipReason();
  const std::vector<std::string> Arguments{"--config", (Source / "config.example.json").string(), "--port", "0",
                                           "--database", Database.Address()};
  // Both start at once on the empty database, as after a deployment.
  TServiceProcess First(Arguments), Second(Arguments);
  const int Ports[] = {First.Port(), Second.Port()};
  ASSERT_GT(Ports[0], 0) << First.Errors();
  ASSERT_GT(Ports[1], 0) << Second.Errors();
  std::vector<std::string> Keys;
  for (int I = 0; I < 6; ++I) {
    httplib::Client Client("127.0.0.1", Ports[I % 2]);
    const auto Answer = Client.Post("/report.php", OneDriveReport, "application/json");
    ASSERT_TRUE(Answer);
    ASSERT_EQ(Answer->status, 200) << Answer->body;
    Keys.push_back(ProgramKey(Answer->body));
  }
  for (const int Port : Ports) {
    httplib::Client Client("127.0.0.1", Port);
    for (const std::string& Key : Keys) {
      const auto Page = Client.Get("/?report=" + Key);
      ASSERT_TRUE(Page);
      EXPECT_EQ(Page->status, 200) << Key;
      EXPECT_NE(Page->body.find("helper.exe"), std::string::npos);
    }
    const auto Entry = Client.Get("/entry/hkcu/OneDrive");
    ASSERT_TRUE(Entry);
    EXPECT_NE(Entry->body.find("Stored reports that list this entry: 6."), std::string::npos);
  }
  First.Signal(SIGTERM);
  Second.Signal(SIGTERM);
  EXPECT_EQ(First.Wait(std::chrono::seconds(10)), 0) << First.Errors();
  EXPECT_EQ(Second.Wait(std::chrono::seconds(10)), 0) << Second.Errors();
  // The throwaway server syncs nothing; the test's login owns the database and is no superuser.
  EXPECT_EQ(First.Errors(),
            "nimbrel-service: warning: the PostgreSQL server runs with fsync = off, synchronous_commit = off; an "
            "answered upload can be lost when the server's machine stops\n");
}

// A self-signed certificate for 127.0.0.1 and localhost, and its key; false when openssl fails.
bool MakeCertificate(const std::filesystem::path& Certificate, const std::filesystem::path& Key) {
  const std::string Command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
                              "-addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" + Key.string() +
                              "' -out '" + Certificate.string() + "' >/dev/null 2>&1";
  return std::system(Command.c_str()) == 0;
}

// A TLS connection offering at most Version and, up to TLS 1.2, only Ciphers.
class TTlsClient {
 public:
  TTlsClient(int Port, int Version, const char* Ciphers) : FSocket(Port) {
    FContext = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(FContext, 0);  // lets the client offer what the service must refuse
    SSL_CTX_set_min_proto_version(FContext, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(FContext, Version);
    if (*Ciphers != 0) SSL_CTX_set_cipher_list(FContext, Ciphers);
    const timeval Timeout{5, 0};
    setsockopt(FSocket.Socket(), SOL_SOCKET, SO_RCVTIMEO, &Timeout, sizeof Timeout);
    FSsl = SSL_new(FContext);
    SSL_set_fd(FSsl, FSocket.Socket());
    FConnected = SSL_connect(FSsl) == 1;
  }
  ~TTlsClient() {
    SSL_free(FSsl);
    SSL_CTX_free(FContext);
  }
  bool Connected() const { return FConnected; }
  SSL* Ssl() { return FSsl; }

 private:
  TRawClient FSocket;
  SSL_CTX* FContext = nullptr;
  SSL* FSsl = nullptr;
  bool FConnected = false;
};

TEST(Process, WithACertificateThePortSpeaksHttpsOnly) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no openssl command (Debian's openssl package) to make a certificate with";
  }
  TTempDir Folder;
  const auto Certificate = Folder.Path() / "cert.pem", Key = Folder.Path() / "key.pem";
  ASSERT_TRUE(MakeCertificate(Certificate, Key));
  const std::vector<std::string> Common{"--config", (Source / "config.example.json").string(), "--port", "0",
                                        "--database", (Folder.Path() / "reports.sqlite").string()};
  std::vector<std::string> Arguments = Common;
  Arguments.insert(Arguments.end(), {"--cert", Certificate.string(), "--key", Key.string()});
  TServiceProcess Service(Arguments);
  const int Port = Service.Port();
  ASSERT_GT(Port, 0) << Service.Errors();

  // Silent connections wait for their handshake without holding up anyone else.
  std::vector<std::unique_ptr<TRawClient>> Silent;
  for (int I = 0; I < 16; ++I) Silent.push_back(std::make_unique<TRawClient>(Port));
  httplib::SSLClient Trusting("127.0.0.1", Port);
  Trusting.set_ca_cert_path(Certificate.c_str());
  Trusting.enable_server_certificate_verification(true);
  Trusting.set_connection_timeout(3);
  Trusting.set_read_timeout(3);
  const auto Uploaded = Trusting.Post("/report.php", OneDriveReport, "application/json");
  ASSERT_TRUE(Uploaded) << httplib::to_string(Uploaded.error());
  ASSERT_EQ(Uploaded->status, 200);
  const auto Page = Trusting.Get("/?report=" + ProgramKey(Uploaded->body));
  ASSERT_TRUE(Page);
  EXPECT_EQ(Page->status, 200);
  EXPECT_NE(Page->body.find("helper.exe"), std::string::npos);
  EXPECT_EQ(Page->get_header_value("Strict-Transport-Security"), "max-age=31536000");

  // TLS 1.2 and later, forward-secret AEAD suites only.
  struct TCase {
    int Version;
    const char* Ciphers;  // TLS 1.2's list; "" for the default
    bool Agrees;
  };
  for (const TCase& Case : {TCase{TLS1_1_VERSION, "ALL:@SECLEVEL=0", false}, TCase{TLS1_2_VERSION, "AES128-SHA", false},
                            TCase{TLS1_2_VERSION, "AES128-GCM-SHA256", false},
                            TCase{TLS1_2_VERSION, "ECDHE-RSA-AES128-SHA", false},
                            TCase{TLS1_2_VERSION, "ECDHE-RSA-AES128-GCM-SHA256", true},
                            TCase{TLS1_2_VERSION, "ECDHE-RSA-CHACHA20-POLY1305", true},
                            TCase{TLS1_3_VERSION, "", true}}) {
    TTlsClient Client(Port, Case.Version, Case.Ciphers);
    EXPECT_EQ(Client.Connected(), Case.Agrees) << Case.Version << " " << Case.Ciphers;
  }
  // A client that asks to renegotiate is refused.
  TTlsClient Renegotiating(Port, TLS1_2_VERSION, "");
  ASSERT_TRUE(Renegotiating.Connected());
  EXPECT_EQ(SSL_renegotiate(Renegotiating.Ssl()), 1);
  EXPECT_NE(SSL_do_handshake(Renegotiating.Ssl()), 1);

  // A client that does not trust the certificate stops at the handshake.
  httplib::SSLClient Untrusting("127.0.0.1", Port);
  Untrusting.enable_server_certificate_verification(true);
  const auto Refused = Untrusting.Get("/nimbrel");
  EXPECT_FALSE(Refused);
  EXPECT_EQ(Refused.error(), httplib::Error::SSLServerVerification);

  // Plain HTTP on the same port gets no page.
  httplib::Client Plain("127.0.0.1", Port);
  Plain.set_read_timeout(5);
  const auto Unencrypted = Plain.Get("/nimbrel");
  EXPECT_FALSE(Unencrypted && Unencrypted->status == 200);
  Service.Signal(SIGTERM);
  EXPECT_EQ(Service.Wait(std::chrono::seconds(10)), 0) << Service.Errors();

  // A key that does not belong to the certificate stops the start.
  const auto OtherCertificate = Folder.Path() / "other-cert.pem", OtherKey = Folder.Path() / "other-key.pem";
  ASSERT_TRUE(MakeCertificate(OtherCertificate, OtherKey));
  Arguments = Common;
  Arguments.insert(Arguments.end(), {"--cert", Certificate.string(), "--key", OtherKey.string()});
  TServiceProcess Mismatched(Arguments);
  EXPECT_EQ(Mismatched.Wait(std::chrono::seconds(10)), 1);
  EXPECT_NE(Mismatched.Errors().find("cannot use the certificate"), std::string::npos);
}

}  // namespace
}  // namespace nimbrel::service
