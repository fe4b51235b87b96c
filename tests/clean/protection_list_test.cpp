// Protection lists: the embedded resources, merging server rows, and the matcher.
#include "clean/protection_list.h"

#include "base/handle.h"
#include "base/paths.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace nimbrel {
namespace {

std::string ResourceBytes(const wchar_t* Name) {
  HRSRC Info = ::FindResourceW(nullptr, Name, MAKEINTRESOURCEW(10));
  if (Info == nullptr) return {};
  const void* Data = ::LockResource(::LoadResource(nullptr, Info));
  return std::string(static_cast<const char*>(Data), ::SizeofResource(nullptr, Info));
}

TEST(ListResource, EmbeddedFilesKeepTheirFormat) {
  for (const wchar_t* Name : {L"FILE_WHITE", L"NAME_WHITE", L"NAME_BLACK"}) {
    SCOPED_TRACE(testing::Message() << "resource " << Name);
    const std::string Bytes = ResourceBytes(Name);
    ASSERT_TRUE(Bytes.starts_with("\xEF\xBB\xBF"));
    ASSERT_TRUE(Bytes.ends_with("\r\n"));
    for (size_t At = Bytes.find('\n'); At != std::string::npos; At = Bytes.find('\n', At + 1))
      ASSERT_EQ(Bytes[At - 1], '\r') << "bare LF at byte " << At;
    // Every LF follows a CR (above) and there are as many CRs as LFs: no bare CR anywhere.
    EXPECT_EQ(std::count(Bytes.begin(), Bytes.end(), '\r'), std::count(Bytes.begin(), Bytes.end(), '\n'));
  }
}

TEST(ListResource, LoadsEveryRowInOrder) {
  TStringList FileWhite, NameWhite, NameBlack;
  LoadListResource(FileWhite, L"file_white");
  LoadListResource(NameWhite, L"name_white");
  LoadListResource(NameBlack, L"name_black");

  ASSERT_EQ(FileWhite.size(), 264u);
  for (size_t I = 0; I < 197; ++I) EXPECT_TRUE(FileWhite[I].ends_with(L"*")) << I;
  for (size_t I = 197; I < 264; ++I) EXPECT_TRUE(FileWhite[I].starts_with(L"%")) << I;
  EXPECT_EQ(FileWhite[6], L"WmiPrvSE.exe*");
  EXPECT_EQ(FileWhite[196], L"ZeroConfigService.exe*");
  EXPECT_EQ(FileWhite[197], L"%ProgramFiles%\\AhnLab\\Safe Transaction\\Nz32\\StSess32.exe");
  EXPECT_EQ(FileWhite[263], L"%SystemRoot%\\SYSWOW64\\TUCTLSystem.exe");
  for (const wchar_t* Short : {L"TrustedInstaller.ex*", L"ecure System*", L"egistry*", L"saIso.exe*", L"sMpEngCP.exe*"})
    EXPECT_GE(ListIndexOf(FileWhite, Short), 0) << Short;
  EXPECT_EQ(std::count(FileWhite.begin(), FileWhite.end(), L"InputDirectorSessionHelper.exe*"), 2);

  ASSERT_EQ(NameWhite.size(), 84u);
  EXPECT_EQ(NameWhite[0], L"Nimbrel");
  EXPECT_EQ(NameWhite[10], L"");
  EXPECT_EQ(NameWhite[11], L"AudioEndpointBuilder");
  EXPECT_EQ(NameWhite[83], L"WSLService");

  ASSERT_EQ(NameBlack.size(), 37u);
  EXPECT_EQ(NameBlack[0], L"AnySign4PC");
  EXPECT_EQ(NameBlack[3], L"우리은행 보안 로그 수집기");
  EXPECT_EQ(NameBlack[36], L"MaWebSAFER_STDEP(remove only)");
}

TEST(ListResource, AppendsAndIgnoresMissingResources) {
  TStringList List{L"kept"};
  LoadListResource(List, L"no_such_list");
  EXPECT_EQ(List, TStringList{L"kept"});
  LoadListResource(List, L"NAME_BLACK");
  LoadListResource(List, L"name_black");
  EXPECT_EQ(List.size(), 1u + 2 * 37);
}

TEST(SplitLines, AnyLineBreakBlankLinesKept) {
  struct TCase {
    std::wstring_view Text;
    std::vector<std::wstring> Lines;
  } Cases[] = {
      {L"", {}},
      {L"a", {L"a"}},
      {L"a\r\n", {L"a"}},
      {L"a\r\nb\nc\rd", {L"a", L"b", L"c", L"d"}},
      {L"a\r\n\r\nb\r\n", {L"a", L"", L"b"}},
      {L"\n\n", {L"", L""}},
      {L"a\n\rb", {L"a", L"", L"b"}},
      {L"  a \r\n", {L"  a "}},
  };
  for (const auto& Case : Cases) EXPECT_EQ(SplitLines(Case.Text), Case.Lines) << testing::PrintToString(std::wstring(Case.Text));
}

TEST(MergeListFromJson, DeepAnswersAddNothingAndNeverOverflowTheStack) {
  auto Nested = [](size_t Depth, char Open, char Close, const std::string& Inner) {
    std::string Text;
    for (size_t I = 0; I < Depth; ++I) Text += Open == '{' ? std::string("{\"a\":") : std::string(1, Open);
    Text += Inner;
    Text += std::string(Depth, Close);
    return Text;
  };
  // 20,000 levels parse (the parser does not recurse) but could not be written back as text.
  const std::string DeepArray = R"({"file_white": ["ok.exe*", )" + Nested(20000, '[', ']', "1") + "]}";
  const std::string DeepObject = R"({"file_white": ["ok.exe*", )" + Nested(20000, '{', '}', "1") + "]}";
  for (const std::string& Text : {DeepArray, DeepObject}) {
    const nlohmann::json Parsed = nlohmann::json::parse(Text);
    TStringList List;
    MergeListFromJson(List, Parsed, "file_white");
    EXPECT_EQ(List, TStringList{L"ok.exe*"});
    EXPECT_TRUE(ParseServiceAnswer(Text).is_discarded()) << "deeper than the limit counts as not JSON";
  }
  // At the limit an element still counts, one level more does not.
  TStringList List;
  const nlohmann::json AtLimit = nlohmann::json::parse(R"({"m": [)" + Nested(MaxJsonDepth, '[', ']', "1") + "]}");
  MergeListFromJson(List, AtLimit, "m");
  EXPECT_EQ(List.size(), 1u);
  const nlohmann::json Over = nlohmann::json::parse(R"({"m": [)" + Nested(MaxJsonDepth + 1, '[', ']', "1") + "]}");
  MergeListFromJson(List, Over, "m");
  EXPECT_EQ(List.size(), 1u);
  EXPECT_FALSE(ParseServiceAnswer(R"({"file_white": ["a*"]})").is_discarded());
  EXPECT_TRUE(ParseServiceAnswer("<html>error</html>").is_discarded());
}

TEST(MergeListFromJson, AppendsArrayElementsOnce) {
  TStringList List{L"svchost.exe*"};
  const auto Answer = nlohmann::json::parse(R"({
    "file_white": ["Game.exe*", "GAME.EXE*", "SVCHOST.EXE*", "Game.exe*", " padded ", "caf\u00e9.exe*"],
    "name_white": "not an array"})");
  MergeListFromJson(List, Answer, "file_white");
  EXPECT_EQ(List, (TStringList{L"svchost.exe*", L"Game.exe*", L" padded ", L"café.exe*"}));
  EXPECT_TRUE(MatchesList(List, L"D:\\Games\\game.exe", true));

  MergeListFromJson(List, Answer, "file_white");  // the same answer again adds nothing
  EXPECT_EQ(List.size(), 4u);
}

TEST(MergeListFromJson, NonStringElementsAddTheirJsonText) {
  TStringList List;
  MergeListFromJson(List, nlohmann::json::parse(R"({"m": [1, true, null, {"a": "b"}, [2, 3], -1.5, "x"]})"), "m");
  EXPECT_EQ(List, (TStringList{L"1", L"true", L"null", L"{\"a\":\"b\"}", L"[2,3]", L"-1.5", L"x"}));
}

TEST(MergeListFromJson, NothingWithoutAnArrayMember) {
  const char* Answers[] = {R"({"m": "x"})", R"({"m": {"a": 1}})", R"({"other": ["x"]})", R"(["x"])", "null", "42"};
  for (const char* Text : Answers) {
    TStringList List;
    MergeListFromJson(List, nlohmann::json::parse(Text), "m");
    EXPECT_TRUE(List.empty()) << Text;
  }
}

TEST(ListIndexOf, IgnoresCaseOnly) {
  const TStringList List{L"Alpha", L"beta", L"", L"ÉTÉ"};
  EXPECT_EQ(ListIndexOf(List, L"ALPHA"), 0);
  EXPECT_EQ(ListIndexOf(List, L"Beta"), 1);
  EXPECT_EQ(ListIndexOf(List, L""), 2);
  EXPECT_EQ(ListIndexOf(List, L"été"), 3);
  EXPECT_EQ(ListIndexOf(List, L"alph"), -1);
  EXPECT_EQ(ListIndexOf(List, L"Alpha "), -1);
}

TEST(ListRowKey, EqualKeysExactlyWhenListIndexOfFindsTheRow) {
  // Rows whose equality a plain upper-casing would get wrong one way or the other: letter case
  // beyond ASCII, characters the comparison ignores, width and kana forms it keeps apart, signs
  // with special weights, embedded NULs, lone surrogates, unassigned code points.
  const std::wstring Rows[] = {
      L"", L"a", L"A", L"served.exe*", L"SERVED.EXE*", L"Served.Exe*", L"served.exe", L"café.exe*", L"CAFÉ.EXE*",
      L"cafe\u0301.exe*", L"ÄÖÜ", L"äöü", L"ПРИВЕТ", L"привет", L"ΣΑΣ", L"σας", L"σασ", L"ß", L"ẞ", L"ss", L"SS",
      L"İ", L"i", L"ı", L"I", L"ǅ", L"ǆ", L"Ǆ", L"ＡＢ", L"AB", L"ab", L"カ", L"か", L"ｶ", L"a\u00ADb", L"ab\u00AD", L"ab",
      L"a\u200Bb", L"a-b", L"ab-", L"a'b", L"co-op", L"coop", std::wstring(L"a\0b", 3), std::wstring(L"a\0B", 3),
      std::wstring(L"\0", 1), L"\xD800", L"\xDC00", L"a\xD800", L"a\xDC00", L"\U0001F600", L"\U0001F601",
      L"\u0378", L"\u0379", L"\uE000", L"\uE001", L"１", L"1", L"١", L"Ⅰ", L"ⅰ", L"%SystemRoot%\\x.exe",
      L"%SYSTEMROOT%\\X.EXE", L" a", L"a ", L"a\t", L"\tA"};
  size_t Equal = 0;
  for (const std::wstring& A : Rows) {
    for (const std::wstring& B : Rows) {
      const bool Found = ListIndexOf(TStringList{A}, B) == 0;
      EXPECT_EQ(ListRowKey(A) == ListRowKey(B), Found)
          << testing::PrintToString(A) << " and " << testing::PrintToString(B) << ": ListIndexOf says " << Found;
      Equal += Found && A != B;
    }
  }
  EXPECT_GE(Equal, 10u) << "the table holds rows that are equal without being the same text";
  EXPECT_EQ(ListRowKey(L"Served.EXE*"), ListRowKey(L"served.exe*"));
  EXPECT_NE(ListRowKey(L"served.exe*"), ListRowKey(L"served.exe"));
}

TEST(MergeListRows, ALargeAnswerMergesOnceAgainstTheListAndItself) {
  TStringList List{L"Keep.exe*", L"keep.exe*", L"Other"};
  TListRows Rows;
  for (int I = 0; I < 20000; ++I) Rows.Rows.push_back(L"row" + std::to_wstring(I % 10000) + (I < 10000 ? L".exe*" : L".EXE*"));
  Rows.Rows.push_back(L"KEEP.EXE*");
  for (const std::wstring& Row : Rows.Rows) Rows.Keys.push_back(ListRowKey(Row));
  MergeListRows(List, Rows);
  ASSERT_EQ(List.size(), 3u + 10000u) << "case variants of held rows and of earlier rows add nothing";
  EXPECT_EQ(List[3], L"row0.exe*");
  EXPECT_EQ(List.back(), L"row9999.exe*");
  EXPECT_EQ(List[1], L"keep.exe*") << "rows already held stay as they are, duplicates and all";
}

TEST(ParseServiceAnswer, StopsAtTheFirstLevelTooDeepOrWhenTold) {
  auto Nested = [](size_t Depth, bool Objects) {
    std::string Text;
    for (size_t I = 0; I < Depth; ++I) Text += Objects ? R"({"a":)" : "[";
    Text += "1";
    for (size_t I = 0; I < Depth; ++I) Text += Objects ? "}" : "]";
    return Text;
  };
  struct TCase {
    std::string Text;
    bool Kept;
  };
  const TCase Cases[] = {
      {Nested(MaxJsonDepth, false), true},
      {Nested(MaxJsonDepth, true), true},
      {Nested(MaxJsonDepth + 1, false), false},
      {Nested(MaxJsonDepth + 1, true), false},
      {R"({"file_white": ["a*"], "x": )" + Nested(MaxJsonDepth - 1, false) + "}", true},
      {R"({"file_white": ["a*"], "x": )" + Nested(MaxJsonDepth, false) + "}", false},
      // Cut off after the first levels too deep: what follows them is never read.
      {std::string(MaxJsonDepth + 1, '[') + "not json at all", false},
      {R"({"file_white": ["a*"]})", true},
      {"<html>error</html>", false},
      {"", false},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(!ParseServiceAnswer(Case.Text).is_discarded(), Case.Kept) << Case.Text.substr(0, 200);

  // The deepest answer the transport lets through.
  const std::string Deepest = std::string(8 * 1024 * 1024, '[') + std::string(8 * 1024 * 1024, ']');
  EXPECT_TRUE(ParseServiceAnswer(Deepest).is_discarded());

  std::string Wide = R"({"file_white": [)";
  for (int I = 0; I < 20000; ++I) Wide += "\"r" + std::to_string(I) + R"(.exe*",)";
  Wide += R"("last"]})";
  TOwnedHandle Stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_FALSE(ParseServiceAnswer(Wide, Stop.get()).is_discarded());
  ::SetEvent(Stop.get());
  EXPECT_TRUE(ParseServiceAnswer(Wide, Stop.get()).is_discarded()) << "a stop ends the parse";
}

TEST(ReadServiceLists, TheThreeListMembersWithTheirKeys) {
  const TServiceLists Lists = ReadServiceLists(
      R"({"file_white": ["a.exe*", 2], "name_white": ["Svc"], "name_black": ["Plug-in"], "other": ["x"]})");
  EXPECT_EQ(Lists.FileWhite.Rows, (std::vector<std::wstring>{L"a.exe*", L"2"}));
  EXPECT_EQ(Lists.FileWhite.Keys, (std::vector<std::string>{ListRowKey(L"a.exe*"), ListRowKey(L"2")}));
  EXPECT_EQ(Lists.NameWhite.Rows, std::vector<std::wstring>{L"Svc"});
  EXPECT_EQ(Lists.NameBlack.Rows, std::vector<std::wstring>{L"Plug-in"});
  const TServiceLists None = ReadServiceLists(R"({"file_white": ["a.exe*"], "x": )" + std::string(100, '[') + "]");
  EXPECT_TRUE(None.FileWhite.Rows.empty() && None.NameWhite.Rows.empty() && None.NameBlack.Rows.empty());
}

struct TMatchCase {
  std::wstring Row;
  std::wstring Text;
  bool IsPath;
  bool Matches;
};

std::wstring WindowsFolder() { return GetSpecialFolder(CSIDL_WINDOWS); }

TEST(MatchesList, CaseTable) {
  const std::wstring Windows = WindowsFolder();
  ASSERT_FALSE(Windows.empty());
  std::wstring WindowsUpper = Windows;
  ::CharUpperBuffW(WindowsUpper.data(), static_cast<DWORD>(WindowsUpper.size()));

  const TMatchCase Cases[] = {
      // Name rows in path mode: the file-name part, ASCII case ignored.
      {L"svchost.exe*", L"C:\\Windows\\System32\\SVCHOST.EXE", true, true},
      {L"svchost.exe*", L"svchost.exe", true, true},
      {L"svchost.exe*", L"C:\\Temp\\svchost.exe.bak", true, false},
      {L"svchost.exe*", L"C:\\Temp\\my svchost.exe", true, false},
      {L"svchost.exe*", L"C:svchost.exe", true, true},
      {L"svchost.exe*", L"C:/Temp/svchost.exe", true, true},
      {L" \t svchost.exe* \r", L"C:\\Windows\\svchost.exe", true, true},
      {L"Secure System*", L"Secure System", true, true},
      {L"ÄPP.exe*", L"C:\\äpp.exe", true, false},
      {L"ÄPP.exe*", L"C:\\ÄPP.EXE", true, true},
      // Short forms match only exactly their own names.
      {L"TrustedInstaller.ex*", L"C:\\Windows\\servicing\\TrustedInstaller.exe", true, false},
      {L"TrustedInstaller.ex*", L"TrustedInstaller.ex", true, true},
      {L"egistry*", L"Registry", true, false},
      {L"egistry*", L"egistry", true, true},
      {L"ecure System*", L"Secure System", true, false},
      {L"saIso.exe*", L"LsaIso.exe", true, false},
      {L"sMpEngCP.exe*", L"C:\\x\\MsMpEngCP.exe", true, false},
      // Plain rows in path mode: contained anywhere, upper-cased by the locale.
      {L"\\Tools\\", L"C:\\tools\\x.exe", true, true},
      {L"c:\\données\\", L"C:\\DONNÉES\\x.exe", true, true},
      {L"\\Tools\\", L"C:\\Toolset\\x.exe", true, false},
      // Folder placeholders, in any case, followed by a backslash.
      {L"%SystemRoot%\\System32\\sihost.exe", WindowsUpper + L"\\SYSTEM32\\SiHost.exe", true, true},
      {L"%systemroot%\\System32\\sihost.exe", Windows + L"\\System32\\sihost.exe", true, true},
      {L"  %SystemRoot%\\System32\\sihost.exe", Windows + L"\\System32\\sihost.exe", true, true},
      {L"%SystemRoot%\\System32\\sihost.exe", L"Q:\\Elsewhere\\System32\\sihost.exe", true, false},
      {L"%SystemRoot%\\System32\\sihost.exe", L"%SystemRoot%\\System32\\sihost.exe", true, false},
      // Comments and blank rows never match.
      {L"//svchost.exe*", L"//svchost.exe", true, false},
      {L"  // svchost.exe*", L"svchost.exe", true, false},
      {L"   ", L"anything", true, false},
      {L"", L"", true, false},
      {L"\t", L"", false, false},
      {L"//Spooler", L"//Spooler", false, false},
      // Name mode: the text begins with the row, case ignored by the locale.
      {L"cbdhsvc_", L"cbdhsvc_4a7b2", false, true},
      {L"cbdhsvc_", L"CBDHSVC_", false, true},
      {L"Delfino G3 (x86)", L"delfino g3 (X86) 3.1.2", false, true},
      {L"Spooler", L"PrintSpooler", false, false},
      {L"Spooler", L"Spool", false, false},
      {L" Spooler\t", L"Spooler", false, true},
      {L"svchost.exe*", L"svchost.exe", false, false},
      {L"svchost.exe*", L"svchost.exe*x", false, true},
      {L"우리은행 보안 로그 수집기", L"우리은행 보안 로그 수집기 2.0", false, true},
      {L"Veraport(보안모듈 관리 프로그램) G3", L"VERAPORT(보안모듈 관리 프로그램) g3", false, true},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(MatchesList({Case.Row}, Case.Text, Case.IsPath), Case.Matches)
        << "row " << testing::PrintToString(Case.Row) << " text " << testing::PrintToString(Case.Text)
        << " IsPath " << Case.IsPath;
  }
}

TEST(MatchesList, FirstMatchingRowOfManyAndEmptyList) {
  const TStringList List{L"", L"// comment", L"a.exe*", L"%ProgramFiles%\\Vendor\\", L"b.exe*"};
  EXPECT_TRUE(MatchesList(List, L"C:\\x\\B.exe", true));
  EXPECT_TRUE(MatchesList(List, GetSpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Vendor\\tool.exe", true));
  EXPECT_FALSE(MatchesList(List, L"C:\\x\\c.exe", true));
  EXPECT_FALSE(MatchesList({}, L"a.exe", true));
  EXPECT_FALSE(MatchesList({}, L"a.exe", false));
}

TEST(MatchesList, EmbeddedListsCoverTheirOwnRows) {
  TStringList FileWhite, NameWhite, NameBlack;
  LoadListResource(FileWhite, L"file_white");
  LoadListResource(NameWhite, L"name_white");
  LoadListResource(NameBlack, L"name_black");
  EXPECT_TRUE(MatchesList(FileWhite, L"C:\\Windows\\System32\\csrss.exe", true));
  EXPECT_TRUE(MatchesList(FileWhite, L"System", true));
  EXPECT_TRUE(MatchesList(FileWhite, L"Memory Compression", true));
  EXPECT_TRUE(MatchesList(FileWhite, WindowsFolder() + L"\\System32\\RuntimeBroker.exe", true));
  EXPECT_FALSE(MatchesList(FileWhite, L"C:\\Users\\me\\notepad.exe", true));
  EXPECT_TRUE(MatchesList(NameWhite, L"Nimbrel.exe", false));
  EXPECT_TRUE(MatchesList(NameWhite, L"CDPUserSvc_5f1e2", false));
  EXPECT_FALSE(MatchesList(NameWhite, L"", false));  // the blank row between the blocks matches nothing
  EXPECT_FALSE(MatchesList(NameWhite, L"PrintSpooler", false));
  EXPECT_TRUE(MatchesList(NameBlack, L"AhnLab Safe Transaction 1.2.3", false));
}

}  // namespace
}  // namespace nimbrel
