// TReg against the real registry, root-key names, textual paths and the reads on an open key.
#include "base/registry.h"
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/base/registry_test_key.h"

namespace nimbrel {
namespace {

using namespace testing_support;

const HKEY HKCU = HKEY_CURRENT_USER;

HKEY RootFromNumber(uint32_t Number) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(Number))); }

std::vector<uint8_t> Bytes(std::initializer_list<int> Values) {
  std::vector<uint8_t> Result;
  for (int Value : Values) Result.push_back(static_cast<uint8_t>(Value));
  return Result;
}

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    RemoveTestKey();
    CreateKey(TestKeyPath);
  }
  void TearDown() override { RemoveTestKey(); }

  const std::wstring Key = TestKeyPath;
  const std::wstring Sub = TestKeyPath + L"\\Sub";
};

TEST(RegistryNames, RootKeysToNamesAndBack) {
  struct TCase {
    uint32_t Root;
    const wchar_t* Long;
    const wchar_t* Short;
  };
  const TCase Cases[] = {
      {0x80000000, L"HKEY_CLASSES_ROOT", L"HKCR"},
      {0x80000001, L"HKEY_CURRENT_USER", L"HKCU"},
      {0x80000002, L"HKEY_LOCAL_MACHINE", L"HKLM"},
      {0x80000003, L"HKEY_USERS", L"HKU"},
      {0x80000004, L"HKEY_PERFORMANCE_DATA", L"HKEY_PERFORMANCE_DATA"},
      {0x80000005, L"HKEY_CURRENT_CONFIG", L"HKEY_CURRENT_CONFIG"},
      {0x80000006, L"HKEY_DYN_DATA", L"HKEY_DYN_DATA"},
  };
  for (const TCase& Case : Cases) {
    const HKEY Root = RootFromNumber(Case.Root);
    EXPECT_EQ(RootKeyToName(Root, false), Case.Long);
    EXPECT_EQ(RootKeyToName(Root, true), Case.Short);
    EXPECT_EQ(NameToRootKey(Case.Long), Root);
    EXPECT_EQ(NameToRootKey(Case.Short), Root);
  }
  EXPECT_EQ(HKEY_LOCAL_MACHINE, RootFromNumber(0x80000002));
  EXPECT_EQ(RootKeyToName(RootFromNumber(0x80000007), true), L"");
  EXPECT_EQ(RootKeyToName(RootFromNumber(0x80000007), false), L"");
  EXPECT_EQ(RootKeyToName(nullptr, true), L"");

  EXPECT_EQ(NameToRootKey(L"hkcu"), HKEY_CURRENT_USER);
  EXPECT_EQ(NameToRootKey(L"Hkey_Local_Machine"), HKEY_LOCAL_MACHINE);
  for (const wchar_t* Unknown : {L"", L"HKDD", L"HKCC", L"HKPD", L"HKCU ", L"HKEY_CURRENT_USER\\", L"\u0130KCU"}) {
    EXPECT_EQ(NameToRootKey(Unknown), nullptr) << Unknown;
  }
}

TEST(RegistryNames, ParseSplitsATextualPath) {
  struct TCase {
    const wchar_t* Text;
    bool Ok;
    HKEY Root;
    const wchar_t* Key;
    const wchar_t* Name;
  };
  const TCase Cases[] = {
      {L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\Updater", true, HKEY_LOCAL_MACHINE,
       L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"Updater"},
      {L"\\HKLM\\Run\\x", true, nullptr, L"HKLM\\Run", L"x"},
      {L"HKLM\\Run", false, nullptr, L"", L""},
      {L"HKLM", false, nullptr, L"", L""},
      {L"", false, nullptr, L"", L""},
      {L"hklm\\A\\B", true, HKEY_LOCAL_MACHINE, L"A", L"B"},
      {L"HKEY_DYN_DATA\\A\\B", true, RootFromNumber(0x80000006), L"A", L"B"},
      {L"HKDD\\A\\B", true, nullptr, L"A", L"B"},
      {L"HKLM\\A\\", true, HKEY_LOCAL_MACHINE, L"A", L""},
      {L"HKCU\\\\x", true, HKEY_CURRENT_USER, L"", L"x"},
      {L"HKCU\\\\Software\\Run\\v", true, HKEY_CURRENT_USER, L"\\Software\\Run", L"v"},
      {L"\\\\", true, nullptr, L"", L""},
  };
  for (const TCase& Case : Cases) {
    HKEY Root = HKEY_USERS;
    std::wstring Key = L"old";
    std::wstring Name = L"old";
    EXPECT_EQ(TReg::Parse(Case.Text, Root, Key, Name), Case.Ok) << Case.Text;
    EXPECT_EQ(Root, Case.Root) << Case.Text;
    EXPECT_EQ(Key, Case.Key) << Case.Text;
    EXPECT_EQ(Name, Case.Name) << Case.Text;
  }
}

TEST_F(RegistryTest, ReadsEachValueTypeAsTheTableSays) {
  const wchar_t Text[] = L"text";
  const wchar_t WithNul[] = L"ab\0cd";
  const wchar_t Expand[] = L"%windir%\\x";
  const wchar_t Multi[] = L"a\0b\0";
  const int32_t Seven = 7;
  const int32_t Negative = -5;
  const uint8_t BigEndian[] = {0, 0, 0, 1};
  const uint8_t Binary[] = {1, 2, 3};
  const uint8_t None[] = {9};
  const uint64_t Quad = 0x1122334455667788ull;
  const uint8_t ShortDword[] = {1, 0};
  SetRaw(Key, L"sz", REG_SZ, Text, sizeof(Text));
  SetRaw(Key, L"nul", REG_SZ, WithNul, sizeof(WithNul));
  SetRaw(Key, L"unterminated", REG_SZ, Text, 2 * sizeof(wchar_t));
  SetRaw(Key, L"odd", REG_SZ, Text, 3);
  SetRaw(Key, L"expand", REG_EXPAND_SZ, Expand, sizeof(Expand));
  SetRaw(Key, L"multi", REG_MULTI_SZ, Multi, sizeof(Multi));
  SetRaw(Key, L"emptysz", REG_SZ, nullptr, 0);
  SetRaw(Key, L"dword", REG_DWORD, &Seven, 4);
  SetRaw(Key, L"negative", REG_DWORD, &Negative, 4);
  SetRaw(Key, L"zero", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(Key, L"bigendian", REG_DWORD_BIG_ENDIAN, BigEndian, 4);
  SetRaw(Key, L"shortdword", REG_DWORD, ShortDword, 2);
  SetRaw(Key, L"binary", REG_BINARY, Binary, 3);
  SetRaw(Key, L"emptybinary", REG_BINARY, nullptr, 0);
  SetRaw(Key, L"none", REG_NONE, None, 1);
  SetRaw(Key, L"qword", REG_QWORD, &Quad, 8);
  SetRaw(Key, L"", REG_SZ, Text, sizeof(Text));

  const int32_t BigEndianAsStored = 0x01000000;
  struct TCase {
    const wchar_t* Name;
    std::wstring String;                 // ReadString with the default "def"
    int32_t Integer;                     // ReadInteger with the default 42
    std::vector<uint8_t> Binary;         // ReadBinary
    std::wstring StringDef;              // ReadStringDef with the default "def"
    int32_t IntegerDef;                  // ReadIntegerDef with the default 42
  };
  const TCase Cases[] = {
      {L"sz", L"text", 42, std::vector<uint8_t>(10, 0), L"text", 42},
      {L"nul", L"ab", 42, std::vector<uint8_t>(12, 0), L"ab", 42},
      {L"unterminated", L"te", 42, std::vector<uint8_t>(4, 0), L"te", 42},
      {L"odd", L"t", 42, std::vector<uint8_t>(3, 0), L"t", 42},
      {L"expand", L"%windir%\\x", 42, std::vector<uint8_t>(sizeof(Expand), 0), L"%windir%\\x", 42},
      {L"multi", L"", 42, std::vector<uint8_t>(sizeof(Multi), 0), L"def", 42},
      {L"emptysz", L"", 42, {}, L"", 42},
      {L"dword", L"", 7, Bytes({0, 0, 0, 0}), L"7", 7},
      {L"negative", L"", -5, Bytes({0, 0, 0, 0}), L"-5", -5},
      {L"zero", L"", 0, Bytes({0, 0, 0, 0}), L"0", 0},
      {L"bigendian", L"", BigEndianAsStored, Bytes({0, 0, 0, 0}), L"def", 42},
      {L"shortdword", L"", 42, Bytes({0, 0}), L"def", 42},
      {L"binary", L"", 42, Bytes({1, 2, 3}), L"def", 42},
      {L"emptybinary", L"", 42, {}, L"def", 42},
      {L"none", L"", 42, Bytes({9}), L"def", 42},
      {L"qword", L"", 42, std::vector<uint8_t>(8, 0), L"def", 42},
      {L"", L"text", 42, std::vector<uint8_t>(10, 0), L"text", 42},
      {L"missing", L"", 42, {}, L"def", 42},
  };
  const TOwnedKey Open = OpenRegistryKey(HKCU, Key);
  ASSERT_TRUE(Open);
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(TReg::ReadString(HKCU, Key, Case.Name, L"def"), Case.String);
    EXPECT_EQ(TReg::ReadInteger(HKCU, Key, Case.Name, 42), Case.Integer);
    EXPECT_EQ(TReg::ReadBool(HKCU, Key, Case.Name, true), Case.Integer != 0);
    EXPECT_EQ(TReg::ReadBool(HKCU, Key, Case.Name, false), Case.Integer != 0 && Case.Integer != 42);
    EXPECT_EQ(TReg::ReadBinary(HKCU, Key, Case.Name), Case.Binary);
    EXPECT_EQ(ReadStringDef(Open.get(), Case.Name, L"def"), Case.StringDef);
    EXPECT_EQ(ReadIntegerDef(Open.get(), Case.Name, 42), Case.IntegerDef);
    EXPECT_EQ(ReadBoolDef(Open.get(), Case.Name, true), Case.IntegerDef != 0);
  }
}

TEST_F(RegistryTest, AKeyThatCannotBeOpenedGivesTheFailureResults) {
  const std::wstring Missing = Key + L"\\Missing";
  std::vector<std::wstring> Names = {L"stale"};
  for (HKEY Root : {HKCU, static_cast<HKEY>(nullptr)}) {
    const std::wstring Path = Root == nullptr ? Key : Missing;
    EXPECT_FALSE(TReg::IsKey(Root, Path));
    EXPECT_EQ(TReg::ReadString(Root, Path, L"", L"def"), L"def");
    EXPECT_EQ(TReg::ReadInteger(Root, Path, L"", -3), -3);
    EXPECT_TRUE(TReg::ReadBool(Root, Path, L"", true));
    EXPECT_TRUE(TReg::ReadBinary(Root, Path, L"").empty());
    Names = {L"stale"};
    EXPECT_EQ(TReg::ReadKeyNames(Root, Path, Names), 0);
    EXPECT_TRUE(Names.empty());
    Names = {L"stale"};
    EXPECT_EQ(TReg::ReadValueNames(Root, Path, Names), 0);
    EXPECT_TRUE(Names.empty());
  }
  EXPECT_FALSE(KeyExists(Missing)) << "reads never create keys";
  EXPECT_FALSE(OpenRegistryKey(nullptr, L"Software"));
  EXPECT_FALSE(OpenRegistryKey(HKCU, Missing));
}

TEST_F(RegistryTest, LeadingBackslashMeansTheSameAsNone) {
  SetRaw(Key, L"v", REG_SZ, L"x", 4);
  EXPECT_TRUE(TReg::IsKey(HKCU, L"\\" + Key));
  EXPECT_TRUE(TReg::IsKey(HKCU, Key));
  EXPECT_EQ(TReg::ReadString(HKCU, L"\\" + Key, L"v", L""), L"x");
  TReg::WriteInteger(HKCU, L"\\" + Sub, L"n", 5);
  EXPECT_EQ(TReg::ReadInteger(HKCU, Sub, L"n", 0), 5);
}

TEST_F(RegistryTest, ListsSubkeysAndValuesInEnumerationOrder) {
  for (const wchar_t* Name : {L"b", L"A", L"c d", L"\uD55C"}) CreateKey(Key + L"\\" + Name);
  for (const wchar_t* Name : {L"x", L"", L"Y"}) SetRaw(Key, Name, REG_DWORD, "\1\0\0\0", 4);

  std::vector<std::wstring> Names = {L"stale"};
  ASSERT_EQ(TReg::ReadKeyNames(HKCU, Key, Names), 4);
  std::vector<std::wstring> Expected;
  const TOwnedKey Open = OpenRegistryKey(HKCU, Key);
  wchar_t Buffer[256];
  for (DWORD Index = 0;; ++Index) {
    DWORD Length = 256;
    if (::RegEnumKeyExW(Open.get(), Index, Buffer, &Length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    Expected.emplace_back(Buffer, Length);
  }
  EXPECT_EQ(Names, Expected);

  ASSERT_EQ(TReg::ReadValueNames(HKCU, Key, Names), 3);
  Expected.clear();
  for (DWORD Index = 0;; ++Index) {
    DWORD Length = 256;
    if (::RegEnumValueW(Open.get(), Index, Buffer, &Length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    Expected.emplace_back(Buffer, Length);
  }
  EXPECT_EQ(Names, Expected);
  std::sort(Names.begin(), Names.end());
  EXPECT_EQ(Names, (std::vector<std::wstring>{L"", L"Y", L"x"}));
  EXPECT_EQ(TReg::ReadValueNames(HKCU, Sub, Names), 0);  // a missing key
}

TEST_F(RegistryTest, WritesStoreTheirTypesAndCreateMissingKeys) {
  const std::wstring Deep = Sub + L"\\Deeper";
  TReg::WriteString(HKCU, Deep, L"s", L"h\u00E9llo");
  TReg::WriteString(HKCU, Deep, L"", L"");
  TReg::WriteInteger(HKCU, Deep, L"i", -2);
  TReg::WriteBinary(HKCU, Deep, L"b", Bytes({0, 255, 7}));
  TReg::WriteBinary(HKCU, Deep, L"e", {});

  const TRawValue S = GetRaw(Deep, L"s");
  EXPECT_EQ(S.Type, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(S.Data.size(), 12u) << "the text and its terminating NUL";
  EXPECT_EQ(std::memcmp(S.Data.data(), L"h\u00E9llo", 12), 0);
  EXPECT_EQ(GetRaw(Deep, L"").Data.size(), 2u);
  const TRawValue I = GetRaw(Deep, L"i");
  EXPECT_EQ(I.Type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(I.Data, Bytes({0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(GetRaw(Deep, L"b").Type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(TReg::ReadBinary(HKCU, Deep, L"b"), Bytes({0, 255, 7}));
  const TRawValue E = GetRaw(Deep, L"e");
  EXPECT_TRUE(E.Exists);
  EXPECT_EQ(E.Type, static_cast<DWORD>(REG_BINARY));
  EXPECT_TRUE(E.Data.empty());

  EXPECT_EQ(TReg::ReadString(HKCU, Deep, L"s", L""), L"h\u00E9llo");
  EXPECT_EQ(TReg::ReadInteger(HKCU, Deep, L"i", 0), -2);

  // A nullptr root writes nothing anywhere.
  TReg::WriteString(nullptr, Key, L"nothing", L"x");
  EXPECT_FALSE(GetRaw(Key, L"nothing").Exists);
}

TEST_F(RegistryTest, DeleteKeyRemovesTheWholeSubtree) {
  for (const wchar_t* Path : {L"\\Sub\\A\\A1\\A11", L"\\Sub\\A\\A2", L"\\Sub\\B", L"\\Keep"}) {
    CreateKey(Key + Path);
  }
  SetRaw(Key + L"\\Sub\\A\\A1", L"v", REG_SZ, L"x", 4);
  TReg::DeleteKey(HKCU, Key, L"Sub");
  EXPECT_FALSE(KeyExists(Sub));
  EXPECT_TRUE(KeyExists(Key + L"\\Keep"));

  TReg::DeleteKey(HKCU, Key, L"");
  EXPECT_TRUE(KeyExists(Key)) << "an empty name must not delete the key itself";
  TReg::DeleteKey(HKCU, L"", L"");
  EXPECT_TRUE(KeyExists(Key));

  // Deleting in a missing key creates the (empty) key and deletes nothing.
  TReg::DeleteValue(HKCU, Sub, L"v");
  EXPECT_TRUE(KeyExists(Sub));
  std::vector<std::wstring> Names;
  EXPECT_EQ(TReg::ReadValueNames(HKCU, Sub, Names), 0);
  TReg::DeleteKey(HKCU, Sub + L"\\New", L"Child");
  EXPECT_TRUE(KeyExists(Sub + L"\\New"));

  SetRaw(Key, L"gone", REG_SZ, L"x", 4);
  SetRaw(Key, L"stays", REG_SZ, L"x", 4);
  TReg::DeleteValue(HKCU, Key, L"gone");
  EXPECT_FALSE(GetRaw(Key, L"gone").Exists);
  EXPECT_TRUE(GetRaw(Key, L"stays").Exists);
}

// A registry link at Path (under HKCU) pointing at Target (under HKCU); false when the system
// cannot make one.
bool MakeLink(const std::wstring& Path, const std::wstring& Target) {
  TOwnedHandle Token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, Token.put())) return false;
  BYTE Buffer[256];
  DWORD Size = 0;
  if (!::GetTokenInformation(Token.get(), TokenUser, Buffer, sizeof(Buffer), &Size)) return false;
  wchar_t* Sid = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(Buffer)->User.Sid, &Sid)) return false;
  const std::wstring Kernel = L"\\Registry\\User\\" + std::wstring(Sid) + L"\\" + Target;
  ::LocalFree(Sid);
  TOwnedKey Link;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, Path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, Link.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return ::RegSetValueExW(Link.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(Kernel.data()),
                          static_cast<DWORD>(Kernel.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

TEST_F(RegistryTest, DeletingATreeRemovesALinkButNothingItPointsTo) {
  // Target stands for a key elsewhere (the machine's hive); the tree to delete links to it.
  const std::wstring Target = Key + L"\\Target";
  CreateKey(Target + L"\\Inner");
  SetRaw(Target + L"\\Inner", L"v", REG_SZ, L"x", 4);
  CreateKey(Key + L"\\Tree\\Plain");
  ASSERT_TRUE(MakeLink(Key + L"\\Tree\\Link", Target));
  ASSERT_TRUE(KeyExists(Key + L"\\Tree\\Link\\Inner")) << "the link works";

  TReg::DeleteKey(HKCU, Key, L"Tree");
  EXPECT_FALSE(KeyExists(Key + L"\\Tree"));
  EXPECT_TRUE(KeyExists(Target + L"\\Inner")) << "nothing behind the link was deleted";
  EXPECT_TRUE(GetRaw(Target + L"\\Inner", L"v").Exists);

  // By text, a link (even one whose target is gone) is a key of its own and is removed as such.
  ASSERT_TRUE(MakeLink(Key + L"\\Dangling", Key + L"\\Nowhere"));
  ASSERT_TRUE(MakeLink(Key + L"\\ToTarget", Target));
  TReg::Delete(L"HKEY_CURRENT_USER\\" + Key + L"\\Dangling");
  TReg::Delete(L"HKEY_CURRENT_USER\\" + Key + L"\\ToTarget");
  std::vector<std::wstring> Names;
  TReg::ReadKeyNames(HKCU, Key, Names);
  EXPECT_EQ(Names, std::vector<std::wstring>{L"Target"});
  EXPECT_TRUE(KeyExists(Target + L"\\Inner"));
}

TEST_F(RegistryTest, DeleteByTextRemovesAKeyOrAValue) {
  CreateKey(Sub + L"\\Child");
  SetRaw(Key, L"Value", REG_SZ, L"x", 4);
  SetRaw(Key, L"", REG_SZ, L"x", 4);
  SetRaw(Sub, L"", REG_SZ, L"x", 4);

  // An empty last part names neither a key nor a value here: nothing goes.
  TReg::Delete(L"HKCU\\" + Key + L"\\");
  TReg::Delete(L"HKCU\\" + Sub + L"\\");
  EXPECT_TRUE(KeyExists(Sub + L"\\Child"));
  EXPECT_TRUE(GetRaw(Key, L"").Exists);
  EXPECT_TRUE(GetRaw(Sub, L"").Exists);

  TReg::Delete(L"HKDD\\" + Key + L"\\Value");  // unknown root
  TReg::Delete(L"HKCU\\Value");                // two parts
  EXPECT_TRUE(GetRaw(Key, L"Value").Exists);

  TReg::Delete(L"hkcu\\" + Key + L"\\Value");
  EXPECT_FALSE(GetRaw(Key, L"Value").Exists);
  EXPECT_TRUE(KeyExists(Sub));

  // The form the autostart collection writes: short root, key path with a leading "\", name.
  TReg::Delete(L"HKCU\\\\" + Key + L"\\Sub");
  EXPECT_FALSE(KeyExists(Sub));
  EXPECT_TRUE(KeyExists(Key));
}

}  // namespace
}  // namespace nimbrel
