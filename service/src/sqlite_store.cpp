// The SQLite store: one writing connection behind a lock and a few read connections, prepared
// statements, and uploads that arrive together committed in one transaction, a savepoint each.
#include "sqlite_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "stored_form.h"

namespace nimbrel::service {
namespace {

constexpr const char* Schema = R"sql(
-- Taken by new files only; a file keeps the page size it was made with. A 47 KB report takes half
-- as many pages as with 4 KiB, and so half as many writes to the log and copies out of it.
PRAGMA page_size = 8192;
PRAGMA journal_mode = WAL;
PRAGMA synchronous = FULL;
PRAGMA foreign_keys = ON;
PRAGMA secure_delete = ON;
CREATE TABLE IF NOT EXISTS reports (
  id INTEGER PRIMARY KEY,
  key TEXT NOT NULL UNIQUE,
  created INTEGER NOT NULL,
  size INTEGER NOT NULL,
  body TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS reports_created ON reports (created);
CREATE TABLE IF NOT EXISTS usage (id INTEGER PRIMARY KEY CHECK (id = 1), bytes INTEGER NOT NULL);
INSERT OR IGNORE INTO usage (id, bytes) VALUES (1, 0);
CREATE TRIGGER IF NOT EXISTS reports_added AFTER INSERT ON reports
  BEGIN UPDATE usage SET bytes = bytes + NEW.size WHERE id = 1; END;
CREATE TRIGGER IF NOT EXISTS reports_removed AFTER DELETE ON reports
  BEGIN UPDATE usage SET bytes = bytes - OLD.size WHERE id = 1; END;
-- "last": the latest hold request's time; a version silent for the retention time is deleted.
CREATE TABLE IF NOT EXISTS holds (version TEXT PRIMARY KEY, count INTEGER NOT NULL, last INTEGER NOT NULL DEFAULT 0)
  WITHOUT ROWID;
-- How many reports stored in each second list each entry. Only reports stored before some time
-- are ever deleted, so the rows of those seconds go with them and every count stays exact.
CREATE TABLE IF NOT EXISTS entry_counts (
  source TEXT NOT NULL,
  name TEXT NOT NULL,
  created INTEGER NOT NULL,
  reports INTEGER NOT NULL,
  PRIMARY KEY (source, name, created)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS entry_counts_created ON entry_counts (created);
-- The entries of stored reports that entry_counts does not hold yet, one row per report in the
-- order they came (see IndexPending). A report's entries fall on as many pages of entry_counts
-- (a hundred is common); adding many reports' at once writes each of those pages once, and
-- reports of the same second share their rows.
CREATE TABLE IF NOT EXISTS unindexed_entries (
  report_id INTEGER PRIMARY KEY REFERENCES reports (id) ON DELETE CASCADE,
  created INTEGER NOT NULL,
  entries BLOB NOT NULL
);
)sql";

// Files written before entry_counts kept one row per entry and report; they are counted into it
// once, in one transaction, whichever process opens the file first.
constexpr const char* CountEarlierEntries = R"sql(
INSERT INTO entry_counts (source, name, created, reports)
  SELECT source, name, created, count(*) FROM report_entries GROUP BY source, name, created;
DROP TABLE report_entries;
)sql";

// Reports indexed in one transaction at most: bounds how long an upload waits for the index.
constexpr int IndexBatchReports = 256;

// Uploads committed in one transaction at most.
constexpr size_t MaxGroupPuts = 64;

// Read connections: as many page reads at once, each in a read transaction of its own.
constexpr int ReaderCount = 4;

// A report's entries as one blob: for each, the "from" and then the name, each as a 4-byte
// little-endian length and its bytes. Texts may hold any byte, NUL included.
void AppendText(std::string& Blob, const std::string& Text) {
  const auto Size = static_cast<std::uint32_t>(Text.size());
  for (int Shift = 0; Shift < 32; Shift += 8) Blob += static_cast<char>((Size >> Shift) & 0xFF);
  Blob += Text;
}

std::string EncodeEntries(const std::set<std::pair<std::string, std::string>>& Entries) {
  std::string Blob;
  for (const auto& [From, Name] : Entries) {
    AppendText(Blob, From);
    AppendText(Blob, Name);
  }
  return Blob;
}

// Calls Visit(From, Name) for each entry of a blob from EncodeEntries until it answers false;
// false when the blob is cut short.
template <typename TVisit>
bool VisitEntries(std::string_view Blob, TVisit&& Visit) {
  const auto Take = [&Blob](std::string_view& Text) {
    if (Blob.size() < 4) return false;
    std::uint32_t Size = 0;
    for (int I = 3; I >= 0; --I) Size = (Size << 8) | static_cast<unsigned char>(Blob[static_cast<size_t>(I)]);
    Blob.remove_prefix(4);
    if (Blob.size() < Size) return false;
    Text = Blob.substr(0, Size);
    Blob.remove_prefix(Size);
    return true;
  };
  while (!Blob.empty()) {
    std::string_view From, Name;
    if (!Take(From) || !Take(Name)) return false;
    if (!Visit(From, Name)) return true;
  }
  return true;
}

// One row of entry_counts: an entry and the second its reports were stored in.
struct TCountRow {
  std::string_view From, Name;
  std::int64_t Created;
  bool operator==(const TCountRow& Other) const {
    return Created == Other.Created && From == Other.From && Name == Other.Name;
  }
  bool operator<(const TCountRow& Other) const {
    if (const int Order = From.compare(Other.From); Order != 0) return Order < 0;
    if (const int Order = Name.compare(Other.Name); Order != 0) return Order < 0;
    return Created < Other.Created;
  }
};

struct TCountRowHash {
  size_t operator()(const TCountRow& Row) const {
    const std::hash<std::string_view> Text;
    return Text(Row.From) ^ (Text(Row.Name) * 31) ^ static_cast<size_t>(Row.Created);
  }
};

// Resets a statement and its bindings when the caller is done with it, whatever path it leaves by.
class TStatementUse {
 public:
  explicit TStatementUse(sqlite3_stmt* Statement) : FStatement(Statement) {}
  ~TStatementUse() {
    sqlite3_reset(FStatement);
    sqlite3_clear_bindings(FStatement);
  }
  TStatementUse(const TStatementUse&) = delete;
  TStatementUse& operator=(const TStatementUse&) = delete;

  // Text and Blob bind Value without a copy: it must outlive this use.
  bool Text(int Index, std::string_view Value) {
    return sqlite3_bind_text(FStatement, Index, Value.data(), static_cast<int>(Value.size()), SQLITE_STATIC) ==
           SQLITE_OK;
  }
  bool Blob(int Index, std::string_view Value) {
    return sqlite3_bind_blob(FStatement, Index, Value.data(), static_cast<int>(Value.size()), SQLITE_STATIC) ==
           SQLITE_OK;
  }
  bool Integer(int Index, std::int64_t Value) { return sqlite3_bind_int64(FStatement, Index, Value) == SQLITE_OK; }
  int Step() { return sqlite3_step(FStatement); }
  std::int64_t IntegerColumn(int Column) { return sqlite3_column_int64(FStatement, Column); }
  std::string TextColumn(int Column) {
    const auto* Data = reinterpret_cast<const char*>(sqlite3_column_text(FStatement, Column));
    return Data == nullptr ? std::string() : std::string(Data, static_cast<size_t>(sqlite3_column_bytes(FStatement, Column)));
  }
  // Valid until the next step or reset.
  std::string_view BlobColumn(int Column) {
    const auto* Data = static_cast<const char*>(sqlite3_column_blob(FStatement, Column));
    return Data == nullptr ? std::string_view()
                           : std::string_view(Data, static_cast<size_t>(sqlite3_column_bytes(FStatement, Column)));
  }

 private:
  sqlite3_stmt* FStatement;
};

}  // namespace

void TSqliteStore::TDatabaseCloser::operator()(sqlite3* Database) const { sqlite3_close_v2(Database); }
void TSqliteStore::TStatementFinalizer::operator()(sqlite3_stmt* Statement) const { sqlite3_finalize(Statement); }

// One read connection lent to one caller until the lease ends.
class TSqliteStore::TReaderLease {
 public:
  TReaderLease(TSqliteStore& Store, TReader& Reader) : FStore(Store), FReader(Reader) {}
  ~TReaderLease() {
    {
      const std::lock_guard Lock(FStore.FReaderLock);
      FStore.FIdleReaders.push_back(&FReader);
    }
    FStore.FReaderFree.notify_one();
  }
  TReaderLease(const TReaderLease&) = delete;
  TReaderLease& operator=(const TReaderLease&) = delete;
  TReader* operator->() const { return &FReader; }

 private:
  TSqliteStore& FStore;
  TReader& FReader;
};

TSqliteStore::TReaderLease TSqliteStore::TakeReader() {
  std::unique_lock Lock(FReaderLock);
  FReaderFree.wait(Lock, [this] { return !FIdleReaders.empty(); });
  TReader* Reader = FIdleReaders.back();
  FIdleReaders.pop_back();
  return TReaderLease(*this, *Reader);
}

TSqliteStore::TSqliteStore(const std::filesystem::path& File, std::int64_t CapBytes, bool IndexInBackground)
    : FGroups(MaxGroupPuts, 1), FCapBytes(CapBytes) {
  sqlite3* Opened = nullptr;
  const int Result = sqlite3_open_v2(File.c_str(), &Opened,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  FDatabase.reset(Opened);
  if (Result != SQLITE_OK) {
    throw std::runtime_error("cannot open " + File.string() + ": " +
                             (Opened != nullptr ? sqlite3_errmsg(Opened) : sqlite3_errstr(Result)));
  }
  sqlite3_busy_timeout(FDatabase.get(), 5000);
  if (!Execute(Schema)) throw std::runtime_error("cannot set up " + File.string() + ": " + sqlite3_errmsg(FDatabase.get()));
  // Files written before holds expired have no "last"; their rows go at the first expiry.
  if (!HasColumn("holds", "last") && !Execute("ALTER TABLE holds ADD COLUMN last INTEGER NOT NULL DEFAULT 0") &&
      !HasColumn("holds", "last")) {
    throw std::runtime_error("cannot set up " + File.string() + ": " + sqlite3_errmsg(FDatabase.get()));
  }
  if (!CountEarlierReports()) {
    throw std::runtime_error("cannot count the entries of " + File.string() + ": " + sqlite3_errmsg(FDatabase.get()));
  }
  FBegin = Prepare("BEGIN IMMEDIATE");
  FCommit = Prepare("COMMIT");
  FSavepoint = Prepare("SAVEPOINT upload");
  FRelease = Prepare("RELEASE upload");
  FInsertReport = Prepare("INSERT INTO reports (key, created, size, body) VALUES (?1, ?2, ?3, ?4)");
  FInsertUnindexed = Prepare("INSERT INTO unindexed_entries (report_id, created, entries) VALUES (?1, ?2, ?3)");
  FSelectUnindexed = Prepare("SELECT report_id, created, entries FROM unindexed_entries ORDER BY report_id LIMIT ?1");
  FDeleteUnindexed = Prepare("DELETE FROM unindexed_entries WHERE report_id <= ?1");
  FAddEntryCount = Prepare(
      "INSERT INTO entry_counts (source, name, created, reports) VALUES (?1, ?2, ?3, ?4) "
      "ON CONFLICT (source, name, created) DO UPDATE SET reports = reports + excluded.reports");
  FDeleteBefore = Prepare("DELETE FROM reports WHERE created < ?1");
  FDeleteCountsBefore = Prepare("DELETE FROM entry_counts WHERE created < ?1");
  FDeleteHoldsBefore = Prepare("DELETE FROM holds WHERE last < ?1");
  FAddHold = Prepare(
      "INSERT INTO holds (version, count, last) SELECT ?1, 1, ?2 "
      "WHERE (SELECT count(*) FROM holds) < ?3 OR EXISTS (SELECT 1 FROM holds WHERE version = ?1) "
      "ON CONFLICT (version) DO UPDATE SET count = count + 1, last = max(last, excluded.last)");
  FSelectHold = Prepare("SELECT count FROM holds WHERE version = ?1");
  FSelectUsage = Prepare("SELECT bytes FROM usage WHERE id = 1");

  for (int I = 0; I < ReaderCount; ++I) {
    sqlite3* Reading = nullptr;
    const int Opened = sqlite3_open_v2(File.c_str(), &Reading, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto Reader = std::make_unique<TReader>();
    Reader->Database.reset(Reading);
    if (Opened != SQLITE_OK) {
      throw std::runtime_error("cannot open " + File.string() + ": " +
                               (Reading != nullptr ? sqlite3_errmsg(Reading) : sqlite3_errstr(Opened)));
    }
    // Only a log being recovered after a crash holds a reader up.
    sqlite3_busy_timeout(Reading, 1000);
    sqlite3_exec(Reading, "PRAGMA query_only = ON", nullptr, nullptr, nullptr);
    Reader->SelectReport = Prepare(Reading, "SELECT body FROM reports WHERE key = ?1 AND created >= ?2");
    Reader->CountEntries = Prepare(
        Reading, "SELECT coalesce(sum(reports), 0) FROM entry_counts WHERE source = ?1 AND name = ?2 AND created >= ?3");
    Reader->SelectUnindexedSince = Prepare(Reading, "SELECT entries FROM unindexed_entries WHERE created >= ?1");
    Reader->AnyUnindexed = Prepare(Reading, "SELECT EXISTS (SELECT 1 FROM unindexed_entries)");
    FIdleReaders.push_back(Reader.get());
    FReaders.push_back(std::move(Reader));
  }

  // The maintenance thread copies the log twice a second, but under steady writes its passive
  // copies rarely let the log start over, so the request connection still copies it every 4 MiB.
  // That copy holds one upload for its sync: a small log keeps that pause short (a 64-MiB log held
  // an upload for over 100 ms).
  SetLogCopyBytes(4 * 1024 * 1024);
  sqlite3* Checkpointing = nullptr;
  // A connection copies nothing until it has read the database once: only then does it know the
  // file is in WAL mode and open the log.
  if (sqlite3_open_v2(File.c_str(), &Checkpointing, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK &&
      sqlite3_exec(Checkpointing, "PRAGMA synchronous = FULL; SELECT 1 FROM usage LIMIT 1", nullptr, nullptr,
                   nullptr) == SQLITE_OK) {
    FCheckpointDatabase.reset(Checkpointing);
  } else {
    sqlite3_close_v2(Checkpointing);
    Execute("PRAGMA wal_autocheckpoint = 1000");
  }
  if (IndexInBackground || FCheckpointDatabase) {
    FMaintainer = std::thread([this, IndexInBackground] { Maintain(IndexInBackground); });
  }
}

TSqliteStore::~TSqliteStore() {
  {
    const std::lock_guard Lock(FMaintainLock);
    FStopping = true;
  }
  FMaintainStop.notify_all();
  if (FMaintainer.joinable()) FMaintainer.join();
}

void TSqliteStore::Maintain(bool Index) {
  constexpr auto IndexInterval = std::chrono::milliseconds(100);
  constexpr int IndexesPerCheckpoint = 5;
  int UntilCheckpoint = IndexesPerCheckpoint;
  std::unique_lock Lock(FMaintainLock);
  while (!FMaintainStop.wait_for(Lock, IndexInterval, [this] { return FStopping; })) {
    Lock.unlock();
    // A failed batch stays where it is and is tried again next time; the counts include it meanwhile.
    if (Index) {
      while (IndexPending() == IndexBatchReports) {
        const std::lock_guard Stop(FMaintainLock);
        if (FStopping) break;
      }
    }
    if (FCheckpointDatabase && --UntilCheckpoint == 0) {
      UntilCheckpoint = IndexesPerCheckpoint;
      // Passive: copies what no reader still needs and never waits for the request connection.
      sqlite3_wal_checkpoint_v2(FCheckpointDatabase.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    Lock.lock();
  }
}

bool TSqliteStore::HasColumn(const char* Table, const char* Column) {
  sqlite3_stmt* Statement = nullptr;
  const std::string Sql = std::string("SELECT 1 FROM pragma_table_info('") + Table + "') WHERE name = ?1";
  if (sqlite3_prepare_v2(FDatabase.get(), Sql.c_str(), -1, &Statement, nullptr) != SQLITE_OK) return false;
  const TStatement Owned(Statement);
  sqlite3_bind_text(Statement, 1, Column, -1, SQLITE_STATIC);
  return sqlite3_step(Statement) == SQLITE_ROW;
}

bool TSqliteStore::CountEarlierReports() {
  const auto HasEarlierTable = [this] {
    sqlite3_stmt* Statement = nullptr;
    if (sqlite3_prepare_v2(FDatabase.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'report_entries'",
                           -1, &Statement, nullptr) != SQLITE_OK) {
      return false;
    }
    const TStatement Owned(Statement);
    return sqlite3_step(Statement) == SQLITE_ROW;
  };
  if (!HasEarlierTable()) return true;
  if (!Execute("BEGIN IMMEDIATE")) return false;
  // Another process may have counted them while this one waited.
  if (HasEarlierTable() && !Execute(CountEarlierEntries)) {
    Execute("ROLLBACK");
    return false;
  }
  if (Execute("COMMIT")) return true;
  Execute("ROLLBACK");
  return false;
}

int TSqliteStore::IndexPending() {
  {
    // Looked at first on a read connection: with nothing waiting, no write lock is asked for, so
    // neither this store's requests nor another process wait on it.
    const TReaderLease Reader = TakeReader();
    TStatementUse Any(Reader->AnyUnindexed.get());
    const int Step = Any.Step();
    if (Step != SQLITE_ROW) return -1;
    if (Any.IntegerColumn(0) == 0) return 0;
  }
  const std::lock_guard Lock(FLock);
  if (!Run(FBegin)) return -1;
  // The blobs stay owned here while their rows are added.
  std::vector<std::string> Blobs;
  // Reports of the same second share their rows: counted here first, and only the distinct rows sorted.
  std::unordered_map<TCountRow, std::int64_t, TCountRowHash> Counts;
  std::int64_t LastReport = 0;
  bool Done = true;
  {
    TStatementUse Select(FSelectUnindexed.get());
    Done = Select.Integer(1, IndexBatchReports);
    std::vector<std::int64_t> Created;  // one per blob
    while (Done) {
      const int Step = Select.Step();
      if (Step == SQLITE_DONE) break;
      Done = Step == SQLITE_ROW;
      if (!Done) break;
      LastReport = Select.IntegerColumn(0);
      Created.push_back(Select.IntegerColumn(1));
      Blobs.emplace_back(Select.BlobColumn(2));
    }
    for (size_t I = 0; Done && I < Blobs.size(); ++I) {
      Done = VisitEntries(Blobs[I], [&](std::string_view From, std::string_view Name) {
        ++Counts[TCountRow{From, Name, Created[I]}];
        return true;
      });
    }
  }
  // In key order, one row per entry and second, so that the index is walked once from start to end.
  std::vector<std::pair<TCountRow, std::int64_t>> Rows(Counts.begin(), Counts.end());
  std::sort(Rows.begin(), Rows.end(), [](const auto& A, const auto& B) { return A.first < B.first; });
  for (size_t I = 0; Done && I < Rows.size(); ++I) {
    const auto& [Row, Reports] = Rows[I];
    TStatementUse Add(FAddEntryCount.get());
    Done = Add.Text(1, Row.From) && Add.Text(2, Row.Name) && Add.Integer(3, Row.Created) && Add.Integer(4, Reports) &&
           Add.Step() == SQLITE_DONE;
  }
  if (Done && !Blobs.empty()) {
    TStatementUse Delete(FDeleteUnindexed.get());
    Done = Delete.Integer(1, LastReport) && Delete.Step() == SQLITE_DONE;
  }
  if (Done && Run(FCommit)) return static_cast<int>(Blobs.size());
  Execute("ROLLBACK");
  return -1;
}

TSqliteStore::TStatement TSqliteStore::Prepare(const char* Sql) { return Prepare(FDatabase.get(), Sql); }

TSqliteStore::TStatement TSqliteStore::Prepare(sqlite3* Database, const char* Sql) {
  sqlite3_stmt* Statement = nullptr;
  if (sqlite3_prepare_v3(Database, Sql, -1, SQLITE_PREPARE_PERSISTENT, &Statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("cannot prepare a statement: ") + sqlite3_errmsg(Database));
  }
  return TStatement(Statement);
}


bool TSqliteStore::Run(const TStatement& Statement) {
  const bool Done = sqlite3_step(Statement.get()) == SQLITE_DONE;
  sqlite3_reset(Statement.get());
  return Done;
}

void TSqliteStore::SetLogCopyBytes(std::int64_t Bytes) {
  TStatement PageSize = Prepare("PRAGMA page_size");
  const std::int64_t Page = sqlite3_step(PageSize.get()) == SQLITE_ROW ? sqlite3_column_int64(PageSize.get(), 0) : 4096;
  sqlite3_wal_autocheckpoint(FDatabase.get(), static_cast<int>(Bytes / std::max<std::int64_t>(Page, 512)));
}

bool TSqliteStore::Execute(const char* Sql) {
  return sqlite3_exec(FDatabase.get(), Sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

TPutResult TSqliteStore::Put(const std::string& Key, const TReport& Report, std::int64_t Now) {
  // Before the lock: other requests need not wait for them.
  const TStoredForm Form = MakeStoredForm(Report);
  const std::string Entries = EncodeEntries(Form.Entries);
  TPendingPut Mine{Key, Form, Entries, Now};
  return FGroups.Join(Mine, [this](const std::vector<TPendingPut*>& Group) {
    const std::lock_guard Lock(FLock);
    try {
      CommitGroup(Group);
    } catch (...) {  // the next group finds no transaction open
      if (sqlite3_get_autocommit(FDatabase.get()) == 0) Execute("ROLLBACK");
      throw;
    }
  });
}

void TSqliteStore::CommitGroup(const std::vector<TPendingPut*>& Group) {
  // Each upload in a savepoint of its own, so that one that fails leaves the others as if it had
  // not been there. An error that ends the whole transaction (a full disk, an I/O error) fails
  // that upload alone: the others are stored again in a new transaction.
  std::vector<bool> Final(Group.size(), false);
  for (bool Again = true; Again;) {
    Again = false;
    if (!Run(FBegin)) {
      for (size_t I = 0; I < Group.size(); ++I) {
        if (!Final[I]) Group[I]->Result = TPutResult::Failed;
      }
      return;
    }
    for (size_t I = 0; I < Group.size() && !Again; ++I) {
      if (Final[I]) continue;
      TPendingPut& Pending = *Group[I];
      if (!Run(FSavepoint)) {
        Pending.Result = TPutResult::Failed;
      } else {
        Pending.Result = PutInTransaction(Pending);
      }
      if (Pending.Result == TPutResult::Stored && Run(FRelease)) continue;
      if (Pending.Result == TPutResult::Stored) Pending.Result = TPutResult::Failed;
      Final[I] = true;
      if (sqlite3_get_autocommit(FDatabase.get()) != 0 ||
          !(Execute("ROLLBACK TO upload") && Run(FRelease))) {
        Execute("ROLLBACK");
        Again = true;
      }
    }
    if (Again) continue;
    if (Run(FCommit)) return;
    Execute("ROLLBACK");
    for (size_t I = 0; I < Group.size(); ++I) {
      if (!Final[I]) Group[I]->Result = TPutResult::Failed;
    }
  }
}

TPutResult TSqliteStore::PutInTransaction(const TPendingPut& Pending) {
  const TStoredForm& Form = Pending.Form;
  std::int64_t Used = 0;
  {
    TStatementUse Usage(FSelectUsage.get());
    if (Usage.Step() != SQLITE_ROW) return TPutResult::Failed;
    Used = Usage.IntegerColumn(0);
  }
  if (Used + Form.Size > FCapBytes) return TPutResult::Full;

  std::int64_t ReportId = 0;
  {
    TStatementUse Insert(FInsertReport.get());
    if (!Insert.Text(1, Pending.Key) || !Insert.Integer(2, Pending.Now) || !Insert.Integer(3, Form.Size) ||
        !Insert.Text(4, Form.Body)) {
      return TPutResult::Failed;
    }
    const int Step = Insert.Step();
    if (Step == SQLITE_CONSTRAINT && sqlite3_extended_errcode(FDatabase.get()) == SQLITE_CONSTRAINT_UNIQUE) {
      return TPutResult::KeyTaken;
    }
    if (Step != SQLITE_DONE) return TPutResult::Failed;
    ReportId = sqlite3_last_insert_rowid(FDatabase.get());
  }
  if (!Form.Entries.empty()) {
    TStatementUse Insert(FInsertUnindexed.get());
    if (!Insert.Integer(1, ReportId) || !Insert.Integer(2, Pending.Now) || !Insert.Blob(3, Pending.Entries) ||
        Insert.Step() != SQLITE_DONE) {
      return TPutResult::Failed;
    }
  }
  return TPutResult::Stored;
}

std::optional<TReport> TSqliteStore::Get(const std::string& Key, std::int64_t NotBefore) {
  std::string Body;
  {
    const TReaderLease Reader = TakeReader();
    TStatementUse Select(Reader->SelectReport.get());
    if (!Select.Text(1, Key) || !Select.Integer(2, NotBefore) || Select.Step() != SQLITE_ROW) return std::nullopt;
    Body = Select.TextColumn(0);
  }
  return ReadStoredReport(Body);
}

std::optional<std::int64_t> TSqliteStore::CountEntryReports(const std::string& From, const std::string& Name,
                                                            std::int64_t NotBefore) {
  const TReaderLease Reader = TakeReader();
  sqlite3* Database = Reader->Database.get();
  // One read transaction, so that a batch indexed meanwhile is counted once.
  if (sqlite3_exec(Database, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return std::nullopt;
  std::optional<std::int64_t> Total;
  {
    TStatementUse Count(Reader->CountEntries.get());
    if (Count.Text(1, From) && Count.Text(2, Name) && Count.Integer(3, NotBefore) && Count.Step() == SQLITE_ROW) {
      Total = Count.IntegerColumn(0);
    }
  }
  if (Total) {
    TStatementUse Select(Reader->SelectUnindexedSince.get());
    int Step = Select.Integer(1, NotBefore) ? Select.Step() : SQLITE_ERROR;
    for (; Step == SQLITE_ROW && Total; Step = Select.Step()) {
      bool Listed = false;
      const bool Whole = VisitEntries(Select.BlobColumn(0), [&](std::string_view EntryFrom, std::string_view EntryName) {
        Listed = EntryFrom == From && EntryName == Name;
        return !Listed;
      });
      if (!Whole) Total.reset();
      if (Listed) ++*Total;
    }
    if (Step != SQLITE_DONE) Total.reset();
  }
  sqlite3_exec(Database, "COMMIT", nullptr, nullptr, nullptr);
  return Total;
}

std::optional<std::int64_t> TSqliteStore::DeleteBefore(std::int64_t Cutoff) {
  const std::lock_guard Lock(FLock);
  if (!Execute("BEGIN IMMEDIATE")) return std::nullopt;
  std::optional<std::int64_t> Deleted;
  {
    TStatementUse Delete(FDeleteBefore.get());
    if (Delete.Integer(1, Cutoff) && Delete.Step() == SQLITE_DONE) Deleted = sqlite3_changes64(FDatabase.get());
  }
  if (Deleted) {
    TStatementUse DeleteCounts(FDeleteCountsBefore.get());
    if (!DeleteCounts.Integer(1, Cutoff) || DeleteCounts.Step() != SQLITE_DONE) Deleted.reset();
  }
  if (Deleted) {
    TStatementUse DeleteHolds(FDeleteHoldsBefore.get());
    if (!DeleteHolds.Integer(1, Cutoff) || DeleteHolds.Step() != SQLITE_DONE) Deleted.reset();
  }
  if (Deleted && Execute("COMMIT")) return Deleted;
  Execute("ROLLBACK");
  return std::nullopt;
}

bool TSqliteStore::AddHold(const std::string& Version, std::int64_t Now) {
  const std::lock_guard Lock(FLock);
  TStatementUse Add(FAddHold.get());
  return Add.Text(1, Version) && Add.Integer(2, Now) && Add.Integer(3, MaxHoldVersions) &&
         Add.Step() == SQLITE_DONE && sqlite3_changes(FDatabase.get()) == 1;
}

std::int64_t TSqliteStore::HoldCount(const std::string& Version) {
  const std::lock_guard Lock(FLock);
  TStatementUse Select(FSelectHold.get());
  if (!Select.Text(1, Version) || Select.Step() != SQLITE_ROW) return 0;
  return Select.IntegerColumn(0);
}

std::int64_t TSqliteStore::UsedBytes() {
  const std::lock_guard Lock(FLock);
  TStatementUse Select(FSelectUsage.get());
  return Select.Step() == SQLITE_ROW ? Select.IntegerColumn(0) : 0;
}

}  // namespace nimbrel::service
