// Text helpers, languages, keys and versions.
#include <gtest/gtest.h>

#include <set>

#include "html.h"
#include "language.h"
#include "report_key.h"
#include "text.h"
#include "version.h"

namespace nimbrel::service {
namespace {

TEST(Text, Utf8Validity) {
  for (const char* Good : {"", "abc", "é", "한국어", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF"}) EXPECT_TRUE(IsValidUtf8(Good)) << Good;
  for (const char* Bad : {"\x80", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "a\xC3("}) {
    EXPECT_FALSE(IsValidUtf8(Bad)) << Bad;
  }
}

// ASCII is passed in blocks: a bad or good sequence must be seen at every offset within and
// across a block, and a sequence cut off by the end of the text must be refused.
TEST(Text, Utf8ValidityAtEveryOffset) {
  for (size_t At = 0; At <= 16; ++At) {
    for (const char* Bad : {"\x80", "\xFF", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF0\x9F\x98"}) {
      std::string Text(20, 'a');
      Text.insert(At, Bad);
      EXPECT_FALSE(IsValidUtf8(Text)) << At << " " << Bad;
      EXPECT_FALSE(IsValidUtf8(std::string(At, 'a') + Bad)) << At << " at the end " << Bad;
    }
    for (const char* Good : {"\x7F", "\xC3\xA9", "\xED\x9F\xBF", "\xF0\x9F\x98\x80"}) {
      std::string Text(20, 'a');
      Text.insert(At, Good);
      EXPECT_TRUE(IsValidUtf8(Text)) << At << " " << Good;
      EXPECT_TRUE(IsValidUtf8(std::string(At, 'a') + Good)) << At << " at the end " << Good;
    }
  }
}

TEST(Text, LowerCaseBeyondAscii) {
  EXPECT_EQ(LowerUtf8("HKLM"), "hklm");
  EXPECT_EQ(LowerUtf8("ÉCOLE Ünïcode"), "école ünïcode");
  EXPECT_EQ(LowerUtf8("ПРИВЕТ"), "привет");
  EXPECT_EQ(LowerUtf8("카카오톡 KakaoTalk"), "카카오톡 kakaotalk");
}

TEST(Text, PercentDecodingOfOneSegment) {
  struct TCase {
    const char* Segment;
    std::optional<std::string> Decoded;
  };
  for (const TCase& Case : {
           TCase{"OneDrive", "OneDrive"},
           TCase{"Send%20to%20OneNote.lnk", "Send to OneNote.lnk"},
           TCase{"a%2Fb", "a/b"},
           TCase{"a+b", "a+b"},
           TCase{"%EC%B9%B4%ED%86%A1", "카톡"},
           TCase{"%ec%b9%b4", "카"},
           TCase{"%", std::nullopt},
           TCase{"%4", std::nullopt},
           TCase{"%zz", std::nullopt},
           TCase{"%C3%28", std::nullopt},
           TCase{"a%00b", std::nullopt},
       }) {
    EXPECT_EQ(PercentDecodeSegment(Case.Segment), Case.Decoded) << Case.Segment;
  }
  const std::string Name = "Send to/One Note 카톡 ~-._!*'();:@&=+$,?#[]%";
  const std::string Encoded = PercentEncodeSegment(Name);
  EXPECT_EQ(Encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%"),
            std::string::npos);
  EXPECT_EQ(PercentDecodeSegment(Encoded), Name);
}

TEST(Text, ItemFileName) {
  EXPECT_EQ(ItemFileName("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive"), "OneDrive");
  EXPECT_EQ(ItemFileName("C:\\Users\\a\\Start Menu\\Send to OneNote.lnk"), "Send to OneNote.lnk");
  EXPECT_EQ(ItemFileName("\\MicrosoftEdgeUpdateTaskMachineCore"), "MicrosoftEdgeUpdateTaskMachineCore");
  EXPECT_EQ(ItemFileName("Spooler"), "Spooler");
  EXPECT_EQ(ItemFileName("C:a/b"), "a/b");
}

TEST(Text, HtmlEscaping) {
  EXPECT_EQ(EscapeHtml("<script>alert(\"x\")</script> & 'y'"),
            "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;y&#39;");
  EXPECT_EQ(EscapeHtml(std::string("a\0b\x1b\tc", 6)), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\tc");
  EXPECT_EQ(EscapeHtml("한국어 عربي"), "한국어 عربي");
}

TEST(Language, AcceptLanguage) {
  struct TCase {
    const char* Header;
    TLanguage Language;
  };
  for (const TCase& Case : {
           TCase{"", TLanguage::En},
           TCase{"ko-KR,ko;q=0.9,en-US;q=0.8,en;q=0.7", TLanguage::Ko},
           TCase{"ar", TLanguage::Ar},
           TCase{"de-DE,de;q=0.9,fr;q=0.5", TLanguage::Fr},
           TCase{"de, nl", TLanguage::En},
           TCase{"en;q=0.5, ja;q=0.8", TLanguage::Ja},
           TCase{"zh-Hans-CN", TLanguage::Zh},
           TCase{"ru;q=0, es", TLanguage::Es},
           TCase{"it;q=0.5, fr;q=0.5", TLanguage::It},
           TCase{"FR-ca", TLanguage::Fr},
           TCase{"*", TLanguage::En},
           TCase{"ko;q=abc, ar;q=0.1", TLanguage::Ar},
           TCase{";;,,;q=,", TLanguage::En},
       }) {
    EXPECT_EQ(PickLanguage(Case.Header), Case.Language) << Case.Header;
  }
}

TEST(ReportKey, RandomUrlSafeAndRecognised) {
  std::set<std::string> Keys;
  for (int I = 0; I < 1000; ++I) {
    const auto Key = NewReportKey();
    ASSERT_TRUE(Key);
    ASSERT_TRUE(IsReportKey(*Key)) << *Key;
    Keys.insert(*Key);
  }
  EXPECT_EQ(Keys.size(), 1000u);
  for (const char* Bad : {"", "short", "AAAAAAAAAAAAAAAAAAAAA=", "AAAAAAAAAAAAAAAAAAAAA/", "AAAAAAAAAAAAAAAAAAAAAAA",
                          "AAAAAAAAAAAAAAAAAAAA\"A"}) {
    EXPECT_FALSE(IsReportKey(Bad)) << Bad;
  }
}

TEST(Version, Parsing) {
  EXPECT_EQ(ParseVersion("1.0.0.0"), (TVersion{1, 0, 0, 0}));
  EXPECT_EQ(ParseVersion("2.10"), (TVersion{2, 10, 0, 0}));
  EXPECT_EQ(ParseVersion("65535.1.2.3"), (TVersion{65535, 1, 2, 3}));
  for (const char* Bad : {"", ".", "1.", ".1", "1..2", "1.2.3.4.5", "v1", "1.0 ", "123456", "-1"}) {
    EXPECT_FALSE(ParseVersion(Bad)) << Bad;
  }
  EXPECT_LT(*ParseVersion("0.9.9.9"), *ParseVersion("1.0"));
  EXPECT_LT(*ParseVersion("1.0.0.9"), *ParseVersion("1.0.1.0"));
}

}  // namespace
}  // namespace nimbrel::service
