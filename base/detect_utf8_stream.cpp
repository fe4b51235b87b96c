// Telling UTF-8 text from other bytes in a seekable stream. Kept apart from the sample check so
// that a program which never reads streams does not link the stream and locale machinery.
#include <ios>
#include <istream>
#include <vector>

#include "base/text.h"

namespace nimbrel {
namespace {

constexpr std::streamoff MaxSample = 16384;

}  // namespace

bool DetectUtf8(std::istream& Stream, int32_t MaxCount) {
  // Every way out without a sample leaves the stream's flags as they were: a failed tellg or
  // seekg sets failbit, after which the caller's own rewind would do nothing.
  const std::ios_base::iostate State = Stream.rdstate();
  const std::streampos Position = Stream.tellg();
  if (Position == std::streampos(-1)) {
    Stream.clear(State);
    return false;
  }
  Stream.seekg(0, std::ios::end);
  const std::streampos End = Stream.tellg();
  Stream.clear(State);
  Stream.seekg(Position);
  std::streamoff Count = End - Position;
  if (Count > MaxSample) Count = MaxSample;
  if (Count <= 0) return false;
  if (MaxCount >= 0 && MaxCount < Count) Count = MaxCount;

  std::vector<char> Sample(static_cast<size_t>(Count));
  Stream.read(Sample.data(), Count);
  if (Stream.gcount() != Count) throw std::ios_base::failure("DetectUtf8: the stream ended before its announced size");
  Stream.clear();
  Stream.seekg(0);
  return DetectUtf8Sample(std::string_view(Sample.data(), Sample.size()));
}

}  // namespace nimbrel
