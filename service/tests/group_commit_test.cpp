// The group-commit queue on its own, under many callers at once: every caller is answered with its
// own group's result, groups keep their size and concurrency limits, and no caller is left asleep
// (a lost wake-up ends the test at its time-out).
#include "group_commit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace nimbrel::service {
namespace {

struct TPending {
  int Id = 0;
  TPutResult Result = TPutResult::Failed;
};

TEST(GroupCommit, EveryCallerIsAnsweredWithinTheLimitsUnderLoad) {
  struct TCase {
    std::size_t MaxGroup;
    int AtOnce;
  };
  // Small groups and several commits at once reach the paths where a caller already told to lead
  // is taken into another leader's group, and where a full group leaves callers queued.
  for (const TCase Case : {TCase{64, 1}, TCase{3, 1}, TCase{3, 3}, TCase{1, 2}}) {
    SCOPED_TRACE(testing::Message() << "MaxGroup " << Case.MaxGroup << ", AtOnce " << Case.AtOnce);
    constexpr int Threads = 12, CallsPerThread = 300;
    TGroupCommit<TPending> Queue(Case.MaxGroup, Case.AtOnce);
    std::atomic<int> Committing{0}, MostAtOnce{0}, Groups{0}, Wrong{0};
    std::mutex SeenLock;
    std::set<int> Seen;
    std::vector<std::thread> Callers;
    for (int Thread = 0; Thread < Threads; ++Thread) {
      Callers.emplace_back([&, Thread] {
        std::minstd_rand Random(static_cast<unsigned>(Thread));
        for (int Call = 0; Call < CallsPerThread; ++Call) {
          TPending Mine{Thread * CallsPerThread + Call};
          // Every seventh caller's group throws; the others take a result of their own.
          const TPutResult Result = Queue.Join(Mine, [&](const std::vector<TPending*>& Group) {
            const int Now = ++Committing;
            for (int Most = MostAtOnce; Now > Most && !MostAtOnce.compare_exchange_weak(Most, Now);) {
            }
            ++Groups;
            if (Group.empty() || Group.size() > Case.MaxGroup) ++Wrong;
            bool Throw = false;
            {
              const std::lock_guard Guard(SeenLock);
              for (TPending* Pending : Group) {
                if (!Seen.insert(Pending->Id).second) ++Wrong;  // committed twice
                Pending->Result = Pending->Id % 2 == 0 ? TPutResult::Stored : TPutResult::KeyTaken;
                Throw = Throw || Pending->Id % 7 == 0;
              }
            }
            if (Random() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(Random() % 300));
            --Committing;
            if (Throw) throw std::runtime_error("a failed commit");
          });
          const bool ItsGroupThrew = Result == TPutResult::Failed;
          const TPutResult Own = Mine.Id % 2 == 0 ? TPutResult::Stored : TPutResult::KeyTaken;
          if (!ItsGroupThrew && Result != Own) ++Wrong;
          if (Mine.Id % 7 == 0 && !ItsGroupThrew) ++Wrong;
        }
      });
    }
    for (std::thread& Caller : Callers) Caller.join();
    EXPECT_EQ(Wrong, 0);
    EXPECT_EQ(Seen.size(), static_cast<std::size_t>(Threads * CallsPerThread)) << "every caller committed once";
    EXPECT_LE(MostAtOnce, Case.AtOnce);
    if (Case.MaxGroup > 1) {
      EXPECT_LT(Groups, Threads * CallsPerThread) << "callers that wait go together";
    }
  }
}

}  // namespace
}  // namespace nimbrel::service
