// Reports kept in one SQLite file.
#pragma once

#include <filesystem>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "group_commit.h"
#include "report_store.h"
#include "stored_form.h"

struct sqlite3;
struct sqlite3_stmt;

namespace nimbrel::service {

class TSqliteStore final : public TReportStore {
 public:
  // Opens File, creating it and its tables when missing. Reports are read on connections of their
  // own, which never wait for a writer, this process's or another's. Puts that would take the stored reports
  // past CapBytes answer Full. Throws std::runtime_error when the file cannot be opened or set up.
  // Unless IndexInBackground is false, a thread of the store's own calls IndexPending ten times a
  // second until the store is destroyed.
  TSqliteStore(const std::filesystem::path& File, std::int64_t CapBytes, bool IndexInBackground = true);
  ~TSqliteStore() override;

  // Uploads that arrive while another group commits are committed together in one transaction and
  // one sync; each returns once the commit holding it is on disk, and one that fails (its key
  // taken, the cap, a failed statement) fails alone, the others stored as if it had not come.
  TPutResult Put(const std::string& Key, const TReport& Report, std::int64_t Now) override;
  std::optional<TReport> Get(const std::string& Key, std::int64_t NotBefore) override;
  std::optional<std::int64_t> CountEntryReports(const std::string& From, const std::string& Name,
                                                std::int64_t NotBefore) override;
  std::optional<std::int64_t> DeleteBefore(std::int64_t Cutoff) override;
  bool AddHold(const std::string& Version, std::int64_t Now) override;
  std::int64_t HoldCount(const std::string& Version) override;
  std::int64_t UsedBytes() override;

  // A report's entries are stored with it and taken into the count index later, many reports in
  // one transaction; counts include both. Indexes the oldest waiting reports, at most one batch,
  // and answers how many it took (0 when none waited, found without asking for the write lock),
  // or -1 when the database failed and they still wait. Safe beside every other call, and beside another store on the same file.
  int IndexPending();

 private:
  struct TDatabaseCloser {
    void operator()(sqlite3* Database) const;
  };
  struct TStatementFinalizer {
    void operator()(sqlite3_stmt* Statement) const;
  };
  using TStatement = std::unique_ptr<sqlite3_stmt, TStatementFinalizer>;

  TStatement Prepare(const char* Sql);
  bool Execute(const char* Sql);
  // Lets the request connection copy the log into the database once it holds Bytes.
  void SetLogCopyBytes(std::int64_t Bytes);
  // Steps a prepared statement that returns no rows, such as FBegin, and resets it; false when it fails.
  static bool Run(const TStatement& Statement);
  // An upload waiting for its group's commit, which sets Result.
  struct TPendingPut {
    const std::string& Key;
    const TStoredForm& Form;
    const std::string& Entries;  // Form's entries as one blob
    std::int64_t Now;
    TPutResult Result = TPutResult::Failed;
  };
  // Stores each of Group in one transaction and sets its Result; called with FLock held.
  void CommitGroup(const std::vector<TPendingPut*>& Group);
  TPutResult PutInTransaction(const TPendingPut& Pending);
  void Maintain(bool Index);
  bool CountEarlierReports();
  bool HasColumn(const char* Table, const char* Column);

  // A connection of its own for reads: in WAL mode its read transactions never wait for a writer,
  // this process's or another's.
  struct TReader {
    std::unique_ptr<sqlite3, TDatabaseCloser> Database;
    TStatement SelectReport, CountEntries, SelectUnindexedSince, AnyUnindexed;
  };
  class TReaderLease;
  TReaderLease TakeReader();
  static TStatement Prepare(sqlite3* Database, const char* Sql);

  std::mutex FLock;  // the writing connection, used by one thread at a time
  TGroupCommit<TPendingPut> FGroups;  // one group commits at a time
  std::unique_ptr<sqlite3, TDatabaseCloser> FDatabase;
  std::int64_t FCapBytes;
  std::vector<std::unique_ptr<TReader>> FReaders;
  std::mutex FReaderLock;
  std::condition_variable FReaderFree;
  std::vector<TReader*> FIdleReaders;  // guarded by FReaderLock
  // The transaction and savepoint statements every upload runs, prepared once.
  TStatement FBegin, FCommit, FSavepoint, FRelease;
  TStatement FInsertReport, FInsertUnindexed, FSelectUnindexed, FDeleteUnindexed, FAddEntryCount, FDeleteBefore, FDeleteCountsBefore, FDeleteHoldsBefore, FAddHold, FSelectHold,
      FSelectUsage;

  // Indexes waiting entries, and copies the log into the database file on a connection of its
  // own, so that no request waits for that copy and its flush to disk.
  std::unique_ptr<sqlite3, TDatabaseCloser> FCheckpointDatabase;
  std::mutex FMaintainLock;
  std::condition_variable FMaintainStop;
  bool FStopping = false;  // guarded by FMaintainLock
  std::thread FMaintainer;
};

}  // namespace nimbrel::service
