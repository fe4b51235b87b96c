// The user's proxy on Windows before 8.1 (this program runs in a Windows 7 prefix): the user's
// Internet settings name the test server as the proxy, nothing answers the service's own address,
// and the start-up check and the clean report still reach the service through the proxy.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf.h"
#include "clean/clean_report.h"
#include "net/endpoints.h"
#include "net/http_client.h"
#include "update/update_check.h"
#include "tests/net/http_test_server.h"

extern "C" NTSYSAPI LONG NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW Version);

namespace nimbrel {
namespace {

using test::ServerUrl;

constexpr wchar_t ConnectionsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The connection settings as Windows keeps them for the user: a version, a change counter, the
// flags (1 direct, 2 a proxy server, 4 a script, 8 auto-detection), then counted ANSI texts for
// the proxy server, the bypass list and the script's address.
std::vector<BYTE> ConnectionSettings(const std::string& Proxy) {
  std::vector<BYTE> Blob;
  auto Number = [&](DWORD Value) {
    for (int Shift = 0; Shift < 32; Shift += 8) Blob.push_back(static_cast<BYTE>(Value >> Shift));
  };
  auto Text = [&](const std::string& Value) {
    Number(static_cast<DWORD>(Value.size()));
    Blob.insert(Blob.end(), Value.begin(), Value.end());
  };
  Number(0x46);
  Number(1);
  Number(1 | 2);
  Text(Proxy);
  Text("");
  Text("");
  Blob.resize(Blob.size() + 32, 0);
  return Blob;
}

// The test server as a proxy: "localhost:PORT" (by a name other than the service's host, so
// that Wine writes the whole address into the request line).
std::string ServerAsProxy() {
  std::string Url = WideToUtf8(ServerUrl());
  Url.erase(0, Url.find("//") + 2);
  Url = Url.substr(0, Url.find('/'));
  return "localhost" + Url.substr(Url.find(':'));
}

std::wstring Control(const std::wstring& What, const std::wstring& Path, const std::wstring& Body = {}) {
  THTTP Http;
  const std::wstring Url = ServerUrl(L"control/" + What + L"?path=" + Path);
  return Body.empty() ? Http.Get(Url) : Http.Post(Url, Body);
}

class UserProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ServerUrl().empty()) GTEST_SKIP() << "no test server (run through tests/net/with-server.sh)";
    RTL_OSVERSIONINFOW Version{};
    Version.dwOSVersionInfoSize = sizeof(Version);
    ASSERT_EQ(RtlGetVersion(&Version), 0);
    ASSERT_TRUE(Version.dwMajorVersion == 6 && Version.dwMinorVersion < 3)
        << "runs in a prefix of Windows before 8.1 (NIMBREL_WINDOWS_VERSION=win7)";
    ASSERT_NE(ServiceBaseUrl().find(L"127.0.0.1:18080"), std::wstring::npos)
        << "the build's service address is not the test one (configure with scripts/configure.sh)";
    HKEY Key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, ConnectionsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &Key, nullptr),
              ERROR_SUCCESS);
    const std::vector<BYTE> Blob = ConnectionSettings(ServerAsProxy());
    const LSTATUS Written = ::RegSetValueExW(Key, L"DefaultConnectionSettings", 0, REG_BINARY, Blob.data(),
                                             static_cast<DWORD>(Blob.size()));
    ::RegCloseKey(Key);
    ASSERT_EQ(Written, ERROR_SUCCESS);
  }
};

// Nothing listens on the service's own port (the test server serves elsewhere), so each request
// that arrives came through the proxy, its request line holding the whole address.
TEST_F(UserProxy, TheStartupCheckAndTheReportGoThroughIt) {
  const std::wstring Rows = LR"({"name_white":["Proxied"]})";
  Control(L"answer", L"/api.init.php", Rows);
  std::wstring Answer;
  ASSERT_TRUE(RequestInit(InitCheckHeaders(), Answer, nullptr));
  EXPECT_EQ(Answer, Rows);
  EXPECT_TRUE(Control(L"last", L"/api.init.php").starts_with(L"GET " + InitCheckUrl() + L"\n"))
      << WideToUtf8(Control(L"last", L"/api.init.php"));

  Control(L"answer", L"/report.php", LR"({"ok":true,"pk":"Proxied-Key"})");
  EXPECT_EQ(BuildAndSendReport(TCleanJobData{}), L"Proxied-Key");
  EXPECT_TRUE(Control(L"last", L"/report.php").starts_with(L"POST " + ReportUrl() + L"\n"))
      << WideToUtf8(Control(L"last", L"/report.php"));
}

}  // namespace
}  // namespace nimbrel
