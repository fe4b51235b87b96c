// Telling UTF-8 text from other bytes by its byte-order mark or its first non-ASCII sequence.
#include "base/text.h"
#include "base/utf.h"

namespace nimbrel {
namespace {

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

}  // namespace nimbrel
