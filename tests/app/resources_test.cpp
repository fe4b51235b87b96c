// What the built program carries: its manifest, version and icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/handle.h"
#include "base/paths.h"

namespace nimbrel {
namespace {

const std::wstring ProgramPath = L"" NIMBREL_EXE_PATH;

std::string ResourceText(HMODULE Module, LPCWSTR Name, LPCWSTR Type) {
  HRSRC Found = ::FindResourceW(Module, Name, Type);
  if (Found == nullptr) return {};
  HGLOBAL Loaded = ::LoadResource(Module, Found);
  const auto* Data = static_cast<const char*>(::LockResource(Loaded));
  return Data != nullptr ? std::string(Data, ::SizeofResource(Module, Found)) : std::string();
}

TEST(ProgramResources, TheManifestAsksForAdministratorRightsPerMonitorDpiAndCommonControls6) {
  TOwnedModule Program(::LoadLibraryExW(ProgramPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(Program);
  const std::string Manifest = ResourceText(Program.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_FALSE(Manifest.empty());
  for (const char* Part : {"level=\"requireAdministrator\"", ">PerMonitorV2<", ">true/pm<",
                           "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                           "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(Manifest.find(Part), std::string::npos) << Part;
  }
  EXPECT_NE(::FindResourceW(Program.get(), MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr) << "the application icon";
  for (const wchar_t* Name : {L"FILE_WHITE", L"NAME_WHITE", L"NAME_BLACK", L"TRANSLATE"}) {
    EXPECT_NE(::FindResourceW(Program.get(), Name, RT_RCDATA), nullptr) << Name;
  }
}

TEST(ProgramResources, TheVersionIsFourNumbers) {
  std::map<std::wstring, std::wstring> Values;
  ASSERT_GT(GetFileVersionStrings(ProgramPath, {L"FileVersion", L"ProductName"}, Values), 0);
  EXPECT_EQ(Values[L"FileVersion"], L"1.0.0.0");
  EXPECT_EQ(Values[L"ProductName"], L"Nimbrel");
}

}  // namespace
}  // namespace nimbrel
