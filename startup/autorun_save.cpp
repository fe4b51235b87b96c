// Saving the startup list.
#include "startup/autorun_save.h"

#include <random>

#include "base/ascii.h"
#include "base/handle.h"
#include "base/paths.h"
#include "base/system_error.h"
#include "base/utf.h"

namespace nimbrel {
namespace {

// Attempts at a free temporary name; with 64 random bits a taken one means something is planted.
constexpr int NameAttempts = 8;

std::wstring RandomTemporaryName(const std::wstring& Folder) {
  std::random_device Random;
  std::wstring Name = Folder + L"nim";
  for (int Half = 0; Half < 2; ++Half) {
    const unsigned Bits = Random();
    for (int Shift = 28; Shift >= 0; Shift -= 4) Name += HexDigits[(Bits >> Shift) & 15];
  }
  return Name + L".tmp";
}

DWORD SystemReplace(const std::wstring& Replaced, const std::wstring& Replacement, const std::wstring& Backup) {
  if (::ReplaceFileW(Replaced.c_str(), Replacement.c_str(), Backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr))
    return ERROR_SUCCESS;
  return ::GetLastError();
}

// Creates a file that did not exist, under a fresh name each attempt. Never opens what is there
// already, and a link at the name is taken as the link itself (so CREATE_NEW fails on it).
TOwnedHandle CreateTemporary(const std::wstring& Folder, const TSaveSteps& Steps, std::wstring& Name, DWORD& Error) {
  Error = ERROR_FILE_EXISTS;
  for (int Attempt = 0; Attempt < NameAttempts; ++Attempt) {
    Name = Steps.TemporaryName(Folder);
    TOwnedHandle File(::CreateFileW(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (File) return File;
    Error = ::GetLastError();
    if (Error != ERROR_FILE_EXISTS && Error != ERROR_ALREADY_EXISTS) break;
  }
  Name.clear();
  return {};
}

}  // namespace

std::string AutorunListText(const TAutorunList& List) {
  std::string Text = "\xEF\xBB\xBF";
  for (const TAutorunInfo& Info : List) {
    Text += WideToUtf8(Info.From + L"|" + Info.Caption + L"|" + Info.Target);
    Text += "\r\n";
  }
  return Text;
}

TSaveSteps SystemSaveSteps() { return {RandomTemporaryName, SystemReplace}; }

std::wstring SaveAutorunList(const std::wstring& Path, const TAutorunList& List) {
  return SaveAutorunList(Path, List, SystemSaveSteps());
}

std::wstring SaveAutorunList(const std::wstring& Path, const TAutorunList& List, const TSaveSteps& Steps) {
  const size_t Slash = Path.find_last_of(L"\\/");
  const std::wstring Folder = Slash == std::wstring::npos ? std::wstring() : Path.substr(0, Slash + 1);
  std::wstring NewFile;
  DWORD CreateError = ERROR_SUCCESS;
  TOwnedHandle File = CreateTemporary(Folder, Steps, NewFile, CreateError);
  if (!File) return SystemErrorText(CreateError);
  auto Fail = [&NewFile](DWORD Error) {
    ::DeleteFileW(NewFile.c_str());
    return SystemErrorText(Error);
  };
  const std::string Text = AutorunListText(List);
  DWORD Written = 0;
  if (!::WriteFile(File.get(), Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr) ||
      Written != Text.size() || !::FlushFileBuffers(File.get())) {
    const DWORD Error = ::GetLastError();
    File.reset();
    return Fail(Error);
  }
  File.reset();

  if (!FileExists(Path)) {
    if (!::MoveFileExW(NewFile.c_str(), Path.c_str(), MOVEFILE_WRITE_THROUGH)) return Fail(::GetLastError());
    return {};
  }
  // The old file is moved aside under a name of its own, so that a replace that fails half-way
  // (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file renamed, the new one not moved in) leaves
  // it where it can be put back.
  const std::wstring Backup = Steps.TemporaryName(Folder);
  const DWORD Error = Steps.Replace(Path, NewFile, Backup);
  if (Error == ERROR_SUCCESS) {
    ::DeleteFileW(Backup.c_str());
    return {};
  }
  if (Error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 || (FileExists(Backup) && !FileExists(Path)))
    ::MoveFileExW(Backup.c_str(), Path.c_str(), MOVEFILE_WRITE_THROUGH);
  return Fail(Error);
}

}  // namespace nimbrel
