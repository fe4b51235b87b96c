// A client on a plain socket that sends exactly the bytes a test gives it, as a hostile client
// would, and reads what comes back without interpreting more than an answer's length.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

namespace nimbrel::service::testing {

class TRawClient {
 public:
  // Connects to 127.0.0.1:Port; Connected() says whether it did.
  explicit TRawClient(int Port) {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(static_cast<uint16_t>(Port));
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(FSocket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0) {
      ::close(FSocket);
      FSocket = -1;
    }
  }
  ~TRawClient() {
    if (FSocket >= 0) ::close(FSocket);
  }
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  bool Connected() const { return FSocket >= 0; }
  int Socket() const { return FSocket; }

  // False when the peer has closed or reset the connection.
  bool Send(std::string_view Data) {
    while (!Data.empty()) {
      const ssize_t Sent = ::send(FSocket, Data.data(), Data.size(), MSG_NOSIGNAL);
      if (Sent <= 0) return false;
      Data.remove_prefix(static_cast<size_t>(Sent));
    }
    return true;
  }

  // Sends no more: the peer reads the end of the stream.
  void Finish() { ::shutdown(FSocket, SHUT_WR); }

  // One answer (status line, headers, and a body of its Content-Length); "" when none comes
  // within Wait.
  std::string ReadAnswer(std::chrono::milliseconds Wait = std::chrono::seconds(5)) {
    const auto Deadline = std::chrono::steady_clock::now() + Wait;
    size_t End = std::string::npos;
    while ((End = FPending.find("\r\n\r\n")) == std::string::npos) {
      if (!Receive(Deadline)) return {};
    }
    End += 4;
    size_t Length = 0;
    const std::string Head = Lower(FPending.substr(0, End));
    if (const size_t At = Head.find("\r\ncontent-length:"); At != std::string::npos) {
      Length = std::strtoul(Head.c_str() + At + 17, nullptr, 10);
    }
    while (FPending.size() < End + Length) {
      if (!Receive(Deadline)) return {};
    }
    std::string Answer = FPending.substr(0, End + Length);
    FPending.erase(0, End + Length);
    return Answer;
  }

  // Everything the peer sends until it closes the connection or Wait runs out.
  std::string ReadAll(std::chrono::milliseconds Wait = std::chrono::seconds(5)) {
    const auto Deadline = std::chrono::steady_clock::now() + Wait;
    while (Receive(Deadline)) {
    }
    std::string All;
    All.swap(FPending);
    return All;
  }

  // Whether the peer closes (or resets) the connection within Wait; what it sends first is dropped.
  bool Closed(std::chrono::milliseconds Wait) {
    const auto Deadline = std::chrono::steady_clock::now() + Wait;
    while (Receive(Deadline)) FPending.clear();
    return FClosed;
  }

  static std::string Lower(std::string Text) {
    for (char& C : Text) C = (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C;
    return Text;
  }

 private:
  // Appends what arrives before Deadline; false when nothing did (time out, or the peer closed).
  bool Receive(std::chrono::steady_clock::time_point Deadline) {
    if (FClosed || FSocket < 0) return false;
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
    if (Left.count() <= 0) return false;
    pollfd Poll{FSocket, POLLIN, 0};
    if (::poll(&Poll, 1, static_cast<int>(Left.count())) <= 0) return false;
    char Buffer[16384];
    const ssize_t Got = ::recv(FSocket, Buffer, sizeof Buffer, 0);
    if (Got <= 0) {
      FClosed = true;
      return false;
    }
    FPending.append(Buffer, static_cast<size_t>(Got));
    return true;
  }

  int FSocket = -1;
  bool FClosed = false;
  std::string FPending;
};

// The status line of Answer ("HTTP/1.1 200 OK"), or "" when there is none.
inline std::string StatusLine(const std::string& Answer) { return Answer.substr(0, Answer.find("\r\n")); }

// How many answers Text holds (status lines at the start of a line).
inline int AnswerCount(const std::string& Text) {
  int Count = 0;
  for (size_t At = Text.find("HTTP/1."); At != std::string::npos; At = Text.find("HTTP/1.", At + 1)) {
    if (At == 0 || Text[At - 1] == '\n') ++Count;
  }
  return Count;
}

}  // namespace nimbrel::service::testing
