// The PostgreSQL store: a small pool of connections, statements prepared on each, uploads that
// arrive together committed in one transaction, a statement and a savepoint each, and their
// entries taken into the count table later by a thread of the store's own.
#include "postgresql_store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <set>
#include <stdexcept>
#include <utility>

#include "stored_form.h"

namespace nimbrel::service {
namespace {

// Uploads committed in one transaction at most. Each is a subtransaction of its own, and beyond
// 64 of those in one transaction every other session's snapshot becomes slower to take.
constexpr size_t MaxGroupPuts = 32;

// Groups committing at once from one store, each on a connection of its own: while one waits for
// its sync, the next is written.
constexpr int GroupsAtOnce = 2;

// Reports taken into the count table in one transaction at most: bounds how long the rows it
// updates stay locked for another store's indexing.
constexpr int IndexBatchReports = 512;

// The unique constraint on reports.key, as PostgreSQL names it.
constexpr std::string_view ReportKeyConstraint = "reports_key_key";

// Taken by every process for the schema step, in this database only.
constexpr const char* SchemaLockKey = "7305509004213425516";

// Each step brings the tables from the version before it to its own; the version is the step's
// place in this table, counted from 1. Steps that are applied are never changed.
constexpr const char* SchemaSteps[] = {
    R"sql(
CREATE TABLE reports (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  key text COLLATE "C" NOT NULL UNIQUE,
  created bigint NOT NULL,
  size bigint NOT NULL,
  body text NOT NULL
);
CREATE INDEX reports_created ON reports (created);
-- One row per entry and report; "created" repeats the report's, so that counting reads this
-- table's index alone.
CREATE TABLE report_entries (
  report_id bigint NOT NULL REFERENCES reports (id) ON DELETE CASCADE,
  source text COLLATE "C" NOT NULL,
  name text COLLATE "C" NOT NULL,
  created bigint NOT NULL,
  PRIMARY KEY (report_id, source, name)
);
CREATE INDEX report_entries_count ON report_entries (source, name, created);
-- The bytes of the stored reports, spread over 16 rows by report id, so that uploads committing
-- at the same moment do not wait for each other's row.
CREATE TABLE usage (shard integer PRIMARY KEY, bytes bigint NOT NULL);
INSERT INTO usage (shard, bytes) SELECT generate_series(0, 15), 0;
CREATE TABLE holds (version text COLLATE "C" PRIMARY KEY, count bigint NOT NULL);
)sql",
    // "last": the latest hold request's time; a version silent for the retention time is deleted,
    // and rows from before have none, so they go at the first expiry.
    R"sql(
ALTER TABLE holds ADD COLUMN last bigint NOT NULL DEFAULT 0;
)sql",
    // A row per entry and report cost each upload two hundred index insertions. Now an upload
    // stores its entries in one row of unindexed_entries, and IndexPending adds many reports' at
    // once to entry_counts, where reports of the same second share their rows. Only reports
    // stored before some time are ever deleted, so the rows of those seconds go with them and
    // every count stays exact. Waiting rows are deleted with their reports by their "created".
    R"sql(
CREATE TABLE entry_counts (
  source text COLLATE "C" NOT NULL,
  name text COLLATE "C" NOT NULL,
  created bigint NOT NULL,
  reports bigint NOT NULL,
  PRIMARY KEY (source, name, created)
);
CREATE INDEX entry_counts_created ON entry_counts (created);
CREATE TABLE unindexed_entries (
  report_id bigint PRIMARY KEY,
  created bigint NOT NULL,
  sources text[] NOT NULL,
  names text[] NOT NULL
);
INSERT INTO entry_counts (source, name, created, reports)
  SELECT source, name, created, count(*) FROM report_entries GROUP BY source, name, created;
DROP TABLE report_entries;
)sql",
    // A report's text, and its entries while they wait, are compressed when they are stored. With
    // lz4 instead of pglz the server spends about a quarter less time per upload, for an eighth
    // more bytes written; no compression at all saves less time than lz4 and writes four times
    // the bytes. Servers built without lz4 keep pglz. Texts stored before keep the way they were
    // compressed and read back the same.
    R"sql(
DO $$
BEGIN
  IF EXISTS (SELECT FROM pg_settings WHERE name = 'default_toast_compression' AND 'lz4' = ANY (enumvals)) THEN
    ALTER TABLE reports ALTER COLUMN body SET COMPRESSION lz4;
    ALTER TABLE unindexed_entries ALTER COLUMN sources SET COMPRESSION lz4, ALTER COLUMN names SET COMPRESSION lz4;
  END IF;
END $$;
)sql",
};
constexpr int SchemaVersion = static_cast<int>(std::size(SchemaSteps));

struct TStatement {
  const char* Name;
  const char* Sql;
};

// Put: stores the report, its waiting entries and its bytes when the cap allows, in one statement; answers
// 1 when stored and 0 when full, and fails with unique_violation when the key is taken. The bytes go
// to the usage row of the connection's own server process, so that a transaction of many uploads
// holds one usage row: two groups never each hold a row the other waits for (a deadlock, which the
// server ends after a second by failing an upload). Only the sum of the rows means anything;
// expiry takes the bytes off the row of each report's id.
constexpr TStatement SqlPut{"put", R"sql(
WITH used AS (SELECT coalesce(sum(bytes), 0) AS bytes FROM usage),
report AS (
  INSERT INTO reports (key, created, size, body)
  SELECT $1, $2::bigint, $3::bigint, $4 FROM used WHERE used.bytes + $3::bigint <= $5::bigint
  RETURNING id),
entries AS (
  INSERT INTO unindexed_entries (report_id, created, sources, names)
  SELECT report.id, $2::bigint, $6::text[], $7::text[] FROM report WHERE cardinality($6::text[]) > 0),
counted AS (
  UPDATE usage SET bytes = usage.bytes + $3::bigint FROM report WHERE usage.shard = pg_backend_pid() % 16)
SELECT count(*) FROM report)sql"};
constexpr TStatement SqlGet{"get", "SELECT body FROM reports WHERE key = $1 AND created >= $2::bigint"};
// Count: the counted reports and the waiting ones in one statement, and so in one snapshot: a
// batch indexed meanwhile is counted once.
constexpr TStatement SqlCount{"count", R"sql(
SELECT (SELECT coalesce(sum(reports), 0) FROM entry_counts
        WHERE source = $1 AND name = $2 AND created >= $3::bigint)::bigint
     + (SELECT count(*) FROM unindexed_entries AS waiting
        WHERE created >= $3::bigint AND $2 = ANY (waiting.names)
          AND EXISTS (SELECT FROM unnest(waiting.sources, waiting.names) AS entry (source, name)
                      WHERE entry.source = $1 AND entry.name = $2)))sql"};
// Index: takes the oldest waiting reports stored before the second $2 that no other session holds,
// at most $1, and adds one to the row of each entry and second they list, one upsert per row in
// key order: two sessions indexing at once take their row locks in the same order and never wait
// for each other in a circle. Answers how many reports it took. A second is taken once it is
// over, so that its rows are mostly written once each, not updated at every batch.
constexpr TStatement SqlIndex{"index", R"sql(
WITH oldest AS MATERIALIZED (
  SELECT report_id FROM unindexed_entries WHERE created < $2::bigint
  ORDER BY report_id LIMIT $1::integer FOR UPDATE SKIP LOCKED),
taken AS (
  DELETE FROM unindexed_entries AS waiting USING oldest WHERE waiting.report_id = oldest.report_id
  RETURNING waiting.created, waiting.sources, waiting.names),
added AS (
  INSERT INTO entry_counts (source, name, created, reports)
  SELECT entry.source, entry.name, taken.created, count(*)
  FROM taken, unnest(taken.sources, taken.names) AS entry (source, name)
  GROUP BY 1, 2, 3
  ORDER BY entry.source COLLATE "C", entry.name COLLATE "C", taken.created
  ON CONFLICT (source, name, created) DO UPDATE SET reports = entry_counts.reports + excluded.reports)
SELECT count(*) FROM taken)sql"};
// Expiry runs these three in one transaction, in this order: the waiting rows first, so that an
// indexing session that took some of them has ended before their counts are deleted, and none
// can take them after.
constexpr TStatement SqlDeleteWaitingBefore{"delete_waiting_before",
                                           "DELETE FROM unindexed_entries WHERE created < $1::bigint"};
constexpr TStatement SqlDeleteCountsBefore{"delete_counts_before", "DELETE FROM entry_counts WHERE created < $1::bigint"};
constexpr TStatement SqlDeleteBefore{"delete_before", R"sql(
WITH gone AS (DELETE FROM reports WHERE created < $1::bigint RETURNING id, size),
holds_gone AS (DELETE FROM holds WHERE last < $1::bigint),
per_shard AS (SELECT id % 16 AS shard, sum(size) AS bytes FROM gone GROUP BY 1),
counted AS (
  UPDATE usage SET bytes = usage.bytes - per_shard.bytes FROM per_shard WHERE usage.shard = per_shard.shard)
SELECT count(*) FROM gone)sql"};
constexpr TStatement SqlAddHold{
    "add_hold",
    "INSERT INTO holds (version, count, last) SELECT $1, 1, $2::bigint "
    "WHERE (SELECT count(*) FROM holds) < $3::bigint OR EXISTS (SELECT 1 FROM holds WHERE version = $1) "
    "ON CONFLICT (version) DO UPDATE SET count = holds.count + 1, last = greatest(holds.last, excluded.last)"};
constexpr TStatement SqlHoldCount{"hold_count", "SELECT count FROM holds WHERE version = $1"};
constexpr TStatement SqlUsedBytes{"used_bytes", "SELECT coalesce(sum(bytes), 0) FROM usage"};
constexpr TStatement Statements[] = {SqlPut,          SqlGet,     SqlCount,     SqlIndex,    SqlDeleteWaitingBefore,
                                     SqlDeleteCountsBefore, SqlDeleteBefore, SqlAddHold, SqlHoldCount, SqlUsedBytes};

struct TResultClearer {
  void operator()(PGresult* Result) const { PQclear(Result); }
};
using TResult = std::unique_ptr<PGresult, TResultClearer>;

bool Is(const TResult& Result, ExecStatusType Status) {
  return Result != nullptr && PQresultStatus(Result.get()) == Status;
}

std::string ErrorText(PGconn* Connection) {
  std::string Text = PQerrorMessage(Connection);
  while (!Text.empty() && (Text.back() == '\n' || Text.back() == ' ')) Text.pop_back();
  return Text;
}

// A whole-number column of the first row; empty when there is none.
std::optional<std::int64_t> FirstInteger(const TResult& Result) {
  if (!Is(Result, PGRES_TUPLES_OK) || PQntuples(Result.get()) < 1 || PQgetisnull(Result.get(), 0, 0)) {
    return std::nullopt;
  }
  const char* Text = PQgetvalue(Result.get(), 0, 0);
  const size_t Length = static_cast<size_t>(PQgetlength(Result.get(), 0, 0));
  std::int64_t Value = 0;
  const auto [End, Failure] = std::from_chars(Text, Text + Length, Value);
  if (Failure != std::errc() || End != Text + Length) return std::nullopt;
  return Value;
}

// PostgreSQL text cannot hold NUL: entry texts keep U+FFFD in its place, the same when stored and
// when counted.
std::string EntryText(std::string_view Text) {
  std::string Result;
  Result.reserve(Text.size());
  for (const char C : Text) {
    if (C == '\0') {
      Result += "\xEF\xBF\xBD";
    } else {
      Result += C;
    }
  }
  return Result;
}

// A text[] in PostgreSQL's literal form, every element quoted.
template <class TTexts>
std::string ArrayLiteral(const TTexts& Texts) {
  std::string Literal = "{";
  for (const auto& Text : Texts) {
    if (Literal.size() > 1) Literal += ',';
    Literal += '"';
    for (const char C : Text) {
      if (C == '"' || C == '\\') Literal += '\\';
      Literal += C;
    }
    Literal += '"';
  }
  return Literal + "}";
}

// Runs Sql (one or more statements, no parameters); throws with Context when it fails.
void ExecuteOrThrow(PGconn* Connection, const char* Sql, const std::string& Context) {
  const TResult Result(PQexec(Connection, Sql));
  if (!Is(Result, PGRES_COMMAND_OK) && !Is(Result, PGRES_TUPLES_OK)) {
    throw std::runtime_error(Context + ": " + ErrorText(Connection));
  }
}

// Creates or upgrades the tables. The advisory lock is held until the transaction ends, so a
// second process waits here and then finds the tables made.
void SetUpSchema(PGconn* Connection) {
  const std::string Context = "cannot set up the tables";
  ExecuteOrThrow(Connection, "BEGIN", Context);
  try {
    ExecuteOrThrow(Connection, (std::string("SELECT pg_advisory_xact_lock(") + SchemaLockKey + ")").c_str(), Context);
    ExecuteOrThrow(Connection, "SET LOCAL client_min_messages = warning", Context);  // no "already exists" notes
    ExecuteOrThrow(Connection, "CREATE TABLE IF NOT EXISTS nimbrel_schema (version integer NOT NULL)", Context);
    const TResult Found(PQexec(Connection, "SELECT coalesce(max(version), 0) FROM nimbrel_schema"));
    const auto Version = FirstInteger(Found);
    if (!Version) throw std::runtime_error(Context + ": " + ErrorText(Connection));
    if (*Version > SchemaVersion) {
      throw std::runtime_error("the database holds tables of a later version (" + std::to_string(*Version) +
                               ") than this service knows (" + std::to_string(SchemaVersion) + ")");
    }
    for (auto Step = *Version; Step < SchemaVersion; ++Step) ExecuteOrThrow(Connection, SchemaSteps[Step], Context);
    if (*Version < SchemaVersion) {
      const std::string Mark = "DELETE FROM nimbrel_schema; INSERT INTO nimbrel_schema (version) VALUES (" +
                               std::to_string(SchemaVersion) + ")";
      ExecuteOrThrow(Connection, Mark.c_str(), Context);
    }
    ExecuteOrThrow(Connection, "COMMIT", Context);
  } catch (...) {
    PQclear(PQexec(Connection, "ROLLBACK"));
    throw;
  }
}

}  // namespace

bool IsPostgresqlAddress(std::string_view Address) {
  return Address.starts_with("postgresql://") || Address.starts_with("postgres://");
}

void TPostgresqlStore::TConnectionCloser::operator()(pg_conn* Connection) const { PQfinish(Connection); }

// One connection lent to one caller; given back when the lease ends, or closed when it went bad.
class TPostgresqlStore::TLease {
 public:
  TLease(TPostgresqlStore& Store, TConnection Connection) : FStore(Store), FConnection(std::move(Connection)) {}
  ~TLease() { FStore.Give(std::move(FConnection)); }
  TLease(const TLease&) = delete;
  TLease& operator=(const TLease&) = delete;

  PGconn* Get() const { return FConnection.get(); }
  bool Broken() const { return FConnection == nullptr || PQstatus(FConnection.get()) != CONNECTION_OK; }

  // Runs a prepared statement with text parameters.
  TResult Run(const TStatement& Statement, std::initializer_list<const std::string*> Parameters) const {
    if (FConnection == nullptr) return nullptr;
    std::vector<const char*> Values;
    for (const std::string* Parameter : Parameters) Values.push_back(Parameter->c_str());
    return TResult(PQexecPrepared(FConnection.get(), Statement.Name, static_cast<int>(Values.size()), Values.data(),
                                  nullptr, nullptr, 0));
  }

 private:
  TPostgresqlStore& FStore;
  TConnection FConnection;
};

TPostgresqlStore::TPostgresqlStore(std::string Address, std::int64_t CapBytes, int Connections,
                                   bool IndexInBackground)
    : FAddress(std::move(Address)),
      FCapBytes(CapBytes),
      FMaxOpen(Connections < 1 ? 1 : Connections),
      FGroups(MaxGroupPuts, GroupsAtOnce) {
  std::string Error;
  TConnection First = Connect(Error, true);
  if (First == nullptr) throw std::runtime_error(Error);
  const char* Superuser = PQparameterStatus(First.get(), "is_superuser");
  FSuperuser = Superuser != nullptr && std::string_view(Superuser) == "on";
  // As this session sees them: set for the server, the database, the login or in the address.
  for (const char* Setting : {"fsync", "synchronous_commit"}) {
    const std::string Query = std::string("SELECT current_setting('") + Setting + "')";
    const TResult Value(PQexec(First.get(), Query.c_str()));
    if (Is(Value, PGRES_TUPLES_OK) && PQntuples(Value.get()) == 1 && std::string_view(PQgetvalue(Value.get(), 0, 0)) == "off") {
      FUnsyncedSettings += (FUnsyncedSettings.empty() ? "" : ", ") + std::string(Setting) + " = off";
    }
  }
  {
    const std::lock_guard Lock(FLock);
    FIdle.push_back(std::move(First));
    FOpen = 1;
  }
  if (IndexInBackground) FMaintainer = std::thread([this] { Maintain(); });
}

TPostgresqlStore::~TPostgresqlStore() {
  {
    const std::lock_guard Lock(FMaintainLock);
    FStopping = true;
  }
  FMaintainStop.notify_all();
  if (FMaintainer.joinable()) FMaintainer.join();
}

void TPostgresqlStore::Maintain() {
  constexpr auto IndexInterval = std::chrono::milliseconds(100);
  std::unique_lock Lock(FMaintainLock);
  while (!FMaintainStop.wait_for(Lock, IndexInterval, [this] { return FStopping; })) {
    Lock.unlock();
    // A failed batch stays where it is and is taken again next time; the counts include it meanwhile.
    while (IndexPending() == IndexBatchReports) {
      const std::lock_guard Stop(FMaintainLock);
      if (FStopping) break;
    }
    Lock.lock();
  }
}

int TPostgresqlStore::IndexPending() {
  const std::lock_guard Lock(FIndexLock);
  if (FIndexConnection == nullptr || PQstatus(FIndexConnection.get()) != CONNECTION_OK) {
    std::string Ignored;
    FIndexConnection = Connect(Ignored, false);
    if (FIndexConnection == nullptr) return -1;
    // What the indexing commits is only ever moved from one table to the other: a commit lost
    // when the server's machine stops leaves those reports waiting, counted as before. So it
    // need not wait for its sync, and the uploads' syncs take it to disk.
    const TResult Set(PQexec(FIndexConnection.get(), "SET synchronous_commit = off"));
    if (!Is(Set, PGRES_COMMAND_OK)) {
      FIndexConnection.reset();
      return -1;
    }
  }
  const std::string Batch = std::to_string(IndexBatchReports),
                    Before = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                                std::chrono::system_clock::now().time_since_epoch())
                                                .count());
  const char* const Values[] = {Batch.c_str(), Before.c_str()};
  const TResult Result(PQexecPrepared(FIndexConnection.get(), SqlIndex.Name, 2, Values, nullptr, nullptr, 0));
  const auto Taken = FirstInteger(Result);
  if (!Taken) {
    if (PQstatus(FIndexConnection.get()) != CONNECTION_OK) FIndexConnection.reset();
    return -1;
  }
  return static_cast<int>(*Taken);
}

TPostgresqlStore::TConnection TPostgresqlStore::Connect(std::string& Error, bool SetUp) {
  // Values of the address override the defaults before it; the encoding after it is always ours.
  const char* const Keys[] = {"connect_timeout", "application_name", "dbname", "client_encoding", nullptr};
  const char* const Values[] = {"10", "nimbrel-service", FAddress.c_str(), "UTF8", nullptr};
  TConnection Connection(PQconnectdbParams(Keys, Values, 1));
  if (Connection == nullptr || PQstatus(Connection.get()) != CONNECTION_OK) {
    Error = "cannot connect to the database: " + (Connection ? ErrorText(Connection.get()) : "out of memory");
    return nullptr;
  }
  const char* Encoding = PQparameterStatus(Connection.get(), "server_encoding");
  if (Encoding == nullptr || std::string_view(Encoding) != "UTF8") {
    Error = std::string("the database must hold UTF8 text, not ") + (Encoding ? Encoding : "an unknown encoding");
    return nullptr;
  }
  if (SetUp) {
    try {
      SetUpSchema(Connection.get());
    } catch (const std::exception& Failure) {
      Error = Failure.what();
      return nullptr;
    }
  }
  for (const TStatement& Statement : Statements) {
    const TResult Prepared(PQprepare(Connection.get(), Statement.Name, Statement.Sql, 0, nullptr));
    if (!Is(Prepared, PGRES_COMMAND_OK)) {
      Error = std::string("cannot prepare ") + Statement.Name + ": " + ErrorText(Connection.get());
      return nullptr;
    }
  }
  return Connection;
}

TPostgresqlStore::TLease TPostgresqlStore::Take() {
  std::unique_lock Lock(FLock);
  FGiven.wait(Lock, [this] { return !FIdle.empty() || FOpen < FMaxOpen; });
  if (!FIdle.empty()) {
    TConnection Connection = std::move(FIdle.back());
    FIdle.pop_back();
    return TLease(*this, std::move(Connection));
  }
  ++FOpen;
  Lock.unlock();
  std::string Ignored;
  return TLease(*this, Connect(Ignored, false));  // a failed connect comes back through Give and is not counted
}

void TPostgresqlStore::Give(TConnection Connection) {
  {
    const std::lock_guard Lock(FLock);
    if (Connection != nullptr && PQstatus(Connection.get()) == CONNECTION_OK &&
        PQtransactionStatus(Connection.get()) == PQTRANS_IDLE && PQpipelineStatus(Connection.get()) == PQ_PIPELINE_OFF) {
      FIdle.push_back(std::move(Connection));
    } else {
      --FOpen;
    }
  }
  FGiven.notify_one();
  // A bad connection closes here, outside the lock.
}

TPutResult TPostgresqlStore::Put(const std::string& Key, const TReport& Report, std::int64_t Now) {
  TStoredForm Form = MakeStoredForm(Report);  // before the queue: other uploads need not wait for it
  // Entries that differ only by NUL and U+FFFD are one entry here, listed once.
  std::set<std::pair<std::string, std::string>> Entries;
  for (const auto& [Source, Name] : Form.Entries) Entries.emplace(EntryText(Source), EntryText(Name));
  std::vector<std::string> Sources, Names;
  for (const auto& [Source, Name] : Entries) {
    Sources.push_back(Source);
    Names.push_back(Name);
  }
  TPendingPut Mine{Key, std::move(Form.Body), std::to_string(Now), std::to_string(Form.Size), ArrayLiteral(Sources),
                   ArrayLiteral(Names)};
  // The group's connection goes with its lease when CommitGroup throws, its transaction unfinished.
  return FGroups.Join(Mine, [this](const std::vector<TPendingPut*>& Group) { CommitGroup(Group); });
}

void TPostgresqlStore::CommitGroup(const std::vector<TPendingPut*>& Group) {
  std::vector<bool> Final(Group.size(), false);
  // A connection that broke while idle is only found when used; one more try on a new one. A break
  // during the commit leaves it unknown whether the group went in: the second try may then find
  // the keys taken, and the service stores those reports again under new keys; the first copies
  // expire unread.
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    const TLease Lease = Take();
    if (Lease.Get() != nullptr && TryGroup(Lease.Get(), Group, Final)) return;
  }
  for (size_t I = 0; I < Group.size(); ++I) {
    if (!Final[I]) Group[I]->Result = TPutResult::Failed;
  }
}

bool TPostgresqlStore::TryGroup(PGconn* Connection, const std::vector<TPendingPut*>& Group, std::vector<bool>& Final) {
  // Every statement of the group goes out at once, and the answers are read after: a round trip
  // per group, not three per upload. After an error the server skips what follows up to the
  // pipeline's end; the transaction then goes back to the failed upload's savepoint and the
  // uploads after it are sent again.
  if (PQenterPipelineMode(Connection) != 1) return false;
  const auto Send = [Connection](const char* Sql) {
    return PQsendQueryParams(Connection, Sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
  };
  // The next statement's answer; empty once the connection has failed.
  const auto Next = [Connection]() {
    TResult Result(PQgetResult(Connection));
    if (Result != nullptr && PQresultStatus(Result.get()) != PGRES_PIPELINE_SYNC) {
      PQclear(PQgetResult(Connection));  // the end of this statement's answers
    }
    return Result;
  };
  // Reads answers up to the pipeline's end; false when the connection failed first.
  const auto ToEnd = [&]() {
    for (;;) {
      const TResult Result = Next();
      if (Result == nullptr) return false;
      if (PQresultStatus(Result.get()) == PGRES_PIPELINE_SYNC) return true;
    }
  };
  std::vector<size_t> Todo;
  for (size_t I = 0; I < Group.size(); ++I) {
    if (!Final[I]) Todo.push_back(I);
  }
  const std::string Cap = std::to_string(FCapBytes);
  bool Begun = false;  // the transaction is open and stands at a failed upload's savepoint
  for (;;) {
    bool Sent = Begun ? Send("ROLLBACK TO SAVEPOINT upload") && Send("RELEASE upload") : Send("BEGIN");
    for (const size_t I : Todo) {
      const TPendingPut& Pending = *Group[I];
      const char* const Values[] = {Pending.Key.c_str(), Pending.Created.c_str(), Pending.Size.c_str(),
                                    Pending.Body.c_str(), Cap.c_str(), Pending.Sources.c_str(), Pending.Names.c_str()};
      Sent = Sent && Send("SAVEPOINT upload") &&
             PQsendQueryPrepared(Connection, SqlPut.Name, static_cast<int>(std::size(Values)), Values, nullptr, nullptr,
                                 0) == 1 &&
             Send("RELEASE upload");
    }
    Sent = Sent && Send("COMMIT") && PQpipelineSync(Connection) == 1;
    if (!Sent) return false;

    // The answers, in the order sent.
    const auto Ok = [](const TResult& Result) { return Is(Result, PGRES_COMMAND_OK); };
    bool Started = Begun ? Ok(Next()) && Ok(Next()) : Ok(Next());
    size_t FailedAt = Todo.size();
    for (size_t At = 0; Started && At < Todo.size(); ++At) {
      TPendingPut& Pending = *Group[Todo[At]];
      const bool Saved = Ok(Next());
      const TResult Result = Next();
      const bool Released = Ok(Next());
      if (const auto Stored = FirstInteger(Result); Saved && Stored && Released) {
        Pending.Result = *Stored == 1 ? TPutResult::Stored : TPutResult::Full;
        continue;
      }
      if (!Saved || Result == nullptr || PQresultStatus(Result.get()) != PGRES_FATAL_ERROR) {
        Started = false;  // not the upload's own failure: the connection or the server failed
        break;
      }
      // Only the report key's own constraint means another report has the key.
      const char* State = PQresultErrorField(Result.get(), PG_DIAG_SQLSTATE);
      const char* Constraint = PQresultErrorField(Result.get(), PG_DIAG_CONSTRAINT_NAME);
      Pending.Result = State != nullptr && std::string_view(State) == "23505" && Constraint != nullptr &&
                               std::string_view(Constraint) == ReportKeyConstraint
                           ? TPutResult::KeyTaken
                           : TPutResult::Failed;
      Final[Todo[At]] = true;
      FailedAt = At;
      break;
    }
    if (Started && FailedAt == Todo.size()) {
      // Every upload went in; the commit's answer says whether they are on disk.
      const TResult Committed = Next();
      const bool Ended = ToEnd();
      if (Is(Committed, PGRES_COMMAND_OK)) {
        for (const size_t I : Todo) Final[I] = true;
        PQexitPipelineMode(Connection);
        return true;
      }
      if (Committed == nullptr || !Ended) return false;
      break;  // the commit failed: nothing is stored
    }
    if (!ToEnd()) return false;
    if (!Started) break;
    Todo.erase(Todo.begin(), Todo.begin() + static_cast<std::ptrdiff_t>(FailedAt) + 1);
    Begun = true;
  }
  // The whole transaction failed: what it held is not stored, and the connection is left idle.
  PQsendQueryParams(Connection, "ROLLBACK", 0, nullptr, nullptr, nullptr, nullptr, 0);
  PQpipelineSync(Connection);
  if (!ToEnd()) return false;
  PQexitPipelineMode(Connection);
  for (size_t I = 0; I < Group.size(); ++I) {
    if (!Final[I]) {
      Group[I]->Result = TPutResult::Failed;
      Final[I] = true;
    }
  }
  return true;
}

std::optional<TReport> TPostgresqlStore::Get(const std::string& Key, std::int64_t NotBefore) {
  const std::string From = std::to_string(NotBefore);
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    std::string Body;
    {
      const TLease Lease = Take();
      const TResult Result = Lease.Run(SqlGet, {&Key, &From});
      if (!Is(Result, PGRES_TUPLES_OK)) {
        if (Lease.Broken()) continue;
        return std::nullopt;
      }
      if (PQntuples(Result.get()) < 1) return std::nullopt;
      Body.assign(PQgetvalue(Result.get(), 0, 0), static_cast<size_t>(PQgetlength(Result.get(), 0, 0)));
    }
    return ReadStoredReport(Body);
  }
  return std::nullopt;
}

std::optional<std::int64_t> TPostgresqlStore::CountEntryReports(const std::string& From, const std::string& Name,
                                                                std::int64_t NotBefore) {
  const std::string Source = EntryText(From), File = EntryText(Name), Since = std::to_string(NotBefore);
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    const TLease Lease = Take();
    if (const auto Found = FirstInteger(Lease.Run(SqlCount, {&Source, &File, &Since}))) return Found;
    if (!Lease.Broken()) break;
  }
  return std::nullopt;
}

std::optional<std::int64_t> TPostgresqlStore::DeleteBefore(std::int64_t Cutoff) {
  const std::string Before = std::to_string(Cutoff);
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    const TLease Lease = Take();
    std::optional<std::int64_t> Gone;
    if (Is(TResult(PQexec(Lease.Get(), "BEGIN")), PGRES_COMMAND_OK) &&
        Is(Lease.Run(SqlDeleteWaitingBefore, {&Before}), PGRES_COMMAND_OK) &&
        Is(Lease.Run(SqlDeleteCountsBefore, {&Before}), PGRES_COMMAND_OK)) {
      Gone = FirstInteger(Lease.Run(SqlDeleteBefore, {&Before}));
    }
    if (Gone && Is(TResult(PQexec(Lease.Get(), "COMMIT")), PGRES_COMMAND_OK)) return Gone;
    if (Lease.Broken()) continue;
    PQclear(PQexec(Lease.Get(), "ROLLBACK"));
    break;
  }
  return std::nullopt;
}

bool TPostgresqlStore::AddHold(const std::string& Version, std::int64_t Now) {
  const std::string At = std::to_string(Now), Most = std::to_string(MaxHoldVersions);
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    const TLease Lease = Take();
    const TResult Result = Lease.Run(SqlAddHold, {&Version, &At, &Most});
    if (Is(Result, PGRES_COMMAND_OK)) return std::string_view(PQcmdTuples(Result.get())) == "1";
    if (!Lease.Broken()) break;
  }
  return false;
}

std::int64_t TPostgresqlStore::HoldCount(const std::string& Version) {
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    const TLease Lease = Take();
    const TResult Result = Lease.Run(SqlHoldCount, {&Version});
    if (Is(Result, PGRES_TUPLES_OK)) return FirstInteger(Result).value_or(0);
    if (!Lease.Broken()) break;
  }
  return 0;
}

std::int64_t TPostgresqlStore::UsedBytes() {
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    const TLease Lease = Take();
    if (const auto Used = FirstInteger(Lease.Run(SqlUsedBytes, {}))) return *Used;
    if (!Lease.Broken()) break;
  }
  return 0;
}

}  // namespace nimbrel::service
