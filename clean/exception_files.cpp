// Reading the user's exception files.
#include "clean/exception_files.h"

#include "base/handle.h"
#include "base/paths.h"
#include "base/utf.h"

#include <shlobj.h>

#include <algorithm>

namespace nimbrel {
namespace {

std::wstring DecodeUtf16(std::string_view Bytes, bool BigEndian) {
  std::wstring Text;
  Text.reserve(Bytes.size() / 2 + 1);
  for (size_t I = 0; I + 1 < Bytes.size(); I += 2) {
    const auto First = static_cast<unsigned char>(Bytes[I]);
    const auto Second = static_cast<unsigned char>(Bytes[I + 1]);
    Text.push_back(static_cast<wchar_t>(BigEndian ? (First << 8 | Second) : (Second << 8 | First)));
  }
  if (Bytes.size() % 2 != 0) Text.push_back(L'\xFFFD');
  return Text;
}

std::wstring DecodeAnsi(std::string_view Bytes, UINT CodePage) {
  if (Bytes.empty()) return {};
  const int Size = static_cast<int>(Bytes.size());
  const int Length = ::MultiByteToWideChar(CodePage, 0, Bytes.data(), Size, nullptr, 0);
  std::wstring Text(static_cast<size_t>(Length > 0 ? Length : 0), L'\0');
  if (Length > 0) ::MultiByteToWideChar(CodePage, 0, Bytes.data(), Size, Text.data(), Length);
  return Text;
}

bool IsMissing(DWORD Error) { return Error == ERROR_FILE_NOT_FOUND || Error == ERROR_PATH_NOT_FOUND; }

TExceptionRows Failure(const std::wstring& FileName, DWORD Code) {
  TExceptionRows Result;
  Result.Error = TExceptionFileError{FileName, SystemErrorText(Code), Code};
  return Result;
}

}  // namespace

std::wstring DecodeListFile(std::string_view Bytes, UINT AnsiCodePage) {
  if (Bytes.starts_with("\xEF\xBB\xBF")) return Utf8ToWide(Bytes.substr(3));
  if (Bytes.starts_with("\xFF\xFE")) return DecodeUtf16(Bytes.substr(2), false);
  if (Bytes.starts_with("\xFE\xFF")) return DecodeUtf16(Bytes.substr(2), true);
  // Notepad saves UTF-8 without a mark since Windows 10 1903. Text that is well-formed UTF-8 and
  // not plain ASCII is hardly ever meant in a code page (a code-page-949 Korean text is not).
  const bool NonAscii =
      std::any_of(Bytes.begin(), Bytes.end(), [](char C) { return static_cast<unsigned char>(C) >= 0x80; });
  if (NonAscii && IsValidUtf8(Bytes)) return Utf8ToWide(Bytes);
  return DecodeAnsi(Bytes, AnsiCodePage);
}

std::vector<std::wstring> ExceptionFilePaths() {
  std::vector<std::wstring> Paths;
  std::wstring Module(MAX_PATH, L'\0');
  for (;;) {
    const DWORD Length = ::GetModuleFileNameW(nullptr, Module.data(), static_cast<DWORD>(Module.size()));
    if (Length == 0) {
      Module.clear();
      break;
    }
    if (Length < Module.size()) {
      Module.resize(Length);
      break;
    }
    Module.resize(Module.size() * 2);
  }
  const size_t Slash = Module.find_last_of(L"\\/");
  if (Slash != std::wstring::npos) Paths.push_back(Module.substr(0, Slash + 1) + L"NoClean.txt");
  // Without the folder the path would name a file at the root of the current drive.
  const std::wstring AppData = GetSpecialFolder(CSIDL_APPDATA);
  if (!AppData.empty()) Paths.push_back(AppData + L"\\Nimbrel\\NoClean.txt");
  return Paths;
}

TExceptionRows ReadExceptionFile(const std::wstring& FileName) {
  // Only a file that is not there is skipped; one whose attributes cannot be read (access
  // denied, a broken share) is an error, or the clean would end the programs it protects.
  const DWORD Attributes = ::GetFileAttributesW(FileName.c_str());
  if (Attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD Error = ::GetLastError();
    if (IsMissing(Error)) return {};
    return Failure(FileName, Error);
  }
  if ((Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};

  TOwnedHandle File(::CreateFileW(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!File) {
    const DWORD Error = ::GetLastError();
    if (IsMissing(Error)) return {};  // a link whose target is gone
    return Failure(FileName, Error);
  }
  LARGE_INTEGER Size{};
  if (!::GetFileSizeEx(File.get(), &Size)) return Failure(FileName, ::GetLastError());
  if (Size.QuadPart > 64 * 1024 * 1024) return Failure(FileName, ERROR_FILE_TOO_LARGE);

  std::string Bytes(static_cast<size_t>(Size.QuadPart), '\0');
  size_t Done = 0;
  while (Done < Bytes.size()) {
    DWORD Read = 0;
    if (!::ReadFile(File.get(), Bytes.data() + Done, static_cast<DWORD>(Bytes.size() - Done), &Read, nullptr))
      return Failure(FileName, ::GetLastError());
    if (Read == 0) break;
    Done += Read;
  }
  Bytes.resize(Done);

  TExceptionRows Result;
  Result.Rows = SplitLines(DecodeListFile(Bytes, CP_ACP));
  return Result;
}

TExceptionRows ReadExceptionFiles(const std::vector<std::wstring>& FileNames) {
  TExceptionRows All;
  for (const auto& FileName : FileNames) {
    TExceptionRows One = ReadExceptionFile(FileName);
    if (One.Error) return One;
    All.Rows.insert(All.Rows.end(), std::make_move_iterator(One.Rows.begin()), std::make_move_iterator(One.Rows.end()));
  }
  return All;
}

}  // namespace nimbrel
