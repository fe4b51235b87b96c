// Uploads that arrive together, committed together: a queue that whichever waiting caller wakes
// first takes as a group and commits on behalf of the others.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "report_store.h"

namespace nimbrel::service {

// TPending has `TPutResult Result` and `bool Done` (the latter guarded by this queue).
template <typename TPending>
class TGroupCommit {
 public:
  // Groups of at most MaxGroup uploads, at most AtOnce of them committing at the same time.
  TGroupCommit(std::size_t MaxGroup, int AtOnce) : FMaxGroup(MaxGroup), FAtOnce(AtOnce) {}

  // Queues Mine and returns its Result once the group holding it has been committed. Uploads that
  // arrive while groups before them commit go as the next group, led by whichever of them wakes
  // first: none waits for company longer than a commit before it. Commit(Group) runs on the
  // leader's thread without the queue's lock and sets each Result; when it throws, every upload of
  // the group fails.
  template <typename TCommit>
  TPutResult Join(TPending& Mine, TCommit&& Commit) {
    std::unique_lock Queue(FLock);
    FQueue.push_back(&Mine);
    for (;;) {
      FChanged.wait(Queue, [&] { return Mine.Done || (FCommitting < FAtOnce && !FQueue.empty()); });
      if (Mine.Done) return Mine.Result;
      ++FCommitting;
      const auto Taken = static_cast<std::ptrdiff_t>(std::min(FQueue.size(), FMaxGroup));
      const std::vector<TPending*> Group(FQueue.begin(), FQueue.begin() + Taken);
      FQueue.erase(FQueue.begin(), FQueue.begin() + Taken);
      Queue.unlock();
      try {
        Commit(Group);
      } catch (...) {  // out of memory, say: nothing of the group is stored
        for (TPending* Pending : Group) Pending->Result = TPutResult::Failed;
      }
      Queue.lock();
      for (TPending* Pending : Group) Pending->Done = true;
      --FCommitting;
      FChanged.notify_all();
    }
  }

 private:
  const std::size_t FMaxGroup;
  const int FAtOnce;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TPending*> FQueue;  // waiting, oldest first
  int FCommitting = 0;            // groups being committed
};

}  // namespace nimbrel::service
