// Both stores against real databases (a SQLite file; a fresh database on the throwaway
// PostgreSQL server): store, read, entry counts, expiry, the cap, and that a failure half-way
// leaves nothing behind. Then what only SQLite has: entry counts added later, and files written
// before them, the same for PostgreSQL; and what only PostgreSQL has: several stores on one database.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "helpers.h"
#include "postgresql_fixture.h"
#include "postgresql_store.h"
#include "sqlite_store.h"

namespace nimbrel::service {
namespace {

using testing::TPostgresqlDatabase;
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

// A report of a hundred startup entries that no other report of this Number lists: the entry
// rows and their indexes take more room than the report's own text.
TReport HundredEntryReport(int Number) {
  std::vector<TStartRow> Startup;
  for (int Entry = 0; Entry < 100; ++Entry) {
    Startup.push_back({"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Program " + std::to_string(Number) +
                           "-" + std::to_string(Entry) + ".exe",
                       "HKCU"});
  }
  TReport Report;
  Report.Memory = {100, 200, 1000};
  Report.Startup = std::move(Startup);
  return Report;
}

// Stores HundredEntryReport after HundredEntryReport, calling AfterEach after each, until the
// store is full; answers how many it stored, or -1 when a Put failed.
int FillToTheCap(TReportStore& Store, const std::function<void()>& AfterEach) {
  for (int Report = 0; Report < 10000; ++Report) {
    const TPutResult Result = Store.Put("k" + std::to_string(Report), HundredEntryReport(Report), 100 + Report);
    if (Result == TPutResult::Full) return Report;
    if (Result != TPutResult::Stored) return -1;
    AfterEach();
  }
  return -1;
}

const TStartRow OneDrive{"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive", "HKCU"};
const TStartRow Korean{"C:\\Users\\민수\\Start Menu\\Programs\\Startup\\카카오톡 실행.lnk", "FILE"};

// One kind of store on one database for one test.
class TStoreKind {
 public:
  virtual ~TStoreKind() = default;
  // Why the kind cannot be tested here; empty when it can.
  virtual std::string SkipReason() const { return {}; }
  // A new store on the test's database (the same one on every call).
  virtual std::unique_ptr<TReportStore> Open(std::int64_t CapBytes) = 0;
  // Makes the database refuse to store a startup entry whose name is Name.
  virtual bool RefuseEntryNamed(const std::string& Name) = 0;
  // A store that cannot be opened must throw this.
  virtual void OpenUnopenable() = 0;
  // Runs Sql on the test's database beside the store; false when it fails.
  virtual bool Execute(const std::string& Sql) = 0;
  // Another session that keeps every writer of the test's database waiting for Seconds from when
  // HoldWrites returns; null when it could not take the lock.
  class THold {
   public:
    virtual ~THold() = default;
    // Waits for the session to let go; false when it failed.
    virtual bool Release() = 0;
  };
  virtual std::unique_ptr<THold> HoldWrites(int Seconds) = 0;
};

// Another process that takes File's write lock and keeps it for Seconds: its output, to pclose,
// once it holds the lock; null when it could not take it.
FILE* HoldSqliteWriteLock(const std::filesystem::path& File, int Seconds) {
  const std::string Command = "python3 -c \"import sqlite3, sys, time\n"
                              "db = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                              "db.execute('BEGIN IMMEDIATE'); print('held', flush=True); time.sleep(" +
                              std::to_string(Seconds) + "); db.execute('COMMIT')\" '" + File.string() + "'";
  FILE* Holder = ::popen(Command.c_str(), "r");
  char Line[16] = {};
  if (Holder != nullptr && (std::fgets(Line, sizeof Line, Holder) == nullptr || std::string_view(Line) != "held\n")) {
    ::pclose(Holder);
    return nullptr;
  }
  return Holder;
}

class TSqliteKind final : public TStoreKind {
 public:
  std::unique_ptr<TReportStore> Open(std::int64_t CapBytes) override {
    return std::make_unique<TSqliteStore>(FFile, CapBytes);
  }
  bool RefuseEntryNamed(const std::string& Name) override {
    sqlite3* Other = nullptr;
    const bool Opened = sqlite3_open(FFile.c_str(), &Other) == SQLITE_OK;
    // An upload stores its entries in one blob; the count index takes them later.
    const std::string Sql = "CREATE TRIGGER refuse BEFORE INSERT ON unindexed_entries WHEN instr(NEW.entries, CAST('" +
                            Name + "' AS BLOB)) > 0 BEGIN SELECT RAISE(ABORT, 'refused'); END;";
    const bool Made = Opened && sqlite3_exec(Other, Sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(Other);
    return Made;
  }
  void OpenUnopenable() override { TSqliteStore(FFolder.Path() / "no-such-folder" / "reports.sqlite", 1 << 20); }
  bool Execute(const std::string& Sql) override {
    sqlite3* Other = nullptr;
    const bool Done = sqlite3_open(FFile.c_str(), &Other) == SQLITE_OK &&
                      sqlite3_exec(Other, Sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(Other);
    return Done;
  }
  // Another process, so that the lock is the file's and not a connection's of this process.
  std::unique_ptr<THold> HoldWrites(int Seconds) override {
    class TProcessHold final : public THold {
     public:
      explicit TProcessHold(FILE* Holder) : FHolder(Holder) {}
      ~TProcessHold() override {
        if (FHolder != nullptr) ::pclose(FHolder);
      }
      bool Release() override { return ::pclose(std::exchange(FHolder, nullptr)) == 0; }

     private:
      FILE* FHolder;
    };
    FILE* Holder = HoldSqliteWriteLock(FFile, Seconds);
    return Holder != nullptr ? std::make_unique<TProcessHold>(Holder) : nullptr;
  }

 private:
  TTempDir FFolder;
  std::filesystem::path FFile = FFolder.Path() / "reports.sqlite";
};

class TPostgresqlKind final : public TStoreKind {
 public:
  std::string SkipReason() const override { return FDatabase.Address().empty() ? FDatabase.SkipReason() : ""; }
  std::unique_ptr<TReportStore> Open(std::int64_t CapBytes) override {
    return std::make_unique<TPostgresqlStore>(FDatabase.Address(), CapBytes, 4);
  }
  bool RefuseEntryNamed(const std::string& Name) override {
    // An upload stores its entries in one row; the count table takes them later.
    return FDatabase.Execute(
        "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'refused'; END $$; "
        "CREATE TRIGGER refuse BEFORE INSERT ON unindexed_entries FOR EACH ROW WHEN ('" + Name +
        "' = ANY (NEW.names)) EXECUTE FUNCTION refuse();");
  }
  void OpenUnopenable() override {
    const std::string& Address = FDatabase.Address();
    TPostgresqlStore(Address.substr(0, Address.rfind('/') + 1) + "no_such_database", 1 << 20, 1);
  }
  bool Execute(const std::string& Sql) override { return FDatabase.Execute(Sql); }
  // Every upload inserts into reports: a session that holds that table in EXCLUSIVE mode keeps them
  // all waiting, and reads going.
  std::unique_ptr<THold> HoldWrites(int Seconds) override {
    class TSessionHold final : public THold {
     public:
      TSessionHold(PGconn* Session, int Seconds)
          : FSession(Session), FEnd([this, Seconds] {
              std::this_thread::sleep_for(std::chrono::seconds(Seconds));
              PGresult* Result = PQexec(FSession, "COMMIT");
              FCommitted = PQresultStatus(Result) == PGRES_COMMAND_OK;
              PQclear(Result);
            }) {}
      ~TSessionHold() override {
        if (FEnd.joinable()) FEnd.join();
        PQfinish(FSession);
      }
      bool Release() override {
        FEnd.join();
        return FCommitted;
      }

     private:
      PGconn* FSession;
      bool FCommitted = false;
      std::thread FEnd;
    };
    PGconn* Session = PQconnectdb(FDatabase.Address().c_str());
    PGresult* Result = PQexec(Session, "BEGIN; LOCK TABLE reports IN EXCLUSIVE MODE");
    const bool Held = PQresultStatus(Result) == PGRES_COMMAND_OK;
    PQclear(Result);
    if (!Held) {
      PQfinish(Session);
      return nullptr;
    }
    return std::make_unique<TSessionHold>(Session, Seconds);
  }

 private:
  TPostgresqlDatabase FDatabase;
};

class StoreTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::string(GetParam()) == "sqlite") {
      FKind = std::make_unique<TSqliteKind>();
    } else {
      FKind = std::make_unique<TPostgresqlKind>();
    }
    if (const std::string Why = FKind->SkipReason(); !Why.empty()) GTEST_SKIP() << Why;
  }
  std::unique_ptr<TReportStore> Open(std::int64_t CapBytes = 1 << 20) { return FKind->Open(CapBytes); }

  std::unique_ptr<TStoreKind> FKind;
};

TEST_P(StoreTest, StoresAndReadsBackAndKeepsAcrossReopening) {
  {
    const auto First = Open();
    EXPECT_EQ(First->Put("key1", SampleReport({OneDrive}), 1000), TPutResult::Stored);
    EXPECT_EQ(First->Put("key1", SampleReport(), 1001), TPutResult::KeyTaken);
  }
  const auto Reopened = Open();
  TReportStore& Store = *Reopened;
  const auto Report = Store.Get("key1", 0);
  ASSERT_TRUE(Report);
  EXPECT_EQ(StoredReportText(*Report), StoredReportText(SampleReport({OneDrive})));
  EXPECT_FALSE(Store.Get("key2", 0));
  EXPECT_FALSE(Store.Get("key1", 1001));  // stored before the oldest time asked for
}

TEST_P(StoreTest, CountsReportsPerEntryIgnoringCaseOncePerReport) {
  const auto Opened = Open();
  TReportStore& Store = *Opened;
  const TStartRow OneDriveOtherCase{"hkcu\\software\\run\\ONEDRIVE", "hkcu"};
  ASSERT_EQ(Store.Put("a", SampleReport({OneDrive, OneDriveOtherCase}), 100), TPutResult::Stored);
  ASSERT_EQ(Store.Put("b", SampleReport({OneDrive, Korean}), 200), TPutResult::Stored);
  ASSERT_EQ(Store.Put("c", SampleReport({}), 300), TPutResult::Stored);
  // Texts that databases treat specially: NUL, quotes, a backslash at the end, braces and commas.
  const std::string Nul("a\0b", 3);
  ASSERT_EQ(Store.Put("d",
                      SampleReport({{"x\\" + Nul, "HKLM"}, {"x\\\"{1,2}", "HKLM"}, {"it's", "HKLM"}, {"x\\", "HKLM"}}),
                      300),
            TPutResult::Stored);
  struct TCase {
    const char* From;
    const char* Name;
    std::int64_t NotBefore;
    std::int64_t Count;
  };
  for (const TCase& Case : {TCase{"hkcu", "onedrive", 0, 2}, TCase{"hkcu", "onedrive", 150, 1},
                            TCase{"hklm", "onedrive", 0, 0}, TCase{"file", "카카오톡 실행.lnk", 0, 1},
                            TCase{"file", "Start Menu", 0, 0}, TCase{"hkcu", "onedrive", 201, 0},
                            TCase{"hklm", Nul.c_str(), 0, 0}, TCase{"hklm", "it's", 0, 1}, TCase{"hklm", "\"{1,2}", 0, 1},
                            TCase{"hklm", "", 0, 0}}) {  // no page shows an empty name: not counted
    EXPECT_EQ(Store.CountEntryReports(Case.From, Case.Name, Case.NotBefore), Case.Count) << Case.From << "/" << Case.Name;
  }
  EXPECT_EQ(Store.CountEntryReports("hklm", Nul, 0), 1);
}

TEST_P(StoreTest, ExpiryDeletesOldReportsTheirEntriesAndTheirBytes) {
  const auto Opened = Open();
  TReportStore& Store = *Opened;
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

TEST_P(StoreTest, TheCapRefusesWholeReportsAndFreesWithExpiry) {
  std::int64_t OneReport = 0;
  {
    const auto Measure = Open();
    ASSERT_EQ(Measure->Put("m", SampleReport({OneDrive}), 1), TPutResult::Stored);
    OneReport = Measure->UsedBytes();
    ASSERT_EQ(Measure->DeleteBefore(2), 1);
  }
  const auto Opened = Open(2 * OneReport);
  TReportStore& Store = *Opened;
  EXPECT_EQ(Store.Put("a", SampleReport({OneDrive}), 100), TPutResult::Stored);
  EXPECT_EQ(Store.Put("b", SampleReport({OneDrive}), 200), TPutResult::Stored);  // exactly at the cap
  EXPECT_EQ(Store.Put("c", SampleReport({OneDrive}), 300), TPutResult::Full);
  EXPECT_FALSE(Store.Get("c", 0));
  EXPECT_EQ(Store.CountEntryReports("hkcu", "onedrive", 0), 2);
  EXPECT_EQ(Store.UsedBytes(), 2 * OneReport);
  ASSERT_EQ(Store.DeleteBefore(150), 1);
  EXPECT_EQ(Store.Put("c", SampleReport({OneDrive}), 300), TPutResult::Stored);
}

TEST_P(StoreTest, AFailureHalfWayStoresNothing) {
  const auto Opened = Open();
  TReportStore& Store = *Opened;
  // Another connection makes the second entry's row fail after the report row went in.
  ASSERT_TRUE(FKind->RefuseEntryNamed("onedrive"));
  EXPECT_EQ(Store.Put("half", SampleReport({Korean, OneDrive}), 100), TPutResult::Failed);
  EXPECT_FALSE(Store.Get("half", 0));
  EXPECT_EQ(Store.CountEntryReports("file", "카카오톡 실행.lnk", 0), 0);
  EXPECT_EQ(Store.UsedBytes(), 0);
  // The store still works for reports that do not hit the failure.
  EXPECT_EQ(Store.Put("whole", SampleReport({Korean}), 100), TPutResult::Stored);
  EXPECT_TRUE(Store.Get("whole", 0));
}

TEST_P(StoreTest, HoldsAreCountedPerVersionExpireAndStayBounded) {
  const auto Opened = Open();
  TReportStore& Store = *Opened;
  EXPECT_EQ(Store.HoldCount("1.0.0.0"), 0);
  EXPECT_TRUE(Store.AddHold("1.0.0.0", 100));
  EXPECT_TRUE(Store.AddHold("1.0.0.0", 100));
  EXPECT_TRUE(Store.AddHold("0.9.0.0", 100));
  EXPECT_TRUE(Store.AddHold("1.0.0.0", 300));
  EXPECT_EQ(Store.HoldCount("1.0.0.0"), 3);
  EXPECT_EQ(Store.HoldCount("0.9.0.0"), 1);
  // A version goes when it had no hold request since the cutoff; one that had keeps its count.
  EXPECT_EQ(Store.DeleteBefore(200), 0);
  EXPECT_EQ(Store.HoldCount("0.9.0.0"), 0);
  EXPECT_EQ(Store.HoldCount("1.0.0.0"), 3);
  // Full: a new version is not taken, a counted one still counts.
  ASSERT_TRUE(FKind->Execute("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                             std::to_string(MaxHoldVersions) +
                             ") INSERT INTO holds (version, count, last) SELECT '9.9.9.' || i, 1, 400 FROM n"));
  EXPECT_FALSE(Store.AddHold("2.0.0.0", 400));
  EXPECT_EQ(Store.HoldCount("2.0.0.0"), 0);
  EXPECT_TRUE(Store.AddHold("1.0.0.0", 400));
  EXPECT_EQ(Store.HoldCount("1.0.0.0"), 4);
}

TEST_P(StoreTest, EntriesNoPageShowsAreNotStoredAndEntriesEqualInTheStoreAreOne) {
  const auto Opened = Open();
  TReportStore& Store = *Opened;
  // NUL and U+FFFD are one text where NUL cannot be kept; the report is stored all the same.
  const std::string Nul("a\0b.exe", 7);
  ASSERT_EQ(Store.Put("r", SampleReport({{"HKCU\\Run\\" + Nul, "HKCU"}, {"HKCU\\Run\\a\uFFFDb.exe", "HKCU"},
                                         {"C:\\Startup\\.", "FILE"}, {"HKCU\\Run\\..", "HKCU"},
                                         {"HKCU\\Run\\", "HKCU"}, {"x\\kept.exe", "WEIRD"}, OneDrive}),
                      100),
            TPutResult::Stored);
  ASSERT_TRUE(Store.Get("r", 0));
  EXPECT_EQ(Store.Get("r", 0)->Startup.size(), 7u) << "the report keeps every row";
  EXPECT_EQ(Store.CountEntryReports("hkcu", "a\uFFFDb.exe", 0), 1);
  EXPECT_EQ(Store.CountEntryReports("hkcu", "onedrive", 0), 1);
  for (const auto& [From, Name] : std::vector<std::pair<std::string, std::string>>{
           {"file", "."}, {"hkcu", ".."}, {"hkcu", ""}, {"weird", "kept.exe"}}) {
    EXPECT_EQ(Store.CountEntryReports(From, Name, 0), 0) << From << "/" << Name;
  }
  EXPECT_EQ(Store.Put("r", SampleReport(), 100), TPutResult::KeyTaken) << "only the report key is a taken key";
}

TEST_P(StoreTest, AnUploadThatFailsInsideAGroupFailsAlone) {
  TReport Huge = SampleReport({OneDrive});
  Huge.Installed.push_back({std::string(300'000, 'x'), "Big"});
  const TStartRow Refused{"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Refused", "HKCU"};
  const auto Opened = Open(200'000);
  TReportStore& Store = *Opened;
  ASSERT_TRUE(FKind->RefuseEntryNamed("refused"));
  // While another session holds the write lock, the first two uploads wait for it in their
  // commits, and the uploads after them queue up to go together as the next group.
  const auto Hold = FKind->HoldWrites(1);
  ASSERT_NE(Hold, nullptr);
  struct TCase {
    std::string Key;
    TReport Report;
  };
  const std::vector<TCase> Cases{{"first", SampleReport({OneDrive})},   {"second", SampleReport({})},
                                 {"a", SampleReport({OneDrive})},       {"refused", SampleReport({Korean, Refused})},
                                 {"b", SampleReport({Korean})},         {"huge", Huge},
                                 {"a", SampleReport({Korean})},         {"c", SampleReport({})}};
  std::vector<TPutResult> Results(Cases.size(), TPutResult::Failed);
  std::vector<std::thread> Uploads;
  for (size_t I = 0; I < Cases.size(); ++I) {
    Uploads.emplace_back([&, I] { Results[I] = Store.Put(Cases[I].Key, Cases[I].Report, 100); });
    if (I < 2) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  for (std::thread& Upload : Uploads) Upload.join();
  EXPECT_TRUE(Hold->Release());

  // The two uploads under "a" race for the key: one is stored, the other alone is refused.
  EXPECT_EQ(Results[0], TPutResult::Stored);
  EXPECT_EQ(Results[1], TPutResult::Stored);
  EXPECT_EQ(Results[3], TPutResult::Failed);
  EXPECT_EQ(Results[4], TPutResult::Stored);
  EXPECT_EQ(Results[5], TPutResult::Full);
  EXPECT_EQ(Results[7], TPutResult::Stored);
  EXPECT_TRUE((Results[2] == TPutResult::Stored) != (Results[6] == TPutResult::Stored));
  EXPECT_TRUE(Results[2] == TPutResult::KeyTaken || Results[6] == TPutResult::KeyTaken);
  for (const char* Key : {"first", "second", "a", "b", "c"}) EXPECT_TRUE(Store.Get(Key, 0)) << Key;
  for (const char* Key : {"refused", "huge"}) EXPECT_FALSE(Store.Get(Key, 0)) << Key;
  // Counted once each, and nothing of the refused upload: first, a and b list an entry of their own.
  const std::int64_t OneDrives = Results[2] == TPutResult::Stored ? 2 : 1;
  EXPECT_EQ(Store.CountEntryReports("hkcu", "onedrive", 0), OneDrives);
  EXPECT_EQ(Store.CountEntryReports("file", "카카오톡 실행.lnk", 0), 3 - OneDrives);
  EXPECT_EQ(Store.CountEntryReports("hkcu", "refused", 0), 0);
}

TEST_P(StoreTest, AnUnopenableDatabaseThrows) { EXPECT_THROW(FKind->OpenUnopenable(), std::runtime_error); }

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& Info) { return std::string(Info.param); });

struct TCount {
  const char* From;
  const char* Name;
  std::int64_t NotBefore;
  std::int64_t Count;
};

void ExpectCounts(TReportStore& Store, std::initializer_list<TCount> Cases, const char* When) {
  for (const TCount& Case : Cases) {
    EXPECT_EQ(Store.CountEntryReports(Case.From, Case.Name, Case.NotBefore), Case.Count)
        << When << ": " << Case.From << "/" << Case.Name << " from " << Case.NotBefore;
  }
}

// Both stores take a report's entries into their counts later, many reports at a time: counts are
// the same while reports wait, once they are indexed, with both kinds at once, and after expiry.
// Store indexes only when asked; Indexed runs once the first reports are indexed, Expired at the end.
template <typename TStore>
void ExpectCountsWaitingIndexedAndMixed(TStore& Store, const std::function<void()>& Indexed,
                                        const std::function<void()>& Expired) {
  const TStartRow OneDriveOtherCase{"hkcu\\software\\run\\ONEDRIVE", "hkcu"};
  ASSERT_EQ(Store.Put("a", SampleReport({OneDrive, OneDriveOtherCase}), 100), TPutResult::Stored);
  ASSERT_EQ(Store.Put("b", SampleReport({OneDrive, Korean}), 200), TPutResult::Stored);
  ASSERT_EQ(Store.Put("c", SampleReport({OneDrive}), 200), TPutResult::Stored);  // the same second as b
  ASSERT_EQ(Store.Put("d", SampleReport({}), 300), TPutResult::Stored);
  const auto Expect = [&](const char* When) {
    ExpectCounts(Store,
                 {{"hkcu", "onedrive", 0, 3}, {"hkcu", "onedrive", 100, 3}, {"hkcu", "onedrive", 101, 2},
                  {"hkcu", "onedrive", 201, 0}, {"file", "카카오톡 실행.lnk", 0, 1}, {"hklm", "onedrive", 0, 0},
                  {"hkcu", "카카오톡 실행.lnk", 0, 0}},  // the name of one entry and the "from" of another
                 When);
  };
  Expect("waiting");
  EXPECT_EQ(Store.IndexPending(), 3);  // d lists no entry
  Expect("indexed");
  Indexed();
  EXPECT_EQ(Store.IndexPending(), 0);
  Expect("indexed again");

  // Reports that wait beside indexed ones, and expiry of both.
  ASSERT_EQ(Store.Put("e", SampleReport({OneDrive}), 120), TPutResult::Stored);
  ASSERT_EQ(Store.Put("f", SampleReport({Korean}), 400), TPutResult::Stored);
  ExpectCounts(Store, {{"hkcu", "onedrive", 0, 4}, {"hkcu", "onedrive", 101, 3}, {"file", "카카오톡 실행.lnk", 0, 2}},
               "mixed");
  EXPECT_EQ(Store.DeleteBefore(150), 2);  // a (indexed) and e (waiting)
  ExpectCounts(Store, {{"hkcu", "onedrive", 0, 2}, {"file", "카카오톡 실행.lnk", 0, 2}}, "after expiry");
  EXPECT_EQ(Store.IndexPending(), 1);  // f alone: e went with its report
  ExpectCounts(Store, {{"hkcu", "onedrive", 0, 2}, {"file", "카카오톡 실행.lnk", 0, 2}}, "after expiry, indexed");
  EXPECT_EQ(Store.DeleteBefore(1000), 4);
  ExpectCounts(Store, {{"hkcu", "onedrive", 0, 0}, {"file", "카카오톡 실행.lnk", 0, 0}}, "all expired");
  Expired();
}

// The SQLite store takes a report's entries into its count index later, many reports at a time.
class SqliteStoreTest : public ::testing::Test {
 protected:
  FILE* HoldWriteLock(int Seconds) { return HoldSqliteWriteLock(File, Seconds); }
  TTempDir Folder;
  std::filesystem::path File = Folder.Path() / "reports.sqlite";
};

TEST_F(SqliteStoreTest, EntriesCountTheSameWaitingIndexedAndMixed) {
  TSqliteStore Store(File, 1 << 20, false);
  ExpectCountsWaitingIndexedAndMixed(Store, [] {}, [] {});
}

TEST_F(SqliteStoreTest, PageReadsNeverWaitForAnotherProcesssWriteLock) {
  TSqliteStore Store(File, 1 << 20);  // indexing in the background, ten times a second
  ASSERT_EQ(Store.Put("a", SampleReport({OneDrive}), 100), TPutResult::Stored);
  FILE* Holder = HoldWriteLock(5);
  ASSERT_NE(Holder, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the background indexing now waits for it

  using TClock = std::chrono::steady_clock;
  const auto Timed = [](auto&& Call) {
    const auto Start = TClock::now();
    Call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - Start).count();
  };
  std::optional<TReport> Report;
  std::optional<std::int64_t> Count;
  const auto ReadMs = Timed([&] { Report = Store.Get("a", 0); });
  const auto CountMs = Timed([&] { Count = Store.CountEntryReports("hkcu", "onedrive", 0); });
  std::printf("while another process holds the write lock: read %lld ms, count %lld ms\n",
              static_cast<long long>(ReadMs), static_cast<long long>(CountMs));
  EXPECT_TRUE(Report);
  EXPECT_EQ(Count, 1);
  // The lock is held for five seconds: anything that waited for it would take that long.
  EXPECT_LT(ReadMs, 1000);
  EXPECT_LT(CountMs, 1000);
  EXPECT_EQ(::pclose(Holder), 0);
}

TEST_F(SqliteStoreTest, IndexingWithNothingWaitingAsksForNoLock) {
  TSqliteStore Store(File, 1 << 20, false);
  FILE* Holder = HoldWriteLock(3);
  ASSERT_NE(Holder, nullptr);
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Store.IndexPending(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(1)) << "it waited for the lock";
  EXPECT_EQ(::pclose(Holder), 0);
}

TEST_F(SqliteStoreTest, TheCapHoldsTheFileItself) {
  // Reports of a hundred entries each, no two alike: the entry counts and their index take more
  // room than the reports' own text.
  constexpr std::int64_t Cap = 2'000'000;
  std::int64_t EmptyBytes = 0;
  const auto FileBytes = [&] {
    sqlite3* Other = nullptr;
    std::int64_t Bytes = -1;
    if (sqlite3_open(File.c_str(), &Other) == SQLITE_OK) {
      sqlite3_exec(Other, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
      sqlite3_stmt* Statement = nullptr;
      sqlite3_prepare_v2(Other, "SELECT (page_count - freelist_count) * page_size FROM pragma_page_count(), "
                         "pragma_freelist_count(), pragma_page_size()", -1, &Statement, nullptr);
      if (sqlite3_step(Statement) == SQLITE_ROW) Bytes = sqlite3_column_int64(Statement, 0);
      sqlite3_finalize(Statement);
    }
    sqlite3_close(Other);
    return Bytes;
  };
  TSqliteStore Store(File, Cap, false);
  EmptyBytes = FileBytes();
  const int Stored = FillToTheCap(Store, [&] {
    while (Store.IndexPending() > 0) {
    }
  });
  const std::int64_t Taken = FileBytes() - EmptyBytes;
  std::printf("%d reports stored; the cap counts %lld bytes, the file takes %lld more than an empty one\n", Stored,
              static_cast<long long>(Store.UsedBytes()), static_cast<long long>(Taken));
  EXPECT_GT(Stored, 10);
  EXPECT_LE(Taken, Cap);
  EXPECT_GE(Taken, Cap / 2) << "the cap counts far more than the file takes";
}

TEST_F(SqliteStoreTest, TheLogIsCopiedIntoTheFileOnceTheStoreIsIdle) {
  TSqliteStore Store(File, std::int64_t{1} << 30, false);
  for (int I = 0; I < 30; ++I) {
    ASSERT_EQ(Store.Put("k" + std::to_string(I), HundredEntryReport(I), 100), TPutResult::Stored);
  }
  // Every page copied: the file then holds exactly the pages the database has, as read through
  // the log. Far below the size at which a writer copies the log itself.
  sqlite3* Other = nullptr;
  ASSERT_EQ(sqlite3_open(File.c_str(), &Other), SQLITE_OK);
  const auto DatabaseBytes = [&] {
    sqlite3_stmt* Statement = nullptr;
    sqlite3_prepare_v2(Other, "SELECT page_count * page_size FROM pragma_page_count(), pragma_page_size()", -1,
                       &Statement, nullptr);
    const std::int64_t Bytes = sqlite3_step(Statement) == SQLITE_ROW ? sqlite3_column_int64(Statement, 0) : -1;
    sqlite3_finalize(Statement);
    return Bytes;
  };
  std::int64_t Expected = DatabaseBytes();
  auto InFile = static_cast<std::int64_t>(std::filesystem::file_size(File));
  for (int Wait = 0; Wait < 100 && InFile != Expected; ++Wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Expected = DatabaseBytes();
    InFile = static_cast<std::int64_t>(std::filesystem::file_size(File));
  }
  sqlite3_close(Other);
  EXPECT_GT(Expected, 30 * 4096);
  EXPECT_EQ(InFile, Expected) << "the log was not copied into the file";
}

TEST_F(SqliteStoreTest, WaitingEntriesOutliveTheStoreAndAreTakenABatchAtATime) {
  constexpr int Reports = 300;
  {
    TSqliteStore Store(File, std::int64_t{1} << 30, false);
    for (int I = 0; I < Reports; ++I) {
      ASSERT_EQ(Store.Put("k" + std::to_string(I), SampleReport({OneDrive}), 100 + I % 7), TPutResult::Stored);
    }
  }
  TSqliteStore Store(File, std::int64_t{1} << 30, false);
  ExpectCounts(Store, {{"hkcu", "onedrive", 0, Reports}}, "reopened");
  std::vector<int> Batches;
  for (int Taken = Store.IndexPending(); Taken > 0; Taken = Store.IndexPending()) Batches.push_back(Taken);
  EXPECT_EQ(Batches, (std::vector<int>{256, Reports - 256}));
  ExpectCounts(Store, {{"hkcu", "onedrive", 0, Reports}, {"hkcu", "onedrive", 106, Reports / 7}}, "indexed");
}

TEST_F(SqliteStoreTest, FilesWithOneEntryRowPerReportAreCountedOnOpening) {
  // A file as the store wrote it before it kept counts per second.
  {
    sqlite3* Earlier = nullptr;
    ASSERT_EQ(sqlite3_open(File.c_str(), &Earlier), SQLITE_OK);
    const std::string Body = StoredReportText(SampleReport({OneDrive, Korean}));
    const std::string Sql = R"sql(
      PRAGMA journal_mode = WAL;
      CREATE TABLE reports (id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, created INTEGER NOT NULL,
                            size INTEGER NOT NULL, body TEXT NOT NULL);
      CREATE INDEX reports_created ON reports (created);
      CREATE TABLE report_entries (source TEXT NOT NULL, name TEXT NOT NULL,
                                   report_id INTEGER NOT NULL REFERENCES reports (id) ON DELETE CASCADE,
                                   created INTEGER NOT NULL, PRIMARY KEY (source, name, report_id)) WITHOUT ROWID;
      CREATE INDEX report_entries_report ON report_entries (report_id);
      CREATE TABLE usage (id INTEGER PRIMARY KEY CHECK (id = 1), bytes INTEGER NOT NULL);
      INSERT INTO usage VALUES (1, 300);
      INSERT INTO reports VALUES (1, 'old1', 100, 100, ')sql" + Body + R"sql('),
                                 (2, 'old2', 100, 100, ')sql" + Body + R"sql('),
                                 (3, 'old3', 200, 100, ')sql" + Body + R"sql(');
      INSERT INTO report_entries VALUES ('hkcu', 'onedrive', 1, 100), ('hkcu', 'onedrive', 2, 100),
                                        ('hkcu', 'onedrive', 3, 200), ('file', '카카오톡 실행.lnk', 3, 200);
    )sql";
    char* Error = nullptr;
    const int Made = sqlite3_exec(Earlier, Sql.c_str(), nullptr, nullptr, &Error);
    sqlite3_close(Earlier);
    ASSERT_EQ(Made, SQLITE_OK) << (Error ? Error : "");
  }
  {
    TSqliteStore Store(File, 1 << 20, false);
    ExpectCounts(Store, {{"hkcu", "onedrive", 0, 3}, {"hkcu", "onedrive", 101, 1}, {"file", "카카오톡 실행.lnk", 0, 1}},
                 "opened");
    EXPECT_TRUE(Store.Get("old2", 0));
    EXPECT_EQ(Store.UsedBytes(), 300);
    ASSERT_EQ(Store.Put("new", SampleReport({OneDrive}), 300), TPutResult::Stored);
    EXPECT_EQ(Store.DeleteBefore(150), 2);
  }
  TSqliteStore Store(File, 1 << 20);  // opened again: nothing is counted twice
  ExpectCounts(Store, {{"hkcu", "onedrive", 0, 2}, {"file", "카카오톡 실행.lnk", 0, 1}}, "reopened");
  sqlite3* Check = nullptr;
  ASSERT_EQ(sqlite3_open(File.c_str(), &Check), SQLITE_OK);
  sqlite3_stmt* Statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(Check, "SELECT count(*) FROM sqlite_master WHERE name LIKE 'report_entries%'", -1,
                               &Statement, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(Statement), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(Statement, 0), 0);
  sqlite3_finalize(Statement);
  sqlite3_close(Check);
}

// Several stores on one PostgreSQL database stand for several service processes.
class PostgresqlStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Database.Address().empty()) GTEST_SKIP() << Database.SkipReason();
  }
  std::unique_ptr<TPostgresqlStore> Open(int Connections = 2, bool IndexInBackground = true) {
    return std::make_unique<TPostgresqlStore>(Database.Address(), 1 << 20, Connections, IndexInBackground);
  }
  TPostgresqlDatabase Database;
};

TEST_F(PostgresqlStoreTest, EntriesCountTheSameWaitingIndexedAndMixed) {
  const auto Opened = Open(2, false);
  ExpectCountsWaitingIndexedAndMixed(
      *Opened,
      [&] {
        EXPECT_EQ(Database.Integer("SELECT reports FROM entry_counts WHERE name = 'onedrive' AND created = 200"), 2)
            << "reports of the same second share their row";
      },
      [&] { EXPECT_EQ(Database.Integer("SELECT count(*) FROM entry_counts"), 0); });
}

TEST_F(PostgresqlStoreTest, StoresIndexingAtOnceCountEachReportOnce) {
  // Waiting reports of many seconds and entries, taken by several stores at once, each a batch at
  // a time, while a count goes on beside them.
  constexpr int Reports = 1500;
  {
    TPostgresqlStore Store(Database.Address(), std::int64_t{1} << 30, 4, false);
    TPostgresqlStore* Uploader = &Store;
    std::vector<std::thread> Threads;
    for (int Thread = 0; Thread < 8; ++Thread) {
      Threads.emplace_back([&, Thread] {
        for (int I = Thread; I < Reports; I += 8) {
          const TStartRow Own{"HKCU\\Run\\own" + std::to_string(I % 10) + ".exe", "HKCU"};
          EXPECT_EQ(Uploader->Put("k" + std::to_string(I), SampleReport({OneDrive, Own}), 100 + I % 5),
                    TPutResult::Stored);
        }
      });
    }
    for (auto& Thread : Threads) Thread.join();
  }
  constexpr int Indexers = 3;
  std::unique_ptr<TPostgresqlStore> Stores[Indexers];
  for (auto& Store : Stores) Store = Open(1, false);
  std::atomic<int> Taken{0}, Failed{0}, Busy{Indexers};
  std::vector<std::thread> Threads;
  for (auto& Store : Stores) {
    Threads.emplace_back([&, Store = Store.get()] {
      for (int Batch = Store->IndexPending(); Batch != 0; Batch = Store->IndexPending()) {
        if (Batch < 0) {
          ++Failed;
          break;
        }
        Taken += Batch;
      }
      --Busy;
    });
  }
  const auto Counter = Open(1, false);
  while (Busy > 0) EXPECT_EQ(Counter->CountEntryReports("hkcu", "onedrive", 0), Reports);
  for (auto& Thread : Threads) Thread.join();
  EXPECT_EQ(Failed, 0);
  EXPECT_EQ(Taken, Reports);
  ExpectCounts(*Counter,
               {{"hkcu", "onedrive", 0, Reports}, {"hkcu", "onedrive", 104, Reports / 5},
                {"hkcu", "own3.exe", 0, Reports / 10}, {"hkcu", "own3.exe", 103, Reports / 10},
                {"hkcu", "own3.exe", 104, 0}},
               "indexed");
  EXPECT_EQ(Database.Integer("SELECT count(*) FROM unindexed_entries"), 0);
}

TEST_F(PostgresqlStoreTest, TheBackgroundIndexingTakesWhatWaits) {
  const auto Store = Open();
  ASSERT_EQ(Store->Put("a", SampleReport({OneDrive}), 100), TPutResult::Stored);
  long long Waiting = 1;
  for (int Wait = 0; Wait < 50 && Waiting != 0; ++Wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Waiting = Database.Integer("SELECT count(*) FROM unindexed_entries");
  }
  EXPECT_EQ(Waiting, 0);
  EXPECT_EQ(Store->CountEntryReports("hkcu", "onedrive", 0), 1);
}

TEST_F(PostgresqlStoreTest, DatabasesWithOneEntryRowPerReportAreCountedOnOpening) {
  // The tables as the store made them before it kept counts per second (its second version).
  const std::string Body = StoredReportText(SampleReport({OneDrive, Korean}));
  // Long enough to be stored compressed, the way the server did then.
  TReport Long = SampleReport();
  Long.Installed.push_back({std::string(20'000, 'x'), "Big"});
  const std::string LongBody = StoredReportText(Long);
  ASSERT_TRUE(Database.Execute(R"sql(
    CREATE TABLE nimbrel_schema (version integer NOT NULL);
    INSERT INTO nimbrel_schema VALUES (2);
    CREATE TABLE reports (
      id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, key text COLLATE "C" NOT NULL UNIQUE,
      created bigint NOT NULL, size bigint NOT NULL, body text NOT NULL);
    CREATE INDEX reports_created ON reports (created);
    CREATE TABLE report_entries (
      report_id bigint NOT NULL REFERENCES reports (id) ON DELETE CASCADE, source text COLLATE "C" NOT NULL,
      name text COLLATE "C" NOT NULL, created bigint NOT NULL, PRIMARY KEY (report_id, source, name));
    CREATE INDEX report_entries_count ON report_entries (source, name, created);
    CREATE TABLE usage (shard integer PRIMARY KEY, bytes bigint NOT NULL);
    INSERT INTO usage (shard, bytes) SELECT generate_series(0, 15), 0;
    UPDATE usage SET bytes = 300 WHERE shard = 0;
    CREATE TABLE holds (version text COLLATE "C" PRIMARY KEY, count bigint NOT NULL, last bigint NOT NULL DEFAULT 0);
    INSERT INTO reports (key, created, size, body) VALUES
      ('old1', 100, 100, $b$)sql" + Body + R"sql($b$), ('old2', 100, 100, $b$)sql" + Body +
                               R"sql($b$), ('old3', 200, 100, $b$)sql" + Body + R"sql($b$),
      ('long', 1000, 0, $b$)sql" + LongBody + R"sql($b$);
    INSERT INTO report_entries VALUES (1, 'hkcu', 'onedrive', 100), (2, 'hkcu', 'onedrive', 100),
      (3, 'hkcu', 'onedrive', 200), (3, 'file', '카카오톡 실행.lnk', 200), (3, 'hklm', 'a)sql" "\xEF\xBF\xBD" R"sql(b', 200);
  )sql")) << Database.SkipReason();
  {
    const auto Store = Open(2, false);
    ExpectCounts(*Store,
                 {{"hkcu", "onedrive", 0, 3}, {"hkcu", "onedrive", 101, 1}, {"file", "카카오톡 실행.lnk", 0, 1}},
                 "opened");
    // NUL and U+FFFD stay one text.
    EXPECT_EQ(Store->CountEntryReports("hklm", std::string("a\0b", 3), 0), 1);
    EXPECT_TRUE(Store->Get("old2", 0));
    EXPECT_EQ(Store->UsedBytes(), 300);
    ASSERT_EQ(Store->Put("new", SampleReport({OneDrive}), 300), TPutResult::Stored);
    EXPECT_EQ(Store->DeleteBefore(150), 2);
    ExpectCounts(*Store, {{"hkcu", "onedrive", 0, 2}, {"file", "카카오톡 실행.lnk", 0, 1}}, "expired");
  }
  const auto Store = Open();  // opened again: nothing is counted twice
  ExpectCounts(*Store, {{"hkcu", "onedrive", 0, 2}, {"file", "카카오톡 실행.lnk", 0, 1}}, "reopened");
  EXPECT_EQ(Database.Integer("SELECT count(*) FROM pg_class WHERE relname LIKE 'report_entries%'"), 0);
  const auto Read = Store->Get("long", 0);
  ASSERT_TRUE(Read);
  EXPECT_EQ(StoredReportText(*Read), LongBody);
  ASSERT_EQ(Store->Put("new long", Long, 300), TPutResult::Stored);
  // Debian's server has lz4; one built without it keeps pglz for new texts too.
  if (Database.Integer("SELECT count(*) FROM pg_settings WHERE name = 'default_toast_compression' AND "
                       "'lz4' = ANY (enumvals)") == 1) {
    EXPECT_EQ(Database.Integer("SELECT count(*) FROM reports WHERE key = 'long' AND pg_column_compression(body) = 'pglz'"), 1);
    EXPECT_EQ(Database.Integer("SELECT count(*) FROM reports WHERE key = 'new long' AND pg_column_compression(body) = 'lz4'"), 1);
  }
}

TEST_F(PostgresqlStoreTest, TheCapHoldsWhatTheTablesTake) {
  constexpr std::int64_t Cap = 2'000'000;
  const auto Taken = [&] {
    Database.Execute("VACUUM ANALYZE");
    return Database.Integer("SELECT pg_total_relation_size('reports') + pg_total_relation_size('unindexed_entries') + "
                            "pg_total_relation_size('entry_counts')");
  };
  TPostgresqlStore Store(Database.Address(), Cap, 2, false);
  const long long EmptyBytes = Taken();
  const int Stored = FillToTheCap(Store, [&] {
    while (Store.IndexPending() > 0) {
    }
  });
  const long long Bytes = Taken() - EmptyBytes;
  std::printf("%d reports stored; the cap counts %lld bytes, the tables take %lld more than empty ones\n", Stored,
              static_cast<long long>(Store.UsedBytes()), Bytes);
  EXPECT_GT(Stored, 10);
  EXPECT_LE(Bytes, Cap);
  EXPECT_GE(Bytes, Cap / 2) << "the cap counts far more than the tables take";
}

TEST_F(PostgresqlStoreTest, StoresStartingAtOnceOnAnEmptyDatabaseShareTheTablesAndTheKeys) {
  constexpr int Count = 4;
  std::unique_ptr<TPostgresqlStore> Stores[Count];
  std::string Errors[Count];
  std::atomic<bool> Go{false};
  std::vector<std::thread> Starts;
  for (int I = 0; I < Count; ++I) {
    Starts.emplace_back([&, I] {
      while (!Go) std::this_thread::yield();
      try {
        Stores[I] = Open();
      } catch (const std::exception& Error) {
        Errors[I] = Error.what();
      }
    });
  }
  Go = true;
  for (auto& Start : Starts) Start.join();
  for (int I = 0; I < Count; ++I) ASSERT_TRUE(Stores[I]) << Errors[I];
  EXPECT_FALSE(Stores[0]->IsSuperuser());

  ASSERT_EQ(Stores[0]->Put("shared", SampleReport({OneDrive}), 100), TPutResult::Stored);
  EXPECT_EQ(Stores[1]->Put("shared", SampleReport(), 100), TPutResult::KeyTaken);
  ASSERT_EQ(Stores[2]->Put("other", SampleReport({OneDrive}), 100), TPutResult::Stored);
  const auto Read = Stores[3]->Get("shared", 0);
  ASSERT_TRUE(Read);
  EXPECT_EQ(StoredReportText(*Read), StoredReportText(SampleReport({OneDrive})));
  EXPECT_EQ(Stores[1]->CountEntryReports("hkcu", "onedrive", 0), 2);
  EXPECT_EQ(Stores[0]->UsedBytes(), Stores[3]->UsedBytes());
  EXPECT_EQ(Stores[3]->DeleteBefore(1000), 2);
  EXPECT_EQ(Stores[0]->UsedBytes(), 0);
}

TEST_F(PostgresqlStoreTest, GroupsCommittingAtOnceFromSeveralStoresAllGoIn) {
  // Two processes' worth of uploads, each store committing two groups at once: no group may end up
  // waiting for another that waits for it.
  constexpr int Stores = 3, ThreadsPerStore = 8, PutsPerThread = 20;
  std::unique_ptr<TPostgresqlStore> Opened[Stores];
  for (auto& Store : Opened) Store = std::make_unique<TPostgresqlStore>(Database.Address(), std::int64_t{1} << 30, 4);
  std::atomic<int> Failed{0};
  std::vector<std::thread> Threads;
  for (int Thread = 0; Thread < Stores * ThreadsPerStore; ++Thread) {
    Threads.emplace_back([&, Thread] {
      for (int I = 0; I < PutsPerThread; ++I) {
        const std::string Key = "k" + std::to_string(Thread) + "-" + std::to_string(I);
        if (Opened[Thread % Stores]->Put(Key, HundredEntryReport(Thread * PutsPerThread + I), 100) != TPutResult::Stored) {
          ++Failed;
        }
      }
    });
  }
  for (auto& Thread : Threads) Thread.join();
  EXPECT_EQ(Failed, 0);
  EXPECT_EQ(Opened[1]->DeleteBefore(1000), Stores * ThreadsPerStore * PutsPerThread);
  EXPECT_EQ(Opened[0]->UsedBytes(), 0);
}

TEST_F(PostgresqlStoreTest, TablesOfALaterVersionAreRefused) {
  Open();
  ASSERT_TRUE(Database.Execute("UPDATE nimbrel_schema SET version = version + 1"));
  try {
    Open();
    ADD_FAILURE() << "opened";
  } catch (const std::runtime_error& Error) {
    EXPECT_NE(std::string(Error.what()).find("later version"), std::string::npos) << Error.what();
  }
}

TEST_F(PostgresqlStoreTest, ConnectionsEndedByTheServerAreOpenedAgain) {
  const auto Store = Open(2);
  ASSERT_EQ(Store->Put("before", SampleReport({OneDrive}), 100), TPutResult::Stored);
  ASSERT_TRUE(Database.Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                               "WHERE application_name = 'nimbrel-service' AND datname = current_database()"));
  EXPECT_TRUE(Store->Get("before", 0));
  EXPECT_EQ(Store->Put("after", SampleReport({OneDrive}), 100), TPutResult::Stored);
  EXPECT_EQ(Store->CountEntryReports("hkcu", "onedrive", 0), 2);
}

}  // namespace
}  // namespace nimbrel::service
