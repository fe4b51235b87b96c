// Measures the Bundle page's work on a prefix seeded with many uninstall registrations:
//   seed COUNT      writes COUNT registrations across the four uninstall keys
//   inventory N     GetInstall against a floor that reads the same values and builds nothing
//   page BURSTS     the Bundle page in a window: time from the end of a burst of 200 registry
//                   changes (and from a single change) to the reloaded list, reloads per burst,
//                   and the CPU time of the idle page with its four watchers over 10 s
// Prints what it measures; asserts nothing.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include <atomic>
#include <thread>

#include "locale/translate.h"
#include "base/handle.h"
#include "base/list_rows.h"
#include "base/paths.h"
#include "base/sync.h"
#include "bundle/install_page.h"
#include "bundle/install_registrations.h"
#include "bundle/inventory.h"
#include "widgets/application.h"
#include "widgets/form.h"

using namespace nimbrel;

namespace {

double NowMilliseconds() {
  LARGE_INTEGER Frequency, Counter;
  ::QueryPerformanceFrequency(&Frequency);
  ::QueryPerformanceCounter(&Counter);
  return static_cast<double>(Counter.QuadPart) * 1000.0 / static_cast<double>(Frequency.QuadPart);
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values.empty() ? 0.0 : Values[Values.size() / 2];
}

void SetText(HKEY Key, const wchar_t* Name, const std::wstring& Text) {
  ::RegSetValueExW(Key, Name, 0, REG_SZ, reinterpret_cast<const BYTE*>(Text.c_str()),
                   static_cast<DWORD>((Text.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(HKEY Key, const wchar_t* Name, DWORD Number) {
  ::RegSetValueExW(Key, Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Number), sizeof(Number));
}

// Registrations as installers write them: most complete with an eight-digit date, some
// Windows Installer products, some system components and updates that the inventory skips.
void Seed(int Count) {
  const auto Registrations = InstallRegistrations();
  for (int I = 0; I < Count; ++I) {
    const TInstallRegistration& Registration = Registrations[I % 4];
    const std::wstring Name = L"BenchProgram" + std::to_wstring(I);
    TOwnedKey Key;
    ::RegCreateKeyExW(Registration.RootKey, (std::wstring(Registration.Key + 1) + L"\\" + Name).c_str(), 0, nullptr,
                      0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, Key.put(), nullptr);
    const std::wstring Folder = L"C:\\Program Files\\Bench Vendor " + std::to_wstring(I % 50) + L"\\" + Name;
    SetText(Key.get(), L"DisplayName", L"Bench Program " + std::to_wstring(I));
    SetText(Key.get(), L"Publisher", L"Bench Vendor " + std::to_wstring(I % 50));
    SetText(Key.get(), L"DisplayVersion", L"1." + std::to_wstring(I % 7) + L".0");
    SetText(Key.get(), L"InstallLocation", Folder);
    SetText(Key.get(), L"HelpLink", L"https://vendor.example/help");
    SetText(Key.get(), L"URLInfoAbout", L"https://vendor.example/");
    SetNumber(Key.get(), L"EstimatedSize", static_cast<DWORD>(1000 + I));
    wchar_t Date[16];
    std::swprintf(Date, 16, L"20%02d%02d%02d", 10 + I % 15, 1 + I % 12, 1 + I % 28);
    SetText(Key.get(), L"InstallDate", Date);
    if (I % 10 == 3) {
      SetText(Key.get(), L"UninstallString", L"MsiExec.exe /X{BENCH-" + std::to_wstring(I) + L"}");
    } else {
      SetText(Key.get(), L"UninstallString", L"\"" + Folder + L"\\uninstall.exe\" /S");
      SetText(Key.get(), L"DisplayIcon", Folder + L"\\app.exe,0");
    }
    if (I % 200 == 5) SetText(Key.get(), L"DisplayName", L"AnySign4PC " + std::to_wstring(I));  // black-listed
    if (I % 20 == 7) SetNumber(Key.get(), L"SystemComponent", 1);
    if (I % 20 == 11) SetText(Key.get(), L"ParentKeyName", L"OperatingSystem");
  }
}

const wchar_t* const ValueNames[] = {L"DisplayName", L"UninstallString", L"Publisher",    L"ParentKeyName",
                                     L"NoRemove",    L"SystemComponent", L"DisplayVersion", L"HelpLink",
                                     L"InstallLocation", L"URLInfoAbout", L"InstallDate",   L"EstimatedSize",
                                     L"DisplayIcon"};

// Opens every registration subkey and reads each value GetInstall reads, once, into one buffer.
int Floor() {
  int Values = 0;
  for (const TInstallRegistration& Registration : InstallRegistrations()) {
    TOwnedKey Key;
    if (::RegOpenKeyExW(Registration.RootKey, Registration.Key + 1, 0, KEY_READ | KEY_WOW64_64KEY, Key.put()) !=
        ERROR_SUCCESS) {
      continue;
    }
    wchar_t Name[256];
    for (DWORD Index = 0;; ++Index) {
      DWORD Length = 256;
      if (::RegEnumKeyExW(Key.get(), Index, Name, &Length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      TOwnedKey Sub;
      if (::RegOpenKeyExW(Key.get(), Name, 0, KEY_READ | KEY_WOW64_64KEY, Sub.put()) != ERROR_SUCCESS) continue;
      for (const wchar_t* Value : ValueNames) {
        BYTE Data[4096];
        DWORD Size = sizeof(Data);
        DWORD Type = 0;
        if (::RegQueryValueExW(Sub.get(), Value, nullptr, &Type, Data, &Size) == ERROR_SUCCESS) ++Values;
      }
    }
  }
  return Values;
}

void Inventory(int Rounds) {
  std::vector<double> Inventory, Base;
  size_t Entries = 0;
  int Values = 0;
  for (int Round = 0; Round < Rounds; ++Round) {
    double Start = NowMilliseconds();
    TInstallList List;
    GetInstall(List);
    Inventory.push_back(NowMilliseconds() - Start);
    Entries = List.size();
    Start = NowMilliseconds();
    Values = Floor();
    Base.push_back(NowMilliseconds() - Start);
  }
  // The machine is shared: the fastest round of each shows the work best, the median the spread.
  const double Fastest = *std::min_element(Inventory.begin(), Inventory.end());
  const double FastestFloor = *std::min_element(Base.begin(), Base.end());
  std::printf("inventory entries=%zu values_read=%d rounds=%d getinstall_ms fastest=%.1f median=%.1f "
              "floor_ms fastest=%.1f median=%.1f\n",
              Entries, Values, Rounds, Fastest, Median(Inventory), FastestFloor, Median(Base));
  std::printf("inventory ratio fastest=%.2f median=%.2f (goal <= 1.5)\n", FastestFloor > 0 ? Fastest / FastestFloor : 0.0,
              Median(Base) > 0 ? Median(Inventory) / Median(Base) : 0.0);
}

double CpuMilliseconds() {
  FILETIME Creation, Exit, Kernel, User;
  ::GetProcessTimes(::GetCurrentProcess(), &Creation, &Exit, &Kernel, &User);
  auto Value = [](const FILETIME& Time) {
    return static_cast<double>((static_cast<ULONGLONG>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime) / 1e4;
  };
  return Value(Kernel) + Value(User);
}

// Runs the window's messages until Done holds or Milliseconds have passed.
template <typename F>
void RunUntil(F Done, double Milliseconds) {
  const double Until = NowMilliseconds() + Milliseconds;
  while (!Done() && NowMilliseconds() < Until) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    Application().ProcessMessages();
  }
}

// The page in a window; the watchers' reloads are timed by the time the load count changes.
void Page(int Bursts) {
  TStringList NameBlack;
  LoadListResource(NameBlack, L"name_black");
  TForm Host(nullptr, L"FrmBench", L"TFrmBundleBench", 464, 417);
  auto* Page = Host.Create<TFrmInstall>(&Host);
  Page->FNameBlack = &NameBlack;
  Host.Show();
  double Start = NowMilliseconds();
  Page->LoadInstall();
  std::printf("page first_load_ms=%.1f rows=%zu inventory=%zu\n", NowMilliseconds() - Start, Page->Rows().size(),
              Page->InventoryCopy().size());

  const auto Registrations = InstallRegistrations();
  const std::wstring Target = std::wstring(Registrations[2].Key + 1) + L"\\BenchProgram2";
  auto Write = [&](int Number) {
    TOwnedKey Key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, Target.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                      Key.put(), nullptr);
    SetText(Key.get(), (L"Value" + std::to_wstring(Number % 40)).c_str(), std::to_wstring(Number));
  };

  // One change: from the write to the reloaded list.
  std::vector<double> Single;
  for (int Round = 0; Round < Bursts; ++Round) {
    RunUntil([] { return false; }, 600);
    const int Loads = Page->LoadCount();
    Start = NowMilliseconds();
    Write(Round);
    RunUntil([&] { return Page->LoadCount() != Loads; }, 3000);
    Single.push_back(NowMilliseconds() - Start);
  }

  // Bursts of 200 changes written by another thread as fast as the registry takes them.
  std::vector<double> AfterBurst, BurstLength;
  std::vector<int> Reloads;
  for (int Round = 0; Round < Bursts; ++Round) {
    RunUntil([] { return false; }, 600);
    const int Loads = Page->LoadCount();
    std::atomic<double> BurstEnd{0.0};
    const double BurstStart = NowMilliseconds();
    std::thread Installer([&] {
      for (int I = 0; I < 200; ++I) Write(I);
      BurstEnd = NowMilliseconds();
    });
    double LastReload = 0;
    int Seen = Loads;
    RunUntil(
        [&] {
          if (Page->LoadCount() != Seen) {
            Seen = Page->LoadCount();
            LastReload = NowMilliseconds();
          }
          return false;
        },
        1500);
    Installer.join();
    Reloads.push_back(Page->LoadCount() - Loads);
    AfterBurst.push_back(LastReload - BurstEnd.load());
    BurstLength.push_back(BurstEnd.load() - BurstStart);
  }
  std::printf("page single_change_to_list_median_ms=%.1f (rounds=%d)\n", Median(Single), Bursts);
  std::printf("page burst_of_200_ms=%.1f burst_end_to_list_median_ms=%.1f max_ms=%.1f (goal <= 100)\n",
              Median(BurstLength), Median(AfterBurst), *std::max_element(AfterBurst.begin(), AfterBurst.end()));
  std::printf("page reloads_per_burst max=%d median=%d (goal <= 3)\n", *std::max_element(Reloads.begin(), Reloads.end()),
              static_cast<int>(Median(std::vector<double>(Reloads.begin(), Reloads.end()))));

  // Idle: the page and its four watchers wait in the message loop.
  RunUntil([] { return false; }, 1000);
  const int Loads = Page->LoadCount();
  const double Cpu = CpuMilliseconds();
  Start = NowMilliseconds();
  MSG Message;
  const UINT_PTR Stop = ::SetTimer(nullptr, 0, 10000, nullptr);
  while (::GetMessageW(&Message, nullptr, 0, 0) > 0) {
    if (Message.message == WM_TIMER && Message.hwnd == nullptr && Message.wParam == Stop) break;
    ::TranslateMessage(&Message);
    ::DispatchMessageW(&Message);
  }
  ::KillTimer(nullptr, Stop);
  std::printf("page idle_wall_ms=%.0f idle_cpu_ms=%.1f reloads_while_idle=%d (goal 0 ms)\n", NowMilliseconds() - Start,
              CpuMilliseconds() - Cpu, Page->LoadCount() - Loads);

  Start = NowMilliseconds();
  Host.FreeComponent(Page);
  std::printf("page destroy_ms=%.1f\n", NowMilliseconds() - Start);
}

}  // namespace

int wmain(int Count, wchar_t** Arguments) {
  if (Count < 3) {
    std::printf("usage: bench_bundle_page.exe seed COUNT | inventory ROUNDS | page BURSTS\n");
    return 2;
  }
  const std::wstring Mode = Arguments[1];
  const int Number = std::wcstol(Arguments[2], nullptr, 10);
  if (Mode == L"seed") Seed(Number);
  if (Mode == L"inventory") Inventory(Number);
  if (Mode == L"page") {
    InitMainThread();
    InitPathVariables();
    LoadTranslation();
    Page(Number);
  }
  return 0;
}
