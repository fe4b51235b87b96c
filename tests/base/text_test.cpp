// Cutting between markers, JSON string escapes and percent-encoding.
#include "base/text.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <system_error>

namespace nimbrel {
namespace {

const std::wstring PkStart = L"\"pk\":\"";
const std::wstring Quote = L"\"";

TEST(ExtractBetween, CutsBetweenMarkers) {
  struct TCase {
    const wchar_t* Source;
    std::wstring Start;
    std::wstring End;
    bool Keep;
    const wchar_t* Expected;
  };
  const TCase Cases[] = {
      // the report key, its marker in another case
      {L"{\"PK\":\"a1b2\",\"x\":\"y\"}", PkStart, Quote, false, L"a1b2"},
      {L"{\"pK\":\"a1b2\"}", L"\"Pk\":\"", Quote, false, L"a1b2"},
      // escaped quotes are no end marker; the escapes stay for JsonUnescape
      {L"{\"pk\":\"say \\\"hi\\\"\",\"n\":1}", PkStart, Quote, false, L"say \\\"hi\\\""},
      // a value that ends in an escaped backslash ends at its own closing quote
      {L"{\"pk\":\"a\\\\\",\"n\":\"b\"}", PkStart, Quote, false, L"a\\\\"},
      {L"{\"pk\":\"a\\\\\\\"b\"}", PkStart, Quote, false, L"a\\\\\\\"b"},
      {L"{\"pk\":\"a\\\\\\\\\"}", PkStart, Quote, false, L"a\\\\\\\\"},
      // an escaped quote is no start marker either
      {L"{\"t\":\"\\\"pk\\\":\\\"no\\\"\",\"pk\":\"yes\"}", PkStart, Quote, false, L"yes"},
      // single quotes hide the same way
      {L"'a\\'b' 'c'", L"'", L"'", false, L"a\\'b"},
      // missing markers
      {L"{\"pk\":\"open", PkStart, Quote, false, L""},
      {L"{\"other\":\"x\"}", PkStart, Quote, false, L""},
      {L"{\"pk\":\"a\\\"", PkStart, Quote, false, L""},
      // empty markers
      {L"abc\"def", L"", Quote, false, L"abc"},
      {L"abc:def", L"abc:", L"", false, L"def"},
      {L"whole", L"", L"", false, L"whole"},
      {L"", L"", L"", true, L""},
      // only ASCII letters fold
      {L"x\u00E9y", L"\u00C9", L"", false, L""},
      {L"x\u00E9y", L"\u00E9", L"", false, L"y"},
      // the end marker is searched after the start marker only
      {L"]a[b]", L"[", L"]", false, L"b"},
      // keeping markers: only around a result that is not blank, with the caller's spelling
      {L"<A> x </a>", L"<a>", L"</A>", true, L"<a> x </A>"},
      {L"<a>   </a>", L"<a>", L"</a>", true, L"   "},
      {L"<a>\t\u0001</a>", L"<a>", L"</a>", true, L"\t\u0001"},
      {L"{\"info\":{\"style\":\"1\"},\"x\":2}", L"\"info\":{", L"}", true, L"\"info\":{\"style\":\"1\"}"},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(ExtractBetween(Case.Source, Case.Start, Case.End, Case.Keep), Case.Expected) << Case.Source;
  }
}

TEST(JsonEscape, EscapesToPureAscii) {
  struct TCase {
    std::wstring Text;
    const wchar_t* Expected;
  };
  const TCase Cases[] = {
      {L"plain text 123", L"plain text 123"},
      {std::wstring(L"\b\t\n\f\r", 5), L"\\b\\t\\n\\f\\r"},
      {std::wstring(L"\0\1\7\13\16\37", 6), L"\\u0000\\u0001\\u0007\\u000B\\u000E\\u001F"},
      {L"\"/\\", L"\\\"\\/\\\\"},
      {L"'\u007F~", L"'\u007F~"},
      {L"\u0080\u00E9\uAC00\uFFFF", L"\\u0080\\u00E9\\uAC00\\uFFFF"},
      {L"\U0001F600", L"\\uD83D\\uDE00"},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(JsonEscape(Case.Text), Case.Expected) << Case.Expected;
}

TEST(JsonUnescape, ReadsEscapesAndDropsUnknownOnes) {
  struct TCase {
    const wchar_t* Text;
    std::wstring Expected;
  };
  const TCase Cases[] = {
      {L"say \\\"hi\\\"", L"say \"hi\""},
      {L"\\'\\/\\\\", L"'/\\"},
      {L"\\b\\f\\n\\r\\t", L"\b\f\n\r\t"},
      {L"\\u00e9\\u00E9\\uac00", L"\u00E9\u00E9\uAC00"},
      {L"\\uD83D\\uDE00", L"\U0001F600"},
      {L"\\u0000x", std::wstring(L"\0x", 2)},
      {L"a\\", L"a"},             // a backslash at the end
      {L"a\\xb", L"ab"},          // an unknown escape goes with its backslash
      {L"\\N\\B\\U0041", L"0041"},  // only lower-case letters are escape letters
      {L"\\u41", L"A"},           // fewer than four digits are left only at the end
      {L"\\u4", L"\u0004"},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(JsonUnescape(Case.Text), Case.Expected) << Case.Text;

  for (const wchar_t* Malformed : {L"\\u", L"x\\u12g4", L"\\u 123", L"\\u12\\\"", L"\\u-123", L"\\uzzzz"}) {
    EXPECT_THROW(JsonUnescape(Malformed), std::invalid_argument) << Malformed;
  }
}

TEST(JsonUnescape, UndoesJsonEscapeForRandomTexts) {
  std::mt19937 Random(20240601);
  std::uniform_int_distribution<int> Length(0, 40);
  std::uniform_int_distribution<int> Kind(0, 5);
  for (int Round = 0; Round < 2000; ++Round) {
    std::wstring Text;
    for (int I = Length(Random); I > 0; --I) {
      switch (Kind(Random)) {
        case 0: Text += static_cast<wchar_t>(Random() % 32); break;           // control characters
        case 1: Text += static_cast<wchar_t>(32 + Random() % 96); break;      // ASCII, quotes, slashes
        case 2: Text += L"\\\"/"[Random() % 3]; break;
        case 3: Text += static_cast<wchar_t>(0xD800 + Random() % 0x800); break;  // lone surrogates
        case 4: {  // surrogate pairs
          const wchar_t Pairs[][2] = {{0xD83D, 0xDE00}, {0xD800, 0xDF48}, {0xDBFF, 0xDFFF}};
          const auto& Pair = Pairs[Random() % 3];
          Text.append(Pair, 2);
          break;
        }
        default: Text += static_cast<wchar_t>(Random() % 0x10000); break;
      }
    }
    const std::wstring Escaped = JsonEscape(Text);
    for (wchar_t C : Escaped) ASSERT_LT(C, 128);
    ASSERT_EQ(JsonUnescape(Escaped), Text) << Escaped;
  }
}

TEST(UrlEncode, Utf8FormEncoding) {
  struct TCase {
    std::wstring Text;
    const wchar_t* Expected;
  };
  const TCase Cases[] = {
      {L"a b&c=d/\u00E9", L"a+b%26c%3Dd%2F%C3%A9"},
      {L"AZaz09!$'()*-.@_", L"AZaz09!$'()*-.@_"},
      {L"~,;[]<>#%+\"", L"%7E%2C%3B%5B%5D%3C%3E%23%25%2B%22"},
      {std::wstring(L"\0\n\x7F", 3), L"%00%0A%7F"},
      {L"\uAC00", L"%EA%B0%80"},
      {L"\U0001F600", L"%F0%9F%98%80"},
      {std::wstring(1, wchar_t(0xD83D)) + L"x", L"%EF%BF%BDx"},  // unpaired surrogate
      {L"", L""},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(UrlEncode(Case.Text), Case.Expected) << Case.Expected;
  EXPECT_EQ(UrlEncode(L"a b\u00E9", 65001), L"a+b%C3%A9");
}

TEST(UrlEncode, CodePageEncoding) {
  struct TCase {
    unsigned CodePage;
    std::wstring Text;
    const wchar_t* Expected;
  };
  const TCase Cases[] = {
      {949, L"\uAC00", L"%B0%A1"},
      {949, L"a b.c_d", L"a%20b%2Ec%5Fd"},
      {949, L" .=`!@#$%^&*(){}_+|\\/?:\"'", L"%20%2E%3D%60%21%40%23%24%25%5E%26%2A%28%29%7B%7D%5F%2B%7C%5C%2F%3F%3A%22%27"},
      {949, std::wstring(L"-,;[]~<>\t", 9), L"-,;[]~<>\t"},
      {1252, L"\u00E9\u20AC", L"%E9%80"},
      {1252, L"\uAC00", L"%3F"},  // no mapping: the code page's default character "?"
      {949, L"", L""},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(UrlEncode(Case.Text, Case.CodePage), Case.Expected) << Case.Expected;
  EXPECT_THROW(UrlEncode(L"x", 12345), std::system_error);
  EXPECT_THROW(UrlEncode(L"", 12345), std::system_error);
}

}  // namespace
}  // namespace nimbrel
