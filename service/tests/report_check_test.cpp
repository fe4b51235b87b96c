// Checking uploaded reports: a table of bodies the service must take and bodies it must refuse.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "helpers.h"
#include "report.h"

namespace nimbrel::service {
namespace {

using testing::MemoryObject;
using testing::ReportBody;

const std::string Clean = R"({"cate":"clean","file":"%SystemRoot%\\System32\\notepad.exe","state":"-1"})";
const std::string Start = R"({"cate":"start","item":"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive","from":"HKCU"})";
const std::string Install = R"({"cate":"install","displayname":"\uc6b0\ub9ac\uc740\ud589 \ubcf4\uc548","publisher":"Bank"})";

struct TBodyCase {
  const char* Name;
  std::string Body;
  bool Taken;
};

class ReportCheckTest : public ::testing::TestWithParam<TBodyCase> {};

TEST_P(ReportCheckTest, TakesOrRefuses) {
  const TReportCheck Check = CheckReport(GetParam().Body);
  EXPECT_EQ(Check.Report.has_value(), GetParam().Taken) << Check.Error;
  EXPECT_EQ(Check.Error.empty(), GetParam().Taken);
}

// One memory object followed by Count clean objects, each with a few keys beyond the known ones.
std::string ManyObjects(size_t Count) {
  std::string Body = "[" + MemoryObject;
  for (size_t I = 0; I < Count; ++I) Body += R"(,{"cate":"clean","file":"a.exe","state":"1","x":"1","y":"2"})";
  return Body + "]";
}

// A memory object with Count extra keys, all different.
std::string ManyKeys(size_t Count) {
  std::string Body = R"([{"cate":"memory","old":"1","new":"2","tot":"3")";
  for (size_t I = 0; I < Count; ++I) Body += ",\"k" + std::to_string(I) + "\":\"\"";
  return Body + "}]";
}

// A memory object with Count extra keys, the last of which repeats the extra key at Repeated.
std::string ManyKeysRepeating(size_t Count, size_t Repeated) {
  std::string Body = R"([{"cate":"memory","old":"1","new":"2","tot":"3")";
  for (size_t I = 0; I < Count; ++I) Body += ",\"k" + std::to_string(I) + "\":\"\"";
  return Body + ",\"k" + std::to_string(Repeated) + "\":\"\"}]";
}

std::string Big(size_t Bytes) {
  // One clean object whose file name pads the body to exactly Bytes.
  const std::string Head = "[" + MemoryObject + R"(,{"cate":"clean","file":")";
  const std::string Tail = R"(","state":"1"}])";
  return Head + std::string(Bytes - Head.size() - Tail.size(), 'a') + Tail;
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ReportCheckTest,
    ::testing::Values(
        TBodyCase{"MemoryOnly", ReportBody({MemoryObject}), true},
        TBodyCase{"AllKinds", ReportBody({MemoryObject, Clean, Clean, Start, Install, Install}), true},
        TBodyCase{"SkipsStartup", ReportBody({MemoryObject, Clean, Install}), true},
        TBodyCase{"UnknownFiguresAreMinusOne", ReportBody({R"({"cate":"memory","old":"-1","new":"-1","tot":"-1"})"}), true},
        TBodyCase{"ExtraKeysIgnored",
                  ReportBody({R"({"cate":"memory","old":"1","new":"2","tot":"3","swap":"9"})",
                              R"({"cate":"clean","file":"a.exe","state":"1","pid":"42"})"}),
                  true},
        TBodyCase{"KeysInAnyOrderAndBlanks", "[ {\"tot\":\"3\", \"new\":\"2\", \"old\":\"1\", \"cate\":\"memory\"} ]", true},
        TBodyCase{"ByteOrderMarkFirst", "\xEF\xBB\xBF" + ReportBody({MemoryObject}), true},
        TBodyCase{"UnicodeEscapesAndUtf8", ReportBody({MemoryObject, R"({"cate":"clean","file":"C:\\게임\\\ud83d\ude00.exe","state":"-2"})"}), true},
        TBodyCase{"ExactlyFourMiB", Big(MaxReportBytes), true},
        TBodyCase{"SixtyThousandObjects", ManyObjects(60000), true},
        TBodyCase{"TwoHundredThousandKeysInOneObject", ManyKeys(200000), true},

        TBodyCase{"Empty", "", false},
        TBodyCase{"EmptyArray", "[]", false},
        TBodyCase{"NotJson", "pk=1", false},
        TBodyCase{"TrailingText", ReportBody({MemoryObject}) + "x", false},
        TBodyCase{"TopLevelObject", MemoryObject, false},
        TBodyCase{"NoMemoryObject", ReportBody({Clean}), false},
        TBodyCase{"MemoryNotFirst", ReportBody({Clean, MemoryObject}), false},
        TBodyCase{"SecondMemoryObject", ReportBody({MemoryObject, Clean, MemoryObject}), false},
        TBodyCase{"StartBeforeClean", ReportBody({MemoryObject, Start, Clean}), false},
        TBodyCase{"InstallBeforeStart", ReportBody({MemoryObject, Install, Start}), false},
        TBodyCase{"UnknownKind", ReportBody({MemoryObject, R"({"cate":"disk","file":"x"})"}), false},
        TBodyCase{"NoCate", ReportBody({MemoryObject, R"({"file":"x","state":"1"})"}), false},
        TBodyCase{"MemoryWithoutTot", ReportBody({R"({"cate":"memory","old":"1","new":"2"})"}), false},
        TBodyCase{"CleanWithoutState", ReportBody({MemoryObject, R"({"cate":"clean","file":"a.exe"})"}), false},
        TBodyCase{"StartWithoutFrom", ReportBody({MemoryObject, R"({"cate":"start","item":"x"})"}), false},
        TBodyCase{"InstallWithoutPublisher", ReportBody({MemoryObject, R"({"cate":"install","displayname":"x"})"}), false},
        TBodyCase{"NumberValue", ReportBody({R"({"cate":"memory","old":1,"new":"2","tot":"3"})"}), false},
        TBodyCase{"NullValue", ReportBody({MemoryObject, R"({"cate":"clean","file":null,"state":"1"})"}), false},
        TBodyCase{"BooleanValue", ReportBody({MemoryObject, R"({"cate":"start","item":"x","from":true})"}), false},
        TBodyCase{"NestedObject", ReportBody({MemoryObject, R"({"cate":"clean","file":{"a":"b"},"state":"1"})"}), false},
        TBodyCase{"NestedArray", ReportBody({MemoryObject, R"({"cate":"clean","file":["a"],"state":"1"})"}), false},
        TBodyCase{"ArrayInArray", "[" + MemoryObject + ",[]]", false},
        TBodyCase{"StringInArray", "[" + MemoryObject + ",\"x\"]", false},
        TBodyCase{"DeepNesting", std::string(100000, '[') + std::string(100000, ']'), false},
        TBodyCase{"FigureNotANumber", ReportBody({R"({"cate":"memory","old":"lots","new":"2","tot":"3"})"}), false},
        TBodyCase{"StateOutOfRange", ReportBody({MemoryObject, R"({"cate":"clean","file":"a.exe","state":"2"})"}), false},
        TBodyCase{"RepeatedKey", ReportBody({MemoryObject, R"({"cate":"clean","file":"a","file":"b","state":"1"})"}), false},
        TBodyCase{"RepeatedIgnoredKey", ReportBody({MemoryObject, R"({"cate":"clean","x":"a","file":"a","x":"b","state":"1"})"}), false},
        TBodyCase{"RepeatedCate", ReportBody({MemoryObject, R"({"cate":"clean","file":"a","state":"1","cate":"clean"})"}), false},
        TBodyCase{"LastOfManyKeysRepeatsTheFirst", ManyKeysRepeating(100, 0), false},
        TBodyCase{"ManyKeysRepeatingTheNinth", ManyKeysRepeating(20, 8), false},
        TBodyCase{"SameKeysInEveryObject", ReportBody({MemoryObject, R"({"cate":"clean","file":"a","state":"1","x":"1","y":"2"})",
                                                       R"({"cate":"clean","file":"a","state":"1","y":"1","x":"2"})"}), true},
        TBodyCase{"InvalidUtf8InValue", ReportBody({MemoryObject, "{\"cate\":\"clean\",\"file\":\"a\xC3(\",\"state\":\"1\"}"}), false},
        TBodyCase{"OverlongUtf8", ReportBody({MemoryObject, "{\"cate\":\"clean\",\"file\":\"\xC0\xAF\",\"state\":\"1\"}"}), false},
        TBodyCase{"LoneSurrogateEscape", ReportBody({MemoryObject, R"({"cate":"clean","file":"\ud800","state":"1"})"}), true},
        TBodyCase{"LoneSurrogateInABodyThatIsNotJson", "[" + MemoryObject + R"(,{"cate":"clean","file":"\ud800","state":1}])", false},
        TBodyCase{"OneByteOverFourMiB", Big(MaxReportBytes + 1), false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A member the way the program writes it: the value through its own JSON escaping, which writes
// each UTF-16 unit from 128 up as "\uXXXX", half surrogates included.
std::string ProgramMember(const char* Key, const std::wstring& Value) {
  std::string Escaped;
  for (const wchar_t C : nimbrel::JsonEscape(Value)) Escaped += static_cast<char>(C);  // pure ASCII
  return std::string("\"") + Key + "\":\"" + Escaped + "\"";
}

TEST(ReportCheck, LoneSurrogatesInTheProgramsEscapesBecomeReplacementCharacters) {
  struct TCase {
    std::wstring Name;  // UTF-16 units, as a Windows file or registry name may hold them
    std::string Read;
  };
  const std::string Replacement = "\xEF\xBF\xBD";
  const std::vector<TCase> Cases = {
      {L"a\xDC00.exe", "a" + Replacement + ".exe"},
      {L"a\xD800", "a" + Replacement},
      {L"\xD800x", Replacement + "x"},
      {L"\xDC00\xD800", Replacement + Replacement},
      {L"\xD800\xD83D\xDE00", Replacement + "\xF0\x9F\x98\x80"},  // a high one, then a pair
      {L"\xD83D\xDE00\xDE00", "\xF0\x9F\x98\x80" + Replacement},
      {L"\xD800\\n", Replacement + "\\n"},
  };
  for (const TCase& Case : Cases) {
    const std::string Body = ReportBody(
        {"{" + ProgramMember("cate", L"memory") + "," + ProgramMember("old", L"1") + "," + ProgramMember("new", L"2") +
             "," + ProgramMember("tot", L"3") + "}",
         "{" + ProgramMember("cate", L"clean") + "," + ProgramMember("file", Case.Name) + "," +
             ProgramMember("state", L"-1") + "}",
         "{" + ProgramMember("cate", L"start") + "," + ProgramMember("item", L"C:\\Startup\\" + Case.Name) + "," +
             ProgramMember("from", L"FILE") + "}",
         "{" + ProgramMember("cate", L"install") + "," + ProgramMember("displayname", Case.Name) + "," +
             ProgramMember("publisher", L"") + "}"});
    const TReportCheck Check = CheckReport(Body);
    ASSERT_TRUE(Check.Report) << Body << ": " << Check.Error;
    EXPECT_EQ(Check.Report->Processes.at(0).File, Case.Read) << Body;
    EXPECT_EQ(Check.Report->Startup.at(0).Item, "C:\\Startup\\" + Case.Read);
    EXPECT_EQ(Check.Report->Installed.at(0).DisplayName, Case.Read);
    // Stored and read back as it was taken.
    EXPECT_EQ(ReadStoredReport(StoredReportText(*Check.Report))->Processes.at(0).File, Case.Read);
  }
}

TEST(ReportCheck, ReadsEveryFigureAndRow) {
  const TReportCheck Check = CheckReport(ReportBody({MemoryObject, Clean, R"({"cate":"clean","file":"System","state":"1"})",
                                                    R"({"cate":"clean","file":"x.exe","state":"-2"})", Start, Install}));
  ASSERT_TRUE(Check.Report) << Check.Error;
  const TReport& Report = *Check.Report;
  EXPECT_EQ(Report.Memory.Before, 1073741824);
  EXPECT_EQ(Report.Memory.After, 2147483648);
  EXPECT_EQ(Report.Memory.Total, 8589934592);
  ASSERT_EQ(Report.Processes.size(), 3u);
  EXPECT_EQ(Report.Processes[0].File, "%SystemRoot%\\System32\\notepad.exe");
  EXPECT_EQ(Report.Processes[0].State, TProcessState::Ended);
  EXPECT_EQ(Report.Processes[1].State, TProcessState::LeftAlone);
  EXPECT_EQ(Report.Processes[2].State, TProcessState::StillRunning);
  ASSERT_EQ(Report.Startup.size(), 1u);
  EXPECT_EQ(Report.Startup[0].From, "HKCU");
  ASSERT_EQ(Report.Installed.size(), 1u);
  EXPECT_EQ(Report.Installed[0].DisplayName, "우리은행 보안");
}

// Plain reports are read by a scanner of their own and the rest by the JSON library: the texts
// of the refusals must not depend on which one read the body.
TEST(ReportCheck, RefusalTexts) {
  const std::string CleanHead = R"({"cate":"clean","file":)";
  for (const auto& [Body, Error] : std::vector<std::pair<std::string, std::string>>{
           {"", "not JSON"},
           {"[]", "no memory object"},
           {"[" + MemoryObject + "", "not JSON"},
           {ReportBody({MemoryObject}) + "x", "not JSON"},
           {ReportBody({MemoryObject, "{\"cate\":\"clean\",\"file\":\"a\xC3(\",\"state\":\"1\"}"}), "not UTF-8"},
           {ReportBody({MemoryObject, CleanHead + R"(1,"state":"1"})"}), "a value is not a string"},
           {ReportBody({MemoryObject, CleanHead + R"(1e999,"state":"1"})"}), "not JSON"},
           {ReportBody({MemoryObject, CleanHead + R"(null,"state":"1"})"}), "a value is not a string"},
           {ReportBody({MemoryObject, CleanHead + "\"a\tb\",\"state\":\"1\"}"}), "not JSON"},
           {ReportBody({MemoryObject, CleanHead + R"("\q","state":"1"})"}), "not JSON"},
           {ReportBody({MemoryObject, CleanHead + R"("\ud800","state":"7"})"}), "a process state is not 1, -2 or -1"},
           {ReportBody({MemoryObject, CleanHead + R"("a","state":"1",})"}), "not JSON"},
           {ReportBody({MemoryObject, CleanHead + R"("a","file":"b","state":"1"})"}), "a key repeats in one object"},
           {ReportBody({MemoryObject, CleanHead + R"(["a"],"state":"1"})"}), "a nested array"},
           {ReportBody({MemoryObject, CleanHead + R"({"a":"b"},"state":"1"})"}), "an object outside the top array"},
           {"[" + MemoryObject + ",\"x\"]", "a string outside an object"},
           {ReportBody({MemoryObject, R"({"file":"a","state":"1"})"}), "an object without \"cate\""},
           {ReportBody({MemoryObject, R"({"cate":"disk"})"}), "an unknown kind: disk"},
           {ReportBody({Clean}), "the memory object must come first, once"},
           {ReportBody({MemoryObject, Start, Clean}), "kinds out of order"},
           {ReportBody({MemoryObject, CleanHead + R"("a"})"}), "clean object without \"state\""},
           {ReportBody({R"({"cate":"memory","old":"1","new":"2","tot":"0x3"})"}), "a memory figure is not a whole number"},
           {ReportBody({MemoryObject, CleanHead + R"("a","state":"2"})"}), "a process state is not 1, -2 or -1"},
           {Big(MaxReportBytes + 1), "larger than 4 MiB"},
       }) {
    const TReportCheck Check = CheckReport(Body);
    EXPECT_FALSE(Check.Report) << Body;
    EXPECT_EQ(Check.Error, Error) << Body.substr(0, 200);
  }
}

TEST(ReportCheck, DecodesEveryEscapeAndSkipsEveryBlank) {
  const TReportCheck Check = CheckReport(
      " \t\r\n[ {\"cate\" :\"memory\" , \"old\":\"1\",\"new\":\"2\",\"tot\":\"3\"}\n,\n"
      R"({ "cate":"clean", "file":"\"\\\/\b\f\n\r\t\u0041\u00e9\uC6B0\uD83D\uDE00\u0000|", "state":"1" } ] )"
      "\r\n");
  ASSERT_TRUE(Check.Report) << Check.Error;
  ASSERT_EQ(Check.Report->Processes.size(), 1u);
  EXPECT_EQ(Check.Report->Processes[0].File, std::string("\"\\/\b\f\n\r\tA\xC3\xA9\xEC\x9A\xB0\xF0\x9F\x98\x80\0|", 20));
}

TEST(ReportCheck, StoredTextReadsBackWithoutTheIgnoredKeys) {
  const auto Report = CheckReport(ReportBody({R"({"cate":"memory","old":"-1","new":"5","tot":"9","x":"y"})",
                                              R"({"cate":"clean","file":"<script>\"'&","state":"-2"})", Start, Install}))
                          .Report;
  ASSERT_TRUE(Report);
  const std::string Stored = StoredReportText(*Report);
  EXPECT_EQ(Stored.find("\"x\""), std::string::npos);
  const auto Back = ReadStoredReport(Stored);
  ASSERT_TRUE(Back);
  EXPECT_EQ(StoredReportText(*Back), Stored);
  EXPECT_EQ(Back->Processes[0].File, "<script>\"'&");
  EXPECT_EQ(Back->Memory.Before, -1);
}

}  // namespace
}  // namespace nimbrel::service

namespace nimbrel::service {
namespace {

// The text the stored files were first written with: nlohmann's compact dump of the same objects.
std::string DumpedReportText(const TReport& Report) {
  using nlohmann::ordered_json;
  ordered_json Array = ordered_json::array();
  Array.push_back({{"cate", "memory"},
                   {"old", std::to_string(Report.Memory.Before)},
                   {"new", std::to_string(Report.Memory.After)},
                   {"tot", std::to_string(Report.Memory.Total)}});
  for (const auto& Row : Report.Processes) {
    Array.push_back({{"cate", "clean"}, {"file", Row.File}, {"state", std::to_string(static_cast<int>(Row.State))}});
  }
  for (const auto& Row : Report.Startup) Array.push_back({{"cate", "start"}, {"item", Row.Item}, {"from", Row.From}});
  for (const auto& Row : Report.Installed) {
    Array.push_back({{"cate", "install"}, {"displayname", Row.DisplayName}, {"publisher", Row.Publisher}});
  }
  return Array.dump();
}

TEST(StoredReportText, SameBytesAsTheJsonLibrarysDump) {
  std::string Controls;
  for (int C = 0; C < 0x20; ++C) Controls += static_cast<char>(C);
  const std::vector<std::string> Texts = {
      "",
      "plain.exe",
      "\"quoted\" \\\\server\\share\\",
      Controls,
      "a" + Controls + "z",
      std::string("nul\0inside", 10),
      "\x7F del \x7F",
      "우리은행 보안",
      "\xF0\x9F\x98\x80 emoji \xF4\x8F\xBF\xBF",
      "/ slash <script>'&</script>",
      "\\u0041 not an escape",
      std::string(300, '\\') + "\n" + std::string(300, 'x'),
  };
  for (const std::int64_t Figure : {std::int64_t{-1}, std::int64_t{0}, std::int64_t{-9223372036854775807} - 1,
                                    std::int64_t{9223372036854775807}, std::int64_t{17179869184}}) {
    TReport Report;
    Report.Memory = {Figure, -Figure / 2, Figure == -1 ? -2 : 7};
    EXPECT_EQ(StoredReportText(Report), DumpedReportText(Report)) << Figure;
  }
  TReport Report;
  Report.Memory = {3221225472, -1, 17179869184};
  for (size_t I = 0; I < Texts.size(); ++I) {
    const TProcessState States[] = {TProcessState::Ended, TProcessState::StillRunning, TProcessState::LeftAlone};
    Report.Processes.push_back({Texts[I], States[I % 3]});
    Report.Startup.push_back({Texts[I], Texts[Texts.size() - 1 - I]});
    Report.Installed.push_back({Texts[Texts.size() - 1 - I], Texts[I]});
    TReport One;
    One.Processes.push_back({Texts[I], TProcessState::LeftAlone});
    One.Startup.push_back({Texts[I], Texts[I]});
    One.Installed.push_back({Texts[I], Texts[I]});
    EXPECT_EQ(StoredReportText(One), DumpedReportText(One)) << I;
  }
  const std::string Stored = StoredReportText(Report);
  EXPECT_EQ(Stored, DumpedReportText(Report));
  const auto Back = ReadStoredReport(Stored);
  ASSERT_TRUE(Back);
  EXPECT_EQ(StoredReportText(*Back), Stored);
  EXPECT_EQ(Back->Startup[3].Item, Controls);
}

// Texts are scanned several bytes at a time: a byte to escape is found at every place in a word, beside
// bytes just above the ones escaped and UTF-8 bytes, and read back the same.
TEST(StoredReportText, FindsEveryByteToEscapeWhereverItFalls) {
  const std::string Filler = "\x20\x21#\x7F\xC3\xA9~\x5D\x23\xE2\x82\xAC!\x1F\x20\x7E\x21";  // 17 bytes, one to escape
  for (const char Special : {'"', '\\', '\x00', '\x01', '\x1F'}) {
    for (size_t At = 0; At <= Filler.size(); ++At) {
      // Not inside a character.
      if (At < Filler.size() && (static_cast<unsigned char>(Filler[At]) & 0xC0) == 0x80) continue;
      std::string Text = Filler;
      Text.insert(At, 1, Special);
      TReport Report;
      Report.Processes.push_back({Text, TProcessState::LeftAlone});
      const std::string Stored = StoredReportText(Report);
      EXPECT_EQ(Stored, DumpedReportText(Report)) << static_cast<int>(Special) << " at " << At;
      const auto Back = ReadStoredReport(Stored);
      ASSERT_TRUE(Back) << static_cast<int>(Special) << " at " << At;
      EXPECT_EQ(Back->Processes[0].File, Text) << static_cast<int>(Special) << " at " << At;
    }
  }
}

}  // namespace
}  // namespace nimbrel::service
