// DLLs that are not known DLLs come from System32 by full path; the test prefix is a Windows 10.
#include "base/system_library.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "base/system_api.h"

namespace nimbrel {
namespace {

std::wstring ModulePath(HMODULE Module) {
  wchar_t Path[MAX_PATH] = {};
  const DWORD Length = ::GetModuleFileNameW(Module, Path, MAX_PATH);
  return std::wstring(Path, Length);
}

TEST(SystemLibrary, LoadsFromSystem32OnceAndFindsFunctions) {
  wchar_t Folder[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(Folder, MAX_PATH), 0u);
  const HMODULE Version = SystemLibrary(L"version.dll");
  ASSERT_NE(Version, nullptr);
  EXPECT_EQ(::lstrcmpiW(ModulePath(Version).c_str(), (std::wstring(Folder) + L"\\version.dll").c_str()), 0);
  EXPECT_EQ(SystemLibrary(L"version.dll"), Version);
  EXPECT_NE(SystemProc<decltype(&::GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW"), nullptr);
  EXPECT_EQ(SystemProcAddress(L"version.dll", "NoSuchFunction"), nullptr);
  EXPECT_EQ(SystemLibrary(L"nimbrel-no-such.dll"), nullptr);
  EXPECT_EQ(SystemProcAddress(L"nimbrel-no-such.dll", "Anything"), nullptr);
}

TEST(SystemApi, FindsEveryFunctionItOffers) {
  for (const char* Name : {"CoInitializeEx", "CoUninitialize", "CoCreateInstance", "CoInitializeSecurity",
                           "SysAllocString", "SysAllocStringLen", "SysFreeString", "SysStringLen", "VariantClear",
                           "SHGetFolderPathW", "ShellExecuteExW", "ExtractAssociatedIconW", "GetSaveFileNameW"})
    EXPECT_TRUE(api::Available(Name)) << Name;
  EXPECT_FALSE(api::Available("NoSuchFunction"));

  const BSTR Text = api::SysAllocStringLen(L"abcd", 3);
  ASSERT_NE(Text, nullptr);
  EXPECT_EQ(api::SysStringLen(Text), 3u);
  EXPECT_EQ(std::wstring(Text), L"abc");
  api::SysFreeString(Text);
  wchar_t Folder[MAX_PATH] = {};
  EXPECT_EQ(api::SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT, Folder), S_OK);
  EXPECT_NE(Folder[0], L'\0');
}

// The calling thread's apartment type; nullopt when it is in none.
std::optional<APTTYPE> ApartmentType() {
  APTTYPE Type{};
  APTTYPEQUALIFIER Qualifier{};
  if (::CoGetApartmentType(&Type, &Qualifier) != S_OK) return std::nullopt;
  return Type;
}

TEST(SystemApi, JoinComApartmentStartsOneApartmentAndLeavesAnotherAsItWas) {
  std::thread([] {
    EXPECT_FALSE(ApartmentType().has_value());
    EXPECT_TRUE(JoinComApartment());
    EXPECT_TRUE(JoinComApartment());
    const std::optional<APTTYPE> Type = ApartmentType();
    EXPECT_TRUE(Type == APTTYPE_STA || Type == APTTYPE_MAINSTA);  // the process's first one is the main one
  }).join();
  // A thread in the multithreaded apartment stays there, and leaves it with its own last call.
  std::thread([] {
    ASSERT_EQ(api::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_TRUE(JoinComApartment());
    EXPECT_EQ(ApartmentType(), APTTYPE_MTA);
    api::CoUninitialize();
    EXPECT_FALSE(ApartmentType().has_value());
  }).join();
  // One already single-threaded keeps its own count.
  std::thread([] {
    ASSERT_EQ(api::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_TRUE(JoinComApartment());
    api::CoUninitialize();
    EXPECT_FALSE(ApartmentType().has_value());
  }).join();
}

// Started from a folder that holds a planted file: afterwards System32 is the current folder and
// the file is not found by its bare name.
TEST(SystemLibrary, LeavesTheStartFolderForSystem32) {
  wchar_t Previous[MAX_PATH] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, Previous), 0u);
  const std::filesystem::path Start =
      std::filesystem::temp_directory_path() / (L"nimbrel-start-" + std::to_wstring(::GetCurrentProcessId()));
  std::filesystem::create_directories(Start);
  const std::wstring Planted = L"nimbrel-planted.txt";
  std::ofstream(Start / Planted) << "planted";
  ASSERT_TRUE(::SetCurrentDirectoryW(Start.c_str()));
  ASSERT_NE(::GetFileAttributesW(Planted.c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(LeaveStartFolder());
  wchar_t Current[MAX_PATH] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, Current), 0u);
  EXPECT_EQ(::lstrcmpiW(Current, SystemFolder().c_str()), 0) << Current;
  EXPECT_EQ(::GetFileAttributesW(Planted.c_str()), INVALID_FILE_ATTRIBUTES);

  ::SetCurrentDirectoryW(Previous);
  std::error_code Ignored;
  std::filesystem::remove_all(Start, Ignored);
}

TEST(SystemLibrary, SystemAndWindowsFoldersHaveNoTrailingBackslash) {
  wchar_t Folder[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(Folder, MAX_PATH), 0u);
  EXPECT_EQ(::lstrcmpiW(SystemFolder().c_str(), Folder), 0);
  const std::wstring Windows = WindowsFolder();
  ASSERT_FALSE(Windows.empty());
  EXPECT_NE(Windows.back(), L'\\');
  EXPECT_EQ(::lstrcmpiW((Windows + L"\\System32").c_str(), Folder), 0);
}

// Code that branches on "Windows 10 or later" must test the branch users' machines take.
TEST(TestPrefix, ReportsWindows10) {
  using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto GetVersion =
      reinterpret_cast<TRtlGetVersion>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  ASSERT_NE(GetVersion, nullptr);
  OSVERSIONINFOW Info{};
  Info.dwOSVersionInfoSize = sizeof(Info);
  ASSERT_EQ(GetVersion(&Info), 0);
  EXPECT_EQ(Info.dwMajorVersion, 10u);
}

}  // namespace
}  // namespace nimbrel
