// Test support: records the web addresses the shell opens instead of starting a browser.
// Needs LINK_RECORDER_PATH (the link_recorder program) defined by the test's build.
#pragma once

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace nimbrel::test {

// While it lives, the "http" addresses that the shell opens go to link_recorder, which writes
// them into a file instead of starting a browser. (Wine's view of the classes takes only the
// machine's entries, so the machine's handler is replaced for the while and then put back.)
class TRecordedLinks {
 public:
  TRecordedLinks() : FFile(std::filesystem::temp_directory_path() /
                           (L"NimbrelOpenedLinks-" + std::to_wstring(::GetCurrentProcessId()) + L".txt")) {
    std::filesystem::remove(FFile);
    FOldCommand = ReadCommand();
    WriteCommand(L"\"" + std::filesystem::absolute(std::filesystem::path(L"" LINK_RECORDER_PATH).make_preferred()).wstring() + L"\" \"" +
                 FFile.wstring() + L"\" \"%1\"");
  }
  ~TRecordedLinks() {
    WriteCommand(FOldCommand);
    std::filesystem::remove(FFile);
  }
  // The addresses opened so far, waiting up to Count of them for a moment (up to Milliseconds).
  std::vector<std::wstring> Links(size_t Count, DWORD Milliseconds = 10000) const {
    std::vector<std::wstring> Result;
    for (DWORD I = 0; I < Milliseconds / 100 && Result.size() < Count; ++I) {
      ::Sleep(100);
      Result.clear();
      FILE* In = _wfopen(FFile.c_str(), L"r, ccs=UTF-8");
      if (In == nullptr) continue;
      wchar_t Line[1024];
      while (std::fgetws(Line, 1024, In) != nullptr) {
        std::wstring Text(Line);
        while (!Text.empty() && (Text.back() == L'\n' || Text.back() == L'\r')) Text.pop_back();
        Result.push_back(Text);
      }
      std::fclose(In);
    }
    return Result;
  }

 private:
  static constexpr wchar_t KeyPath[] = L"Software\\Classes\\http\\shell\\open\\command";
  static std::wstring ReadCommand() {
    wchar_t Text[1024] = {};
    DWORD Size = sizeof(Text);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, KeyPath, nullptr, RRF_RT_REG_SZ, nullptr, Text, &Size) != ERROR_SUCCESS) return {};
    return Text;
  }
  static void WriteCommand(const std::wstring& Command) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, KeyPath, nullptr, REG_SZ, Command.c_str(),
                      static_cast<DWORD>((Command.size() + 1) * sizeof(wchar_t)));
  }
  std::filesystem::path FFile;
  std::wstring FOldCommand;
};

}  // namespace nimbrel::test
