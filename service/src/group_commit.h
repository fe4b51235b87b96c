// Uploads that arrive together, committed together: a queue whose oldest waiting caller takes the
// waiting uploads as a group and commits them on behalf of the others.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "report_store.h"

namespace nimbrel::service {

// TPending has `TPutResult Result`, set by the commit.
template <typename TPending>
class TGroupCommit {
 public:
  // Groups of at most MaxGroup uploads, at most AtOnce of them committing at the same time.
  TGroupCommit(std::size_t MaxGroup, int AtOnce)
      : FMaxGroup(std::max<std::size_t>(1, MaxGroup)), FAtOnce(std::max(1, AtOnce)) {}

  // Queues Mine and returns its Result once the group holding it has been committed. A caller that
  // finds a commit free leads at once; uploads that arrive while groups commit go as the next
  // group, led by the oldest of them as soon as a commit ends: none waits for company longer than
  // a commit before it. Commit(Group) runs on the leader's thread without the queue's lock and
  // sets each Result; when it throws, every upload of the group fails. Only the uploads of an
  // ended group and the next leader are woken, never every waiting caller.
  template <typename TCommit>
  TPutResult Join(TPending& Mine, TCommit&& Commit) {
    // Room for a group and its wake-ups before anything is queued: nothing below may fail once the
    // queue holds this caller.
    std::vector<TWaiter*> Waiters, Wake;
    std::vector<TPending*> Group;
    Waiters.reserve(FMaxGroup);
    Wake.reserve(FMaxGroup + static_cast<std::size_t>(FAtOnce));
    Group.reserve(FMaxGroup);
    std::unique_lock Queue(FLock);
    TWaiter& Me = TakeWaiter(Mine);
    FQueue.push_back(&Me);
    PromoteWhileFree(Wake);
    for (TWaiter* Waiter : Wake) Waiter->Wake.notify_one();
    Wake.clear();
    while (!Me.Done) {
      if (!Me.Lead) {
        Me.Wake.wait(Queue);
        continue;
      }
      Me.Lead = false;
      --FPromoted;
      ++FCommitting;
      TakeGroup(Me, Waiters);
      PromoteWhileFree(Wake);  // another commit may start beside this one
      Queue.unlock();
      WakeAll(Wake);
      Group.clear();
      for (TWaiter* Waiter : Waiters) Group.push_back(Waiter->Pending);
      try {
        Commit(static_cast<const std::vector<TPending*>&>(Group));
      } catch (...) {  // out of memory, say: nothing of the group is stored
        for (TPending* Pending : Group) Pending->Result = TPutResult::Failed;
      }
      Queue.lock();
      --FCommitting;
      for (TWaiter* Waiter : Waiters) {
        Waiter->Done = true;
        if (Waiter != &Me) Wake.push_back(Waiter);
      }
      PromoteWhileFree(Wake);
    }
    const TPutResult Result = Mine.Result;
    FFree.push_back(&Me);
    Queue.unlock();
    // Woken without the lock, so that none wakes only to wait for it.
    WakeAll(Wake);
    return Result;
  }

 private:
  // One waiting caller. Kept until the queue ends and used again by later callers, so that it can
  // be woken after the lock is let go: a waiter that is given back and taken again meanwhile
  // wakes once for nothing and waits on.
  struct TWaiter {
    TPending* Pending = nullptr;
    std::condition_variable Wake;
    bool Lead = false;  // promoted to take the next group
    bool Done = false;  // its group has been committed
  };

  // A free waiter for Mine; may throw (out of memory) before anything changes. Under the lock.
  TWaiter& TakeWaiter(TPending& Mine) {
    if (FFree.empty()) {
      FAll.push_back(std::make_unique<TWaiter>());
      // Every waiter may be queued or free at once: neither ever needs room later.
      FQueue.reserve(FAll.size());
      FFree.reserve(FAll.size());
      FFree.push_back(FAll.back().get());
    }
    TWaiter& Waiter = *FFree.back();
    FFree.pop_back();
    Waiter.Pending = &Mine;
    Waiter.Lead = false;
    Waiter.Done = false;
    return Waiter;
  }

  // Takes Leader and the oldest other waiting uploads off the queue, at most FMaxGroup in all, into
  // Waiters (which has room for them). A promoted leader taken along leads no more. Under the lock.
  void TakeGroup(TWaiter& Leader, std::vector<TWaiter*>& Waiters) {
    Waiters.clear();
    Waiters.push_back(&Leader);
    FQueue.erase(std::find(FQueue.begin(), FQueue.end(), &Leader));
    const std::size_t Taken = std::min(FQueue.size(), FMaxGroup - 1);
    for (std::size_t I = 0; I < Taken; ++I) {
      TWaiter* Waiter = FQueue[I];
      if (Waiter->Lead) {
        Waiter->Lead = false;
        --FPromoted;
      }
      Waiters.push_back(Waiter);
    }
    FQueue.erase(FQueue.begin(), FQueue.begin() + static_cast<std::ptrdiff_t>(Taken));
  }

  // Promotes the oldest waiting callers that are no leaders yet while commits are free, adding
  // them to Wake. Under the lock.
  void PromoteWhileFree(std::vector<TWaiter*>& Wake) {
    for (TWaiter* Waiter : FQueue) {
      if (FCommitting + FPromoted >= FAtOnce) return;
      if (Waiter->Lead) continue;
      Waiter->Lead = true;
      ++FPromoted;
      Wake.push_back(Waiter);
    }
  }

  // Without the lock.
  static void WakeAll(std::vector<TWaiter*>& Wake) {
    for (TWaiter* Waiter : Wake) Waiter->Wake.notify_one();
    Wake.clear();
  }

  const std::size_t FMaxGroup;
  const int FAtOnce;
  std::mutex FLock;
  std::vector<std::unique_ptr<TWaiter>> FAll;
  std::vector<TWaiter*> FFree;
  std::vector<TWaiter*> FQueue;  // waiting, oldest first
  int FCommitting = 0;           // groups being committed
  int FPromoted = 0;             // waiting callers told to lead, not yet leading
};

}  // namespace nimbrel::service
