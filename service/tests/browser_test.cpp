// The pages in a real browser: headless Chromium loads them from a service on loopback, and the
// tests read the document it built. With NIMBREL_SERVICE_SHOTS set to a folder, each page is also
// saved there as a screenshot.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "service_fixture.h"

extern char** environ;

namespace nimbrel::service {
namespace {

using testing::MemoryObject;
using testing::ProgramKey;
using testing::ReportBody;
using testing::TRunningService;
using testing::TTempDir;

// Runs Chromium headless on Url with Language as its Accept-Language; answers its standard output
// (the document for --dump-dom). Ends it after 60 s.
std::string RunChromium(const std::string& Url, const std::string& Language, const std::string& Action) {
  TTempDir Profile;
  std::vector<std::string> Arguments{"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-proxy-server",
                                     "--no-first-run", "--disable-extensions", "--disable-background-networking",
                                     "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                                     "--user-data-dir=" + Profile.Path().string(), "--accept-lang=" + Language,
                                     "--window-size=900,1100", Action, Url};
  std::vector<char*> Argv;
  for (auto& Argument : Arguments) Argv.push_back(Argument.data());
  Argv.push_back(nullptr);
  int Out[2];
  if (::pipe(Out) != 0) return {};
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, Out[1], 1);
  posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&Actions, Out[0]);
  pid_t Pid = -1;
  const int Spawned = posix_spawnp(&Pid, "chromium", &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  ::close(Out[1]);
  std::string Text;
  if (Spawned == 0) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < Deadline) {
      pollfd Poll{Out[0], POLLIN, 0};
      if (::poll(&Poll, 1, 200) <= 0) continue;
      char Buffer[4096];
      const ssize_t Got = ::read(Out[0], Buffer, sizeof Buffer);
      if (Got <= 0) break;
      Text.append(Buffer, static_cast<size_t>(Got));
    }
    ::kill(Pid, SIGKILL);  // only if it is still there
    ::waitpid(Pid, nullptr, 0);
  }
  ::close(Out[0]);
  return Text;
}

std::string DumpDom(const std::string& Url, const std::string& Language) {
  return RunChromium(Url, Language, "--dump-dom");
}

// Saves a screenshot of Url when NIMBREL_SERVICE_SHOTS names a folder.
void MaybeScreenshot(const std::string& Url, const std::string& Language, const std::string& Name) {
  const char* Folder = std::getenv("NIMBREL_SERVICE_SHOTS");
  if (Folder == nullptr || *Folder == '\0') return;
  std::filesystem::create_directories(Folder);
  const auto File = std::filesystem::path(Folder) / (Name + ".png");
  RunChromium(Url, Language, "--screenshot=" + File.string());
  EXPECT_TRUE(std::filesystem::exists(File)) << File;
}

// A report whose values would run script or add elements if they were taken for markup.
const std::string HostileReport = ReportBody(
    {R"({"cate":"memory","old":"2147483648","new":"3758096384","tot":"8589934592"})",
     R"({"cate":"clean","file":"<script>document.title='pwned'</script>","state":"-1"})",
     R"({"cate":"clean","file":"%ProgramFiles%\\Game\\\"quoted\".exe","state":"-1"})",
     R"({"cate":"clean","file":"%SystemRoot%\\System32\\svchost.exe","state":"1"})",
     R"({"cate":"clean","file":"%ProgramFiles(x86)%\\Updater\\updater.exe","state":"-2"})",
     R"({"cate":"clean","file":"System","state":"1"})",
     R"({"cate":"start","item":"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive","from":"HKCU"})",
     R"({"cate":"start","item":"C:\\Users\\\ubbfc\uc218\\Startup\\\uce74\uce74\uc624\ud1a1 \uc2e4\ud589.lnk","from":"FILE"})",
     R"({"cate":"install","displayname":"<img src=x onerror=\"document.title='img'\">","publisher":"O'Neil & Sons"})",
     R"({"cate":"install","displayname":"\uc6b0\ub9ac\uc740\ud589 \ubcf4\uc548 \ud504\ub85c\uadf8\ub7a8","publisher":"Bank"})"});

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto Client = Service.Client();
    const auto Answer = Client.Post("/report.php", HostileReport, "application/json");
    ASSERT_TRUE(Answer);
    Key = ProgramKey(Answer->body);
    ASSERT_FALSE(Key.empty()) << Answer->body;
  }

  TRunningService Service;
  std::string Key;
};

TEST_F(BrowserTest, ReportPageInKoreanEnglishAndArabicShowsMarkupAsText) {
  struct TCase {
    const char* Language;
    const char* Root;   // the html element as the browser serialises it
    const char* Title;
    const char* Ended;  // the ended-process label
  };
  for (const TCase& Case : {TCase{"ko", "<html lang=\"ko\" dir=\"ltr\">", "정리 보고서 · Nimbrel", "종료됨"},
                            TCase{"en", "<html lang=\"en\" dir=\"ltr\">", "Clean report · Nimbrel", "Ended"},
                            TCase{"ar", "<html lang=\"ar\" dir=\"rtl\">", "تقرير التنظيف · Nimbrel", "أُنهيت"}}) {
    SCOPED_TRACE(Case.Language);
    const std::string Url = Service.Base() + "/?report=" + Key;
    const std::string Dom = DumpDom(Url, Case.Language);
    ASSERT_NE(Dom.find(Case.Root), std::string::npos) << Dom.substr(0, 300);
    // The title is the page's own: no value ran as script.
    EXPECT_NE(Dom.find(std::string("<title>") + Case.Title + "</title>"), std::string::npos);
    EXPECT_NE(Dom.find("&lt;script&gt;document.title='pwned'&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(Dom.find("&lt;img src=x onerror=\"document.title='img'\"&gt;"), std::string::npos);
    EXPECT_EQ(Dom.find("<script"), std::string::npos);
    EXPECT_EQ(Dom.find("<img"), std::string::npos);
    EXPECT_NE(Dom.find("O'Neil &amp; Sons"), std::string::npos);
    EXPECT_NE(Dom.find("%ProgramFiles%\\Game\\\"quoted\".exe"), std::string::npos);
    EXPECT_NE(Dom.find("우리은행 보안 프로그램"), std::string::npos);
    EXPECT_NE(Dom.find(Case.Ended), std::string::npos);
    EXPECT_NE(Dom.find("<b>2</b>"), std::string::npos);  // two ended processes
    EXPECT_NE(Dom.find("1.5 GB"), std::string::npos);     // freed: 3.5 GB - 2.0 GB
    MaybeScreenshot(Url, Case.Language, std::string("report-") + Case.Language);
  }
}

TEST_F(BrowserTest, EntryPagesForEncodedNames) {
  struct TCase {
    const char* Path;
    const char* Language;
    const char* Heading;
    const char* Shows;
    const char* Shot;
  };
  for (const TCase& Case : {
           TCase{"/entry/file/%EC%B9%B4%EC%B9%B4%EC%98%A4%ED%86%A1%20%EC%8B%A4%ED%96%89.lnk", "ko",
                 "카카오톡 실행.lnk", "저장된 보고서 1개에 이 항목이 있습니다.", "entry-korean-ko"},
           TCase{"/entry/file/Send%20to%20OneNote.lnk", "en", "Send to OneNote.lnk", "OneNote's helper", "entry-blank-en"},
           TCase{"/entry/hkcu/OneDrive", "en", "OneDrive", "Stored reports that list this entry: 1.", "entry-onedrive-en"},
       }) {
    SCOPED_TRACE(Case.Path);
    const std::string Url = Service.Base() + Case.Path;
    const std::string Dom = DumpDom(Url, Case.Language);
    EXPECT_NE(Dom.find(std::string("<h1 dir=\"auto\">") + Case.Heading + "</h1>"), std::string::npos)
        << Dom.substr(0, 2000);
    EXPECT_NE(Dom.find(Case.Shows), std::string::npos);
    MaybeScreenshot(Url, Case.Language, Case.Shot);
  }
}

}  // namespace
}  // namespace nimbrel::service
