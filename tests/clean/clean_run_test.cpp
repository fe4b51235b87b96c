// One whole clean with the real worker steps, in a Wine prefix of its own: every process that
// is not protected ends, the exception files protect theirs, the program itself goes on.
#include "clean/clean_run.h"

#include "base/handle.h"
#include "base/sync.h"
#include "base/utf.h"
#include "tests/clean/child_process.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

namespace nimbrel {
namespace {

using test::TChildProcess;
using test::TTempFolder;
using test::WriteFileBytes;

const TProcessInfo* Find(const TProcessList& List, DWORD ProcessId) {
  const auto Found = std::find_if(List.begin(), List.end(), [&](const TProcessInfo& Info) { return Info.ProcessID == ProcessId; });
  return Found == List.end() ? nullptr : &*Found;
}

// Removes the files (and the folder) that the test put in place.
struct TRemoveFiles {
  std::vector<std::wstring> Files;
  std::wstring Folder;
  ~TRemoveFiles() {
    for (const auto& File : Files) ::DeleteFileW(File.c_str());
    if (!Folder.empty()) ::RemoveDirectoryW(Folder.c_str());
  }
};

TEST(CleanRun, EndsUnprotectedProcessesAndSparesTheExceptions) {
  TTempFolder Folder;
  TChildProcess Victim(Folder, L"victim.exe", L"window");
  TChildProcess Second(Folder, L"second victim.exe");
  TChildProcess KeptBeside(Folder, L"kept_beside.exe");
  TChildProcess KeptRoaming(Folder, L"kept_roaming.exe");
  TChildProcess KeptByPath(Folder, L"kept_by_path.exe");
  for (const TChildProcess* Child : {&Victim, &Second, &KeptBeside, &KeptRoaming, &KeptByPath}) ASSERT_TRUE(Child->Started());

  const std::vector<std::wstring> Files = ExceptionFilePaths();
  ASSERT_EQ(Files.size(), 2u);
  wchar_t AppData[MAX_PATH] = {};
  ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, AppData), S_OK);
  TRemoveFiles Cleanup{Files, std::wstring(AppData) + L"\\Nimbrel"};
  ::CreateDirectoryW(Cleanup.Folder.c_str(), nullptr);
  ASSERT_TRUE(WriteFileBytes(Files[0], "// beside the program\r\nkept_beside.exe*\r\n"));
  std::string Roaming = "\xEF\xBB\xBFKEPT_ROAMING.EXE*\n";
  Roaming += WideToUtf8(KeptByPath.Path());  // a path row, last line without a line break
  ASSERT_TRUE(WriteFileBytes(Files[1], Roaming));

  TStringList FileWhite;
  LoadListResource(FileWhite, L"file_white");
  const size_t Embedded = FileWhite.size();
  auto Processes = std::make_shared<TProcessList>();
  std::optional<std::wstring> Key;
  bool OnMain = false;

  TCleanRun Run;
  const DWORD Start = ::GetTickCount();
  ASSERT_EQ(Run.Start(FileWhite, Processes,
                      [&](const std::wstring& Got) {
                        Key = Got;
                        OnMain = IsMainThread();
                      })
                .Status,
            TCleanStartStatus::Started);
  EXPECT_EQ(FileWhite.size(), Embedded + 4);

  TOwnedHandle Never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  while (!Key && ::GetTickCount() - Start < 60000) WaitServingMainThread(Never.get(), 50);
  const DWORD Elapsed = ::GetTickCount() - Start;
  ASSERT_TRUE(Key);
  EXPECT_EQ(*Key, L"");  // nothing serves on the build's service port (held by the port lock): no key
  EXPECT_TRUE(OnMain);
  EXPECT_GE(Elapsed, 4000u);  // four one-second rounds, even though everything ended at once
  EXPECT_EQ(Run.State(), TCleanState::Done);

  const TProcessList& List = *Processes;
  const TProcessInfo* Own = Find(List, ::GetCurrentProcessId());
  ASSERT_NE(Own, nullptr);
  EXPECT_EQ(Own->State, StateListed);
  for (const TChildProcess* Child : {&Victim, &Second}) {
    const TProcessInfo* Info = Find(List, Child->Id());
    ASSERT_NE(Info, nullptr);
    EXPECT_EQ(Info->State, StateEnded) << testing::PrintToString(Info->FileName);
    EXPECT_FALSE(Child->Running());
  }
  for (const TChildProcess* Child : {&KeptBeside, &KeptRoaming, &KeptByPath}) {
    const TProcessInfo* Info = Find(List, Child->Id());
    ASSERT_NE(Info, nullptr);
    EXPECT_EQ(Info->State, StateListed) << testing::PrintToString(Info->FileName);
    EXPECT_TRUE(Child->Running());
  }
  // Every entry went 1 -> -2 -> -1 or stayed at 1; nothing unprotected is left listed.
  for (const auto& Info : List) {
    EXPECT_NE(Info.State, StateMarked) << testing::PrintToString(Info.FileName);
    if (Info.State == StateListed) {
      EXPECT_TRUE(Info.ProcessID == ::GetCurrentProcessId() || MatchesList(FileWhite, Info.FileName, true))
          << testing::PrintToString(Info.FileName);
    }
  }
}

}  // namespace
}  // namespace nimbrel
