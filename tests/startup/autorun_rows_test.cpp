// The page's pure pieces: merging a new collection into the rows, and the saved file.
#include "startup/autorun_rows.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "startup/autorun_save.h"

namespace nimbrel {
namespace {

TAutorunInfo Entry(const std::wstring& From, const std::wstring& Target, bool Enabled = true,
                   const std::wstring& Caption = L"caption") {
  TAutorunInfo Info;
  Info.From = From;
  Info.Target = Target;
  Info.Caption = Caption;
  Info.Enabled = Enabled;
  return Info;
}
TAutorunItem Row(const std::wstring& From, const std::wstring& Target, bool Enabled = true) {
  return TAutorunItem{L"name", Target, From, 0, Enabled};
}

TEST(AutorunRows, RowsKeepTheirPlaceNewEntriesAreAppendedVanishedOnesRemoved) {
  const std::vector<TAutorunItem> Rows = {Row(L"HKCU", L"A"), Row(L"SERV", L"B"), Row(L"FILE", L"C"), Row(L"SCHE", L"\\D")};
  const TAutorunList Entries = {Entry(L"SERV", L"b", false),  // keys ignore case; the state follows
                                Entry(L"HKLM", L"E"), Entry(L"hkcu", L"A"), Entry(L"SCHE", L"\\F")};
  const TAutorunMerge Merge = MergeAutorunRows(Rows, Entries, false, {}, {});
  EXPECT_EQ(Merge.Enabled, (std::vector<bool>{true, false, true, true}));
  EXPECT_EQ(Merge.Appended, (std::vector<size_t>{1, 3}));
  EXPECT_EQ(Merge.Removed, (std::vector<size_t>{3, 2})) << "from the last row to the first";
}

TEST(AutorunRows, OnlyTheLaterOfTwoRowsWithOneKeyTakesTheState) {
  const std::vector<TAutorunItem> Rows = {Row(L"HKCU", L"A"), Row(L"HKCU", L"a")};
  const TAutorunMerge Merge = MergeAutorunRows(Rows, {Entry(L"HKCU", L"A", false)}, false, {}, {});
  EXPECT_EQ(Merge.Enabled, (std::vector<bool>{true, false}));
  EXPECT_TRUE(Merge.Removed.empty()) << "both rows' key is present";
}

TEST(AutorunRows, WhoGetsANewRow) {
  const TStringList FileWhite = {L"C:\\Startup\\Guard.lnk"};
  const TStringList NameWhite = {L"Secure", L"Spool"};
  struct TCase {
    const char* What;
    TAutorunInfo Entry;
    bool ShowAll;
    bool Wanted;
  };
  const TCase Cases[] = {
      {"an entry that is on", Entry(L"HKCU", L"HKCU\\Run\\Tool"), false, true},
      {"off, not all programs", Entry(L"HKCU", L"HKCU\\Run\\Tool", false), false, false},
      {"off, all programs", Entry(L"HKCU", L"HKCU\\Run\\Tool", false), true, true},
      {"no caption (a key's default value)", Entry(L"HKCU", L"HKCU\\Run\\", true, L""), true, false},
      {"a Run value whose name begins with a NameWhite row", Entry(L"HKLM", L"HKLM\\Run\\SecureAgent"), true, false},
      {"NameWhite looks at the value name only", Entry(L"HKLM", L"HKLM\\Secure\\Run\\Tool"), true, true},
      {"a service whose name begins with one", Entry(L"SERV", L"Spooler"), true, false},
      {"a task by its name", Entry(L"SCHE", L"\\SecureUpdate"), true, false},
      {"a startup file that FileWhite covers", Entry(L"FILE", L"C:\\Startup\\Guard.lnk"), true, false},
      {"another startup file", Entry(L"FILE", L"C:\\Startup\\Secure.lnk"), true, true},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(WantsAutorunRow(Case.Entry, Case.ShowAll, FileWhite, NameWhite), Case.Wanted) << Case.What;
  }
  // A row that exists stays even when a new row would not be made for its entry.
  const TAutorunMerge Merge =
      MergeAutorunRows({Row(L"HKCU", L"HKCU\\Run\\Tool")}, {Entry(L"HKCU", L"HKCU\\Run\\Tool", false)}, false, {}, {});
  EXPECT_TRUE(Merge.Removed.empty());
  EXPECT_EQ(Merge.Enabled, std::vector<bool>{false});
}

std::string ReadBytes(const std::filesystem::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

class SaveAutorunTest : public testing::Test {
 protected:
  void SetUp() override {
    Folder = std::filesystem::temp_directory_path() / L"NimbrelSaveTest";
    std::filesystem::remove_all(Folder);
    std::filesystem::create_directories(Folder);
  }
  void TearDown() override { std::filesystem::remove_all(Folder); }
  size_t FileCount() const { return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(Folder), {})); }
  std::filesystem::path Folder;
};

TEST_F(SaveAutorunTest, TheFileHoldsEveryEntryInUtf8WithAMarkAndCrLf) {
  const TAutorunList List = {Entry(L"HKCU", L"HKCU\\Software\\Run\\카카오톡", true, L"카카오톡"),
                             Entry(L"SERV", L"Spooler", false, L"Print Spooler"), Entry(L"HKCU", L"HKCU\\Run\\", true, L"")};
  const std::string Expected =
      "\xEF\xBB\xBF"
      "HKCU|\xEC\xB9\xB4\xEC\xB9\xB4\xEC\x98\xA4\xED\x86\xA1|HKCU\\Software\\Run\\\xEC\xB9\xB4\xEC\xB9\xB4\xEC\x98\xA4\xED\x86\xA1\r\n"
      "SERV|Print Spooler|Spooler\r\n"
      "HKCU||HKCU\\Run\\\r\n";
  EXPECT_EQ(AutorunListText(List), Expected);
  const std::filesystem::path Path = Folder / L"list.txt";
  EXPECT_EQ(SaveAutorunList(Path.wstring(), List), L"");
  EXPECT_EQ(ReadBytes(Path), Expected);
  EXPECT_EQ(FileCount(), 1u) << "no new file left beside it";

  // Nothing collected: only the mark. An existing file is replaced.
  EXPECT_EQ(SaveAutorunList(Path.wstring(), {}), L"");
  EXPECT_EQ(ReadBytes(Path), "\xEF\xBB\xBF");
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(SaveAutorunTest, AFailedSaveLeavesTheOldFileAndNoNewOne) {
  const TAutorunList List = {Entry(L"SERV", L"Spooler")};
  // The chosen name is a folder: nothing can be put in its place.
  const std::filesystem::path Taken = Folder / L"taken.txt";
  std::filesystem::create_directories(Taken / L"inside");
  EXPECT_NE(SaveAutorunList(Taken.wstring(), List), L"");
  EXPECT_TRUE(std::filesystem::is_directory(Taken / L"inside"));
  EXPECT_EQ(FileCount(), 1u) << "no new file left behind";

  // A folder that does not exist.
  EXPECT_NE(SaveAutorunList((Folder / L"missing" / L"list.txt").wstring(), List), L"");

  // A read-only file is not overwritten.
  const std::filesystem::path Locked = Folder / L"locked.txt";
  std::ofstream(Locked, std::ios::binary) << "old";
  ::SetFileAttributesW(Locked.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_NE(SaveAutorunList(Locked.wstring(), List), L"");
  EXPECT_EQ(ReadBytes(Locked), "old");
  EXPECT_EQ(FileCount(), 2u);
  ::SetFileAttributesW(Locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Wine makes no Windows links (CreateSymbolicLinkW answers TRUE and makes nothing, and setting a
// reparse point is not supported), so planted files stand for whatever may wait at a name.
TEST_F(SaveAutorunTest, WhatIsAlreadyAtTheNewFilesNameIsNeverOpened) {
  const TAutorunList List = {Entry(L"SERV", L"Spooler")};
  std::vector<std::filesystem::path> Planted;
  for (const wchar_t* Name : {L"planted1.tmp", L"planted2.tmp"}) {
    Planted.push_back(Folder / Name);
    std::ofstream(Planted.back(), std::ios::binary) << "mine";
  }

  // The first names drawn are taken: others are drawn, and the planted files are left as they were.
  TSaveSteps Steps = SystemSaveSteps();
  std::vector<std::wstring> Drawn;
  Steps.TemporaryName = [&, Random = Steps.TemporaryName](const std::wstring& InFolder) {
    Drawn.push_back(Drawn.size() < Planted.size() ? Planted[Drawn.size()].wstring() : Random(InFolder));
    return Drawn.back();
  };
  const std::filesystem::path Path = Folder / L"list.txt";
  EXPECT_EQ(SaveAutorunList(Path.wstring(), List, Steps), L"");
  EXPECT_EQ(Drawn.size(), Planted.size() + 1);
  EXPECT_EQ(ReadBytes(Path), AutorunListText(List));
  for (const auto& Each : Planted) EXPECT_EQ(ReadBytes(Each), "mine") << Each;
  EXPECT_EQ(FileCount(), Planted.size() + 1) << "the planted files and the list: nothing else";

  // Drawn names lie in the chosen folder, and no two are alike.
  const std::wstring Prefix = Folder.wstring() + L"\\nim";
  EXPECT_EQ(Drawn.back().substr(0, Prefix.size()), Prefix);
  EXPECT_NE(SystemSaveSteps().TemporaryName(L"C:\\x\\"), SystemSaveSteps().TemporaryName(L"C:\\x\\"));

  // A name that stays taken: the save gives up, changing nothing.
  std::ofstream(Path, std::ios::binary) << "old";
  Steps.TemporaryName = [&](const std::wstring&) { return Planted[0].wstring(); };
  EXPECT_NE(SaveAutorunList(Path.wstring(), List, Steps), L"");
  EXPECT_EQ(ReadBytes(Path), "old");
  EXPECT_EQ(ReadBytes(Planted[0]), "mine");
  EXPECT_EQ(FileCount(), Planted.size() + 1);
}

TEST_F(SaveAutorunTest, AReplaceThatFailsHalfWayPutsTheOldFileBack) {
  const TAutorunList List = {Entry(L"SERV", L"Spooler")};
  const std::filesystem::path Path = Folder / L"list.txt";
  struct TCase {
    DWORD Error;
    bool MovesAside;  // what the system did before it failed
  } Cases[] = {
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true},  // the old file renamed to the backup name
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT, false},
      {ERROR_UNABLE_TO_REMOVE_REPLACED, false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Error);
    std::ofstream(Path, std::ios::binary) << "old";
    TSaveSteps Steps = SystemSaveSteps();
    Steps.Replace = [&](const std::wstring& Replaced, const std::wstring& Replacement, const std::wstring& Backup) {
      EXPECT_EQ(ReadBytes(Replacement), AutorunListText(List));
      EXPECT_FALSE(std::filesystem::exists(Backup));
      if (Case.MovesAside && !::MoveFileExW(Replaced.c_str(), Backup.c_str(), 0)) return ::GetLastError();
      return Case.Error;
    };
    EXPECT_NE(SaveAutorunList(Path.wstring(), List, Steps), L"");
    EXPECT_EQ(ReadBytes(Path), "old");
    EXPECT_EQ(FileCount(), 1u) << "neither the new file nor the moved one is left beside it";
  }
}

}  // namespace
}  // namespace nimbrel
