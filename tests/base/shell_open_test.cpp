#include "base/shell_open.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/utf.h"

namespace nimbrel {
namespace {

TEST(ShellOpen, TakesOnlyWebAddresses) {
  struct TCase {
    const wchar_t* Target;
    bool Web;
  };
  const TCase Cases[] = {
      {L"https://www.nimbrel.example/nimbrel", true},
      {L"http://127.0.0.1:18080/?report=ab", true},
      {L"HTTPS://HOST/", true},
      {L"https://", false},  // nothing after the scheme
      {L"https:/host", false},
      {L"ftp://host/file", false},
      {L"file:///C:/Windows/notepad.exe", false},
      {L"javascript:alert(1)", false},
      {L"C:\\Windows\\notepad.exe", false},
      {L"notepad.exe", false},
      {L"\\\\server\\share", false},
      {L"https://host/a\r\nb", false},  // control characters never reach a command line
      {L"", false},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(IsWebAddress(Case.Target), Case.Web) << WideToUtf8(Case.Target);
}

// A batch file that would leave a marker if anything ran it.
TEST(ShellOpen, RunsNoDocumentOrCommand) {
  wchar_t Temp[MAX_PATH];
  ASSERT_GT(::GetTempPathW(MAX_PATH, Temp), 0u);
  const std::wstring Folder = std::wstring(Temp) + L"nimbrel-shell-open-" + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryW(Folder.c_str(), nullptr));
  const std::wstring Script = Folder + L"\\open me.cmd";
  const std::wstring Marker = Folder + L"\\opened.txt";
  const std::string Body = "@echo opened> \"" + WideToUtf8(Marker) + "\"\r\n";
  HANDLE File = ::CreateFileW(Script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(File, INVALID_HANDLE_VALUE);
  DWORD Written = 0;
  ::WriteFile(File, Body.data(), static_cast<DWORD>(Body.size()), &Written, nullptr);
  ::CloseHandle(File);

  ShellOpen(Script);
  ShellOpen(L"file:///" + Script);
  ShellOpen(L"cmd.exe");
  ::Sleep(2000);
  EXPECT_EQ(::GetFileAttributesW(Marker.c_str()), INVALID_FILE_ATTRIBUTES);

  ::DeleteFileW(Script.c_str());
  ::RemoveDirectoryW(Folder.c_str());
}

}  // namespace
}  // namespace nimbrel
