// Saving the startup list.
#include "startup/autorun_save.h"

#include <windows.h>

#include "base/ascii.h"
#include "base/handle.h"
#include "base/paths.h"
#include "base/system_error.h"
#include "base/utf.h"

namespace nimbrel {

std::string AutorunListText(const TAutorunList& List) {
  std::string Text = "\xEF\xBB\xBF";
  for (const TAutorunInfo& Info : List) {
    Text += WideToUtf8(Info.From + L"|" + Info.Caption + L"|" + Info.Target);
    Text += "\r\n";
  }
  return Text;
}

std::wstring SaveAutorunList(const std::wstring& Path, const TAutorunList& List) {
  const size_t Slash = Path.find_last_of(L"\\/");
  const std::wstring Folder = Slash == std::wstring::npos ? std::wstring(L".") : Path.substr(0, Slash + 1);
  wchar_t Temporary[MAX_PATH + 1] = {};
  if (::GetTempFileNameW(Folder.c_str(), L"nim", 0, Temporary) == 0) return SystemErrorText(::GetLastError());
  const std::wstring NewFile = Temporary;
  auto Fail = [&NewFile](DWORD Error) {
    ::DeleteFileW(NewFile.c_str());
    return SystemErrorText(Error);
  };
  {
    TOwnedHandle File(::CreateFileW(NewFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!File) return Fail(::GetLastError());
    const std::string Text = AutorunListText(List);
    DWORD Written = 0;
    if (!::WriteFile(File.get(), Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr) ||
        Written != Text.size() || !::FlushFileBuffers(File.get())) {
      return Fail(::GetLastError());
    }
  }
  const bool Replaced = FileExists(Path)
                            ? ::ReplaceFileW(Path.c_str(), NewFile.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                             nullptr, nullptr) != FALSE
                            : ::MoveFileExW(NewFile.c_str(), Path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!Replaced) return Fail(::GetLastError());
  return {};
}

}  // namespace nimbrel
