// Telling UTF-8 text from other bytes by its byte-order mark or its first non-ASCII sequence.
#include <ios>
#include <vector>

#include "base/text.h"
#include "base/utf.h"

namespace nimbrel {
namespace {

constexpr std::streamoff MaxSample = 16384;

bool IsContinuation(unsigned char Byte) { return Byte >= 0x80 && Byte <= 0xBF; }

}  // namespace

bool DetectUtf8Sample(std::string_view Sample) {
  if (Sample.size() >= 3 && Sample.substr(0, 3) == "\xEF\xBB\xBF") return true;
  size_t I = 0;
  while (I < Sample.size() && static_cast<unsigned char>(Sample[I]) < 0x80) ++I;
  if (I == Sample.size()) return false;

  unsigned char Low = 0;
  unsigned char High = 0;
  int Further = 0;
  if (!Utf8SecondByteRange(static_cast<unsigned char>(Sample[I]), Low, High, Further)) return false;
  if (++I >= Sample.size()) return false;
  const auto Second = static_cast<unsigned char>(Sample[I]);
  if (Second < Low || Second > High) return false;
  for (int N = 0; N < Further; ++N) {
    if (++I >= Sample.size() || !IsContinuation(static_cast<unsigned char>(Sample[I]))) return false;
  }
  // The sequence must end here: one more continuation byte would make it ill-formed.
  return ++I >= Sample.size() || !IsContinuation(static_cast<unsigned char>(Sample[I]));
}

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
