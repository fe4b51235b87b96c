// While a TRecordedLinks lives, the "http" addresses that the shell opens go to link_recorder,
// which appends them to a file instead of starting a browser. (Wine's view of the classes takes
// only the machine's entries, so the machine's handler is replaced for the while and put back.)
#pragma once

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace nimbrel::test {

class TRecordedLinks {
 public:
  explicit TRecordedLinks(const std::wstring& RecorderPath)
      : FFile(std::filesystem::temp_directory_path() / L"NimbrelReportLinks.txt") {
    std::filesystem::remove(FFile);
    FOldCommand = ReadCommand();
    WriteCommand(L"\"" + std::filesystem::path(RecorderPath).make_preferred().wstring() + L"\" \"" + FFile.wstring() +
                 L"\" \"%1\"");
  }
  ~TRecordedLinks() {
    WriteCommand(FOldCommand);
    std::filesystem::remove(FFile);
  }
  TRecordedLinks(const TRecordedLinks&) = delete;
  TRecordedLinks& operator=(const TRecordedLinks&) = delete;

  // The addresses opened so far, waiting up to Milliseconds for Count of them.
  std::vector<std::wstring> Links(size_t Count, DWORD Milliseconds = 10000) const {
    std::vector<std::wstring> Result;
    for (const DWORD Start = ::GetTickCount();;) {
      Result = Read();
      if (Result.size() >= Count || ::GetTickCount() - Start >= Milliseconds) return Result;
      ::Sleep(100);
    }
  }
  void Clear() { std::filesystem::remove(FFile); }

 private:
  static constexpr wchar_t KeyPath[] = L"Software\\Classes\\http\\shell\\open\\command";
  std::vector<std::wstring> Read() const {
    std::vector<std::wstring> Result;
    FILE* In = _wfopen(FFile.c_str(), L"r, ccs=UTF-8");
    if (In == nullptr) return Result;
    wchar_t Line[2048];
    while (std::fgetws(Line, 2048, In) != nullptr) {
      std::wstring Text(Line);
      while (!Text.empty() && (Text.back() == L'\n' || Text.back() == L'\r')) Text.pop_back();
      Result.push_back(Text);
    }
    std::fclose(In);
    return Result;
  }
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
