// The SQLite store against real database files: store, read, entry counts, expiry, the cap, and
// that a failure half-way leaves nothing behind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "helpers.h"
#include "sqlite_store.h"

namespace nimbrel::service {
namespace {

using testing::TTempDir;

TReport SampleReport(std::vector<TStartRow> Startup = {}) {
  TReport Report;
  Report.Memory = {100, 200, 1000};
  Report.Processes = {{"%SystemRoot%\\System32\\notepad.exe", TProcessState::Ended},
                      {"System", TProcessState::LeftAlone}};
  Report.Startup = std::move(Startup);
  Report.Installed = {{"우리은행 보안", "Bank"}};
  return Report;
}

const TStartRow OneDrive{"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive", "HKCU"};
const TStartRow Korean{"C:\\Users\\민수\\Start Menu\\Programs\\Startup\\카카오톡 실행.lnk", "FILE"};

class StoreTest : public ::testing::Test {
 protected:
  TTempDir Folder;
  std::filesystem::path File = Folder.Path() / "reports.sqlite";
};

TEST_F(StoreTest, StoresAndReadsBackAndKeepsAcrossReopening) {
  {
    TSqliteStore Store(File, 1 << 20);
    EXPECT_EQ(Store.Put("key1", SampleReport({OneDrive}), 1000), TPutResult::Stored);
    EXPECT_EQ(Store.Put("key1", SampleReport(), 1001), TPutResult::KeyTaken);
  }
  TSqliteStore Store(File, 1 << 20);
  const auto Report = Store.Get("key1", 0);
  ASSERT_TRUE(Report);
  EXPECT_EQ(StoredReportText(*Report), StoredReportText(SampleReport({OneDrive})));
  EXPECT_FALSE(Store.Get("key2", 0));
  EXPECT_FALSE(Store.Get("key1", 1001));  // stored before the oldest time asked for
}

TEST_F(StoreTest, CountsReportsPerEntryIgnoringCaseOncePerReport) {
  TSqliteStore Store(File, 1 << 20);
  const TStartRow OneDriveOtherCase{"hkcu\\software\\run\\ONEDRIVE", "hkcu"};
  ASSERT_EQ(Store.Put("a", SampleReport({OneDrive, OneDriveOtherCase}), 100), TPutResult::Stored);
  ASSERT_EQ(Store.Put("b", SampleReport({OneDrive, Korean}), 200), TPutResult::Stored);
  ASSERT_EQ(Store.Put("c", SampleReport({}), 300), TPutResult::Stored);
  struct TCase {
    const char* From;
    const char* Name;
    std::int64_t NotBefore;
    std::int64_t Count;
  };
  for (const TCase& Case : {TCase{"hkcu", "onedrive", 0, 2}, TCase{"hkcu", "onedrive", 150, 1},
                            TCase{"hklm", "onedrive", 0, 0}, TCase{"file", "카카오톡 실행.lnk", 0, 1},
                            TCase{"file", "Start Menu", 0, 0}, TCase{"hkcu", "onedrive", 201, 0}}) {
    EXPECT_EQ(Store.CountEntryReports(Case.From, Case.Name, Case.NotBefore), Case.Count) << Case.From << "/" << Case.Name;
  }
}

TEST_F(StoreTest, ExpiryDeletesOldReportsTheirEntriesAndTheirBytes) {
  TSqliteStore Store(File, 1 << 20);
  ASSERT_EQ(Store.Put("old", SampleReport({OneDrive}), 100), TPutResult::Stored);
  const std::int64_t OneReport = Store.UsedBytes();
  EXPECT_GT(OneReport, 0);
  ASSERT_EQ(Store.Put("new", SampleReport({Korean}), 200), TPutResult::Stored);
  EXPECT_EQ(Store.DeleteBefore(150), 1);
  EXPECT_FALSE(Store.Get("old", 0));
  EXPECT_TRUE(Store.Get("new", 0));
  EXPECT_EQ(Store.CountEntryReports("hkcu", "onedrive", 0), 0);
  EXPECT_EQ(Store.CountEntryReports("file", "카카오톡 실행.lnk", 0), 1);
  EXPECT_EQ(Store.DeleteBefore(150), 0);
  EXPECT_EQ(Store.DeleteBefore(1000), 1);
  EXPECT_EQ(Store.UsedBytes(), 0);
}

TEST_F(StoreTest, TheCapRefusesWholeReportsAndFreesWithExpiry) {
  std::int64_t OneReport = 0;
  {
    TSqliteStore Measure(Folder.Path() / "measure.sqlite", 1 << 20);
    ASSERT_EQ(Measure.Put("m", SampleReport({OneDrive}), 1), TPutResult::Stored);
    OneReport = Measure.UsedBytes();
  }
  TSqliteStore Store(File, 2 * OneReport);
  EXPECT_EQ(Store.Put("a", SampleReport({OneDrive}), 100), TPutResult::Stored);
  EXPECT_EQ(Store.Put("b", SampleReport({OneDrive}), 200), TPutResult::Stored);  // exactly at the cap
  EXPECT_EQ(Store.Put("c", SampleReport({OneDrive}), 300), TPutResult::Full);
  EXPECT_FALSE(Store.Get("c", 0));
  EXPECT_EQ(Store.CountEntryReports("hkcu", "onedrive", 0), 2);
  EXPECT_EQ(Store.UsedBytes(), 2 * OneReport);
  ASSERT_EQ(Store.DeleteBefore(150), 1);
  EXPECT_EQ(Store.Put("c", SampleReport({OneDrive}), 300), TPutResult::Stored);
}

TEST_F(StoreTest, AFailureHalfWayStoresNothing) {
  TSqliteStore Store(File, 1 << 20);
  {
    // Another connection makes the second entry's row fail after the report row went in.
    sqlite3* Other = nullptr;
    ASSERT_EQ(sqlite3_open(File.c_str(), &Other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(Other,
                           "CREATE TRIGGER refuse BEFORE INSERT ON report_entries WHEN NEW.name = 'onedrive' "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(Other);
  }
  EXPECT_EQ(Store.Put("half", SampleReport({Korean, OneDrive}), 100), TPutResult::Failed);
  EXPECT_FALSE(Store.Get("half", 0));
  EXPECT_EQ(Store.CountEntryReports("file", "카카오톡 실행.lnk", 0), 0);
  EXPECT_EQ(Store.UsedBytes(), 0);
  // The store still works for reports that do not hit the failure.
  EXPECT_EQ(Store.Put("whole", SampleReport({Korean}), 100), TPutResult::Stored);
  EXPECT_TRUE(Store.Get("whole", 0));
}

TEST_F(StoreTest, HoldsAreCountedPerVersion) {
  TSqliteStore Store(File, 1 << 20);
  EXPECT_EQ(Store.HoldCount("1.0.0.0"), 0);
  EXPECT_TRUE(Store.AddHold("1.0.0.0"));
  EXPECT_TRUE(Store.AddHold("1.0.0.0"));
  EXPECT_TRUE(Store.AddHold("0.9.0.0"));
  EXPECT_EQ(Store.HoldCount("1.0.0.0"), 2);
  EXPECT_EQ(Store.HoldCount("0.9.0.0"), 1);
}

TEST_F(StoreTest, AnUnopenableFileThrows) {
  EXPECT_THROW(TSqliteStore(Folder.Path() / "no-such-folder" / "reports.sqlite", 1 << 20), std::runtime_error);
}

}  // namespace
}  // namespace nimbrel::service
