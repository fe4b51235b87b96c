// Reports kept in one SQLite file.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "report_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace nimbrel::service {

class TSqliteStore final : public TReportStore {
 public:
  // Opens File, creating it and its tables when missing. Puts that would take the stored reports
  // past CapBytes answer Full. Throws std::runtime_error when the file cannot be opened or set up.
  TSqliteStore(const std::filesystem::path& File, std::int64_t CapBytes);
  ~TSqliteStore() override;

  TPutResult Put(const std::string& Key, const TReport& Report, std::int64_t Now) override;
  std::optional<TReport> Get(const std::string& Key, std::int64_t NotBefore) override;
  std::optional<std::int64_t> CountEntryReports(const std::string& From, const std::string& Name,
                                                std::int64_t NotBefore) override;
  std::optional<std::int64_t> DeleteBefore(std::int64_t Cutoff) override;
  bool AddHold(const std::string& Version) override;
  std::int64_t HoldCount(const std::string& Version) override;
  std::int64_t UsedBytes() override;

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
  TPutResult PutInTransaction(const std::string& Key, const TReport& Report, std::int64_t Now);

  std::mutex FLock;  // one connection, used by one thread at a time
  std::unique_ptr<sqlite3, TDatabaseCloser> FDatabase;
  std::int64_t FCapBytes;
  TStatement FInsertReport, FInsertEntry, FSelectReport, FCountEntries, FDeleteBefore, FAddHold, FSelectHold,
      FSelectUsage;
};

}  // namespace nimbrel::service
