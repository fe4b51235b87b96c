#include "net/endpoints.h"

#include <gtest/gtest.h>

namespace nimbrel {
namespace {

// The test build points both hosts at loopback (scripts/configure.sh).
TEST(Endpoints, ServiceAddressesShareOneBase) {
  const std::wstring Base = ServiceBaseUrl();
  ASSERT_FALSE(Base.empty());
  EXPECT_EQ(Base.back(), L'/');
  EXPECT_EQ(InitCheckUrl(), Base + L"api.init.php");
  EXPECT_EQ(ReportUrl(), Base + L"report.php");
  EXPECT_EQ(ReportPageUrl(L"a1B2-_"), Base + L"?report=a1B2-_");
  EXPECT_EQ(ReportPageUrl(L"a\" b&c=d"), Base + L"?report=a%22%20b%26c%3Dd");
  EXPECT_EQ(HomeLinkUrl(), LinkBaseUrl() + L"/nimbrel");
  EXPECT_NE(LinkBaseUrl().back(), L'/');
}

TEST(Endpoints, EntryPageTakesLowerCasedSourceAndTheFileName) {
  struct TCase {
    const wchar_t* From;
    const wchar_t* Target;
    const wchar_t* Path;
  };
  const TCase Cases[] = {
      {L"HKCU", L"OneDrive", L"entry/hkcu/OneDrive"},
      {L"FILE", L"C:\\Users\\Me\\Start Menu\\App.lnk", L"entry/file/App.lnk"},
      {L"SERV", L"Spooler", L"entry/serv/Spooler"},
      {L"SCHE", L"\\Folder\\Task", L"entry/sche/Task"},
      {L"HKLM", L"C:app.exe", L"entry/hklm/app.exe"},
      {L"ÄB", L"x", L"entry/%C3%84b/x"},  // only A-Z change case; the rest is encoded as UTF-8
      {L"FILE", L"dir\\", L"entry/file/"},
      // Blanks, quotes and everything else outside A-Z a-z 0-9 - . _ ~ never reach the browser as they are.
      {L"HKLM", L"C:\\Program Files\\My \"App\" (x86).exe", L"entry/hklm/My%20%22App%22%20%28x86%29.exe"},
      {L"FILE", L"C:\\시작\\메모장.lnk", L"entry/file/%EB%A9%94%EB%AA%A8%EC%9E%A5.lnk"},
      {L"HKCU", L"a/b?c#d&e%f+g~h", L"entry/hkcu/a%2Fb%3Fc%23d%26e%25f%2Bg~h"},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(EntryPageUrl(Case.From, Case.Target), ServiceBaseUrl() + Case.Path) << Case.Target;
  }
}

}  // namespace
}  // namespace nimbrel
