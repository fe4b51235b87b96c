// DLLs that are not known DLLs come from System32 by full path; the test prefix is a Windows 10.
#include "base/system_library.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

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
