#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <string>

namespace nimbrel {
namespace {

TEST(SingleInstance, TheSecondClaimOfANameFails) {
  const std::wstring Name = L"NimbrelTestMutex-" + std::to_wstring(::GetCurrentProcessId());
  TOwnedHandle First, Second;
  EXPECT_TRUE(AcquireSingleInstance(Name.c_str(), First));
  EXPECT_TRUE(First);
  EXPECT_FALSE(AcquireSingleInstance(Name.c_str(), Second));
  EXPECT_FALSE(Second);
  First.reset();
  EXPECT_TRUE(AcquireSingleInstance(Name.c_str(), Second)) << "a name whose holder is gone is free again";
}

TEST(SingleInstance, AMutexThatCannotBeOpenedStillRuns) {
  // Another account's copy: the mutex exists, but its security lets nobody else open it.
  const std::wstring Name = L"NimbrelTestLocked-" + std::to_wstring(::GetCurrentProcessId());
  ACL EmptyAcl;
  ASSERT_TRUE(::InitializeAcl(&EmptyAcl, sizeof(EmptyAcl), ACL_REVISION));
  SECURITY_DESCRIPTOR Descriptor;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&Descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&Descriptor, TRUE, &EmptyAcl, FALSE));
  SECURITY_ATTRIBUTES Attributes{sizeof(Attributes), &Descriptor, FALSE};
  TOwnedHandle Other(::CreateMutexW(&Attributes, TRUE, Name.c_str()));
  ASSERT_TRUE(Other);

  TOwnedHandle Mutex;
  EXPECT_TRUE(AcquireSingleInstance(Name.c_str(), Mutex));
  EXPECT_FALSE(Mutex) << "nothing to hold: the name is not ours";
}

TEST(SingleInstance, ANameTakenByAnotherKindOfObjectStillRuns) {
  // CreateMutexW fails with ERROR_INVALID_HANDLE when the name belongs to an event; like a mutex
  // that cannot be opened, that must not stop the program.
  const std::wstring Name = L"NimbrelTestEvent-" + std::to_wstring(::GetCurrentProcessId());
  TOwnedHandle Event(::CreateEventW(nullptr, TRUE, FALSE, Name.c_str()));
  ASSERT_TRUE(Event);
  TOwnedHandle Mutex;
  EXPECT_TRUE(AcquireSingleInstance(Name.c_str(), Mutex));
}

// Two real copies of the program: the second ends at once, without a window.
TEST(SingleInstance, ASecondProgramEndsAtOnce) {
  auto Start = [](PROCESS_INFORMATION& Info) {
    STARTUPINFOW Startup{};
    Startup.cb = sizeof(Startup);
    std::wstring CommandLine = L"\"" + std::wstring(L"" NIMBREL_EXE_PATH) + L"\"";
    return ::CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                            &Info) != FALSE;
  };
  PROCESS_INFORMATION First{}, Second{};
  ASSERT_TRUE(Start(First));
  TOwnedHandle FirstProcess(First.hProcess), FirstThread(First.hThread);
  // Wait for the first copy's window, so that its mutex surely exists.
  HWND Window = nullptr;
  for (int I = 0; I < 200 && Window == nullptr; ++I) {
    ::Sleep(100);
    Window = ::FindWindowW(L"TFrmNimbrel", nullptr);
  }
  ASSERT_NE(Window, nullptr);

  ASSERT_TRUE(Start(Second));
  TOwnedHandle SecondProcess(Second.hProcess), SecondThread(Second.hThread);
  EXPECT_EQ(::WaitForSingleObject(SecondProcess.get(), 20000), WAIT_OBJECT_0);
  DWORD ExitCode = 1;
  ::GetExitCodeProcess(SecondProcess.get(), &ExitCode);
  EXPECT_EQ(ExitCode, 0u);

  // Only the first copy's window exists.
  int Windows = 0;
  ::EnumWindows(
      [](HWND Each, LPARAM Count) -> BOOL {
        wchar_t Class[32] = {};
        ::GetClassNameW(Each, Class, 32);
        if (std::wstring(Class) == L"TFrmNimbrel") ++*reinterpret_cast<int*>(Count);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&Windows));
  EXPECT_EQ(Windows, 1);

  ::PostMessageW(Window, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(FirstProcess.get(), 20000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace nimbrel
