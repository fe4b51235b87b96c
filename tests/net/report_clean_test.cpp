// One real clean in a Wine prefix of its own, with the report going to the test server that
// serves on the build's service address: the exact body, its headers, and the key that comes back.
#include "clean/clean_report.h"
#include "clean/clean_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "base/handle.h"
#include "base/list_rows.h"
#include "base/sync.h"
#include "base/utf.h"
#include "clean/memory_status.h"
#include "net/endpoints.h"
#include "net/http_client.h"
#include "net/identity.h"
#include "tests/clean/child_process.h"
#include "tests/net/http_test_server.h"

namespace nimbrel {
namespace {

using test::ServerUrl;
using test::TChildProcess;
using test::TTempFolder;

// The header lines of a recorded request and its body.
struct TRecorded {
  std::wstring RequestLine;
  std::vector<std::wstring> Headers;
  std::wstring Body;
  [[nodiscard]] std::wstring Value(const std::wstring& Name) const {
    for (const auto& Line : Headers)
      if (Line.starts_with(Name + L": ")) return Line.substr(Name.size() + 2);
    return L"<none>";
  }
};

TRecorded LastReport() {
  THTTP Control;
  const std::wstring Text = Control.Get(ServerUrl(L"control/last"));
  TRecorded Recorded;
  if (Control.StatusCode() != 200) return Recorded;
  const size_t End = Text.find(L"\n\n");
  Recorded.Body = Text.substr(End + 2);
  size_t Start = 0;
  const std::wstring Head = Text.substr(0, End);
  while (Start < Head.size()) {
    size_t Next = Head.find(L'\n', Start);
    if (Next == std::wstring::npos) Next = Head.size();
    (Recorded.RequestLine.empty() ? Recorded.RequestLine : Recorded.Headers.emplace_back()) = Head.substr(Start, Next - Start);
    Start = Next + 1;
  }
  return Recorded;
}

// A copy of the helper program under a path of the test's choice, ended and removed afterwards.
class TPlacedProcess {
 public:
  explicit TPlacedProcess(const std::wstring& Folder, const std::wstring& Name) : FFolder(Folder), FPath(Folder + L"\\" + Name) {
    ::CreateDirectoryW(Folder.c_str(), nullptr);
    ::CopyFileW((test::ProgramFolder() + L"clean_helper.exe").c_str(), FPath.c_str(), FALSE);
    STARTUPINFOW Startup{};
    Startup.cb = sizeof(Startup);
    PROCESS_INFORMATION Info{};
    std::wstring CommandLine = L"\"" + FPath + L"\"";
    if (::CreateProcessW(FPath.c_str(), CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Info)) {
      FProcess.reset(Info.hProcess);
      ::CloseHandle(Info.hThread);
    }
  }
  ~TPlacedProcess() {
    if (FProcess) {
      ::TerminateProcess(FProcess.get(), 0);
      ::WaitForSingleObject(FProcess.get(), 5000);
    }
    FProcess.reset();
    ::DeleteFileW(FPath.c_str());
    ::RemoveDirectoryW(FFolder.c_str());
  }
  [[nodiscard]] bool Started() const { return FProcess.valid(); }

 private:
  std::wstring FFolder, FPath;
  TOwnedHandle FProcess;
};

std::wstring OwnPath() {
  wchar_t Path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, Path, MAX_PATH);
  return Path;
}

std::wstring Escaped(const std::wstring& Path) {
  std::wstring Text;
  for (const wchar_t C : Path) {
    if (C == L'\\' || C == L'/' || C == L'"') Text += L'\\';
    Text += C;
  }
  return Text;
}

TEST(CleanReportUpload, TheBodyOfARealCleanReachesTheServiceAndItsKeyComesBack) {
  if (ServerUrl().empty()) GTEST_SKIP() << "no test server";
  if (ReportUrl() != ServerUrl(L"report.php"))
    GTEST_SKIP() << "the build's service address is not the test server's (configure with scripts/configure.sh)";
  THTTP Control;
  Control.Post(ServerUrl(L"control/answer"), std::wstring(L"{\"ok\":true,\"pk\":\"Key-1\"}"));
  ASSERT_EQ(Control.StatusCode(), 200);

  TTempFolder Folder;
  TChildProcess Victim(Folder, L"victim.exe", L"window");
  TPlacedProcess Placed(L"C:\\Program Files\\Nimbrel 보고", L"앱.exe");
  ASSERT_TRUE(Victim.Started());
  ASSERT_TRUE(Placed.Started());

  TStringList FileWhite;
  LoadListResource(FileWhite, L"file_white");
  auto Processes = std::make_shared<TProcessList>();
  std::optional<std::wstring> Key;
  // The copies of both pages' lists, as the window hands them over when both were opened.
  TAutorunInfo Entry;
  Entry.Caption = L"Updater";
  Entry.Target = L"C:\\Program Files\\업데이트\\up.exe";
  Entry.From = L"HKLM";
  TInstallInfo Program;
  Program.DisplayName = L"Bank \"Safe\" 보안";
  Program.Publisher = L"";
  TCleanRun Run(std::vector<std::wstring>{}, RunCleanSteps);
  ASSERT_EQ(Run.Start(FileWhite, Processes, [&](const std::wstring& Got) { Key = Got; }, TAutorunList{Entry},
                      TInstallList{Program})
                .Status,
            TCleanStartStatus::Started);
  TOwnedHandle Never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  for (const DWORD Start = ::GetTickCount(); !Key && ::GetTickCount() - Start < 90000;) WaitServingMainThread(Never.get(), 50);
  ASSERT_TRUE(Key);
  EXPECT_EQ(*Key, L"Key-1");

  const TRecorded Report = LastReport();
  EXPECT_EQ(Report.RequestLine, L"POST /report.php");
  EXPECT_EQ(Report.Value(L"Content-Type"), L"application/json");
  EXPECT_EQ(Report.Value(L"User-Version"), L"0.0.0.0") << "the test program has no version resource";
  EXPECT_EQ(Report.Value(L"User-Union"), GetUserUnion());
  EXPECT_EQ(Report.Value(L"User-Union").size(), 32u);
  EXPECT_EQ(Report.Value(L"DNT"), L"1") << "the client's defaults go along";
  const std::wstring& Body = Report.Body;
  EXPECT_TRUE(std::all_of(Body.begin(), Body.end(), [](wchar_t C) { return C >= 32 && C < 127; })) << "ASCII only";

  // The memory object (its figures are the machine's), then one clean object per process.
  const std::wstring MemoryStart = L"[{\"cate\":\"memory\",\"old\":\"";
  ASSERT_TRUE(Body.starts_with(MemoryStart)) << WideToUtf8(Body.substr(0, 200));
  const size_t MemoryEnd = Body.find(L"\"}") + 2;
  const std::wstring Memory = Body.substr(1, MemoryEnd - 1);
  const std::wstring Tail = L"\",\"tot\":\"" + std::to_wstring(GetTotalMemory()) + L"\"}";
  EXPECT_TRUE(Memory.ends_with(Tail)) << WideToUtf8(Memory);
  EXPECT_NE(Memory.find(L"\",\"new\":\""), std::wstring::npos);
  std::wstring Expected = Body.substr(0, MemoryEnd);
  for (const TProcessInfo& Info : *Processes) Expected += L"," + CleanObject(Info, PathVariables());
  // The pages' entries last, escaped but not shortened.
  Expected += L",{\"cate\":\"start\",\"item\":\"C:\\\\Program Files\\\\\\uC5C5\\uB370\\uC774\\uD2B8\\\\up.exe\",\"from\":\"HKLM\"}"
              L",{\"cate\":\"install\",\"displayname\":\"Bank \\\"Safe\\\" \\uBCF4\\uC548\",\"publisher\":\"\"}]";
  EXPECT_EQ(Body, Expected);

  // Independently of the builder: the program itself left alone, the helpers ended, the path in
  // Program Files with its placeholder and escapes, Windows' own processes with theirs.
  auto Has = [&](const std::wstring& Object) { return Body.find(Object) != std::wstring::npos; };
  EXPECT_TRUE(Has(L"{\"cate\":\"clean\",\"file\":\"" + Escaped(OwnPath()) + L"\",\"state\":\"1\"}")) << WideToUtf8(Body);
  EXPECT_TRUE(Has(L"{\"cate\":\"clean\",\"file\":\"%ProgramFiles%\\\\Nimbrel \\uBCF4\\uACE0\\\\\\uC571.exe\",\"state\":\"-1\"}"))
      << WideToUtf8(Body);
  EXPECT_TRUE(Has(L"{\"cate\":\"clean\",\"file\":\"%SystemRoot%\\\\system32\\\\")) << WideToUtf8(Body);
  const auto VictimEntry = std::find_if(Processes->begin(), Processes->end(),
                                        [&](const TProcessInfo& Info) { return Info.ProcessID == Victim.Id(); });
  ASSERT_NE(VictimEntry, Processes->end());
  EXPECT_EQ(VictimEntry->State, StateEnded);
  EXPECT_TRUE(Has(CleanObject(*VictimEntry, PathVariables())));
}

}  // namespace
}  // namespace nimbrel
