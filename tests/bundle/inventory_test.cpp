// GetInstall against seeded uninstall registrations in the real registry (a prefix of its own),
// and ExpandProgramFiles.
#include "bundle/inventory.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "bundle/install_snapshot.h"
#include "tests/bundle/uninstall_seed.h"

namespace nimbrel {
namespace {

using namespace testing_support;

const TInstallInfo* Find(const TInstallList& List, const std::wstring& Name) {
  for (const TInstallInfo& Entry : List) {
    if (Entry.DisplayName == Name) return &Entry;
  }
  return nullptr;
}

std::vector<std::wstring> Names(const TInstallList& List) {
  std::vector<std::wstring> Result;
  for (const TInstallInfo& Entry : List) Result.push_back(Entry.DisplayName);
  return Result;
}

std::wstring Environment(const wchar_t* Name) {
  wchar_t Buffer[1024] = {};
  return ::GetEnvironmentVariableW(Name, Buffer, 1024) > 0 ? Buffer : L"";
}

void MakeFile(const std::filesystem::path& File) {
  std::filesystem::create_directories(File.parent_path());
  std::FILE* Stream = ::_wfopen(File.c_str(), L"wb");
  ASSERT_NE(Stream, nullptr) << File;
  std::fputs("x", Stream);
  std::fclose(Stream);
}

// Sets the last-write time of Folder to the given UTC time and returns its local date yyyymmdd.
std::wstring SetFolderDate(const std::wstring& Folder, WORD Year, WORD Month, WORD Day) {
  const SYSTEMTIME Utc{Year, Month, 0, Day, 12, 0, 0, 0};
  FILETIME Time{};
  ::SystemTimeToFileTime(&Utc, &Time);
  const TOwnedHandle Handle(::CreateFileW(Folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  EXPECT_TRUE(Handle.valid()) << Folder;
  EXPECT_TRUE(::SetFileTime(Handle.get(), nullptr, nullptr, &Time));
  SYSTEMTIME Local{};
  ::SystemTimeToTzSpecificLocalTime(nullptr, &Utc, &Local);
  wchar_t Text[16];
  std::swprintf(Text, 16, L"%04u%02u%02u", unsigned{Local.wYear}, unsigned{Local.wMonth}, unsigned{Local.wDay});
  return Text;
}

class InventoryTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearRegistrations();
    std::filesystem::remove_all(Files);
  }
  void TearDown() override {
    ClearRegistrations();
    std::filesystem::remove_all(Files);
  }
  TInstallList Read() {
    TInstallList List(1);  // a stale entry that GetInstall must drop
    List[0].DisplayName = L"stale";
    GetInstall(List);
    return List;
  }

  const std::filesystem::path Files = L"C:\\NimbrelBundleTest";
};

TEST_F(InventoryTest, SkipRulesLeaveOutIncompleteHiddenAndUnremovableEntries) {
  struct TCase {
    const wchar_t* Name;  // also the subkey's name
    std::vector<TSeedValue> Values;
    bool Listed;
  };
  const TCase Cases[] = {
      {L"Complete", {Sz(L"DisplayName", L"Complete"), Sz(L"UninstallString", L"u.exe")}, true},
      {L"NameOnly", {Sz(L"DisplayName", L"NameOnly")}, false},
      {L"CommandOnly", {Sz(L"UninstallString", L"u.exe")}, false},
      {L"BlankName", {Sz(L"DisplayName", L" \t\r\n"), Sz(L"UninstallString", L"u.exe")}, false},
      {L"BlankCommand", {Sz(L"DisplayName", L"BlankCommand"), Sz(L"UninstallString", L"   ")}, false},
      {L"NumberName", {Dword(L"DisplayName", 7), Sz(L"UninstallString", L"u.exe")}, true},
      {L"ParentSz", {Sz(L"DisplayName", L"ParentSz"), Sz(L"UninstallString", L"u.exe"), Sz(L"ParentKeyName", L"")},
       false},
      {L"ParentDword",
       {Sz(L"DisplayName", L"ParentDword"), Sz(L"UninstallString", L"u.exe"), Dword(L"ParentKeyName", 0)},
       false},
      {L"NoRemove1", {Sz(L"DisplayName", L"NoRemove1"), Sz(L"UninstallString", L"u.exe"), Dword(L"NoRemove", 1)},
       false},
      {L"NoRemove0", {Sz(L"DisplayName", L"NoRemove0"), Sz(L"UninstallString", L"u.exe"), Dword(L"NoRemove", 0)},
       true},
      {L"NoRemoveText",
       {Sz(L"DisplayName", L"NoRemoveText"), Sz(L"UninstallString", L"u.exe"), Sz(L"NoRemove", L"1")},
       true},
      {L"System1",
       {Sz(L"DisplayName", L"System1"), Sz(L"UninstallString", L"u.exe"), Dword(L"SystemComponent", 1)},
       false},
      {L"System2",
       {Sz(L"DisplayName", L"System2"), Sz(L"UninstallString", L"u.exe"), Dword(L"SystemComponent", 2)},
       false},
      {L"SystemText",
       {Sz(L"DisplayName", L"SystemText"), Sz(L"UninstallString", L"u.exe"), Sz(L"SystemComponent", L"1")},
       true},
      {L"SystemExpand",
       {Sz(L"DisplayName", L"SystemExpand"), Sz(L"UninstallString", L"u.exe"), ExpandSz(L"SystemComponent", L"1")},
       true},
  };
  for (const TCase& Case : Cases) Seed(Cu64, Case.Name, Case.Values);
  const TInstallList List = Read();
  for (const TCase& Case : Cases) {
    const std::wstring Name = std::wstring(Case.Name) == L"NumberName" ? L"7" : Case.Name;
    EXPECT_EQ(Find(List, Name) != nullptr, Case.Listed) << Case.Name;
  }
  EXPECT_EQ(Find(List, L"stale"), nullptr);
  EXPECT_EQ(List.size(), 6u);
}

TEST_F(InventoryTest, DuplicatesByExactNameAndPublisherKeepTheFirstRegistrationRead) {
  const std::wstring Date = L"20200101";  // equal dates keep the reading order
  SeedProgram(Lm32, L"Viewer", L"Viewer", L"u32.exe",
              {Sz(L"Publisher", L"Acme"), Sz(L"DisplayVersion", L"32"), Sz(L"InstallDate", Date)});
  SeedProgram(Lm64, L"Viewer", L"Viewer", L"u64.exe",
              {Sz(L"Publisher", L"Acme"), Sz(L"DisplayVersion", L"64"), Sz(L"InstallDate", Date)});
  SeedProgram(Cu64, L"Viewer", L"Viewer", L"ucu.exe",
              {Sz(L"Publisher", L" Acme "), Sz(L"DisplayVersion", L"cu"), Sz(L"InstallDate", Date)});
  SeedProgram(Cu32, L"Viewer", L"Viewer", L"ucase.exe",
              {Sz(L"Publisher", L"ACME"), Sz(L"DisplayVersion", L"case"), Sz(L"InstallDate", Date)});
  SeedProgram(Cu32, L"ViewerLower", L"viewer ", L"uname.exe",
              {Sz(L"Publisher", L"Acme"), Sz(L"DisplayVersion", L"name"), Sz(L"InstallDate", Date)});
  SeedProgram(Lm32, L"Other", L"Other", L"o32.exe", {Sz(L"InstallDate", Date), Sz(L"DisplayVersion", L"32")});
  SeedProgram(Cu64, L"Other", L"Other", L"ocu.exe", {Sz(L"InstallDate", Date), Sz(L"DisplayVersion", L"cu")});

  struct TExpected {
    const wchar_t* Name;
    const wchar_t* Publisher;
    const wchar_t* Version;
    const wchar_t* Command;
    bool FromCurrentUser;
  };
  // Registrations in the reading order, within one key in the registry's order (by name).
  const TExpected Expected[] = {
      {L"Viewer", L"Acme", L"64", L"u64.exe", false},
      {L"Other", L"", L"32", L"o32.exe", false},
      {L"Viewer", L"ACME", L"case", L"ucase.exe", true},
      {L"viewer", L"Acme", L"name", L"uname.exe", true},
  };
  const TInstallList List = Read();
  ASSERT_EQ(List.size(), std::size(Expected)) << testing::PrintToString(Names(List));
  for (size_t I = 0; I < std::size(Expected); ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(List[I].DisplayName, Expected[I].Name);
    EXPECT_EQ(List[I].Publisher, Expected[I].Publisher);
    EXPECT_EQ(List[I].DisplayVersion, Expected[I].Version);
    EXPECT_EQ(List[I].UninstallString, Expected[I].Command);
    EXPECT_EQ(List[I].FromCurrentUser, Expected[I].FromCurrentUser);
  }
}

TEST_F(InventoryTest, EveryRegistrationIsReadInOrderAndAMissingOneIsPassedOver) {
  SeedProgram(Cu32, L"D", L"D", L"d.exe");
  SeedProgram(Cu64, L"C", L"C", L"c.exe");
  SeedProgram(Lm32, L"B", L"B", L"b.exe");
  SeedProgram(Lm64, L"A", L"A", L"a.exe");
  EXPECT_EQ(Names(Read()), (std::vector<std::wstring>{L"A", L"B", L"C", L"D"}));
  const TInstallList List = Read();
  EXPECT_FALSE(List[0].FromCurrentUser);
  EXPECT_FALSE(List[1].FromCurrentUser);
  EXPECT_TRUE(List[2].FromCurrentUser);
  EXPECT_TRUE(List[3].FromCurrentUser);

  ::RegDeleteTreeW(HKEY_CURRENT_USER, RegistrationPath(Cu32).c_str());
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, RegistrationPath(Lm64).c_str());
  EXPECT_EQ(Names(Read()), (std::vector<std::wstring>{L"B", L"C"}));
}

TEST_F(InventoryTest, TextsAreTrimmedOrTakenAsRegistered) {
  SeedProgram(Lm64, L"T", L"\t Trimmed Name \r\n", L"  \"C:\\App\\u.exe\" /x \t",
              {Sz(L"Publisher", L"\x01 Pub \x1f"), Sz(L"DisplayVersion", L" 1.0 "), Dword(L"EstimatedSize", 1234),
               ExpandSz(L"HelpLink", L"%TEMP%\\help"), Sz(L"InstallLocation", L"C:\\App\\"),
               Dword(L"URLInfoAbout", 0xFFFFFFFF), Sz(L"InstallDate", L"20210304")});
  SeedProgram(Lm64, L"S1", L"SizeText", L"u.exe", {Sz(L"EstimatedSize", L"1234"), Dword(L"DisplayVersion", 5)});
  SeedProgram(Lm64, L"S2", L"SizeNegative", L"u.exe", {Dword(L"EstimatedSize", static_cast<DWORD>(-5))});
  const TInstallList List = Read();

  const TInstallInfo* Entry = Find(List, L"Trimmed Name");
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(Entry->UninstallString, L"\"C:\\App\\u.exe\" /x");
  EXPECT_EQ(Entry->Publisher, L"Pub");
  EXPECT_EQ(Entry->DisplayVersion, L" 1.0 ");
  EXPECT_EQ(Entry->EstimatedSize, 1234);
  EXPECT_EQ(Entry->HelpLink, L"%TEMP%\\help");
  EXPECT_EQ(Entry->InstallLocation, L"C:\\App\\");
  EXPECT_EQ(Entry->URLInfoAbout, L"-1");
  EXPECT_EQ(Entry->InstallDate, L"20210304");

  ASSERT_NE(Find(List, L"SizeText"), nullptr);
  EXPECT_EQ(Find(List, L"SizeText")->EstimatedSize, 0);
  EXPECT_EQ(Find(List, L"SizeText")->DisplayVersion, L"5");
  ASSERT_NE(Find(List, L"SizeNegative"), nullptr);
  EXPECT_EQ(Find(List, L"SizeNegative")->EstimatedSize, -5);
}

TEST_F(InventoryTest, IconPathsLoseQuotesAndIndexes) {
  const std::wstring ProgramFiles = Environment(L"ProgramW6432");
  ASSERT_FALSE(ProgramFiles.empty());
  struct TCase {
    const wchar_t* DisplayIcon;  // nullptr: no value
    const wchar_t* Command;
    std::wstring File;
    int Index;
  };
  const TCase Cases[] = {
      {L"C:\\App\\app.exe,2", L"u.exe", L"C:\\App\\app.exe", 2},
      {L"C:\\App\\app.exe, 7", L"u.exe", L"C:\\App\\app.exe", 7},
      {L"C:\\App\\app.exe,100", L"u.exe", L"C:\\App\\app.exe", 100},
      {L"C:\\App\\app.exe,101", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"C:\\App\\app.exe,-1", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"C:\\App\\app.exe,65538", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"C:\\App\\app.exe,abc", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"C:\\App\\app.exe,2x", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"C:\\App\\app.exe,", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"C:\\App\\app.exe,1,2", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"\"C:\\App\\app.exe\"", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"\"C:\\App\\app.exe\",2", L"u.exe", L"C:\\App\\app.exe", 2},
      {L"\"C:\\My,App\\app.exe\",3", L"u.exe", L"C:\\My,App\\app.exe", 3},
      {L"\"C:\\App\\app.exe", L"u.exe", L"C:\\App\\app.exe", 0},
      {L"%programfiles%\\App\\app.exe,1", L"u.exe", ProgramFiles + L"\\App\\app.exe", 1},
      {nullptr, L"\"C:\\App\\unins000.exe\" /S", L"C:\\App\\unins000.exe", 0},
      {nullptr, L"C:\\App\\unins000.exe,4", L"C:\\App\\unins000.exe", 4},
      {L"", L"%ProgramFiles%\\App\\u.exe", ProgramFiles + L"\\App\\u.exe", 0},
  };
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const std::wstring Name = L"Icon" + std::to_wstring(I);
    std::vector<TSeedValue> Extra;
    if (Cases[I].DisplayIcon != nullptr) Extra.push_back(Sz(L"DisplayIcon", Cases[I].DisplayIcon));
    SeedProgram(Lm64, Name, Name, Cases[I].Command, Extra);
  }
  const TInstallList List = Read();
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const TInstallInfo* Entry = Find(List, L"Icon" + std::to_wstring(I));
    ASSERT_NE(Entry, nullptr) << I;
    EXPECT_EQ(Entry->DisplayIcon, Cases[I].File) << I;
    EXPECT_EQ(Entry->DisplayIconIndex, Cases[I].Index) << I;
  }
}

TEST_F(InventoryTest, WindowsInstallerProductsTakeTheFirstFileOfTheirCacheFolder) {
  const std::wstring WinDir = Environment(L"WinDir");
  const std::filesystem::path Installer = WinDir + L"\\Installer";
  const std::wstring WithFile = L"{11111111-2222-3333-4444-555555555555}";
  const std::wstring Empty = L"{66666666-2222-3333-4444-555555555555}";
  const std::wstring Missing = L"{77777777-2222-3333-4444-555555555555}";
  std::filesystem::create_directories(Installer / WithFile / L"subfolder");
  MakeFile(Installer / WithFile / L"product.ico");
  ::SetFileAttributesW((Installer / WithFile / L"product.ico").c_str(), FILE_ATTRIBUTE_HIDDEN);
  std::filesystem::create_directories(Installer / Empty);

  const std::wstring Msiexec = WinDir + L"\\System32\\msiexec.exe";
  struct TCase {
    const wchar_t* DisplayIcon;
    std::wstring Command;
    std::wstring File;
  };
  const TCase Cases[] = {
      {nullptr, L"MsiExec.exe /X" + WithFile, WinDir + L"\\Installer\\" + WithFile + L"\\product.ico"},
      {nullptr, L"MsiExec.exe /I" + Empty, Msiexec},
      {nullptr, L"MsiExec.exe /X" + Missing, Msiexec},
      {nullptr, L"MsiExec.exe /X", Msiexec},
      {nullptr, L"msiexec.exe /X}{", Msiexec},
      {L"C:\\Windows\\system32\\msiexec.exe", L"u.exe", Msiexec},
      {L"C:\\App\\app.exe", L"MsiExec.exe /X" + WithFile, L"C:\\App\\app.exe"},
  };
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const std::wstring Name = L"Msi" + std::to_wstring(I);
    std::vector<TSeedValue> Extra;
    if (Cases[I].DisplayIcon != nullptr) Extra.push_back(Sz(L"DisplayIcon", Cases[I].DisplayIcon));
    SeedProgram(Cu64, Name, Name, Cases[I].Command, Extra);
  }
  const TInstallList List = Read();
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const TInstallInfo* Entry = Find(List, L"Msi" + std::to_wstring(I));
    ASSERT_NE(Entry, nullptr) << I;
    EXPECT_EQ(Entry->DisplayIcon, Cases[I].File) << I;
  }
  std::filesystem::remove_all(Installer / WithFile);
  std::filesystem::remove_all(Installer / Empty);
}

TEST_F(InventoryTest, DatesAreDigitsOrTheIconFoldersDateAndSortNewestFirst) {
  MakeFile(Files / L"Dated\\app.exe");
  MakeFile(Files / L"Undated\\app.exe");
  MakeFile(Files / L"Short\\app.exe");
  const std::wstring Dated = SetFolderDate((Files / L"Dated").wstring(), 2019, 6, 15);
  const std::wstring Undated = SetFolderDate((Files / L"Undated").wstring(), 2018, 2, 20);
  const std::wstring Short = SetFolderDate((Files / L"Short").wstring(), 2017, 11, 3);
  auto IconIn = [&](const wchar_t* Folder) { return (Files / Folder / L"app.exe").wstring(); };

  struct TCase {
    const wchar_t* Name;
    std::vector<TSeedValue> Extra;
    std::wstring Date;
  };
  const TCase Cases[] = {
      {L"Eight", {Sz(L"InstallDate", L"20240131"), Sz(L"DisplayIcon", IconIn(L"Dated"))}, L"20240131"},
      {L"Dashes", {Sz(L"InstallDate", L"2023-05-06")}, L"20230506"},
      {L"Number", {Dword(L"InstallDate", 20220101)}, L"20220101"},
      {L"SlashesFile", {Sz(L"InstallDate", L"5/12/2016"), Sz(L"DisplayIcon", IconIn(L"Short") + L",1")}, Short},
      {L"SlashesNoFile", {Sz(L"InstallDate", L"5/12/2016"), Sz(L"DisplayIcon", L"C:\\Missing\\a.exe")}, L"5122016"},
      {L"NoDateFile", {Sz(L"DisplayIcon", L"\"" + IconIn(L"Undated") + L"\",0")}, Undated},
      {L"NoDateNoFile", {}, L""},
      {L"Letters", {Sz(L"InstallDate", L"unknown")}, L""},
  };
  for (const TCase& Case : Cases) SeedProgram(Lm32, Case.Name, Case.Name, L"C:\\Missing\\u.exe", Case.Extra);
  const TInstallList List = Read();
  for (const TCase& Case : Cases) {
    const TInstallInfo* Entry = Find(List, Case.Name);
    ASSERT_NE(Entry, nullptr) << Case.Name;
    EXPECT_EQ(Entry->InstallDate, Case.Date) << Case.Name;
  }
  EXPECT_NE(Dated, L"20240131");  // an eight-digit date is kept even where the icon's folder has one

  // Texts compare by character code, so seven digits beginning with 5 come before every
  // eight-digit date; entries without a date come last, in reading order.
  EXPECT_EQ(Names(List), (std::vector<std::wstring>{L"SlashesNoFile", L"Eight", L"Dashes", L"Number", L"NoDateFile",
                                                     L"SlashesFile", L"Letters", L"NoDateNoFile"}));
}

// What a kept snapshot lists must be what a fresh GetInstall lists.
void ExpectSameAsFresh(const TInstallSnapshot& Snapshot) {
  TInstallList Kept;
  Snapshot.Build(Kept);
  TInstallList Fresh;
  GetInstall(Fresh);
  ASSERT_EQ(Names(Kept), Names(Fresh));
  for (size_t I = 0; I < Kept.size(); ++I) {
    EXPECT_EQ(Kept[I].Publisher, Fresh[I].Publisher) << I;
    EXPECT_EQ(Kept[I].DisplayVersion, Fresh[I].DisplayVersion) << I;
    EXPECT_EQ(Kept[I].InstallDate, Fresh[I].InstallDate) << I;
    EXPECT_EQ(Kept[I].UninstallString, Fresh[I].UninstallString) << I;
  }
}

TEST_F(InventoryTest, ASnapshotRereadsOnlyTheSubkeysWrittenSinceInTheRegistrationAsked) {
  for (int I = 0; I < 4; ++I) {
    for (int J = 0; J < 3; ++J) {
      const std::wstring Name = L"P" + std::to_wstring(I) + std::to_wstring(J);
      SeedProgram(static_cast<TRegistration>(I), Name, Name, L"u.exe", {Sz(L"InstallDate", L"20200101")});
    }
  }
  TInstallSnapshot Snapshot(0);  // every subkey settles at once
  Snapshot.Reload();
  EXPECT_EQ(Snapshot.ReadCount(), 12u);
  ExpectSameAsFresh(Snapshot);

  struct TStep {
    const char* Change;
    std::function<void()> Apply;
    TRegistration Refreshed;
    size_t Reads;  // subkeys read by the refresh
  };
  const TStep Steps[] = {
      {"nothing", [] {}, Cu64, 0},
      {"a value", [] { Seed(Lm32, L"P11", {Sz(L"DisplayVersion", L"2.0"), Sz(L"InstallDate", L"20250101")}); }, Lm32,
       1},
      {"a new subkey", [] { SeedProgram(Cu32, L"P39", L"P39", L"u.exe", {Sz(L"Publisher", L"New")}); }, Cu32, 1},
      {"a deleted subkey", [] { Unseed(Lm64, L"P01"); }, Lm64, 0},
      {"a deleted value", [] { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, (RegistrationPath(Cu64) + L"\\P21").c_str(),
                                                    L"UninstallString"); },
       Cu64, 1},
      {"a duplicate in a later registration, then its original deleted",
       [] {
         SeedProgram(Cu32, L"P00", L"P00", L"u.exe", {Sz(L"InstallDate", L"20200101")});
         Unseed(Lm64, L"P00");
       },
       Cu32, 1},
  };
  for (const TStep& Step : Steps) {
    SCOPED_TRACE(Step.Change);
    ::Sleep(20);  // the registry's clock moves on between the read and the write
    const size_t Before = Snapshot.ReadCount();
    Step.Apply();
    Snapshot.Refresh(Step.Refreshed);
    if (std::string(Step.Change).find("original deleted") != std::string::npos) Snapshot.Refresh(Lm64);
    EXPECT_EQ(Snapshot.ReadCount() - Before, Step.Reads);
    ExpectSameAsFresh(Snapshot);
  }

  // A registration whose key is gone lists nothing; recreated, it is read again.
  ::RegDeleteTreeW(HKEY_CURRENT_USER, RegistrationPath(Cu32).c_str());
  Snapshot.Refresh(Cu32);
  ExpectSameAsFresh(Snapshot);
  SeedProgram(Cu32, L"P30", L"P30", L"u.exe");
  Snapshot.Refresh(Cu32);
  ExpectSameAsFresh(Snapshot);
}

TEST_F(InventoryTest, ASnapshotRereadsSubkeysWrittenTooRecentlyToTell) {
  SeedProgram(Lm64, L"Recent", L"Recent", L"u.exe");
  SeedProgram(Lm64, L"Recent2", L"Recent2", L"u.exe");
  TInstallSnapshot Snapshot;  // two seconds to settle
  Snapshot.Reload();
  const size_t Before = Snapshot.ReadCount();
  Snapshot.Refresh(Lm64);
  EXPECT_EQ(Snapshot.ReadCount() - Before, 2u);
  ::Sleep(2100);
  Snapshot.Refresh(Lm64);  // read once more, now settled
  const size_t Settled = Snapshot.ReadCount();
  Snapshot.Refresh(Lm64);
  EXPECT_EQ(Snapshot.ReadCount(), Settled);
}

// A key deleted while it is open answers every further position with an error: the list ends
// there instead of turning through every position a DWORD can hold.
TEST(SubKeyNames, EndAtTheFirstErrorOfAKeyDeletedWhileOpen) {
  const std::wstring Path = L"Software\\NimbrelSubKeyNamesTest";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, Path.c_str());
  for (const wchar_t* Name : {L"A", L"B", L"C"}) {
    TOwnedKey Created;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (Path + L"\\" + Name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, Created.put(), nullptr),
              ERROR_SUCCESS);
  }
  TOwnedKey Key;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, Path.c_str(), 0, KEY_READ, Key.put()), ERROR_SUCCESS);
  std::vector<std::wstring> Names;
  for (const TSubKeyName& SubKey : ReadSubKeyNames(Key.get())) {
    Names.push_back(SubKey.Name);
    EXPECT_NE(SubKey.LastWrite, 0u);
  }
  std::sort(Names.begin(), Names.end());
  EXPECT_EQ(Names, (std::vector<std::wstring>{L"A", L"B", L"C"}));

  ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, Path.c_str()), ERROR_SUCCESS);
  wchar_t Name[256];
  DWORD Length = 256;
  const LSTATUS Status = ::RegEnumKeyExW(Key.get(), 0, Name, &Length, nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(Status, ERROR_SUCCESS);
  EXPECT_NE(Status, ERROR_NO_MORE_ITEMS) << "the case this test is about";
  EXPECT_TRUE(ReadSubKeyNames(Key.get()).empty());
}

TEST(ExpandProgramFiles, ReplacesThePlaceholderInAnyCaseFromTheEnvironmentNow) {
  const std::wstring Saved = Environment(L"ProgramW6432");
  ::SetEnvironmentVariableW(L"ProgramW6432", L"D:\\Programs");
  const std::pair<const wchar_t*, const wchar_t*> Cases[] = {
      {L"%ProgramFiles%\\App\\u.exe", L"D:\\Programs\\App\\u.exe"},
      {L"%PROGRAMFILES%\\a", L"D:\\Programs\\a"},
      {L"\"%programfiles%\\a b\\u.exe\" /x", L"\"D:\\Programs\\a b\\u.exe\" /x"},
      {L"x%ProgramFiles%y%programFILES%", L"xD:\\ProgramsyD:\\Programs"},
      {L"%ProgramFiles(x86)%\\a", L"%ProgramFiles(x86)%\\a"},
      {L"%ProgramFiles\\a", L"%ProgramFiles\\a"},
      {L"%ProgramW6432%\\a", L"%ProgramW6432%\\a"},
      {L"", L""},
  };
  for (const auto& [Text, Expected] : Cases) EXPECT_EQ(ExpandProgramFiles(Text), Expected) << Text;

  ::SetEnvironmentVariableW(L"ProgramW6432", nullptr);
  EXPECT_EQ(ExpandProgramFiles(L"%ProgramFiles%\\a"), L"\\a");
  ::SetEnvironmentVariableW(L"ProgramW6432", Saved.c_str());
  EXPECT_EQ(ExpandProgramFiles(L"%ProgramFiles%"), Saved);
}

}  // namespace
}  // namespace nimbrel
