// How long the main window's thread is blocked while a start-up answer is read and merged, for
// the answers that once froze it. Runs in-process with the real main window and its start-up
// check; the request is replaced by one that hands over a prepared answer once a watchdog runs.
//   bench_check_answer RUNS
// Prints per answer the median longest main-thread block and the median time from the answer's
// arrival to the check's end (rows merged or nothing to merge), in milliseconds, and the rows
// merged. Asserts nothing.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/frm_nimbrel.h"
#include "app/startup.h"
#include "base/handle.h"
#include "base/utf.h"
#include "bench/main_thread_watchdog.h"
#include "update/update_check.h"
#include "widgets/application.h"

namespace {

using namespace nimbrel;
using TClock = std::chrono::steady_clock;

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values.empty() ? 0 : Values[Values.size() / 2];
}

struct TAnswer {
  const char* Label;
  std::wstring Text;
  bool Merges;  // rows to wait for; otherwise the check is given 3 s after the answer arrives
};

// File_white rows the lists do not hold yet, as the service would send them: Count of them, or
// as many as fit in Bytes.
std::wstring RowsAnswer(size_t Count, size_t Bytes = SIZE_MAX) {
  std::wstring Text = L"{\"file_white\":[";
  for (size_t I = 0; I < Count; ++I) {
    const std::wstring Row =
        L"\"Vendor" + std::to_wstring(I) + L"\\\\Program " + std::to_wstring(I) + L".exe*\",";
    if (Text.size() + Row.size() + 1 > Bytes) break;
    Text += Row;
  }
  Text.back() = L']';
  return Text + L"}";
}

// Runs the window's message loop for up to Milliseconds or until Done.
template <typename TDone>
void Pump(DWORD Milliseconds, TDone Done) {
  const ULONGLONG Until = ::GetTickCount64() + Milliseconds;
  while (!Done() && ::GetTickCount64() < Until) {
    MSG Message;
    while (::PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&Message);
      ::DispatchMessageW(&Message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  const int Runs = Argc > 1 ? std::max(1, _wtoi(Argv[1])) : 5;
  TComScope Com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  InitializeModules();
  Application().SetErrorSink([](const std::wstring&) {});

  const std::vector<TAnswer> Answers = {
      {"20,000 file_white rows", RowsAnswer(20000), true},
      // The deepest answer the transport lets through: 16 MiB of brackets.
      {"nested 8 Mi deep (16 MiB)", std::wstring(InitAnswerLimit / 2, L'[') + std::wstring(InitAnswerLimit / 2, L']'),
       false},
      // As many rows as fit the limit: far more than any service sends, to show the rest of the way.
      {"16 MiB of rows", RowsAnswer(SIZE_MAX, InitAnswerLimit), true},
  };
  bench::TWatchdog Watchdog;
  std::printf("answer                          bytes    rows added  longest block ms  answer to end ms\n");
  for (const TAnswer& Answer : Answers) {
    std::vector<double> Blocks, Ends;
    size_t Added = 0;
    for (int Run = 0; Run < Runs; ++Run) {
      TOwnedHandle Go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
      TOwnedHandle Asked(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
      TClock::time_point Arrived;
      auto Request = [&](const TInitHeaders&, std::wstring& Text, HANDLE Stop) {
        const HANDLE Waits[] = {Go.get(), Stop};
        if (::WaitForMultipleObjects(2, Waits, FALSE, INFINITE) != WAIT_OBJECT_0) return false;
        Text = Answer.Text;
        Arrived = TClock::now();
        ::SetEvent(Asked.get());
        return true;
      };
      TFrmNimbrel Window(nullptr, nullptr, Request);
      Window.Show();
      Pump(300, [] { return false; });  // the window settles before the watch
      const size_t Before = Window.FileWhite.size();
      Watchdog.Start();
      ::SetEvent(Go.get());
      if (Answer.Merges) {
        Pump(120000, [&] { return Window.FileWhite.size() != Before; });
      } else {
        Pump(120000, [&] { return ::WaitForSingleObject(Asked.get(), 0) == WAIT_OBJECT_0; });
        Pump(3000, [] { return false; });
      }
      const auto End = TClock::now();
      Blocks.push_back(Watchdog.Stop());
      Added = Window.FileWhite.size() - Before;
      if (Added != 0) Ends.push_back(std::chrono::duration<double, std::milli>(End - Arrived).count());
    }
    std::printf("%-28s %9zu  %10zu  %16.1f  %16s\n", Answer.Label, WideToUtf8(Answer.Text).size(), Added,
                Median(Blocks), Ends.empty() ? "-" : std::to_string(static_cast<int>(Median(Ends))).c_str());
  }
  return 0;
}
