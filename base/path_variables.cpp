// Special folders and the folder placeholder table with its two translations.
#include <windows.h>
#include <shlobj.h>

#include "base/ascii.h"
#include "base/paths.h"
#include "base/system_api.h"

namespace nimbrel {
namespace {

// Deletes the first " (x86)", ASCII case ignored.
std::wstring WithoutX86(std::wstring Folder) {
  const std::wstring Upper = AsciiUpper(Folder);
  const size_t Found = Upper.find(L" (X86)");
  if (Found != std::wstring::npos) Folder.erase(Found, 6);
  return Folder;
}

}  // namespace

std::wstring GetSpecialFolder(int Csidl) {
  wchar_t Buffer[MAX_PATH + 1] = {};
  if (api::SHGetFolderPathW(nullptr, Csidl, nullptr, SHGFP_TYPE_CURRENT, Buffer) != S_OK) return {};
  std::wstring Folder(Buffer);
  if (!Folder.empty() && Folder.back() == L'\\') Folder.pop_back();
  return Folder;
}

std::vector<TPathVariable> BuildPathVariables(bool Native64, const std::function<std::wstring(int Csidl)>& Folder) {
  return {
      {L"%SystemRoot%", Folder(CSIDL_WINDOWS)},
      {L"%Public%", Folder(CSIDL_COMMON_DOCUMENTS)},
      {L"%ProgramData%", Folder(CSIDL_COMMON_APPDATA)},
      {L"%WinDir%", Folder(CSIDL_WINDOWS)},
      {L"%ProgramFiles(x86)%", Folder(Native64 ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES)},
      {L"%CommonProgramFiles%", Native64 ? WithoutX86(Folder(CSIDL_PROGRAM_FILES_COMMON))
                                         : Folder(CSIDL_PROGRAM_FILES_COMMON)},
      {L"%AppData%", Folder(CSIDL_APPDATA)},
      {L"%ProgramFiles%", Native64 ? WithoutX86(Folder(CSIDL_PROGRAM_FILES)) : Folder(CSIDL_PROGRAM_FILES)},
      {L"%CommonProgramFiles(x86)%",
       Folder(Native64 ? CSIDL_PROGRAM_FILES_COMMONX86 : CSIDL_PROGRAM_FILES_COMMON)},
  };
}

const std::vector<TPathVariable>& PathVariables() {
  static const std::vector<TPathVariable> Table = [] {
    SYSTEM_INFO Info{};
    ::GetNativeSystemInfo(&Info);
    // ARM64 Windows has the x86 program folders as well.
    const bool Native64 = Info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                          Info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
    return BuildPathVariables(Native64, GetSpecialFolder);
  }();
  return Table;
}

void InitPathVariables() { PathVariables(); }

std::wstring ExpandPathVars(const std::wstring& Text) { return ExpandPathVars(Text, PathVariables()); }

std::wstring ExpandPathVars(const std::wstring& Text, const std::vector<TPathVariable>& Variables) {
  for (const TPathVariable& Variable : Variables) {
    if (StartsWithAscii(Text, Variable.Name + L"\\")) return Variable.Folder + Text.substr(Variable.Name.size());
  }
  return Text;
}

std::wstring ContractPathVars(const std::wstring& Path) { return ContractPathVars(Path, PathVariables()); }

std::wstring ContractPathVars(const std::wstring& Path, const std::vector<TPathVariable>& Variables) {
  for (const TPathVariable& Variable : Variables) {
    // An unknown folder would otherwise match every path that begins with "\".
    if (Variable.Folder.empty()) continue;
    if (StartsWithAscii(Path, Variable.Folder + L"\\")) return Variable.Name + Path.substr(Variable.Folder.size());
  }
  return Path;
}

}  // namespace nimbrel
