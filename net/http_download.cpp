// THTTP::Download. Kept apart from the rest of THTTP so that a program which never downloads into
// a stream does not link the stream and locale machinery.
#include <ostream>

#include "net/http_client.h"

namespace nimbrel {

namespace {

// The low 32 bits, as the progress handler has always been given them.
int32_t Low32(std::int64_t Value) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(Value))); }

}  // namespace

bool THTTP::Download(const std::wstring& Url, std::ostream& Stream, TDownloadProgress Proc) {
  FReceiveProc = std::move(Proc);
  bool Written = true;
  TTransportRequest Exchanged;
  Exchanged.Method = L"GET";
  Exchanged.Url = Url;
  Exchanged.Sink = [&Stream, &Written](std::string_view Piece) {
    Stream.write(Piece.data(), static_cast<std::streamsize>(Piece.size()));
    Written = static_cast<bool>(Stream);
    return Written;
  };
  if (FReceiveProc) {
    Exchanged.Progress = [this](std::int64_t Received, std::int64_t Total) {
      FReceiveProc(Low32(Received), Low32(Total));
    };
  }
  const TTransportResult Result = Exchange(std::move(Exchanged));
  return Result.Answered && Written && Result.Response.StatusCode == 200;
}

}  // namespace nimbrel
