// A fresh PostgreSQL database per test on the throwaway server that scripts/test-service.sh starts
// (its address in NIMBREL_TEST_POSTGRESQL), made by the login that will own it and dropped at the end.
#pragma once

#include <libpq-fe.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>

#include "report_key.h"

namespace nimbrel::service::testing {

class TPostgresqlDatabase {
 public:
  TPostgresqlDatabase() {
    const char* Server = std::getenv("NIMBREL_TEST_POSTGRESQL");
    if (Server == nullptr || *Server == '\0') {
      const char* Why = std::getenv("NIMBREL_TEST_POSTGRESQL_SKIP");
      FSkipReason = Why != nullptr ? Why : "NIMBREL_TEST_POSTGRESQL is not set (scripts/test-service.sh sets it)";
      return;
    }
    FServer = Server;
    std::string Key = *NewReportKey();
    for (char& C : Key) C = std::isalnum(static_cast<unsigned char>(C)) ? static_cast<char>(std::tolower(C)) : 'x';
    const std::string Name = "nimbrel_test_" + Key;
    if (!Run(FServer, "CREATE DATABASE " + Name)) return;
    FName = Name;
    FAddress = FServer.substr(0, FServer.rfind('/') + 1) + Name;
  }
  ~TPostgresqlDatabase() {
    if (!FName.empty()) Run(FServer, "DROP DATABASE IF EXISTS " + FName + " WITH (FORCE)");
  }
  TPostgresqlDatabase(const TPostgresqlDatabase&) = delete;
  TPostgresqlDatabase& operator=(const TPostgresqlDatabase&) = delete;

  // The database's address; empty when there is no server, with SkipReason saying why.
  const std::string& Address() const { return FAddress; }
  const std::string& SkipReason() const { return FSkipReason; }

  // Runs Sql in the database as its owner; false (with the error in SkipReason) when it fails.
  bool Execute(const std::string& Sql) { return Run(FAddress, Sql); }

  // The first column of the first row of Sql's answer as a whole number; -1 when it fails.
  long long Integer(const std::string& Sql) {
    const std::unique_ptr<PGconn, TCloser> Connection(PQconnectdb(FAddress.c_str()));
    PGresult* Result = PQexec(Connection.get(), Sql.c_str());
    long long Value = -1;
    if (PQresultStatus(Result) == PGRES_TUPLES_OK && PQntuples(Result) > 0 && !PQgetisnull(Result, 0, 0)) {
      Value = std::atoll(PQgetvalue(Result, 0, 0));
    }
    PQclear(Result);
    return Value;
  }

 private:
  struct TCloser {
    void operator()(PGconn* Connection) const { PQfinish(Connection); }
  };

  bool Run(const std::string& Address, const std::string& Sql) {
    const std::unique_ptr<PGconn, TCloser> Connection(PQconnectdb(Address.c_str()));
    if (PQstatus(Connection.get()) != CONNECTION_OK) {
      FSkipReason = std::string("cannot connect: ") + PQerrorMessage(Connection.get());
      return false;
    }
    PGresult* Result = PQexec(Connection.get(), Sql.c_str());
    const bool Done = PQresultStatus(Result) == PGRES_COMMAND_OK || PQresultStatus(Result) == PGRES_TUPLES_OK;
    if (!Done) FSkipReason = Sql + ": " + PQerrorMessage(Connection.get());
    PQclear(Result);
    return Done;
  }

  std::string FServer, FName, FAddress, FSkipReason;
};

}  // namespace nimbrel::service::testing
