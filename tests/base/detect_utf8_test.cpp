// DetectUtf8 against an independent decoder, byte range by byte range, and its stream handling.
#include <gtest/gtest.h>

#include <ios>
#include <sstream>
#include <string>

#include "base/text.h"

namespace nimbrel {
namespace {

// The number of bytes a lead byte announces by its bit pattern (1 for a byte that leads nothing).
int AnnouncedLength(unsigned Lead) {
  if ((Lead & 0xE0) == 0xC0) return 2;
  if ((Lead & 0xF0) == 0xE0) return 3;
  if ((Lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// Independent judgement: decode by the bit patterns, then reject overlong forms, surrogates and
// code points above U+10FFFF.
bool DecodesToScalar(const std::string& Bytes) {
  const auto Lead = static_cast<unsigned char>(Bytes[0]);
  const int Length = AnnouncedLength(Lead);
  if (Length == 1 || static_cast<int>(Bytes.size()) != Length) return false;
  unsigned Code = Lead & (0x7F >> Length);
  for (int I = 1; I < Length; ++I) {
    const auto Byte = static_cast<unsigned char>(Bytes[I]);
    if ((Byte & 0xC0) != 0x80) return false;
    Code = (Code << 6) | (Byte & 0x3F);
  }
  const unsigned Minimum[] = {0, 0, 0x80, 0x800, 0x10000};
  return Code >= Minimum[Length] && Code <= 0x10FFFF && !(Code >= 0xD800 && Code <= 0xDFFF);
}

TEST(DetectUtf8, AgreesWithTheDecoderForEveryLeadAndSecondByte) {
  // Every lead byte 80..FF with every second byte, the further bytes from the edges of the
  // continuation range, and the sequence placed after ASCII text.
  for (unsigned Lead = 0x80; Lead <= 0xFF; ++Lead) {
    for (unsigned Second = 0; Second <= 0xFF; ++Second) {
      for (unsigned char Further : {0x80, 0xBF, 0x7F, 0xC0}) {
        std::string Sequence{static_cast<char>(Lead), static_cast<char>(Second)};
        while (static_cast<int>(Sequence.size()) < AnnouncedLength(Lead)) Sequence += static_cast<char>(Further);
        const bool Expected = DecodesToScalar(Sequence);
        ASSERT_EQ(DetectUtf8Sample("ab" + Sequence), Expected) << std::hex << Lead << " " << Second << " " << +Further;
        ASSERT_EQ(DetectUtf8Sample(Sequence + "z\xFF"), Expected) << "only the first sequence counts";
        // one continuation byte too many, or the sequence cut off by the sample's end
        const std::string AfterAscii = std::string("a").append(Sequence);
        ASSERT_FALSE(DetectUtf8Sample(AfterAscii + "\x80"));
        if (Sequence.size() > 1) {
          ASSERT_FALSE(DetectUtf8Sample(AfterAscii.substr(0, AfterAscii.size() - 1)));
        }
      }
    }
  }
}

TEST(DetectUtf8, SamplesFromTheTable) {
  struct TCase {
    std::string Sample;
    bool Expected;
  };
  const TCase Cases[] = {
      {"", false},
      {"plain ASCII only", false},
      {std::string("\0\x7F", 2), false},
      {"\xEF\xBB\xBF", true},
      {"\xEF\xBB\xBF\xFF\xFF", true},  // the byte-order mark decides alone
      {"\xC3\xA9", true},
      {"\xC3\xA9\xA9", false},
      {"\xE9" "a", false},
      {"\xE9\x80\x80", true},
      {"abc\xED\x9F\xBF", true},
      {"abc\xED\xA0\x80", false},  // a surrogate
      {"\xF4\x8F\xBF\xBF", true},
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xC0\xAF", false},          // overlong
  };
  for (const TCase& Case : Cases) EXPECT_EQ(DetectUtf8Sample(Case.Sample), Case.Expected) << Case.Sample;
}

TEST(DetectUtf8, ReadsFromThePositionAndRewindsToTheStart) {
  std::istringstream Stream("xyz\xC3\xA9");
  Stream.seekg(3);
  EXPECT_TRUE(DetectUtf8(Stream, 4000));
  EXPECT_EQ(Stream.tellg(), std::streampos(0));

  // At the end: false, and the position stays at the end.
  Stream.seekg(0, std::ios::end);
  EXPECT_FALSE(DetectUtf8(Stream, 4000));
  EXPECT_EQ(Stream.tellg(), std::streampos(5));

  // The maximum cuts the sample: the sequence is then cut off.
  Stream.seekg(0);
  EXPECT_FALSE(DetectUtf8(Stream, 4));
  EXPECT_TRUE(DetectUtf8(Stream, 5));
  EXPECT_TRUE(DetectUtf8(Stream, -1));
  EXPECT_FALSE(DetectUtf8(Stream, 0));
  EXPECT_EQ(Stream.tellg(), std::streampos(0));

  // Only the first 16384 bytes are looked at.
  std::istringstream Long(std::string(16383, 'a') + "\xC3\xA9");
  EXPECT_FALSE(DetectUtf8(Long, -1));
  std::istringstream Short(std::string(16382, 'a') + "\xC3\xA9");
  EXPECT_TRUE(DetectUtf8(Short, -1));
}

TEST(DetectUtf8, AStreamReadToItsEndStaysUsable) {
  // A read that reached the end leaves only the end-of-file flag: nothing to sample, and the
  // caller can still rewind and read the text.
  std::istringstream Stream("ab \xC3\xA9");
  std::string Word;
  Stream >> Word >> Word;
  ASSERT_EQ(Stream.rdstate(), std::ios::eofbit);
  EXPECT_FALSE(DetectUtf8(Stream, 4000));
  EXPECT_EQ(Stream.rdstate(), std::ios::eofbit);
  Stream.seekg(0);
  EXPECT_TRUE(DetectUtf8(Stream, 4000));
  std::getline(Stream, Word);
  EXPECT_EQ(Word, "ab \xC3\xA9");
}

// A stream of 100 bytes whose reads deliver only the first two.
class TShortBuffer : public std::stringbuf {
 public:
  TShortBuffer() : std::stringbuf(std::string(100, 'a')) {}

 protected:
  std::streamsize xsgetn(char* Target, std::streamsize Count) override {
    return std::stringbuf::xsgetn(Target, Count < 2 ? Count : 2);
  }
  int_type underflow() override { return traits_type::eof(); }
};

TEST(DetectUtf8, AStreamThatDeliversLessFails) {
  TShortBuffer Buffer;
  std::istream Stream(&Buffer);
  EXPECT_THROW(DetectUtf8(Stream, -1), std::ios_base::failure);
}

}  // namespace
}  // namespace nimbrel
