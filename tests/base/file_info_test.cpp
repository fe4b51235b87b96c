// Version strings and file icons of real files: the system's own DLLs and programs, a file
// without a version resource, missing files and folders.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "base/ascii.h"
#include "base/paths.h"

namespace nimbrel {
namespace {

std::wstring SystemFile(const wchar_t* Name) {
  wchar_t Folder[MAX_PATH] = {};
  ::GetSystemDirectoryW(Folder, MAX_PATH);
  return std::wstring(Folder) + L"\\" + Name;
}

// A folder of its own under the temporary folder, removed with its files afterwards.
class TempFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t Temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, Temp);
    Folder = std::wstring(Temp) + L"NimbrelFileInfo" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(Folder.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::wstring& File : Files) ::DeleteFileW(File.c_str());
    ::RemoveDirectoryW(Folder.c_str());
  }
  std::wstring NewFile(const wchar_t* Name) {
    Files.push_back(Folder + L"\\" + Name);
    return Files.back();
  }

  std::wstring Folder;
  std::vector<std::wstring> Files;
};

using VersionStrings = TempFolderTest;

TEST_F(VersionStrings, AddsTheKeysTheResourceHas) {
  std::map<std::wstring, std::wstring> Values = {{L"Existing", L"kept"}, {L"ProductName", L"old"}};
  const int Count = GetFileVersionStrings(SystemFile(L"kernel32.dll"),
                                          {L"OriginalFilename", L"ProductName", L"NoSuchKey", L"CompanyName"}, Values);
  EXPECT_EQ(Count, 4) << "the whole map: three found keys and the entry that was there";
  EXPECT_EQ(Values.size(), 4u);
  EXPECT_TRUE(SameTextAscii(Values[L"OriginalFilename"], L"kernel32.dll")) << Values[L"OriginalFilename"];
  EXPECT_NE(Values[L"ProductName"], L"old");
  EXPECT_FALSE(Values[L"ProductName"].empty());
  EXPECT_FALSE(Values[L"CompanyName"].empty());
  EXPECT_EQ(Values[L"Existing"], L"kept");
  EXPECT_EQ(Values.count(L"NoSuchKey"), 0u);

  std::map<std::wstring, std::wstring> None;
  EXPECT_EQ(GetFileVersionStrings(SystemFile(L"kernel32.dll"), {}, None), 0);
}

TEST_F(VersionStrings, UnreadableResourcesGiveZeroAndLeaveTheMap) {
  const std::wstring Text = NewFile(L"plain.txt");
  std::ofstream(Text.c_str()) << "no resources here";
  wchar_t Self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, Self, MAX_PATH);  // the test program carries no version resource

  for (const std::wstring& File : {Text, std::wstring(Self), Folder, Folder + L"\\missing.dll", std::wstring()}) {
    std::map<std::wstring, std::wstring> Values = {{L"Existing", L"kept"}};
    EXPECT_EQ(GetFileVersionStrings(File, {L"ProductName", L"FileDescription"}, Values), 0) << File;
    EXPECT_EQ(Values.size(), 1u) << File;
  }
}

class FileIcons : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    for (int I = 0; I < 4; ++I) Images.Add(TOwnedIcon(), L"stock");
    Images.OnChange = [this] { ++Changes; };
  }
  int Index(const std::wstring& Location, int Default = 2) { return GetFileIconIndex(Cache, Images, Location, Default); }

  std::map<std::wstring, int> Cache;
  TIconCollection Images;
  int Changes = 0;
  const std::wstring Notepad = SystemFile(L"notepad.exe");
};

TEST_F(FileIcons, EachLocationIsExtractedOnceAndCached) {
  ASSERT_EQ(Index(Notepad), 4);
  EXPECT_NE(Images.Icon(4), nullptr);
  EXPECT_EQ(Images.Name(4), Notepad);
  // Quotes and outer blanks do not make another location.
  EXPECT_EQ(Index(L"  \"" + Notepad + L"\" "), 4);
  EXPECT_EQ(Index(Notepad, 3), 4);
  EXPECT_EQ(Images.Count(), 5);
  // With an icon number it is another location, even for number 0.
  EXPECT_EQ(Index(Notepad + L",0"), 5);
  EXPECT_EQ(Index(L"\"" + Notepad + L"\",0"), 5);
  EXPECT_EQ(Images.Name(5), Notepad + L",0");
  EXPECT_EQ(Index(Notepad + L", 1x", 0), 6);  // not a number: the default index is the number
  EXPECT_EQ(Images.Count(), 7);
  EXPECT_EQ(Changes, 3);
  EXPECT_EQ(Cache.size(), 3u);
  EXPECT_EQ(Cache[Notepad + L",0"], 5);

  // An icon number the file lacks: Wine gives no icon (0, not cached), Windows the file type's.
  const std::wstring Lacking = Notepad + L",99";
  const int Result = Index(Lacking);
  EXPECT_EQ(Cache.count(Lacking), Result == 0 ? 0u : 1u);
  EXPECT_EQ(Images.Count(), Result == 0 ? 7 : 8);
}

TEST_F(FileIcons, EmptyAndMissingLocations) {
  const std::wstring Later = NewFile(L"later.exe");
  struct TCase {
    std::wstring Location;
    int Expected;
  };
  const TCase Cases[] = {
      {L"", 2},
      {L"   ", 2},
      {L"\"\"  \"", 2},
      {Later, 0},
      {Later + L",1", 0},
      {Folder, 0},
      {L",3", 0},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(Index(Case.Location), Case.Expected) << Case.Location;
  EXPECT_TRUE(Cache.empty());
  EXPECT_EQ(Images.Count(), 4);
  EXPECT_EQ(Changes, 0);

  // A missing file was not cached: once it is there, its icon comes.
  ASSERT_TRUE(::CopyFileW(Notepad.c_str(), Later.c_str(), FALSE));
  EXPECT_EQ(Index(Later), 4);
  EXPECT_EQ(Index(Later), 4);
  EXPECT_EQ(Changes, 1);
}

// A folder may hold a comma, an icon number never does: a quoted path is kept whole, and an
// unquoted one is cut at its last comma.
TEST(IconLocations, APathWithACommaStaysWhole) {
  struct TCase {
    const wchar_t* Location;
    const wchar_t* Key;
    const wchar_t* File;
    int Number;
  };
  const TCase Cases[] = {
      {L"C:\\App\\app.exe", L"C:\\App\\app.exe", L"C:\\App\\app.exe", 0},
      {L"C:\\App\\app.exe,2", L"C:\\App\\app.exe,2", L"C:\\App\\app.exe", 2},
      {L"\"C:\\Program Files\\Foo, Inc\\app.exe\",2", L"C:\\Program Files\\Foo, Inc\\app.exe,2",
       L"C:\\Program Files\\Foo, Inc\\app.exe", 2},
      {L" \"C:\\Foo, Inc\\app.exe\" ", L"C:\\Foo, Inc\\app.exe", L"C:\\Foo, Inc\\app.exe", 0},
      {L"\"C:\\Foo, Inc\\app.exe\" , -3", L"C:\\Foo, Inc\\app.exe , -3", L"C:\\Foo, Inc\\app.exe", -3},
      {L"C:\\Foo, Inc\\app.exe,3", L"C:\\Foo, Inc\\app.exe,3", L"C:\\Foo, Inc\\app.exe", 3},
      {L"C:\\App\\app.exe, 1x", L"C:\\App\\app.exe, 1x", L"C:\\App\\app.exe", 9},  // not a number
      {L"\"C:\\App\\app.exe,4", L"C:\\App\\app.exe,4", L"C:\\App\\app.exe", 4},     // never closed
      {L"\"\"  \"", L"", L"", 0},
  };
  for (const TCase& Case : Cases) {
    const TIconLocation Parsed = ParseIconLocation(Case.Location, 9);
    EXPECT_EQ(Parsed.Key, Case.Key) << Case.Location;
    EXPECT_EQ(Parsed.File, Case.File) << Case.Location;
    EXPECT_EQ(Parsed.Number, Case.Number) << Case.Location;
  }
}

TEST_F(FileIcons, AQuotedFileWithACommaInItsFolderGivesItsIcon) {
  const std::wstring Inner = Folder + L"\\Foo, Inc";
  ASSERT_TRUE(::CreateDirectoryW(Inner.c_str(), nullptr));
  const std::wstring App = Inner + L"\\app.exe";
  ASSERT_TRUE(::CopyFileW(Notepad.c_str(), App.c_str(), FALSE));
  EXPECT_EQ(Index(L"\"" + App + L"\""), 4);
  EXPECT_EQ(Index(L"\"" + App + L"\",0"), 5);
  ::DeleteFileW(App.c_str());
  ::RemoveDirectoryW(Inner.c_str());
}

}  // namespace
}  // namespace nimbrel
