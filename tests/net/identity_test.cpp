// The version text and the installation identifier, against the real registry of the test prefix.
#include "net/identity.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>

#include "base/handle.h"

namespace nimbrel {
namespace {

void DeleteUnionKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, UserUnionKey); }

std::wstring StoredUnion() {
  wchar_t Text[128] = {};
  DWORD Bytes = sizeof(Text);
  if (::RegGetValueW(HKEY_CURRENT_USER, UserUnionKey, UserUnionValue, RRF_RT_REG_SZ, nullptr, Text, &Bytes) != ERROR_SUCCESS)
    return L"<missing>";
  return Text;
}

bool IsUpperHex(std::wstring_view Text) {
  return std::all_of(Text.begin(), Text.end(), [](wchar_t C) { return (C >= L'0' && C <= L'9') || (C >= L'A' && C <= L'F'); });
}
bool IsDigits(std::wstring_view Text) {
  return std::all_of(Text.begin(), Text.end(), [](wchar_t C) { return C >= L'0' && C <= L'9'; });
}

TEST(Identity, NewUnionLayout) {
  SYSTEMTIME Before{};
  ::GetLocalTime(&Before);
  const std::wstring Union = NewUserUnion();
  ASSERT_EQ(Union.size(), 32u) << testing::PrintToString(Union);
  const std::wstring_view Text(Union);
  EXPECT_TRUE(IsUpperHex(Text.substr(0, 8)));
  EXPECT_TRUE(IsDigits(Text.substr(8, 6)));
  EXPECT_TRUE(IsUpperHex(Text.substr(14, 4)));
  EXPECT_TRUE(IsDigits(Text.substr(18, 6)));
  EXPECT_TRUE(IsUpperHex(Text.substr(24, 8)));
  wchar_t Date[8];
  std::swprintf(Date, 8, L"%02u%02u%02u", Before.wYear % 100u, Before.wMonth, Before.wDay);
  EXPECT_EQ(Text.substr(8, 6), Date) << "the local date (yymmdd)";
  const int Hour = std::stoi(std::wstring(Text.substr(18, 2)));
  const int Minute = std::stoi(std::wstring(Text.substr(20, 2)));
  const int Second = std::stoi(std::wstring(Text.substr(22, 2)));
  EXPECT_TRUE(Hour < 24 && Minute < 60 && Second < 60);
  // The random fields stay within their ranges and differ between calls.
  for (int I = 0; I < 200; ++I) {
    const std::wstring Other = NewUserUnion();
    EXPECT_LE(std::stoul(Other.substr(0, 8), nullptr, 16), 2147483646u);
    EXPECT_LE(std::stoul(Other.substr(14, 4), nullptr, 16), 65534u);
    EXPECT_LE(std::stoul(Other.substr(24, 8), nullptr, 16), 2147483646u);
    EXPECT_NE(Other.substr(0, 8) + Other.substr(24, 8), Union.substr(0, 8) + Union.substr(24, 8));
  }
}

TEST(Identity, UnionIsWrittenOnceAndKept) {
  DeleteUnionKey();
  const std::wstring First = GetUserUnion();
  ASSERT_EQ(First.size(), 32u);
  EXPECT_EQ(StoredUnion(), First);
  DWORD Type = 0;
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, UserUnionKey, UserUnionValue, RRF_RT_ANY, &Type, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(Type, static_cast<DWORD>(REG_SZ));
  for (int I = 0; I < 3; ++I) EXPECT_EQ(GetUserUnion(), First);

  // A value already there (another start, or another program of the maker) is used as it is.
  const std::wstring Given = L"0123456789ABCDEF0123456789ABCDEF";
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, UserUnionKey, UserUnionValue, REG_SZ, Given.c_str(),
                              static_cast<DWORD>((Given.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  EXPECT_EQ(GetUserUnion(), Given);
  EXPECT_EQ(StoredUnion(), Given);
  DeleteUnionKey();
}

TEST(Identity, ARegistryFailureGivesEmptyTextAndChangesNothing) {
  DeleteUnionKey();
  const DWORD Number = 7;
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, UserUnionKey, UserUnionValue, REG_DWORD, &Number, sizeof(Number)),
            ERROR_SUCCESS);
  EXPECT_EQ(GetUserUnion(), L"") << "a value that is not text";
  DWORD Stored = 0;
  DWORD Bytes = sizeof(Stored);
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, UserUnionKey, UserUnionValue, RRF_RT_REG_DWORD, nullptr, &Stored, &Bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(Stored, Number) << "never overwritten";
  DeleteUnionKey();
}

TEST(Identity, VersionText) {
  // The test program carries no version resource.
  EXPECT_EQ(GetAppVersion(L"%d.%d.%d.%d"), L"0.0.0.0");
  const std::wstring Program = std::filesystem::path(L"" NIMBREL_EXE_PATH).make_preferred().wstring();
  EXPECT_EQ(GetFileVersionText(Program, L"%d.%d.%d.%d"), L"1.0.0.0");
  EXPECT_EQ(GetFileVersionText(Program, L"v%d.%d (build %d) %% %s %d %d"), L"v1.0 (build 0) % %s 0 0")
      << "only %d and %% are read; a fifth %d is 0";
  EXPECT_EQ(GetFileVersionText(L"C:\\no\\such\\file.exe", L"%d.%d.%d.%d"), L"0.0.0.0");
}

}  // namespace
}  // namespace nimbrel
