// The program on a 144 DPI display: its window and controls are scaled by one and a half.
// Runs in a Wine prefix of its own, since it changes the prefix's display DPI.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/handle.h"
#include "widgets/control.h"

namespace nimbrel {
namespace {

TEST(Dpi, TheWindowAndItsControlsScaleWithTheDisplay) {
  TOwnedKey Desktop;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              Desktop.put(), nullptr),
            ERROR_SUCCESS);
  const DWORD Dpi = 144;
  ASSERT_EQ(::RegSetValueExW(Desktop.get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Dpi), sizeof(Dpi)),
            ERROR_SUCCESS);

  STARTUPINFOW Startup{};
  Startup.cb = sizeof(Startup);
  PROCESS_INFORMATION Info{};
  std::wstring CommandLine = L"\"" + std::wstring(L"" NIMBREL_EXE_PATH) + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Info));
  TOwnedHandle Process(Info.hProcess), Thread(Info.hThread);

  HWND Window = nullptr;
  for (int I = 0; I < 300 && Window == nullptr; ++I) {
    ::Sleep(100);
    HWND Found = ::FindWindowW(L"TFrmNimbrel", nullptr);
    if (Found != nullptr && ::IsWindowVisible(Found)) Window = Found;
  }
  ASSERT_NE(Window, nullptr);
  ::WaitForInputIdle(Process.get(), 10000);

  RECT Client;
  ::GetClientRect(Window, &Client);
  EXPECT_EQ(Client.right, 696);   // 464 * 1.5
  EXPECT_EQ(Client.bottom, 626);  // 417 * 1.5, rounded

  // The Clean button: 162 x 68 at (142, 264) on a card 8 px in, below the 50 px header.
  HWND Start = nullptr;
  ::EnumChildWindows(
      Window,
      [](HWND Each, LPARAM Found) -> BOOL {
        if (::GetDlgCtrlID(Each) != ControlIdOf(L"BtnStart")) return TRUE;
        *reinterpret_cast<HWND*>(Found) = Each;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&Start));
  ASSERT_NE(Start, nullptr);
  RECT Button;
  ::GetWindowRect(Start, &Button);
  ::MapWindowPoints(nullptr, Window, reinterpret_cast<POINT*>(&Button), 2);
  EXPECT_EQ(Button.right - Button.left, 243);
  EXPECT_EQ(Button.bottom - Button.top, 102);
  EXPECT_EQ(Button.left, 12 + 213);
  EXPECT_EQ(Button.top, 75 + 396);

  ::PostMessageW(Window, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(Process.get(), 20000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace nimbrel
