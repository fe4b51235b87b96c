// The clean report's body and key, from given data.
#include "clean/clean_report.h"

#include "base/text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace nimbrel {
namespace {

TProcessInfo Process(const std::wstring& FileName, int State) {
  TProcessInfo Info;
  Info.ProcessID = 100;
  Info.FileName = FileName;
  Info.State = State;
  return Info;
}

const std::vector<TPathVariable> Table = {
    {L"%ProgramFiles%", L"C:\\Program Files"},
    {L"%SystemRoot%", L"C:\\Windows"},
    {L"%Unknown%", L""},
};

TEST(CleanReport, ObjectsHaveTheirExactShape) {
  EXPECT_EQ(MemoryObject(1024, -1, 8589934592), L"{\"cate\":\"memory\",\"old\":\"1024\",\"new\":\"-1\",\"tot\":\"8589934592\"}");
  struct TCase {
    std::wstring FileName;
    int State;
    const wchar_t* Object;
  };
  const TCase Cases[] = {
      {L"C:\\Program Files\\App\\app.exe", StateEnded,
       L"{\"cate\":\"clean\",\"file\":\"%ProgramFiles%\\\\App\\\\app.exe\",\"state\":\"-1\"}"},
      {L"c:\\windows\\system32\\svchost.exe", StateListed,
       L"{\"cate\":\"clean\",\"file\":\"%SystemRoot%\\\\system32\\\\svchost.exe\",\"state\":\"1\"}"},
      {L"System", StateListed, L"{\"cate\":\"clean\",\"file\":\"System\",\"state\":\"1\"}"},
      {L"D:\\게임/\"quoted\".exe", StateMarked,
       L"{\"cate\":\"clean\",\"file\":\"D:\\\\\\uAC8C\\uC784\\/\\\"quoted\\\".exe\",\"state\":\"-2\"}"},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(CleanObject(Process(Case.FileName, Case.State), Table), Case.Object);
  EXPECT_EQ(StartObject(L"C:\\a b\\x.exe", L"HKCU"), L"{\"cate\":\"start\",\"item\":\"C:\\\\a b\\\\x.exe\",\"from\":\"HKCU\"}");
  EXPECT_EQ(InstallObject(L"보안 \"Plug\"", L""),
            L"{\"cate\":\"install\",\"displayname\":\"\\uBCF4\\uC548 \\\"Plug\\\"\",\"publisher\":\"\"}");
}

TEST(CleanReport, LoneSurrogatesBecomeTheReplacementCharacterAndPairsStay) {
  struct TCase {
    std::wstring Name;
    const wchar_t* Escaped;
  };
  const TCase Cases[] = {
      {L"a\xDC80" L"b.exe", L"a\\uFFFDb.exe"},
      {L"end\xD83D", L"end\\uFFFD"},
      {L"\xD83D\xDE00", L"\\uD83D\\uDE00"},
      {L"\xDE00\xD83D", L"\\uFFFD\\uFFFD"},
      {L"\xD83D\xD83D\xDE00", L"\\uFFFD\\uD83D\\uDE00"},
      {L"\xD83D\xDE00\xDE00", L"\\uD83D\\uDE00\\uFFFD"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(Case.Escaped));
    const std::wstring Value = std::wstring(L"\"") + Case.Escaped + L"\"";
    EXPECT_NE(CleanObject(Process(Case.Name, StateListed), Table).find(L"\"file\":" + Value), std::wstring::npos);
    EXPECT_NE(StartObject(Case.Name, L"HKCU").find(L"\"item\":" + Value), std::wstring::npos);
    const std::wstring Install = InstallObject(Case.Name, Case.Name);
    EXPECT_NE(Install.find(L"\"displayname\":" + Value), std::wstring::npos);
    EXPECT_NE(Install.find(L"\"publisher\":" + Value), std::wstring::npos);
  }
  // The escape helper itself keeps what it is given.
  EXPECT_EQ(JsonEscape(L"a\xDC80"), L"a\\uDC80");
}

TEST(CleanReport, BodyIsTheMemoryObjectThenOneCleanObjectPerProcessInTableOrder) {
  TCleanJobData Data;
  Data.OldAvailMemory = 500;
  Data.Processes->push_back(Process(L"C:\\Windows\\explorer.exe", StateListed));
  Data.Processes->push_back(Process(L"C:\\Program Files\\Z\\z.exe", StateEnded));
  Data.Processes->push_back(Process(L"C:\\Program Files\\A\\a.exe", StateMarked));
  const std::wstring Body = ReportBody(ReportObjects(Data, 900, 4000, Table));
  EXPECT_EQ(Body,
            L"[{\"cate\":\"memory\",\"old\":\"500\",\"new\":\"900\",\"tot\":\"4000\"},"
            L"{\"cate\":\"clean\",\"file\":\"%SystemRoot%\\\\explorer.exe\",\"state\":\"1\"},"
            L"{\"cate\":\"clean\",\"file\":\"%ProgramFiles%\\\\Z\\\\z.exe\",\"state\":\"-1\"},"
            L"{\"cate\":\"clean\",\"file\":\"%ProgramFiles%\\\\A\\\\a.exe\",\"state\":\"-2\"}]");
  EXPECT_TRUE(std::all_of(Body.begin(), Body.end(), [](wchar_t C) { return C < 128; }));

  TCleanJobData Empty;
  Empty.Processes = nullptr;
  EXPECT_EQ(ReportBody(ReportObjects(Empty, -1, -1, Table)),
            L"[{\"cate\":\"memory\",\"old\":\"-1\",\"new\":\"-1\",\"tot\":\"-1\"}]");
  EXPECT_EQ(ReportBody({}), L"[]");
}

TEST(CleanReport, KeyFromTheAnswer) {
  const std::pair<const wchar_t*, const wchar_t*> Cases[] = {
      {L"{\"pk\":\"a1b2\"}", L"a1b2"},
      {L"{\"ok\":true,\"PK\":\"Up-Per\"}", L"Up-Per"},
      {L"{\"pk\":\"say \\\"hi\\\"\"}", L"say \\\"hi\\\""},  // kept escaped
      {L"{\"pk\":\"\"}", L""},
      {L"{\"pk\": \"spaced\"}", L""},
      {L"{\"key\":\"x\"}", L""},
      {L"(12029) A connection with the server could not be established", L""},
      {L"", L""},
      {L"{\"pk\":\"a&b c\"}", L"a&b c"},
  };
  for (const auto& [Answer, Key] : Cases) EXPECT_EQ(ReportKey(Answer), Key) << testing::PrintToString(Answer);
}

TEST(CleanReport, StartAndInstallObjectsFollowOnlyForOpenedPages) {
  TCleanJobData Data;
  Data.OldAvailMemory = 1;
  Data.Processes->push_back(Process(L"System", StateListed));
  const std::wstring Head =
      L"[{\"cate\":\"memory\",\"old\":\"1\",\"new\":\"2\",\"tot\":\"3\"},{\"cate\":\"clean\",\"file\":\"System\",\"state\":\"1\"}";
  EXPECT_EQ(ReportBody(ReportObjects(Data, 2, 3, Table)), Head + L"]") << "neither page opened";
  Data.Autorun = TAutorunList{};
  Data.Install = TInstallList{};
  EXPECT_EQ(ReportBody(ReportObjects(Data, 2, 3, Table)), Head + L"]") << "opened pages that found nothing add nothing";

  TAutorunInfo One;
  One.Caption = L"One";
  One.Target = L"C:\\Apps\\one.exe";
  One.From = L"HKCU";
  TAutorunInfo Two;
  Two.Target = L"Spooler";
  Two.From = L"SERV";
  TInstallInfo Program;
  Program.DisplayName = L"키보드 보안";
  Program.Publisher = L"Vendor \"K\"";
  Data.Autorun = TAutorunList{One, Two};
  Data.Install = TInstallList{Program};
  const std::wstring Start = L",{\"cate\":\"start\",\"item\":\"C:\\\\Apps\\\\one.exe\",\"from\":\"HKCU\"}"
                             L",{\"cate\":\"start\",\"item\":\"Spooler\",\"from\":\"SERV\"}";
  const std::wstring Install =
      L",{\"cate\":\"install\",\"displayname\":\"\\uD0A4\\uBCF4\\uB4DC \\uBCF4\\uC548\",\"publisher\":\"Vendor \\\"K\\\"\"}";
  EXPECT_EQ(ReportBody(ReportObjects(Data, 2, 3, Table)), Head + Start + Install + L"]");
  Data.Autorun.reset();
  EXPECT_EQ(ReportBody(ReportObjects(Data, 2, 3, Table)), Head + Install + L"]") << "only the Bundle page opened";
  Data.Autorun = TAutorunList{One, Two};
  Data.Install.reset();
  EXPECT_EQ(ReportBody(ReportObjects(Data, 2, 3, Table)), Head + Start + L"]") << "only the Startup page opened";
}

}  // namespace
}  // namespace nimbrel
