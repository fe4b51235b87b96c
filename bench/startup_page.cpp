// The Startup page's load, measured in-process under Wine. Prints; asserts nothing.
//   bench_startup_page seed        puts 300 services, 200 Run values and 40 startup files on the machine
//   bench_startup_page page RUNS   the first LoadAutorun of a new page, then a reload, RUNS times
//                                  each, each until its result is in, with the longest time the
//                                  main thread left a watchdog's message unanswered meanwhile
//   bench_startup_page floor RUNS  the same system calls (collection, version resources, icon
//                                  extraction) building nothing, RUNS times
//   bench_startup_page parts RUNS  the collection alone, with a window on the thread
// Figures are medians in milliseconds; "own" is the time beside the collection itself.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "locale/translate.h"
#include "base/handle.h"
#include "base/paths.h"
#include "base/registry.h"
#include "base/sync.h"
#include "base/system_api.h"
#include "startup/autorun.h"
#include "startup/autorun_collect.h"
#include "startup/autorun_page.h"
#include "startup/task_scheduler.h"
#include "bench/main_thread_watchdog.h"

namespace {

using namespace nimbrel;
using TClock = std::chrono::steady_clock;
using bench::TWatchdog;

double Milliseconds(TClock::time_point Start) {
  return std::chrono::duration<double, std::milli>(TClock::now() - Start).count();
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values.empty() ? 0 : Values[Values.size() / 2];
}

void Seed() {
  const std::wstring System = GetSpecialFolder(CSIDL_SYSTEM);
  const std::vector<std::wstring> Programs = {L"notepad.exe", L"winecfg.exe", L"regedit.exe", L"winver.exe", L"cmd.exe",
                                              L"taskmgr.exe", L"write.exe", L"wordpad.exe"};
  for (int I = 0; I < 200; ++I) {
    const std::wstring Program = System + L"\\" + Programs[static_cast<size_t>(I) % Programs.size()];
    TReg::WriteString(I % 2 == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"BenchRun" + std::to_wstring(I),
                      L"\"" + Program + L"\" /background " + std::to_wstring(I));
  }
  const std::wstring Folder = GetSpecialFolder(CSIDL_STARTUP);
  for (int I = 0; I < 40; ++I) {
    const std::wstring Source = System + L"\\" + Programs[static_cast<size_t>(I) % Programs.size()];
    ::CopyFileW(Source.c_str(), (Folder + L"\\Bench" + std::to_wstring(I) + L".exe").c_str(), FALSE);
  }
  TOwnedServiceHandle Manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  for (int I = 0; I < 300; ++I) {
    const std::wstring Name = L"BenchService" + std::to_wstring(I);
    TOwnedServiceHandle Service(::CreateServiceW(Manager.get(), Name.c_str(), (L"Bench Service " + std::to_wstring(I)).c_str(),
                                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                 I % 3 == 0 ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                                                 SERVICE_ERROR_IGNORE, (System + L"\\notepad.exe -service").c_str(),
                                                 nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  // Wine's service manager answers for new services only some seconds after making them.
  for (int I = 0; I < 300; ++I) {
    TOwnedServiceHandle Last(::OpenServiceW(Manager.get(), L"BenchService299", SERVICE_QUERY_CONFIG));
    if (Last) break;
    ::Sleep(100);
  }
}

// Lets the main thread's messages run until the page's load is over, as the message loop does.
void WaitLoaded(const TFrmAutorun& Frame) {
  while (Frame.Loading()) {
    MSG Message;
    while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&Message);
      ::DispatchMessageW(&Message);
    }
    if (Frame.Loading()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// What the page's load asks of the system, and nothing else.
size_t Floor(double& CollectMs) {
  TAutorunList List;
  const auto Start = TClock::now();
  CollectAutorun(List);
  CollectMs = Milliseconds(Start);
  // Each file once, for its version resource and its icon, as the page reads them.
  std::map<std::wstring, bool> Extracted;
  for (const TAutorunInfo& Entry : List) {
    if (Entry.From == L"SCHE" || Entry.From == L"SERV" || Entry.FileName.empty()) continue;
    if (Extracted.contains(Entry.FileName)) continue;
    Extracted[Entry.FileName] = true;
    std::map<std::wstring, std::wstring> Strings;
    GetFileVersionStrings(Entry.FileName, {L"ProductName"}, Strings);
    std::vector<wchar_t> Path(Entry.FileName.begin(), Entry.FileName.end());
    Path.resize(MAX_PATH + 1 + Entry.FileName.size(), L'\0');
    WORD Index = 0;
    TOwnedIcon Icon(api::ExtractAssociatedIconW(nullptr, Path.data(), &Index));
  }
  return List.size();
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  const std::wstring Mode = Argc > 1 ? Argv[1] : L"";
  const int Runs = Argc > 2 ? std::max(1, _wtoi(Argv[2])) : 5;
  TComScope Com(COINIT_APARTMENTTHREADED);
  InitMainThread();
  InitPathVariables();
  CreateTaskServiceLock();
  LoadTranslation();
  if (Mode == L"seed") {
    Seed();
    return 0;
  }
  if (Mode == L"floor") {
    std::vector<double> Times, Own;
    size_t Entries = 0;
    for (int I = 0; I < Runs; ++I) {
      double CollectMs = 0;
      const auto Start = TClock::now();
      Entries = Floor(CollectMs);
      Times.push_back(Milliseconds(Start));
      Own.push_back(Times.back() - CollectMs);
    }
    std::printf("floor_ms=%.1f floor_own_ms=%.1f entries=%zu\n", Median(Times), Median(Own), Entries);
    DisconnectTaskService();
    return 0;
  }
  if (Mode == L"parts") {
    // Where a load's time goes: the collection alone, with and without a window on the thread.
    TPanel Host(nullptr, nullptr, L"Host");
    Host.SetBounds(0, 0, 448, 367);
    TAutorunList List;
    for (int I = 0; I < Runs; ++I) {
      auto Start = TClock::now();
      CollectAutorun(List);
      std::printf("collect_ms=%.1f entries=%zu\n", Milliseconds(Start), List.size());
    }
    return 0;
  }
  if (Mode == L"page") {
    std::vector<double> First, Reload, FirstOwn, ReloadOwn, FirstBlock, ReloadBlock;
    size_t Rows = 0;
    double CollectMs = 0;
    TWatchdog Watchdog;
    for (int I = 0; I < Runs; ++I) {
      TPanel Host(nullptr, nullptr, L"Host");
      Host.SetBounds(0, 0, 448, 367);
      Host.SetVisible(true);
      auto* Frame = Host.Create<TFrmAutorun>(&Host);
      TStringList Empty;
      Frame->FFileWhite = &Empty;
      Frame->FNameWhite = &Empty;
      Frame->Collector = [&CollectMs](TAutorunList& List, const TStopQuery& Stopped) {
        const auto Start = TClock::now();
        CollectAutorun(List, Stopped);
        CollectMs = Milliseconds(Start);
      };
      auto Load = [&](std::vector<double>& Total, std::vector<double>& Own, std::vector<double>& Block) {
        Watchdog.Start();
        const auto Start = TClock::now();
        Frame->LoadAutorun();
        WaitLoaded(*Frame);
        Total.push_back(Milliseconds(Start));
        Block.push_back(Watchdog.Stop());
        Own.push_back(Total.back() - CollectMs);
      };
      Load(First, FirstOwn, FirstBlock);
      Load(Reload, ReloadOwn, ReloadBlock);
      Rows = Frame->Rows().size();
    }
    std::printf("first_ms=%.1f first_own_ms=%.1f reload_ms=%.1f reload_own_ms=%.1f first_block_ms=%.1f "
                "reload_block_ms=%.1f rows=%zu\n",
                Median(First), Median(FirstOwn), Median(Reload), Median(ReloadOwn), Median(FirstBlock),
                Median(ReloadBlock), Rows);
    DisconnectTaskService();
    return 0;
  }
  std::fwprintf(stderr, L"usage: bench_startup_page seed | page RUNS | floor RUNS\n");
  return 2;
}
