// The SQLite store: one connection behind a lock, prepared statements, one transaction per report.
#include "sqlite_store.h"

#include <sqlite3.h>

#include <chrono>
#include <stdexcept>
#include <utility>

#include "stored_form.h"

namespace nimbrel::service {
namespace {

constexpr const char* Schema = R"sql(
PRAGMA journal_mode = WAL;
PRAGMA synchronous = NORMAL;
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
-- One row per entry and report; "created" repeats the report's, so that counting stays within
-- this table's contiguous rows instead of visiting every report.
CREATE TABLE IF NOT EXISTS report_entries (
  source TEXT NOT NULL,
  name TEXT NOT NULL,
  report_id INTEGER NOT NULL REFERENCES reports (id) ON DELETE CASCADE,
  created INTEGER NOT NULL,
  PRIMARY KEY (source, name, report_id)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS report_entries_report ON report_entries (report_id);
CREATE TABLE IF NOT EXISTS usage (id INTEGER PRIMARY KEY CHECK (id = 1), bytes INTEGER NOT NULL);
INSERT OR IGNORE INTO usage (id, bytes) VALUES (1, 0);
CREATE TRIGGER IF NOT EXISTS reports_added AFTER INSERT ON reports
  BEGIN UPDATE usage SET bytes = bytes + NEW.size WHERE id = 1; END;
CREATE TRIGGER IF NOT EXISTS reports_removed AFTER DELETE ON reports
  BEGIN UPDATE usage SET bytes = bytes - OLD.size WHERE id = 1; END;
CREATE TABLE IF NOT EXISTS holds (version TEXT PRIMARY KEY, count INTEGER NOT NULL) WITHOUT ROWID;
)sql";

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

  bool Text(int Index, const std::string& Value) {
    return sqlite3_bind_text(FStatement, Index, Value.data(), static_cast<int>(Value.size()), SQLITE_TRANSIENT) ==
           SQLITE_OK;
  }
  bool Integer(int Index, std::int64_t Value) { return sqlite3_bind_int64(FStatement, Index, Value) == SQLITE_OK; }
  int Step() { return sqlite3_step(FStatement); }
  std::int64_t IntegerColumn(int Column) { return sqlite3_column_int64(FStatement, Column); }
  std::string TextColumn(int Column) {
    const auto* Data = reinterpret_cast<const char*>(sqlite3_column_text(FStatement, Column));
    return Data == nullptr ? std::string() : std::string(Data, static_cast<size_t>(sqlite3_column_bytes(FStatement, Column)));
  }

 private:
  sqlite3_stmt* FStatement;
};

}  // namespace

void TSqliteStore::TDatabaseCloser::operator()(sqlite3* Database) const { sqlite3_close_v2(Database); }
void TSqliteStore::TStatementFinalizer::operator()(sqlite3_stmt* Statement) const { sqlite3_finalize(Statement); }

TSqliteStore::TSqliteStore(const std::filesystem::path& File, std::int64_t CapBytes) : FCapBytes(CapBytes) {
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
  FInsertReport = Prepare("INSERT INTO reports (key, created, size, body) VALUES (?1, ?2, ?3, ?4)");
  FInsertEntry =
      Prepare("INSERT OR IGNORE INTO report_entries (source, name, report_id, created) VALUES (?1, ?2, ?3, ?4)");
  FSelectReport = Prepare("SELECT body FROM reports WHERE key = ?1 AND created >= ?2");
  FCountEntries = Prepare("SELECT count(*) FROM report_entries WHERE source = ?1 AND name = ?2 AND created >= ?3");
  FDeleteBefore = Prepare("DELETE FROM reports WHERE created < ?1");
  FAddHold = Prepare(
      "INSERT INTO holds (version, count) VALUES (?1, 1) ON CONFLICT (version) DO UPDATE SET count = count + 1");
  FSelectHold = Prepare("SELECT count FROM holds WHERE version = ?1");
  FSelectUsage = Prepare("SELECT bytes FROM usage WHERE id = 1");

  // The checkpointer copies the log twice a second, but under steady writes its passive copies
  // rarely let the log start over, so the request connection still copies it every 4 MiB. That
  // copy holds one upload for its sync: a small log keeps that pause short (a 64-MiB log held an
  // upload for over 100 ms).
  Execute("PRAGMA wal_autocheckpoint = 1024");
  sqlite3* Checkpointing = nullptr;
  if (sqlite3_open_v2(File.c_str(), &Checkpointing, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
    FCheckpointDatabase.reset(Checkpointing);
    FCheckpointer = std::thread([this] { Checkpoint(); });
  } else {
    sqlite3_close_v2(Checkpointing);
    Execute("PRAGMA wal_autocheckpoint = 1000");
  }
}

TSqliteStore::~TSqliteStore() {
  {
    const std::lock_guard Lock(FCheckpointLock);
    FStopping = true;
  }
  FCheckpointStop.notify_all();
  if (FCheckpointer.joinable()) FCheckpointer.join();
}

void TSqliteStore::Checkpoint() {
  std::unique_lock Lock(FCheckpointLock);
  while (!FCheckpointStop.wait_for(Lock, std::chrono::milliseconds(500), [this] { return FStopping; })) {
    Lock.unlock();
    // Passive: copies what no reader still needs and never waits for the request connection.
    sqlite3_wal_checkpoint_v2(FCheckpointDatabase.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    Lock.lock();
  }
}

TSqliteStore::TStatement TSqliteStore::Prepare(const char* Sql) {
  sqlite3_stmt* Statement = nullptr;
  if (sqlite3_prepare_v3(FDatabase.get(), Sql, -1, SQLITE_PREPARE_PERSISTENT, &Statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("cannot prepare a statement: ") + sqlite3_errmsg(FDatabase.get()));
  }
  return TStatement(Statement);
}

bool TSqliteStore::Execute(const char* Sql) {
  return sqlite3_exec(FDatabase.get(), Sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

TPutResult TSqliteStore::Put(const std::string& Key, const TReport& Report, std::int64_t Now) {
  const TStoredForm Form = MakeStoredForm(Report);  // before the lock: other requests need not wait for it
  const std::lock_guard Lock(FLock);
  if (!Execute("BEGIN IMMEDIATE")) return TPutResult::Failed;
  const TPutResult Result = PutInTransaction(Key, Form, Now);
  if (Result == TPutResult::Stored && Execute("COMMIT")) return Result;
  Execute("ROLLBACK");
  return Result == TPutResult::Stored ? TPutResult::Failed : Result;
}

TPutResult TSqliteStore::PutInTransaction(const std::string& Key, const TStoredForm& Form, std::int64_t Now) {
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
    if (!Insert.Text(1, Key) || !Insert.Integer(2, Now) || !Insert.Integer(3, Form.Size) || !Insert.Text(4, Form.Body)) {
      return TPutResult::Failed;
    }
    const int Step = Insert.Step();
    if (Step == SQLITE_CONSTRAINT && sqlite3_extended_errcode(FDatabase.get()) == SQLITE_CONSTRAINT_UNIQUE) {
      return TPutResult::KeyTaken;
    }
    if (Step != SQLITE_DONE) return TPutResult::Failed;
    ReportId = sqlite3_last_insert_rowid(FDatabase.get());
  }
  for (const auto& [From, Name] : Form.Entries) {
    TStatementUse Insert(FInsertEntry.get());
    if (!Insert.Text(1, From) || !Insert.Text(2, Name) || !Insert.Integer(3, ReportId) || !Insert.Integer(4, Now)) {
      return TPutResult::Failed;
    }
    if (Insert.Step() != SQLITE_DONE) return TPutResult::Failed;
  }
  return TPutResult::Stored;
}

std::optional<TReport> TSqliteStore::Get(const std::string& Key, std::int64_t NotBefore) {
  std::string Body;
  {
    const std::lock_guard Lock(FLock);
    TStatementUse Select(FSelectReport.get());
    if (!Select.Text(1, Key) || !Select.Integer(2, NotBefore) || Select.Step() != SQLITE_ROW) return std::nullopt;
    Body = Select.TextColumn(0);
  }
  return ReadStoredReport(Body);
}

std::optional<std::int64_t> TSqliteStore::CountEntryReports(const std::string& From, const std::string& Name,
                                                            std::int64_t NotBefore) {
  const std::lock_guard Lock(FLock);
  TStatementUse Count(FCountEntries.get());
  if (!Count.Text(1, From) || !Count.Text(2, Name) || !Count.Integer(3, NotBefore) || Count.Step() != SQLITE_ROW) {
    return std::nullopt;
  }
  return Count.IntegerColumn(0);
}

std::optional<std::int64_t> TSqliteStore::DeleteBefore(std::int64_t Cutoff) {
  const std::lock_guard Lock(FLock);
  TStatementUse Delete(FDeleteBefore.get());
  if (!Delete.Integer(1, Cutoff) || Delete.Step() != SQLITE_DONE) return std::nullopt;
  return sqlite3_changes64(FDatabase.get());
}

bool TSqliteStore::AddHold(const std::string& Version) {
  const std::lock_guard Lock(FLock);
  TStatementUse Add(FAddHold.get());
  return Add.Text(1, Version) && Add.Step() == SQLITE_DONE;
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
