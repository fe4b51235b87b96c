// The registry watcher against the real registry: callbacks on the main thread, coalescing,
// stopping, and watchers whose key is missing or goes away.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "base/registry.h"
#include "base/sync.h"
#include "tests/base/registry_test_key.h"

namespace nimbrel {
namespace {

using namespace testing_support;

// Counts callbacks (always on the main thread) and lets the test wait for the next one while
// serving hand-overs.
struct TCallbacks {
  TOwnedHandle Called{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  int Count = 0;
  bool AllOnMain = true;
  std::function<void()> Extra;

  std::function<void()> Proc() {
    return [this] {
      ++Count;
      AllOnMain = AllOnMain && IsMainThread();
      ::SetEvent(Called.get());
      if (Extra) Extra();
    };
  }
  bool WaitForCall(DWORD Milliseconds = 5000) { return WaitServingMainThread(Called.get(), Milliseconds) == WAIT_OBJECT_0; }
  // Serves hand-overs for a while, so that a call that would come has come.
  void Settle(DWORD Milliseconds = 300) {
    TOwnedHandle Never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    WaitServingMainThread(Never.get(), Milliseconds);
  }
};

class RegistryMonitorTest : public testing::Test {
 protected:
  void SetUp() override {
    InitMainThread();
    RemoveTestKey();
    CreateKey(Sub);
  }
  void TearDown() override { RemoveTestKey(); }

  // Gives a fresh watcher time to arm its notification before the test changes anything.

  const std::wstring Key = TestKeyPath;
  const std::wstring Sub = TestKeyPath + L"\\Sub";
};

TEST_F(RegistryMonitorTest, AChangeBelowTheKeyCallsBackOnTheMainThread) {
  TCallbacks Callbacks;
  auto Watcher = RegistryMonitor(HKEY_CURRENT_USER, L"\\" + Key, Callbacks.Proc(), true);
  ASSERT_TRUE(Watcher->WaitArmed(5000));
  SetRaw(Sub, L"v", REG_DWORD, "\1\0\0\0", 4);
  ASSERT_TRUE(Callbacks.WaitForCall());
  EXPECT_TRUE(Callbacks.AllOnMain);

  // Re-armed: a second change, this time a new subkey, is reported too.
  CreateKey(Sub + L"\\New");
  ASSERT_TRUE(Callbacks.WaitForCall());
  Callbacks.Settle();
  EXPECT_EQ(Callbacks.Count, 2);
}

TEST_F(RegistryMonitorTest, WithoutSubtreeOnlyTheKeyItselfCounts) {
  TCallbacks Callbacks;
  auto Watcher = RegistryMonitor(HKEY_CURRENT_USER, Key, Callbacks.Proc(), false);
  ASSERT_TRUE(Watcher->WaitArmed(5000));
  SetRaw(Sub, L"v", REG_DWORD, "\1\0\0\0", 4);
  Callbacks.Settle();
  EXPECT_EQ(Callbacks.Count, 0);
  SetRaw(Key, L"v", REG_DWORD, "\1\0\0\0", 4);
  EXPECT_TRUE(Callbacks.WaitForCall());
}

TEST_F(RegistryMonitorTest, ChangesDuringACallbackComeAsOneMoreCall) {
  TCallbacks Callbacks;
  // The first callback throws after making five changes: the watcher survives the exception
  // and reports the five as one call.
  Callbacks.Extra = [&] {
    if (Callbacks.Count != 1) return;
    for (int I = 0; I < 5; ++I) SetRaw(Sub, L"v" + std::to_wstring(I), REG_DWORD, &I, 4);
    throw std::runtime_error("callback failure");
  };
  auto Watcher = RegistryMonitor(HKEY_CURRENT_USER, Key, Callbacks.Proc(), true);
  ASSERT_TRUE(Watcher->WaitArmed(5000));
  SetRaw(Sub, L"first", REG_DWORD, "\1\0\0\0", 4);
  ASSERT_TRUE(Callbacks.WaitForCall());
  ASSERT_TRUE(Callbacks.WaitForCall());
  Callbacks.Settle(500);
  EXPECT_EQ(Callbacks.Count, 2);
}

TEST_F(RegistryMonitorTest, StoppingARunningWatcherReturnsAtOnce) {
  TCallbacks Callbacks;
  auto Watcher = RegistryMonitor(HKEY_CURRENT_USER, Key, Callbacks.Proc(), true);
  ASSERT_TRUE(Watcher->WaitArmed(5000));
  EXPECT_FALSE(Watcher->WaitFor(200)) << "a watcher on an existing key keeps running";
  Watcher->Terminate();
  EXPECT_TRUE(Watcher->WaitFor(2000));
  Watcher->Terminate();  // again, on an ended watcher
  Watcher.reset();
  SetRaw(Sub, L"v", REG_DWORD, "\1\0\0\0", 4);
  Callbacks.Settle();
  EXPECT_EQ(Callbacks.Count, 0);
}

TEST_F(RegistryMonitorTest, AWatcherCaughtInAHandOverIsStoppedWithoutItsCallback) {
  TCallbacks Callbacks;
  auto Watcher = RegistryMonitor(HKEY_CURRENT_USER, Key, Callbacks.Proc(), true);
  ASSERT_TRUE(Watcher->WaitArmed(5000));
  SetRaw(Sub, L"v", REG_DWORD, "\1\0\0\0", 4);
  // The main thread takes no messages meanwhile, until the watcher waits inside its hand-over.
  bool Pending = false;
  for (int I = 0; I < 300 && !Pending; ++I) {
    ::Sleep(10);
    Pending = (HIWORD(::GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0;
  }
  ASSERT_TRUE(Pending);
  Watcher.reset();  // must neither deadlock nor run the callback of a stopping owner
  EXPECT_EQ(Callbacks.Count, 0);
}

TEST_F(RegistryMonitorTest, AMissingKeyEndsTheWatcherAtOnceForGood) {
  TCallbacks Callbacks;
  auto Watcher = RegistryMonitor(HKEY_CURRENT_USER, Key + L"\\Missing", Callbacks.Proc(), true);
  EXPECT_TRUE(Watcher->WaitFor(2000));
  CreateKey(Key + L"\\Missing");
  SetRaw(Key + L"\\Missing", L"v", REG_DWORD, "\1\0\0\0", 4);
  Callbacks.Settle();
  EXPECT_EQ(Callbacks.Count, 0);
  auto NoRoot = RegistryMonitor(nullptr, Key, Callbacks.Proc(), true);
  EXPECT_TRUE(NoRoot->WaitFor(2000));
  Watcher.reset();
  NoRoot.reset();
}

TEST_F(RegistryMonitorTest, AWatchedKeyThatIsDeletedStillStopsAtOnce) {
  // Windows reports the deletion and the watcher ends; Wine reports nothing. Either way the
  // watcher neither spins nor holds up its owner.
  TCallbacks Callbacks;
  auto Watcher = RegistryMonitor(HKEY_CURRENT_USER, Sub, Callbacks.Proc(), true);
  ASSERT_TRUE(Watcher->WaitArmed(5000));
  ::RegDeleteTreeW(HKEY_CURRENT_USER, Sub.c_str());
  Callbacks.Settle();
  EXPECT_LE(Callbacks.Count, 1);
  Watcher->Terminate();
  EXPECT_TRUE(Watcher->WaitFor(2000));
}

}  // namespace
}  // namespace nimbrel
