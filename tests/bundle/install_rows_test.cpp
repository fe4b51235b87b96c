// The Bundle list's rows from an inventory and the black list, and the end of a change burst.
#include "bundle/install_rows.h"

#include <gtest/gtest.h>

#include "base/list_rows.h"
#include "base/paths.h"

namespace nimbrel {
namespace {

std::function<bool(const std::wstring&)> Matcher(TStringList NameBlack) {
  return [NameBlack = std::move(NameBlack)](const std::wstring& Name) { return MatchesList(NameBlack, Name, false); };
}

TInstallInfo Entry(std::wstring Name, std::wstring Publisher, std::wstring Icon = L"", uint16_t Index = 0,
                   bool FromCurrentUser = false) {
  TInstallInfo Result;
  Result.DisplayName = std::move(Name);
  Result.Publisher = std::move(Publisher);
  Result.DisplayIcon = std::move(Icon);
  Result.DisplayIconIndex = Index;
  Result.FromCurrentUser = FromCurrentUser;
  Result.UninstallString = L"u-" + Result.DisplayName + L"-" + Result.Publisher;
  Result.InstallDate = L"2024";
  return Result;
}

TEST(InstallRows, BlackListedNamesOnceEachInInventoryOrder) {
  const TStringList NameBlack = {L"// comment", L"", L"TouchEn nxKey", L"Veraport", L"AhnLab Safe Transaction",
                                 L"Ärger"};
  const TInstallList List = {
      Entry(L"Notepad++", L"Don Ho"),
      Entry(L"TouchEn nxKey with E2E for 32bit", L"RaonSecure"),
      Entry(L"veraport G3", L""),                           // black list rows match in any case
      Entry(L"TOUCHEN NXKEY WITH E2E FOR 32BIT", L"Other"),  // same name in other case: skipped
      Entry(L"TouchEn nxKey with E2E for 32bit", L"Third"),  // same name, other publisher: skipped
      Entry(L"AhnLab Safe", L"AhnLab"),                      // shorter than the row: no match
      Entry(L"Ärger 1", L"A"),
      Entry(L"ärger 1", L"B"),  // only A-Z fold: another row
      Entry(L"Veraport G3", L"Wizvera"),
  };
  const std::vector<TInstallItem> Rows = BuildInstallRows(List, Matcher(NameBlack), L"알수없음", nullptr);
  struct TExpected {
    const wchar_t* Name;
    const wchar_t* Publisher;
  };
  const TExpected Expected[] = {
      {L"TouchEn nxKey with E2E for 32bit", L"RaonSecure"},
      {L"veraport G3", L"알수없음"},
      {L"Ärger 1", L"A"},
      {L"ärger 1", L"B"},
  };
  ASSERT_EQ(Rows.size(), std::size(Expected));
  for (size_t I = 0; I < Rows.size(); ++I) {
    EXPECT_EQ(Rows[I].DisplayName, Expected[I].Name) << I;
    EXPECT_EQ(Rows[I].Publisher, Expected[I].Publisher) << I;
    EXPECT_EQ(Rows[I].InstallDate, L"2024") << I;
  }
  EXPECT_EQ(Rows[0].UninstallString, L"u-TouchEn nxKey with E2E for 32bit-RaonSecure");
  EXPECT_EQ(Rows[1].UninstallString, L"u-veraport G3-");

  EXPECT_TRUE(BuildInstallRows(List, Matcher({}), L"?", nullptr).empty());
  EXPECT_TRUE(BuildInstallRows({}, Matcher(NameBlack), L"?", nullptr).empty());
}

TEST(InstallRows, IconsComeFromTheIconFileWithItsIndexAndTheOriginIsKept) {
  const TInstallList List = {
      Entry(L"A1", L"p", L"C:\\A\\a.exe", 0, false),
      Entry(L"A2", L"p", L"C:\\A\\a.exe", 3, true),
      Entry(L"A3", L"p", L"", 5, false),
      Entry(L"A4", L"p", L"C:\\My,App\\a.exe", 0, true),
  };
  std::vector<std::wstring> Asked;
  const std::vector<TInstallItem> Rows =
      BuildInstallRows(List, Matcher({L"A"}), L"?", [&](const std::wstring& Location) {
        Asked.push_back(Location);
        return static_cast<int32_t>(Asked.size() + 3);
      });
  EXPECT_EQ(Asked,
            (std::vector<std::wstring>{L"C:\\A\\a.exe", L"C:\\A\\a.exe,3", L"", L"\"C:\\My,App\\a.exe\""}));
  ASSERT_EQ(Rows.size(), 4u);
  for (size_t I = 0; I < Rows.size(); ++I) {
    EXPECT_EQ(Rows[I].Icon, static_cast<int32_t>(I + 4)) << I;
    EXPECT_EQ(Rows[I].FromCurrentUser, List[I].FromCurrentUser) << I;
  }
}

// The icon location is read back as the entry's file and index, a comma in the path or not.
TEST(InstallRows, IconLocationsReadBackWhole) {
  const std::pair<const wchar_t*, uint16_t> Cases[] = {
      {L"C:\\A\\a.exe", 0},
      {L"C:\\A\\a.exe", 7},
      {L"C:\\Program Files\\Foo, Inc\\app.exe", 2},
      {L"C:\\Program Files\\Foo, Inc\\app.exe", 0},
      {L"C:\\a,b,c\\x.exe", 100},
  };
  for (const auto& [Icon, Index] : Cases) {
    const std::wstring Location = IconLocation(Entry(L"A", L"p", Icon, Index));
    const TIconLocation Parsed = ParseIconLocation(Location, -1);
    EXPECT_EQ(Parsed.File, Icon) << Location;
    EXPECT_EQ(Parsed.Number, Index) << Location;
  }
  EXPECT_EQ(IconLocation(Entry(L"A", L"p", L"", 3)), L"");
}

TEST(ChangeBurst, OneReloadAfterTheBurstOrAtTheLatestAfterTheLongestWait) {
  TChangeBurst Burst(40, 400);
  EXPECT_FALSE(Burst.Pending());
  struct TStep {
    uint64_t Now;
    uint32_t Delay;
  };
  // A burst that begins at 1000: every change restarts the quiet period until the longest wait
  // since its first change is nearly used up.
  const TStep Steps[] = {{1000, 40}, {1001, 40}, {1030, 40}, {1200, 40}, {1370, 30}, {1399, 1}, {1400, 0}, {1600, 0}};
  for (const TStep& Step : Steps) EXPECT_EQ(Burst.Change(Step.Now), Step.Delay) << Step.Now;
  EXPECT_TRUE(Burst.Pending());
  Burst.Reloading();
  EXPECT_FALSE(Burst.Pending());
  EXPECT_EQ(Burst.Change(1601), 40u);  // a new burst
  EXPECT_EQ(Burst.Change(1700), 40u);
}

}  // namespace
}  // namespace nimbrel
