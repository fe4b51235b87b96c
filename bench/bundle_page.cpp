// Measures the Bundle page's work on a prefix seeded with many uninstall registrations:
//   seed COUNT      writes COUNT registrations across the four uninstall keys
//   inventory N     GetInstall against a floor that reads the same values and builds nothing
// Prints what it measures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/handle.h"
#include "bundle/install_registrations.h"
#include "bundle/inventory.h"

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
  const double Ratio = Median(Base) > 0 ? Median(Inventory) / Median(Base) : 0.0;
  std::printf("inventory entries=%zu values_read=%d rounds=%d getinstall_median_ms=%.1f floor_median_ms=%.1f "
              "ratio=%.2f (goal <= 1.5)\n",
              Entries, Values, Rounds, Median(Inventory), Median(Base), Ratio);
}

}  // namespace

int wmain(int Count, wchar_t** Arguments) {
  if (Count < 3) {
    std::printf("usage: bench_bundle_page.exe seed COUNT | inventory ROUNDS\n");
    return 2;
  }
  const std::wstring Mode = Arguments[1];
  const int Number = std::wcstol(Arguments[2], nullptr, 10);
  if (Mode == L"seed") Seed(Number);
  if (Mode == L"inventory") Inventory(Number);
  return 0;
}
