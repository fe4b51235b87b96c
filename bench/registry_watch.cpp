// Measures what idle registry watchers cost: CPU time of this process while N watchers wait,
// how soon a change is reported, and how long stopping them takes. Mode "event" uses
// RegistryMonitor; mode "poll" runs the 10 ms re-arming loop it replaced; mode "none" starts no
// watcher (the baseline). Usage: registry_watch.exe MODE COUNT SECONDS
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "base/handle.h"
#include "base/registry.h"
#include "base/sync.h"

using namespace nimbrel;

namespace {

const std::wstring BenchKey = L"Software\\NimbrelBench";

double CpuMilliseconds() {
  FILETIME Creation, Exit, Kernel, User;
  ::GetProcessTimes(::GetCurrentProcess(), &Creation, &Exit, &Kernel, &User);
  auto Value = [](const FILETIME& Time) {
    return static_cast<double>((static_cast<ULONGLONG>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime) / 1e4;
  };
  return Value(Kernel) + Value(User);
}

double NowMilliseconds() {
  LARGE_INTEGER Frequency, Counter;
  ::QueryPerformanceFrequency(&Frequency);
  ::QueryPerformanceCounter(&Counter);
  return static_cast<double>(Counter.QuadPart) * 1000.0 / static_cast<double>(Frequency.QuadPart);
}

// Serves hand-overs on the main thread for a while.
void Idle(DWORD Milliseconds) {
  TOwnedHandle Never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  WaitServingMainThread(Never.get(), Milliseconds);
}

// The loop the watcher replaced: re-arm the notification and wait 10 ms, over and over.
class TPollingWatcher {
 public:
  TPollingWatcher(std::wstring Key, std::function<void()> Proc) : FKey(std::move(Key)), FProc(std::move(Proc)) {
    FThread.reset(::CreateThread(nullptr, 0, &TPollingWatcher::Run, this, 0, nullptr));
  }
  ~TPollingWatcher() {
    FTerminated = true;
    WaitServingMainThread(FThread.get(), INFINITE);
  }

 private:
  static DWORD WINAPI Run(void* Self) {
    auto* This = static_cast<TPollingWatcher*>(Self);
    TOwnedKey Key = OpenRegistryKey(HKEY_CURRENT_USER, This->FKey);
    TOwnedHandle Event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!Key || !Event) return 0;
    while (!This->FTerminated) {
      ::RegNotifyChangeKeyValue(Key.get(), TRUE, 15, Event.get(), TRUE);
      if (::WaitForSingleObject(Event.get(), 10) == WAIT_OBJECT_0 && !This->FTerminated) Synchronize(This->FProc);
    }
    return 0;
  }

  std::wstring FKey;
  std::function<void()> FProc;
  std::atomic<bool> FTerminated{false};
  TOwnedHandle FThread;
};

}  // namespace

int wmain(int Count, wchar_t** Arguments) {
  if (Count < 4) {
    std::printf("usage: registry_watch.exe event|poll|none COUNT SECONDS\n");
    return 2;
  }
  const std::wstring Mode = Arguments[1];
  const int Watchers = Mode == L"none" ? 0 : std::wcstol(Arguments[2], nullptr, 10);
  const DWORD Seconds = std::wcstoul(Arguments[3], nullptr, 10);
  InitMainThread();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, BenchKey.c_str());

  TOwnedHandle Called(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  std::atomic<int> Calls{0};
  auto Proc = [&] {
    ++Calls;
    ::SetEvent(Called.get());
  };
  std::vector<std::unique_ptr<TRegistryWatcher>> EventWatchers;
  std::vector<std::unique_ptr<TPollingWatcher>> PollingWatchers;
  for (int I = 0; I < Watchers; ++I) {
    const std::wstring Key = BenchKey + L"\\K" + std::to_wstring(I);
    TReg::WriteInteger(HKEY_CURRENT_USER, Key, L"v", 0);
    if (Mode == L"event") EventWatchers.push_back(RegistryMonitor(HKEY_CURRENT_USER, Key, Proc, true));
    if (Mode == L"poll") PollingWatchers.push_back(std::make_unique<TPollingWatcher>(Key, Proc));
  }
  Idle(500);  // let every watcher arm

  const double CpuStart = CpuMilliseconds();
  const double WallStart = NowMilliseconds();
  Idle(Seconds * 1000);
  const double IdleCpu = CpuMilliseconds() - CpuStart;
  const double IdleWall = NowMilliseconds() - WallStart;

  // Latency: one change under the first key, time until its callback has run.
  double LatencySum = 0;
  double LatencyMax = 0;
  int Reported = 0;
  const int Rounds = Watchers > 0 ? 20 : 0;
  for (int Round = 0; Round < Rounds; ++Round) {
    const double Start = NowMilliseconds();
    TReg::WriteInteger(HKEY_CURRENT_USER, BenchKey + L"\\K0", L"v", Round + 1);
    if (WaitServingMainThread(Called.get(), 2000) != WAIT_OBJECT_0) continue;
    const double Latency = NowMilliseconds() - Start;
    LatencySum += Latency;
    if (Latency > LatencyMax) LatencyMax = Latency;
    ++Reported;
    Idle(20);
  }

  const double StopStart = NowMilliseconds();
  EventWatchers.clear();
  PollingWatchers.clear();
  const double StopTime = NowMilliseconds() - StopStart;
  ::RegDeleteTreeW(HKEY_CURRENT_USER, BenchKey.c_str());

  std::printf("mode=%ls watchers=%d idle_wall_ms=%.0f idle_cpu_ms=%.1f cpu_per_watcher_per_s_ms=%.3f\n", Mode.c_str(),
              Watchers, IdleWall, IdleCpu, Watchers > 0 ? IdleCpu / Watchers / (IdleWall / 1000.0) : 0.0);
  if (Rounds > 0) {
    std::printf("mode=%ls changes_reported=%d/%d latency_avg_ms=%.2f latency_max_ms=%.2f stop_all_ms=%.2f\n",
                Mode.c_str(), Reported, Rounds, Reported ? LatencySum / Reported : 0.0, LatencyMax, StopTime);
  }
  return 0;
}
