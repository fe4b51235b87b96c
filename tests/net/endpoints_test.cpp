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
  EXPECT_EQ(ReportPageUrl(L"a1B2"), Base + L"?report=a1B2");
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
      {L"ÄB", L"x", L"entry/Äb/x"},  // only A-Z change case
      {L"FILE", L"dir\\", L"entry/file/"},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(EntryPageUrl(Case.From, Case.Target), ServiceBaseUrl() + Case.Path) << Case.Target;
  }
}

}  // namespace
}  // namespace nimbrel
