// Worker threads and the hand-over to the main thread: where the function runs, what comes back,
// and waits that keep serving hand-overs.
#include "base/sync.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/handle.h"
#include "base/thread.h"

namespace nimbrel {
namespace {

// A worker thread running Body, which the caller keeps alive, with a handle to wait for.
template <typename F>
TOwnedHandle StartWorker(F& Body) {
  return StartThread([&Body] { Body(); });
}

TEST(ThreadTest, TheThreadKeepsWhatItsBodyHoldsUntilTheBodyHasRun) {
  auto Held = std::make_shared<std::atomic<int>>(0);
  TOwnedHandle Go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(Go);
  const HANDLE GoHandle = Go.get();
  TOwnedHandle Thread = StartThread([Held, GoHandle] {
    ::WaitForSingleObject(GoHandle, INFINITE);
    Held->store(1);
  });
  ASSERT_TRUE(Thread);
  std::weak_ptr<std::atomic<int>> Watch = Held;
  Held.reset();  // the starter lets go first
  EXPECT_FALSE(Watch.expired());
  ::SetEvent(Go.get());
  ASSERT_EQ(::WaitForSingleObject(Thread.get(), 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(Watch.expired());  // freed on the thread, after the body ran
}

class SyncTest : public testing::Test {
 protected:
  void SetUp() override { InitMainThread(); }
};

TEST_F(SyncTest, RunsOnTheMainThreadAndRaisesItsExceptionOnTheCaller) {
  EXPECT_TRUE(IsMainThread());
  std::atomic<bool> RanOnMain{false};
  std::atomic<bool> CallerIsMain{true};
  std::atomic<DWORD> SendState{ISMEX_SEND};
  std::string Caught;
  auto Body = [&] {
    CallerIsMain = IsMainThread();
    Synchronize([&] {
      RanOnMain = IsMainThread();
      // Not inside a message sent from another thread: COM calls and the shell work here.
      SendState = ::InSendMessageEx(nullptr);
    });
    try {
      Synchronize([] { throw std::runtime_error("from main"); });
    } catch (const std::runtime_error& Error) {
      Caught = Error.what();
    }
  };
  TOwnedHandle Worker = StartWorker(Body);
  ASSERT_TRUE(Worker);
  ASSERT_EQ(WaitServingMainThread(Worker.get(), 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(CallerIsMain);
  EXPECT_TRUE(RanOnMain);
  EXPECT_EQ(SendState, static_cast<DWORD>(ISMEX_NOSEND));
  EXPECT_EQ(Caught, "from main");
}

TEST_F(SyncTest, OnTheMainThreadRunsAtOnceAndThrowsDirectly) {
  int Calls = 0;
  Synchronize([&] { ++Calls; });
  EXPECT_EQ(Calls, 1);
  EXPECT_THROW(Synchronize([] { throw std::logic_error("x"); }), std::logic_error);
}

TEST_F(SyncTest, IsMainThreadIsFalseElsewhere) {
  bool OnWorker = true;
  std::thread([&] { OnWorker = IsMainThread(); }).join();
  EXPECT_FALSE(OnWorker);
}

TEST_F(SyncTest, WaitServingMainThreadTimesOutAndServesManyHandOvers) {
  TOwnedHandle Never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const ULONGLONG Start = ::GetTickCount64();
  EXPECT_EQ(WaitServingMainThread(Never.get(), 100), static_cast<unsigned long>(WAIT_TIMEOUT));
  EXPECT_GE(::GetTickCount64() - Start, 90u);

  // Several workers hand over at once while the main thread waits for the last of them.
  std::atomic<int> Served{0};
  auto Body = [&] {
    for (int I = 0; I < 50; ++I) Synchronize([&] { ++Served; });
  };
  TOwnedHandle Workers[4] = {StartWorker(Body), StartWorker(Body), StartWorker(Body), StartWorker(Body)};
  for (TOwnedHandle& Worker : Workers) {
    ASSERT_EQ(WaitServingMainThread(Worker.get(), 10000), WAIT_OBJECT_0);
  }
  EXPECT_EQ(Served, 200);
}

TEST_F(SyncTest, WaitServingMainThreadRunsNothingButHandOvers) {
  // A message for the ordinary message loop, queued before the wait: it must still be there after.
  const UINT Marker = WM_APP + 0x3F0;
  ASSERT_TRUE(::PostThreadMessageW(::GetCurrentThreadId(), Marker, 7, 0));
  std::atomic<int> Served{0};
  auto Body = [&] { Synchronize([&] { ++Served; }); };
  TOwnedHandle Worker = StartWorker(Body);
  ASSERT_EQ(WaitServingMainThread(Worker.get(), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(Served, 1);
  MSG Message;
  ASSERT_TRUE(::PeekMessageW(&Message, nullptr, Marker, Marker, PM_REMOVE));
  EXPECT_EQ(Message.wParam, 7u);
}

TEST_F(SyncTest, AHandOverRunsWhileAMessageBoxIsOpen) {
  std::atomic<bool> Ran{false};
  auto Body = [&] {
    Synchronize([&] { Ran = IsMainThread(); });
    // Then close the box the main thread is sitting in.
    for (int I = 0; I < 500; ++I) {
      if (HWND Box = ::FindWindowW(L"#32770", L"NimbrelSyncBox")) {
        ::PostMessageW(Box, WM_COMMAND, IDOK, 0);
        return;
      }
      ::Sleep(10);
    }
  };
  TOwnedHandle Worker = StartWorker(Body);
  ::MessageBoxW(nullptr, L"waiting", L"NimbrelSyncBox", MB_OK);
  EXPECT_TRUE(Ran);
  EXPECT_EQ(::WaitForSingleObject(Worker.get(), 10000), WAIT_OBJECT_0);
}

TEST_F(SyncTest, QueueRunsLaterOnTheMainThreadNeverNested) {
  std::atomic<int> Order{0};
  int RanAt = -1;
  bool OnMain = false;
  ASSERT_TRUE(Queue([&] {
    RanAt = Order++;
    OnMain = IsMainThread();
  }));
  Order++;  // the queued function has not run yet: it waits for the message loop
  EXPECT_EQ(RanAt, -1);
  auto Body = [&] { Queue([] {}); };
  TOwnedHandle Worker = StartWorker(Body);
  ASSERT_EQ(::WaitForSingleObject(Worker.get(), 10000), WAIT_OBJECT_0);
  MSG Message;
  while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&Message);
  EXPECT_EQ(RanAt, 1);
  EXPECT_TRUE(OnMain);
}

TEST_F(SyncTest, AMessageLoopServesHandOvers) {
  const DWORD MainId = ::GetCurrentThreadId();
  std::atomic<bool> RanOnMain{false};
  auto Body = [&] {
    Synchronize([&] { RanOnMain = IsMainThread(); });
    ::PostThreadMessageW(MainId, WM_QUIT, 0, 0);
  };
  TOwnedHandle Worker = StartWorker(Body);
  MSG Message;
  while (::GetMessageW(&Message, nullptr, 0, 0) > 0) ::DispatchMessageW(&Message);
  EXPECT_TRUE(RanOnMain);
  EXPECT_EQ(::WaitForSingleObject(Worker.get(), 10000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace nimbrel
