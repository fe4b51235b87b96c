// Version text and installation identifier.
#include "net/identity.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

#include "base/handle.h"
#include "base/system_library.h"

namespace nimbrel {

namespace {

std::wstring FormatVersion(const std::wstring& Format, const WORD (&Numbers)[4]) {
  std::wstring Text;
  size_t Next = 0;
  for (size_t I = 0; I < Format.size(); ++I) {
    if (Format[I] == L'%' && I + 1 < Format.size()) {
      if (Format[I + 1] == L'd') {
        Text += std::to_wstring(Next < 4 ? Numbers[Next] : 0);
        ++Next;
        ++I;
        continue;
      }
      if (Format[I + 1] == L'%') {
        Text += L'%';
        ++I;
        continue;
      }
    }
    Text += Format[I];
  }
  return Text;
}

std::mt19937& UnionRandom() {
  static std::mt19937 Random([] {
    std::seed_seq Seed{static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()),
                       static_cast<unsigned>(std::random_device{}()), static_cast<unsigned>(::GetCurrentProcessId())};
    return std::mt19937(Seed);
  }());
  return Random;
}

}  // namespace

std::wstring GetFileVersionText(const std::wstring& FileName, const std::wstring& Format) {
  WORD Numbers[4] = {0, 0, 0, 0};
  // version.dll is not a known DLL: loaded from System32 by full path.
  static const auto Size = SystemProc<decltype(&::GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW");
  static const auto Info = SystemProc<decltype(&::GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
  static const auto Query = SystemProc<decltype(&::VerQueryValueW)>(L"version.dll", "VerQueryValueW");
  if (Size != nullptr && Info != nullptr && Query != nullptr) {
    DWORD Handle = 0;
    const DWORD Length = Size(FileName.c_str(), &Handle);
    if (Length != 0) {
      std::vector<BYTE> Block(Length);
      VS_FIXEDFILEINFO* Fixed = nullptr;
      UINT FixedLength = 0;
      if (Info(FileName.c_str(), 0, Length, Block.data()) &&
          Query(Block.data(), L"\\", reinterpret_cast<void**>(&Fixed), &FixedLength) && Fixed != nullptr &&
          FixedLength >= sizeof(VS_FIXEDFILEINFO)) {
        Numbers[0] = HIWORD(Fixed->dwFileVersionMS);
        Numbers[1] = LOWORD(Fixed->dwFileVersionMS);
        Numbers[2] = HIWORD(Fixed->dwFileVersionLS);
        Numbers[3] = LOWORD(Fixed->dwFileVersionLS);
      }
    }
  }
  return FormatVersion(Format, Numbers);
}

std::wstring GetAppVersion(const std::wstring& Format) {
  std::wstring Path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD Length = ::GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (Length == 0) return GetFileVersionText(L"", Format);
    if (Length < Path.size()) {
      Path.resize(Length);
      break;
    }
    Path.resize(Path.size() * 2);
  }
  return GetFileVersionText(Path, Format);
}

std::wstring NewUserUnion() {
  std::uint32_t A = 0, B = 0, C = 0;
  {
    static std::mutex Lock;
    std::lock_guard Guard(Lock);
    std::uniform_int_distribution<std::uint32_t> Large(0, 2147483646);
    std::uniform_int_distribution<std::uint32_t> Small(0, 65534);
    A = Large(UnionRandom());
    B = Small(UnionRandom());
    C = Large(UnionRandom());
  }
  SYSTEMTIME Now{};
  ::GetLocalTime(&Now);
  wchar_t Text[40] = {};
  std::swprintf(Text, std::size(Text), L"%08X%02u%02u%02u%04X%02u%02u%02u%08X", A, Now.wYear % 100u, Now.wMonth,
                Now.wDay, B, Now.wHour, Now.wMinute, Now.wSecond, C);
  return Text;
}

std::wstring GetUserUnion() {
  TOwnedKey Key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, UserUnionKey, 0, nullptr, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                        Key.put(), nullptr) != ERROR_SUCCESS)
    return {};
  if (::RegQueryValueExW(Key.get(), UserUnionValue, nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND) {
    const std::wstring Union = NewUserUnion();
    if (::RegSetValueExW(Key.get(), UserUnionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(Union.c_str()),
                         static_cast<DWORD>((Union.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
      return {};
  }
  DWORD Bytes = 0;
  if (::RegGetValueW(Key.get(), nullptr, UserUnionValue, RRF_RT_REG_SZ, nullptr, nullptr, &Bytes) != ERROR_SUCCESS) return {};
  std::wstring Value(Bytes / sizeof(wchar_t) + 1, L'\0');
  Bytes = static_cast<DWORD>(Value.size() * sizeof(wchar_t));
  if (::RegGetValueW(Key.get(), nullptr, UserUnionValue, RRF_RT_REG_SZ, nullptr, Value.data(), &Bytes) != ERROR_SUCCESS)
    return {};
  Value.resize(wcsnlen(Value.c_str(), Value.size()));
  return Value;
}

}  // namespace nimbrel
