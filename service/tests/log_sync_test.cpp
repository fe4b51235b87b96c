// That a SQLite store answers only once what it answers for is on disk: this program stands in
// for the C library's pwrite64, fdatasync and fsync (SQLite's calls come here), passes each call
// on, and keeps what was written to the log and what was synced since.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "helpers.h"
#include "sqlite_store.h"

namespace {

// What the calls below saw of the files whose names end in "-wal". Writes and syncs are numbered
// in one sequence; a sync covers the writes numbered before it began.
struct TLogRecord {
  std::mutex Lock;
  std::uint64_t Sequence = 0;
  std::uint64_t LastWrite = 0;   // the number of the latest write to a log
  std::uint64_t SyncedUpTo = 0;  // every log write numbered up to this one is on disk
  std::uint64_t Syncs = 0;       // log syncs that succeeded
  bool FailSyncs = false;        // syncs of a log fail with EIO, syncing nothing
};

TLogRecord& Record() {
  static TLogRecord Kept;
  return Kept;
}

bool IsLog(int Descriptor) {
  char Target[4096];
  const std::string Link = "/proc/self/fd/" + std::to_string(Descriptor);
  const ssize_t Length = ::readlink(Link.c_str(), Target, sizeof(Target));
  return Length > 4 && std::string_view(Target, static_cast<size_t>(Length)).ends_with("-wal");
}

template <typename TFunction>
TFunction* Next(const char* Name) {
  return reinterpret_cast<TFunction*>(::dlsym(RTLD_NEXT, Name));
}

// Passes a sync on to Real, the C library's own; a sync of a log is recorded, or fails when told to.
int Sync(int Descriptor, int (*Real)(int)) {
  if (!IsLog(Descriptor)) return Real(Descriptor);
  TLogRecord& Log = Record();
  std::uint64_t Before = 0;
  {
    const std::lock_guard Lock(Log.Lock);
    if (Log.FailSyncs) {
      errno = EIO;
      return -1;
    }
    Before = Log.Sequence++;
  }
  const int Result = Real(Descriptor);
  if (Result == 0) {
    const std::lock_guard Lock(Log.Lock);
    Log.SyncedUpTo = std::max(Log.SyncedUpTo, Before);
    ++Log.Syncs;
  }
  return Result;
}

}  // namespace

extern "C" ssize_t pwrite64(int Descriptor, const void* Buffer, size_t Size, off64_t Offset) {
  static auto* const Write = Next<ssize_t(int, const void*, size_t, off64_t)>("pwrite64");
  const ssize_t Written = Write(Descriptor, Buffer, Size, Offset);
  if (Written > 0 && IsLog(Descriptor)) {
    TLogRecord& Log = Record();
    const std::lock_guard Lock(Log.Lock);
    Log.LastWrite = ++Log.Sequence;
  }
  return Written;
}

extern "C" int fdatasync(int Descriptor) {
  static auto* const Real = Next<int(int)>("fdatasync");
  return Sync(Descriptor, Real);
}
extern "C" int fsync(int Descriptor) {
  static auto* const Real = Next<int(int)>("fsync");
  return Sync(Descriptor, Real);
}

namespace nimbrel::service {
namespace {

using testing::TTempDir;

TReport ReportListing(const std::string& Name) {
  TReport Report;
  Report.Memory = {100, 200, 1000};
  Report.Startup = {{"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\" + Name, "HKCU"}};
  return Report;
}

// Whether something written to the log has not been synced since.
bool LogHasUnsyncedWrites() {
  TLogRecord& Log = Record();
  const std::lock_guard Lock(Log.Lock);
  return Log.LastWrite > Log.SyncedUpTo;
}

class LogSyncTest : public ::testing::Test {
 protected:
  void TearDown() override {
    const std::lock_guard Lock(Record().Lock);
    Record().FailSyncs = false;
  }
  TTempDir Folder;
  std::filesystem::path File = Folder.Path() / "reports.sqlite";
};

TEST_F(LogSyncTest, EveryAnsweredWriteIsSyncedFirst) {
  TSqliteStore Store(File, std::int64_t{1} << 30, false);
  struct TCase {
    const char* What;
    std::function<bool(int)> Write;  // true when answered as done
  };
  const std::vector<TCase> Cases = {
      {"an upload", [&](int I) { return Store.Put("k" + std::to_string(I), ReportListing("a"), 100 + I) == TPutResult::Stored; }},
      {"a hold", [&](int I) { return Store.AddHold("1.0." + std::to_string(I), 100 + I); }},
      {"an expiry", [&](int I) { return Store.DeleteBefore(100 + I).has_value(); }},
  };
  for (int I = 0; I < 20; ++I) {
    for (const TCase& Case : Cases) {
      ASSERT_TRUE(Case.Write(I)) << Case.What << " " << I;
      EXPECT_FALSE(LogHasUnsyncedWrites()) << Case.What << " " << I << " was answered before the log was synced";
    }
  }
}

TEST_F(LogSyncTest, UploadsAtOnceAreAllSyncedAndShareSyncs) {
  TSqliteStore Store(File, std::int64_t{1} << 30, false);
  constexpr int Threads = 8;
  constexpr int Each = 40;
  const auto Syncs = [] {
    const std::lock_guard Lock(Record().Lock);
    return Record().Syncs;
  };
  const std::uint64_t SyncsBefore = Syncs();
  std::vector<std::thread> Uploaders;
  std::atomic<int> Stored = 0;
  for (int T = 0; T < Threads; ++T) {
    Uploaders.emplace_back([&, T] {
      for (int I = 0; I < Each; ++I) {
        if (Store.Put("t" + std::to_string(T) + "-" + std::to_string(I), ReportListing("b"), 100) == TPutResult::Stored) {
          ++Stored;
        }
      }
    });
  }
  for (std::thread& Uploader : Uploaders) Uploader.join();
  EXPECT_EQ(Stored, Threads * Each);
  EXPECT_FALSE(LogHasUnsyncedWrites());
  EXPECT_EQ(Store.CountEntryReports("hkcu", "b", 0), Threads * Each);
  const std::uint64_t Synced = Syncs() - SyncsBefore;
  std::printf("%d uploads from %d threads at once, %llu syncs of the log\n", Threads * Each, Threads,
              static_cast<unsigned long long>(Synced));
  EXPECT_LT(Synced, static_cast<std::uint64_t>(Threads * Each)) << "uploads waiting together did not share a sync";
}

TEST_F(LogSyncTest, AFailedSyncFailsWhatItHeld) {
  TSqliteStore Store(File, std::int64_t{1} << 30, false);
  ASSERT_EQ(Store.Put("before", ReportListing("c"), 100), TPutResult::Stored);
  {
    const std::lock_guard Lock(Record().Lock);
    Record().FailSyncs = true;
  }
  EXPECT_EQ(Store.Put("during", ReportListing("c"), 100), TPutResult::Failed);
  EXPECT_FALSE(Store.AddHold("1.0", 100));
  {
    const std::lock_guard Lock(Record().Lock);
    Record().FailSyncs = false;
  }
  EXPECT_TRUE(Store.Get("before", 0).has_value());
}

}  // namespace
}  // namespace nimbrel::service
