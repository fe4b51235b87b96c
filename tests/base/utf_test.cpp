#include "base/utf.h"

#include <gtest/gtest.h>

namespace nimbrel {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const std::wstring Samples[] = {L"", L"a", L"님브렐", L"Ünïcödé", L"\U0001F600 x", L"\u0627\u0644", L"a\0b"};
  for (const std::wstring& Text : Samples) {
    EXPECT_EQ(Utf8ToWide(WideToUtf8(Text)), Text);
  }
  EXPECT_EQ(WideToUtf8(L"\u00E9"), "\xC3\xA9");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), L"\U0001F600");
}

TEST(Utf, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFD" L"b");
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace nimbrel
