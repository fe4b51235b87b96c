// The start-up answer, read the way the desktop program reads it: string members by a text search
// (names in any letter case, the value up to the next unescaped quote), "info" up to its first "}",
// and the three lists by a JSON parser.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "init_answer.h"

namespace nimbrel::service {
namespace {

std::string Upper(std::string Text) {
  for (char& C : Text) C = (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
  return Text;
}

// The text between `"Name":` + Opening and the end the program looks for; empty when absent.
std::string ProgramCut(const std::string& Answer, const std::string& Name, char Opening, char End) {
  const std::string Marker = "\"" + Upper(Name) + "\":" + Opening;
  const size_t Start = Upper(Answer).find(Marker);
  if (Start == std::string::npos) return {};
  const size_t Begin = Start + Marker.size();
  size_t Backslashes = 0;
  for (size_t I = Begin; I < Answer.size(); ++I) {
    if (Answer[I] == End && (End != '"' || Backslashes % 2 == 0)) return Answer.substr(Begin, I - Begin);
    Backslashes = Answer[I] == '\\' ? Backslashes + 1 : 0;
  }
  return {};
}

std::string ProgramString(const std::string& Text, const std::string& Name) {
  const std::string Raw = ProgramCut(Text, Name, '"', '"');
  return nlohmann::json::parse("\"" + Raw + "\"").get<std::string>();
}

std::string ProgramInfo(const std::string& Answer) { return ProgramCut(Answer, "info", '{', '}'); }

TConfig ExampleConfig() {
  TConfig Config;
  Config.LatestVersionText = "1.0.0.0";
  Config.LatestVersion = *ParseVersion("1.0.0.0");
  Config.DownloadUrl = "https://nimbrel.example/Nimbrel.exe";
  Config.UpdateBarUrl = "https://nimbrel.example/nimbrel";
  Config.Notices["en"] = {"note", "Say \"hi\" {now", "stayontop", "https://nimbrel.example/en"};
  Config.Notices["ko"] = {"hold", "다시 보지 않기", "", "https://nimbrel.example/ko"};
  Config.Notices["ar"] = {"note", "ملاحظة", "", "https://nimbrel.example/ar"};
  Config.FileWhite = {"Game.exe*", "%ProgramFiles%\\A \"B\"\\c.exe"};
  Config.NameWhite = {"Nimbrel"};
  return Config;
}

TEST(InitAnswer, OffersTheUpdateOnlyToOlderVersions) {
  const TConfig Config = ExampleConfig();
  struct TCase {
    const char* Version;
    bool Offered;
  };
  for (const TCase& Case : {TCase{"0.9.9.9", true}, TCase{"0.0.0.0", true}, TCase{"1.0.0", false},
                            TCase{"1.0.0.0", false}, TCase{"1.0.0.1", false}, TCase{"2.0.0.0", false},
                            TCase{"", false}, TCase{"garbage", false}, TCase{"0.9 ", false}}) {
    const std::string Answer = BuildInitAnswer(Config, {Case.Version, "en", ""});
    SCOPED_TRACE(Case.Version);
    EXPECT_EQ(ProgramString(Answer, "update"), Case.Offered ? Config.DownloadUrl : "");
    EXPECT_EQ(ProgramString(Answer, "notify"), Case.Offered ? Config.UpdateBarUrl : "");
    EXPECT_EQ(ProgramInfo(Answer).empty(), !Case.Offered);
    // The lists are there for every version, in an answer that parses as one object.
    const auto Parsed = nlohmann::json::parse(Answer);
    ASSERT_TRUE(Parsed.is_object());
    EXPECT_EQ(Parsed["file_white"], nlohmann::json(Config.FileWhite));
    EXPECT_EQ(Parsed["name_white"], nlohmann::json(Config.NameWhite));
    EXPECT_EQ(Parsed["name_black"], nlohmann::json::array());
  }
}

TEST(InitAnswer, NoticeInTheUsersLanguageElseEnglish) {
  const TConfig Config = ExampleConfig();
  struct TCase {
    const char* Language;
    const char* Notice;
  };
  for (const TCase& Case : {TCase{"ko", "ko"}, TCase{"ar", "ar"}, TCase{"en", "en"}, TCase{"ja", "en"},
                            TCase{"es", "en"}, TCase{"xx", "en"}, TCase{"", "en"}, TCase{"KO", "en"}}) {
    SCOPED_TRACE(Case.Language);
    const std::string Info = ProgramInfo(BuildInitAnswer(Config, {"0.1.0.0", Case.Language, ""}));
    const TNotice& Expected = Config.Notices.at(Case.Notice);
    EXPECT_EQ(ProgramString(Info, "style"), Expected.Style);
    EXPECT_EQ(ProgramString(Info, "flag"), Expected.Flag);
    EXPECT_EQ(ProgramString(Info, "url"), Expected.Url);
  }
}

TEST(InitAnswer, IsCompactUtf8ThatBothReadersAgreeOn) {
  TConfig Config = ExampleConfig();
  Config.Notices["en"].Text = "Quote \" backslash \\ update\":\" €";
  const std::string Answer = BuildInitAnswer(Config, {"0.1", "en", ""});
  // Written exactly as a compact writer would write it: no blank between tokens.
  EXPECT_EQ(nlohmann::ordered_json::parse(Answer).dump(-1, ' ', false), Answer);
  EXPECT_EQ(Answer.find("\\u"), std::string::npos);  // UTF-8, not escapes
  EXPECT_EQ(Answer.rfind("{\"update\":", 0), 0u);
  // The text in the notice that looks like a member is not taken for one.
  EXPECT_EQ(ProgramString(Answer, "update"), Config.DownloadUrl);
  EXPECT_EQ(ProgramString(ProgramInfo(Answer), "text"), Config.Notices["en"].Text);
  EXPECT_EQ(nlohmann::json::parse(Answer)["info"]["text"], Config.Notices["en"].Text);
}

TEST(InitAnswer, NoNoticeWithoutEnglishOrMatchingLanguage) {
  TConfig Config = ExampleConfig();
  Config.Notices.erase("en");
  EXPECT_EQ(ProgramInfo(BuildInitAnswer(Config, {"0.1", "ja", ""})), "");
  EXPECT_NE(ProgramInfo(BuildInitAnswer(Config, {"0.1", "ko", ""})), "");
}

TEST(InitAnswer, HoldIsTheCommandHoldOnly) {
  EXPECT_TRUE(IsHoldRequest({"1.0.0.0", "", "hold"}));
  EXPECT_FALSE(IsHoldRequest({"1.0.0.0", "", ""}));
  EXPECT_FALSE(IsHoldRequest({"1.0.0.0", "", "HOLD now"}));
}

}  // namespace
}  // namespace nimbrel::service
