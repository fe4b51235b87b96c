// The user's exception files: encodings, line breaks, missing and unreadable files.
#include "clean/exception_files.h"

#include "base/handle.h"
#include "tests/clean/child_process.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace nimbrel {
namespace {

using test::TTempFolder;
using test::WriteFileBytes;
using namespace std::string_literals;

TEST(DecodeListFile, ByteOrderMarksAndAnsi) {
  struct TCase {
    std::string Bytes;
    UINT CodePage;
    std::wstring Text;
  } Cases[] = {
      {"\xEF\xBB\xBF" "caf\xC3\xA9.exe*", 1252, L"café.exe*"},
      {"\xFF\xFE" "a\0\xE9\0"s, 1252, L"aé"},
      {"\xFE\xFF" "\0a\0\xE9"s, 1252, L"aé"},
      {"\xFF\xFE" "a\0b"s, 1252, L"a\xFFFD"},
      {"caf\xE9.exe*", 1252, L"café.exe*"},
      {"\xC7\xD1\xB1\xDB.exe*", 949, L"한글.exe*"},
      {"\xEF\xBB\xBF", 1252, L""},
      {"", 1252, L""},
      {"\xEF\xBB\xBF" "bad\xFF", 1252, L"bad\xFFFD"},
      // No mark: well-formed UTF-8 with a non-ASCII byte is UTF-8 (Notepad's default since 1903)...
      {"\xED\x95\x9C\xEA\xB8\x80.exe*", 949, L"한글.exe*"},
      {"C:\\\xEB\x82\xB4 \xED\x94\x84\xEB\xA1\x9C\xEA\xB7\xB8\xEB\x9E\xA8\\", 949, L"C:\\내 프로그램\\"},
      {"caf\xC3\xA9.exe*", 1252, L"café.exe*"},
      // ...anything else stays in the code page: a real code-page-949 text, a stray byte, an
      // overlong form, a surrogate, a sequence cut at the end.
      {"\xC7\xD1\xB1\xDB\xC7\xD1.exe*", 949, L"한글한.exe*"},
      {"caf\xC3\xA9 \xE9", 1252, L"cafÃ© é"},
      {"\xC0\xAF", 1252, L"À¯"},
      {"\xED\xA0\x80", 1252, L"í\u00A0\u20AC"},
      {"ab\xC3", 1252, L"abÃ"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(DecodeListFile(Case.Bytes, Case.CodePage), Case.Text) << testing::PrintToString(Case.Bytes);
}

TEST(ExceptionFile, LinesUnchangedWithAnyLineBreak) {
  TTempFolder Folder;
  const std::wstring FileName = Folder.File(L"NoClean.txt");
  ASSERT_TRUE(WriteFileBytes(FileName, "\xFF\xFE" + std::string("a\0*\0\r\0\n\0 \0b\0\n\0\n\0c\0\r\0", 20)));
  const TExceptionRows Rows = ReadExceptionFile(FileName);
  ASSERT_FALSE(Rows.Error);
  EXPECT_EQ(Rows.Rows, (TStringList{L"a*", L" b", L"", L"c"}));

  ASSERT_TRUE(WriteFileBytes(FileName, "notepad.exe*\r\n\r\n// mine\rD:\\Tools\\\n"));
  EXPECT_EQ(ReadExceptionFile(FileName).Rows, (TStringList{L"notepad.exe*", L"", L"// mine", L"D:\\Tools\\"}));

  ASSERT_TRUE(WriteFileBytes(FileName, ""));
  EXPECT_TRUE(ReadExceptionFile(FileName).Rows.empty());
}

TEST(ExceptionFile, KoreanRowsSavedAsUtf8WithoutAMarkProtectTheirPrograms) {
  TTempFolder Folder;
  const std::wstring FileName = Folder.File(L"NoClean.txt");
  // "메모장.exe*" and "C:\내 도구\" as Notepad saves them by default.
  ASSERT_TRUE(WriteFileBytes(FileName, "\xEB\xA9\x94\xEB\xAA\xA8\xEC\x9E\xA5.exe*\r\n"
                                       "C:\\\xEB\x82\xB4 \xEB\x8F\x84\xEA\xB5\xAC\\\r\n"));
  const TExceptionRows Rows = ReadExceptionFile(FileName);
  ASSERT_FALSE(Rows.Error);
  EXPECT_EQ(Rows.Rows, (TStringList{L"메모장.exe*", L"C:\\내 도구\\"}));
  EXPECT_TRUE(MatchesList(Rows.Rows, L"D:\\Apps\\메모장.exe", true));
  EXPECT_TRUE(MatchesList(Rows.Rows, L"C:\\내 도구\\편집기.exe", true));
  EXPECT_FALSE(MatchesList(Rows.Rows, L"C:\\Other\\편집기.exe", true));
}

TEST(ExceptionFile, MissingFilesAndFoldersAreSkipped) {
  TTempFolder Folder;
  ::CreateDirectoryW(Folder.File(L"Folder.txt").c_str(), nullptr);
  for (const std::wstring& FileName : {Folder.File(L"absent.txt"), Folder.File(L"NoFolder\\NoClean.txt"), Folder.File(L"Folder.txt")}) {
    const TExceptionRows Rows = ReadExceptionFile(FileName);
    EXPECT_FALSE(Rows.Error) << testing::PrintToString(FileName);
    EXPECT_TRUE(Rows.Rows.empty());
  }
}

// A file that may be there but cannot be looked at is not "missing": skipping it would end
// the programs it protects.
TEST(ExceptionFile, AFileThatCannotBeLookedAtIsAnError) {
  const std::wstring FileName = L"\\\\nimbrel-no-such-host\\share\\NoClean.txt";
  const TExceptionRows Rows = ReadExceptionFile(FileName);
  ASSERT_TRUE(Rows.Error.has_value());
  EXPECT_EQ(Rows.Error->FileName, FileName);
  EXPECT_NE(Rows.Error->Code, 0u);
  EXPECT_FALSE(Rows.Error->Reason.empty());
}

TEST(ExceptionFile, BothFilesInOrderOrNothing) {
  TTempFolder Folder;
  const std::wstring First = Folder.File(L"first.txt"), Second = Folder.File(L"second.txt");
  ASSERT_TRUE(WriteFileBytes(First, "notepad.exe*\r\n"));
  ASSERT_TRUE(WriteFileBytes(Second, "\xEF\xBB\xBFnotepad.exe*\r\nother.exe*"));
  EXPECT_EQ(ReadExceptionFiles({First, Folder.File(L"absent.txt"), Second}).Rows,
            (TStringList{L"notepad.exe*", L"notepad.exe*", L"other.exe*"}));

  // A file held open without sharing cannot be read: no rows at all, the error names it.
  TOwnedHandle Lock(::CreateFileW(Second.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(Lock);
  const TExceptionRows Rows = ReadExceptionFiles({First, Second});
  ASSERT_TRUE(Rows.Error);
  EXPECT_TRUE(Rows.Rows.empty());
  EXPECT_EQ(Rows.Error->FileName, Second);
  EXPECT_EQ(Rows.Error->Code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(Rows.Error->Reason.empty());
  EXPECT_FALSE(Rows.Error->Reason.ends_with(L"\n"));
}

TEST(ExceptionFile, PathsBesideTheProgramThenApplicationData) {
  const std::vector<std::wstring> Paths = ExceptionFilePaths();
  ASSERT_EQ(Paths.size(), 2u);
  EXPECT_EQ(Paths[0], test::ProgramFolder() + L"NoClean.txt");
  wchar_t AppData[MAX_PATH] = {};
  ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, AppData), S_OK);
  EXPECT_EQ(Paths[1], std::wstring(AppData) + L"\\Nimbrel\\NoClean.txt");
}

TEST(SystemErrorText, MessageWithoutLineBreak) {
  EXPECT_FALSE(SystemErrorText(ERROR_ACCESS_DENIED).empty());
  EXPECT_FALSE(SystemErrorText(ERROR_ACCESS_DENIED).ends_with(L"\n"));
  EXPECT_FALSE(SystemErrorText(0xDEADBEEF).empty());
}

}  // namespace
}  // namespace nimbrel
