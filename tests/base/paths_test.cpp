// Special folders, the placeholder table and its translations, and command-line splitting.
#include "base/paths.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>

namespace nimbrel {
namespace {

TEST(SpecialFolders, MatchWhatTheShellReports) {
  for (int Csidl : {7, 24, 26, 35, 36, 38, 42, 43, 44, 46}) {
    wchar_t Buffer[MAX_PATH + 1] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, Csidl, nullptr, SHGFP_TYPE_CURRENT, Buffer), S_OK) << Csidl;
    std::wstring Expected = Buffer;
    if (Expected.ends_with(L'\\')) Expected.pop_back();
    const std::wstring Folder = GetSpecialFolder(Csidl);
    EXPECT_FALSE(Folder.empty()) << Csidl;
    EXPECT_EQ(Folder, Expected) << Csidl;
    EXPECT_FALSE(Folder.ends_with(L'\\')) << Csidl;
  }
  EXPECT_EQ(GetSpecialFolder(0x7FFF), L"");
  EXPECT_EQ(GetSpecialFolder(-1), L"");
}

TEST(PathVariables, BuiltFromThisMachinesFolders) {
  InitPathVariables();
  const std::vector<TPathVariable>& Table = PathVariables();
  const std::pair<const wchar_t*, int> Expected[] = {
      {L"%SystemRoot%", CSIDL_WINDOWS},
      {L"%Public%", CSIDL_COMMON_DOCUMENTS},
      {L"%ProgramData%", CSIDL_COMMON_APPDATA},
      {L"%WinDir%", CSIDL_WINDOWS},
      {L"%ProgramFiles(x86)%", CSIDL_PROGRAM_FILESX86},
      {L"%CommonProgramFiles%", CSIDL_PROGRAM_FILES_COMMON},
      {L"%AppData%", CSIDL_APPDATA},
      {L"%ProgramFiles%", CSIDL_PROGRAM_FILES},
      {L"%CommonProgramFiles(x86)%", CSIDL_PROGRAM_FILES_COMMONX86},
  };
  ASSERT_EQ(Table.size(), std::size(Expected));
  for (size_t I = 0; I < Table.size(); ++I) {
    EXPECT_EQ(Table[I].Name, Expected[I].first);
    EXPECT_EQ(Table[I].Folder, GetSpecialFolder(Expected[I].second)) << Table[I].Name;
    EXPECT_FALSE(Table[I].Folder.empty()) << Table[I].Name;
  }
}

// Folders of a made-up machine, with " (x86)" spelt in several cases.
std::wstring FakeFolder(int Csidl) {
  switch (Csidl) {
    case CSIDL_WINDOWS: return L"C:\\Windows";
    case CSIDL_COMMON_DOCUMENTS: return L"C:\\Users\\Public\\Documents";
    case CSIDL_COMMON_APPDATA: return L"C:\\ProgramData";
    case CSIDL_APPDATA: return L"C:\\Users\\u\\AppData\\Roaming";
    case CSIDL_PROGRAM_FILES: return L"C:\\Program Files (X86)";
    case CSIDL_PROGRAM_FILESX86: return L"C:\\Program Files (x86)";
    case CSIDL_PROGRAM_FILES_COMMON: return L"C:\\Program Files (x86)\\Common Files (x86)";
    case CSIDL_PROGRAM_FILES_COMMONX86: return L"C:\\Program Files (x86)\\Common Files";
    default: return L"?";
  }
}

TEST(PathVariables, ColumnsFor64And32BitWindows) {
  const std::vector<TPathVariable> Wide = BuildPathVariables(true, FakeFolder);
  const std::vector<TPathVariable> Narrow = BuildPathVariables(false, FakeFolder);
  const std::map<std::wstring, std::pair<std::wstring, std::wstring>> Expected = {
      {L"%SystemRoot%", {L"C:\\Windows", L"C:\\Windows"}},
      {L"%WinDir%", {L"C:\\Windows", L"C:\\Windows"}},
      {L"%Public%", {L"C:\\Users\\Public\\Documents", L"C:\\Users\\Public\\Documents"}},
      {L"%ProgramData%", {L"C:\\ProgramData", L"C:\\ProgramData"}},
      {L"%AppData%", {L"C:\\Users\\u\\AppData\\Roaming", L"C:\\Users\\u\\AppData\\Roaming"}},
      {L"%ProgramFiles%", {L"C:\\Program Files", L"C:\\Program Files (X86)"}},
      {L"%ProgramFiles(x86)%", {L"C:\\Program Files (x86)", L"C:\\Program Files (X86)"}},
      // only the first " (x86)" goes
      {L"%CommonProgramFiles%",
       {L"C:\\Program Files\\Common Files (x86)", L"C:\\Program Files (x86)\\Common Files (x86)"}},
      {L"%CommonProgramFiles(x86)%",
       {L"C:\\Program Files (x86)\\Common Files", L"C:\\Program Files (x86)\\Common Files (x86)"}},
  };
  ASSERT_EQ(Wide.size(), 9u);
  ASSERT_EQ(Narrow.size(), 9u);
  for (size_t I = 0; I < Wide.size(); ++I) {
    EXPECT_EQ(Wide[I].Name, Narrow[I].Name);
    EXPECT_EQ(Wide[I].Folder, Expected.at(Wide[I].Name).first) << Wide[I].Name;
    EXPECT_EQ(Narrow[I].Folder, Expected.at(Narrow[I].Name).second) << Narrow[I].Name;
  }
}

std::vector<TPathVariable> MachineTable() {
  return {
      {L"%SystemRoot%", L"C:\\Windows"},
      {L"%Public%", L"C:\\Users\\Public\\Documents"},
      {L"%ProgramData%", L"C:\\ProgramData"},
      {L"%WinDir%", L"C:\\Windows"},
      {L"%ProgramFiles(x86)%", L"C:\\Program Files (x86)"},
      {L"%CommonProgramFiles%", L"C:\\Program Files\\Common Files"},
      {L"%AppData%", L"C:\\Users\\u\\AppData\\Roaming"},
      {L"%ProgramFiles%", L"C:\\Program Files"},
      {L"%CommonProgramFiles(x86)%", L"C:\\Program Files (x86)\\Common Files"},
  };
}

TEST(PathVariables, ExpandReplacesALeadingPlaceholder) {
  const std::vector<TPathVariable> Table = MachineTable();
  const std::pair<const wchar_t*, const wchar_t*> Cases[] = {
      {L"%programfiles%\\App\\app.exe", L"C:\\Program Files\\App\\app.exe"},
      {L"%ProgramFiles%App.exe", L"%ProgramFiles%App.exe"},
      {L"%ProgramFiles%", L"%ProgramFiles%"},
      {L"%WINDIR%\\x", L"C:\\Windows\\x"},
      {L"%ProgramFiles(x86)%\\a", L"C:\\Program Files (x86)\\a"},
      {L"%CommonProgramFiles(x86)%\\a", L"C:\\Program Files (x86)\\Common Files\\a"},
      {L"%AppData%\\", L"C:\\Users\\u\\AppData\\Roaming\\"},
      {L"x%AppData%\\y", L"x%AppData%\\y"},
      {L"%Temp%\\a", L"%Temp%\\a"},
      {L"%\u00C0ppData%\\a", L"%\u00C0ppData%\\a"},
      {L"", L""},
  };
  for (const auto& [Text, Expected] : Cases) EXPECT_EQ(ExpandPathVars(Text, Table), Expected) << Text;
}

TEST(PathVariables, ContractTriesTheTableInItsOrder) {
  std::vector<TPathVariable> Table = MachineTable();
  const std::pair<const wchar_t*, const wchar_t*> Cases[] = {
      {L"c:\\windows\\notepad.exe", L"%SystemRoot%\\notepad.exe"},
      {L"C:\\Windows", L"C:\\Windows"},
      {L"C:\\WindowsApps\\x", L"C:\\WindowsApps\\x"},
      {L"C:\\Program Files\\Common Files\\x.dll", L"%CommonProgramFiles%\\x.dll"},
      {L"C:\\Program Files (x86)\\Common Files\\x.dll", L"%ProgramFiles(x86)%\\Common Files\\x.dll"},
      {L"C:\\Program Files\\App\\a.exe", L"%ProgramFiles%\\App\\a.exe"},
      {L"C:\\Users\\Public\\Documents\\a", L"%Public%\\a"},
      {L"C:\\Users\\u\\AppData\\Roaming\\a", L"%AppData%\\a"},
      {L"D:\\x", L"D:\\x"},
      {L"\\x", L"\\x"},
      {L"", L""},
  };
  for (const auto& [Path, Expected] : Cases) EXPECT_EQ(ContractPathVars(Path, Table), Expected) << Path;

  // A placeholder whose folder is unknown matches nothing.
  Table[0].Folder.clear();
  EXPECT_EQ(ContractPathVars(L"\\x", Table), L"\\x");
  EXPECT_EQ(ContractPathVars(L"C:\\Windows\\x", Table), L"%WinDir%\\x");

  // On 32-bit Windows every path under the program folder gets "%ProgramFiles(x86)%".
  const std::vector<TPathVariable> Narrow = BuildPathVariables(false, FakeFolder);
  EXPECT_EQ(ContractPathVars(L"C:\\Program Files (x86)\\App\\a.exe", Narrow), L"%ProgramFiles(x86)%\\App\\a.exe");
}

TEST(CommandLine, SplitsIntoPathAndArguments) {
  struct TCase {
    const wchar_t* Line;
    const wchar_t* Path;
    const wchar_t* Arguments;
  };
  const TCase Cases[] = {
      {L"", L"", L""},
      {L" \t\r\n ", L"", L""},
      {L"C:\\Program Files\\App\\app.exe --tray", L"C:\\Program Files\\App\\app.exe", L"--tray"},
      {L"  \"C:\\Program Files\\App\\app.exe\"   --tray ", L"C:\\Program Files\\App\\app.exe", L"--tray"},
      {L"\"C:\\App\\app.exe", L"C:\\App\\app.exe", L""},
      {L"\" C:\\App\\app.exe", L" C:\\App\\app.exe", L""},
      {L"\"  C:\\App\\x.exe  \"a b", L"C:\\App\\x.exe", L"a b"},
      {L"\"\"", L"", L""},
      {L"\"", L"", L""},
      {L"C:\\App\\run.cmd.bak x", L"C:\\App\\run.cmd", L".bak x"},
      {L"C:\\a.bat.exe", L"C:\\a.bat", L".exe"},
      {L"MsiExec.EXE/I{1234}", L"MsiExec.EXE", L"/I{1234}"},
      {L"C:\\Setup\\setup.msi /quiet", L"C:\\Setup\\setup.msi", L"/quiet"},
      {L"C:\\x\\COMMAND.COM /c", L"C:\\x\\COMMAND.COM", L"/c"},
      {L"notepad", L"notepad", L""},
      {L"notepad readme.txt", L"notepad", L"readme.txt"},
      {L"notepad \t readme.txt ", L"notepad", L"readme.txt"},
      {L"a\tb", L"a\tb", L""},  // only a space separates
  };
  for (const TCase& Case : Cases) {
    const TCommandLineParts Parts = SplitCommandLine(Case.Line);
    EXPECT_EQ(Parts.Path, Case.Path) << Case.Line;
    EXPECT_EQ(Parts.Arguments, Case.Arguments) << Case.Line;
  }
}

TEST(CommandLine, ExtractsTheFileThatRunsOrLoads) {
  InitPathVariables();
  const std::wstring ProgramFiles = GetSpecialFolder(CSIDL_PROGRAM_FILES);
  const std::wstring Windows = GetSpecialFolder(CSIDL_WINDOWS);
  const std::pair<std::wstring, std::wstring> Cases[] = {
      {L"\\??\\C:\\Windows\\System32\\drivers\\x.sys", L"C:\\Windows\\System32\\drivers\\x.sys"},
      {L"C:\\Program Files\\App\\app.exe --tray", L"C:\\Program Files\\App\\app.exe"},
      {L"\"C:\\Program Files\\App\\app.exe\" --tray", L"C:\\Program Files\\App\\app.exe"},
      {L"\"C:\\App\\app.exe", L"C:\\App\\app.exe"},
      {L"C:\\Windows\\System32\\rundll32.exe \"C:\\Program Files\\App\\hook.dll\",Start",
       L"C:\\Program Files\\App\\hook.dll"},
      {L"rundll32.exe shell32.dll,Control_RunDLL", L"shell32.dll"},
      {L"RunDll32.EXE  \"C:\\x\\a.dll", L""},
      {L"rundll32.exe", L"rundll32.exe"},
      {L"%SystemRoot%\\System32\\rundll32.exe %ProgramFiles%\\A\\b.dll,Run", ProgramFiles + L"\\A\\b.dll"},
      {L"%programfiles%\\App\\app.exe /s", ProgramFiles + L"\\App\\app.exe"},
      {L"\"%WinDir%\\\\x.exe\"", Windows + L"\\x.exe"},
      {L"C:\\\\App\\\\\\app.exe", L"C:\\App\\\\app.exe"},
      {L"\\\\server\\share\\app.exe -x", L"\\\\server\\share\\app.exe"},
      {L"\\\\server\\\\share\\app.exe", L"\\\\server\\share\\app.exe"},
      {L"", L""},
      {L"   ", L""},
  };
  for (const auto& [Line, Expected] : Cases) EXPECT_EQ(ExtractCommandPath(Line), Expected) << Line;
}

}  // namespace
}  // namespace nimbrel
