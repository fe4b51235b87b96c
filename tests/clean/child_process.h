// Child processes for the clean tests: copies of the helper program under names of the test's
// choice, in a folder of their own, ended and removed when the test is done.
#pragma once

#include "base/handle.h"

#include <windows.h>

#include <string>

namespace nimbrel::test {

// A folder under the temporary folder, removed with its files at scope end.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  [[nodiscard]] const std::wstring& Path() const { return FPath; }
  // Path + "\" + Name.
  [[nodiscard]] std::wstring File(const std::wstring& Name) const { return FPath + L"\\" + Name; }

 private:
  std::wstring FPath;
};

// The folder of the running test program, with a trailing backslash.
std::wstring ProgramFolder();

// Writes Bytes to FileName (replacing it); false on failure.
bool WriteFileBytes(const std::wstring& FileName, const std::string& Bytes);

// A running copy of the helper program named ExeName inside Folder. Arguments: see the helper.
class TChildProcess {
 public:
  TChildProcess(const TTempFolder& Folder, const std::wstring& ExeName, const std::wstring& Arguments = L"");
  ~TChildProcess();  // ends the process if it still runs
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  [[nodiscard]] bool Started() const { return FProcess.valid(); }
  [[nodiscard]] DWORD Id() const { return FId; }
  [[nodiscard]] const std::wstring& Path() const { return FPath; }
  [[nodiscard]] bool Running() const;
  // Waits up to Milliseconds for the process to end; true when it has.
  bool WaitEnded(DWORD Milliseconds) const;
  // Lets go of the process: an ended process's object lasts while a handle to it is open.
  void Release() { FProcess.reset(); }
  // Waits until the process has made its first top-level window; false after Milliseconds.
  bool WaitWindow(DWORD Milliseconds) const;

 private:
  std::wstring FPath;
  TOwnedHandle FProcess;
  DWORD FId = 0;
};

}  // namespace nimbrel::test
