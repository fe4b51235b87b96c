// Temporary folders and helper child processes for the clean tests.
#include "tests/clean/child_process.h"

#include "clean/process_table.h"

#include <atomic>

namespace nimbrel::test {

TTempFolder::TTempFolder() {
  static std::atomic<int> Counter = 0;
  wchar_t Temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, Temp);
  FPath = std::wstring(Temp) + L"nimbrel-clean-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
          std::to_wstring(Counter++);
  ::CreateDirectoryW(FPath.c_str(), nullptr);
}

TTempFolder::~TTempFolder() {
  WIN32_FIND_DATAW Found{};
  HANDLE Find = ::FindFirstFileW((FPath + L"\\*").c_str(), &Found);
  if (Find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring Name = Found.cFileName;
      if (Name == L"." || Name == L"..") continue;
      const std::wstring Full = FPath + L"\\" + Name;
      if ((Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        ::RemoveDirectoryW(Full.c_str());
      else
        ::DeleteFileW(Full.c_str());
    } while (::FindNextFileW(Find, &Found));
    ::FindClose(Find);
  }
  ::RemoveDirectoryW(FPath.c_str());
}

std::wstring ProgramFolder() {
  wchar_t Module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, Module, MAX_PATH);
  std::wstring Path(Module);
  return Path.substr(0, Path.find_last_of(L'\\') + 1);
}

bool WriteFileBytes(const std::wstring& FileName, const std::string& Bytes) {
  TOwnedHandle File(::CreateFileW(FileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!File) return false;
  DWORD Written = 0;
  return ::WriteFile(File.get(), Bytes.data(), static_cast<DWORD>(Bytes.size()), &Written, nullptr) &&
         Written == Bytes.size();
}

TChildProcess::TChildProcess(const TTempFolder& Folder, const std::wstring& ExeName, const std::wstring& Arguments)
    : FPath(Folder.File(ExeName)) {
  ::CopyFileW((ProgramFolder() + L"clean_helper.exe").c_str(), FPath.c_str(), FALSE);
  std::wstring CommandLine = L"\"" + FPath + L"\" " + Arguments;
  STARTUPINFOW Startup{};
  Startup.cb = sizeof(Startup);
  PROCESS_INFORMATION Info{};
  if (::CreateProcessW(FPath.c_str(), CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Info)) {
    ::CloseHandle(Info.hThread);
    FProcess.reset(Info.hProcess);
    FId = Info.dwProcessId;
    ::WaitForInputIdle(Info.hProcess, 5000);
  }
}

TChildProcess::~TChildProcess() {
  if (Running()) {
    ::TerminateProcess(FProcess.get(), 1);
    ::WaitForSingleObject(FProcess.get(), 5000);
  }
}

bool TChildProcess::Running() const { return FProcess && ::WaitForSingleObject(FProcess.get(), 0) == WAIT_TIMEOUT; }

bool TChildProcess::WaitEnded(DWORD Milliseconds) const {
  return !FProcess || ::WaitForSingleObject(FProcess.get(), Milliseconds) == WAIT_OBJECT_0;
}

bool TChildProcess::WaitWindow(DWORD Milliseconds) const {
  const DWORD Start = ::GetTickCount();
  do {
    if (FindProcessWindow(FId) != nullptr) return true;
    ::Sleep(20);
  } while (::GetTickCount() - Start < Milliseconds);
  return false;
}

}  // namespace nimbrel::test
