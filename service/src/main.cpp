// nimbrel-service: reads its configuration, opens the store, serves until SIGTERM or SIGINT.
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <pthread.h>
#include <thread>

#include "config.h"
#include "entry_info.h"
#include "options.h"
#include "postgresql_store.h"
#include "service.h"
#include "sqlite_store.h"

using namespace nimbrel::service;

int main(int Count, char** Values) {
  const TOptionsParse Parse = ParseOptions(std::vector<std::string>(Values + 1, Values + Count));
  if (!Parse.Options) {
    std::fprintf(stderr, "nimbrel-service: %s\n%s", Parse.Error.c_str(), Usage);
    return 2;
  }
  const TOptions& Options = *Parse.Options;
  if (Options.Help) {
    std::fputs(Usage, stdout);
    return 0;
  }
  TConfigLoad Config = LoadConfig(Options.Config);
  if (!Config.Config) {
    std::fprintf(stderr, "nimbrel-service: configuration refused: %s\n", Config.Error.c_str());
    return 2;
  }

  // Every upload allocates and frees a few large blocks on a worker thread; giving that memory back
  // to the system after each one costs more than the upload's own work.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 16 << 20);

  // Every thread made from here on inherits the blocked signals; one thread waits for them.
  sigset_t Signals;
  sigemptyset(&Signals);
  sigaddset(&Signals, SIGTERM);
  sigaddset(&Signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    std::unique_ptr<TReportStore> Store;
    if (const std::string Database = Options.Database.string(); IsPostgresqlAddress(Database)) {
      auto Postgresql =
          std::make_unique<TPostgresqlStore>(Database, Config.Config->StorageCapBytes, Config.Config->Threads);
      if (Postgresql->IsSuperuser()) {
        std::fputs("nimbrel-service: warning: connected as a superuser; connect as the database's owner\n", stderr);
      }
      if (const std::string& Unsynced = Postgresql->UnsyncedSettings(); !Unsynced.empty()) {
        std::fprintf(stderr,
                     "nimbrel-service: warning: the PostgreSQL server runs with %s; an answered upload can be lost "
                     "when the server's machine stops\n",
                     Unsynced.c_str());
      }
      Store = std::move(Postgresql);
    } else {
      Store = std::make_unique<TSqliteStore>(Options.Database, Config.Config->StorageCapBytes);
    }
    const auto EntriesFile = Options.Data / "entries.json";
    if (!std::filesystem::exists(EntriesFile)) {
      std::fprintf(stderr, "nimbrel-service: no %s; entry pages show no descriptions\n", EntriesFile.c_str());
    }
    std::optional<TTlsFiles> Tls;
    if (!Options.Certificate.empty()) Tls = TTlsFiles{Options.Certificate, Options.Key};
    TService Service(std::move(*Config.Config), TEntryInfo::Load(EntriesFile), *Store, SystemSeconds, Tls);
    const int Port = Service.Bind(Options.Listen, Options.Port);
    if (Port < 0) {
      std::fprintf(stderr, "nimbrel-service: cannot listen on %s port %d\n", Options.Listen.c_str(), Options.Port);
      return 1;
    }
    std::printf("nimbrel-service listening on %s://%s:%d/\n", Tls ? "https" : "http", Options.Listen.c_str(), Port);
    std::fflush(stdout);

    std::thread Waiter([&] {
      int Signal = 0;
      sigwait(&Signals, &Signal);
      Service.Stop();
    });
    const bool Served = Service.Run();
    pthread_kill(Waiter.native_handle(), SIGTERM);  // wakes the waiter when Run ended by itself
    Waiter.join();
    return Served ? 0 : 1;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "nimbrel-service: %s\n", Error.what());
    return 1;
  }
}
