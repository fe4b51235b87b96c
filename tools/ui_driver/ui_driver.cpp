// Drives a running Nimbrel from outside, as a user or UI automation would: waits for the main
// window, presses controls by name (BM_CLICK to the child with that control id), captures the
// window to a BMP file and closes it.
//
//   ui_driver wait [ms]          wait for the main window (default 20000 ms); exit 1 on time-out
//   ui_driver click NAME         press the control called NAME (BtnHome, BtnAutorun, ...)
//   ui_driver tap NAME X Y       post a left-button press and release at client point X, Y of
//                                the control called NAME (a row of a list, for one)
//   ui_driver rows NAME [ms]     wait until the list called NAME has a row (a page's load is in);
//                                exit 1 on time-out (default 60000 ms)
//   ui_driver sleep MS           let the program paint
//   ui_driver capture FILE.bmp   the window, frame included, as it is on the screen
//   ui_driver post NAME MSG W L  post a message (numbers as in C: 0x100, -1) to the control NAME
//   ui_driver close              close the window
//   ui_driver capture-dialog FILE.bmp   the first visible dialog (class #32770) of any program
//   ui_driver close-dialog       answer that dialog with Cancel
// Several commands can follow each other in one call.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/handle.h"
#include "widgets/control.h"

namespace {

using namespace nimbrel;

constexpr wchar_t MainClass[] = L"TFrmNimbrel";

HWND FindMain() { return ::FindWindowW(MainClass, nullptr); }

HWND FindDialog() {
  for (HWND Window = ::FindWindowW(L"#32770", nullptr); Window != nullptr;
       Window = ::FindWindowExW(nullptr, Window, L"#32770", nullptr)) {
    if (::IsWindowVisible(Window)) return Window;
  }
  return nullptr;
}

HWND FindControl(HWND Main, WORD Id) {
  struct TSearch {
    WORD Id;
    HWND Found;
  } Search{Id, nullptr};
  ::EnumChildWindows(
      Main,
      [](HWND Window, LPARAM Data) -> BOOL {
        auto* S = reinterpret_cast<TSearch*>(Data);
        if (::GetDlgCtrlID(Window) == S->Id) {
          S->Found = Window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&Search));
  return Search.Found;
}

bool Capture(HWND Window, const wchar_t* FileName) {
  RECT Rect;
  ::GetWindowRect(Window, &Rect);
  const int Width = Rect.right - Rect.left;
  const int Height = Rect.bottom - Rect.top;
  TWindowDc Screen(nullptr);
  TOwnedDc Memory(::CreateCompatibleDC(Screen.get()));
  BITMAPINFO Info{};
  Info.bmiHeader.biSize = sizeof(Info.bmiHeader);
  Info.bmiHeader.biWidth = Width;
  Info.bmiHeader.biHeight = Height;
  Info.bmiHeader.biPlanes = 1;
  Info.bmiHeader.biBitCount = 24;
  Info.bmiHeader.biCompression = BI_RGB;
  void* Bits = nullptr;
  TOwnedBitmap Bitmap(::CreateDIBSection(Screen.get(), &Info, DIB_RGB_COLORS, &Bits, nullptr, 0));
  if (!Memory || !Bitmap) return false;
  {
    TSelectObject Selected(Memory.get(), Bitmap.get());
    ::BitBlt(Memory.get(), 0, 0, Width, Height, Screen.get(), Rect.left, Rect.top, SRCCOPY);
  }
  ::GdiFlush();
  const DWORD Stride = ((static_cast<DWORD>(Width) * 3 + 3) / 4) * 4;
  const DWORD ImageSize = Stride * static_cast<DWORD>(Height);
  BITMAPFILEHEADER File{};
  File.bfType = 0x4D42;
  File.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  File.bfSize = File.bfOffBits + ImageSize;
  Info.bmiHeader.biSizeImage = ImageSize;
  TOwnedHandle Out(::CreateFileW(FileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!Out) return false;
  DWORD Written = 0;
  return ::WriteFile(Out.get(), &File, sizeof(File), &Written, nullptr) &&
         ::WriteFile(Out.get(), &Info.bmiHeader, sizeof(Info.bmiHeader), &Written, nullptr) &&
         ::WriteFile(Out.get(), Bits, ImageSize, &Written, nullptr);
}

// The main window's control called Name; nullptr, with a message, when there is none.
HWND NamedControl(const std::wstring& Name) {
  HWND Control = FindControl(FindMain(), ControlIdOf(Name));
  if (Control == nullptr) std::fwprintf(stderr, L"ui_driver: no control %ls\n", Name.c_str());
  return Control;
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  std::vector<std::wstring> Args(Argv + 1, Argv + Argc);
  for (size_t I = 0; I < Args.size(); ++I) {
    const std::wstring& Command = Args[I];
    auto Next = [&]() -> std::wstring { return I + 1 < Args.size() ? Args[++I] : std::wstring(); };
    if (Command == L"wait") {
      const std::wstring Limit = I + 1 < Args.size() && iswdigit(Args[I + 1][0]) ? Next() : L"20000";
      const DWORD Until = ::GetTickCount() + static_cast<DWORD>(std::wcstoul(Limit.c_str(), nullptr, 10));
      while (FindMain() == nullptr || !::IsWindowVisible(FindMain())) {
        if (static_cast<LONG>(::GetTickCount() - Until) > 0) {
          std::fwprintf(stderr, L"ui_driver: no main window\n");
          return 1;
        }
        ::Sleep(100);
      }
    } else if (Command == L"click") {
      HWND Control = NamedControl(Next());
      if (Control == nullptr) return 1;
      ::SendMessageW(Control, BM_CLICK, 0, 0);
    } else if (Command == L"post") {
      HWND Control = NamedControl(Next());
      const auto Msg = static_cast<UINT>(std::wcstoul(Next().c_str(), nullptr, 0));
      const auto WParam = static_cast<WPARAM>(std::wcstoll(Next().c_str(), nullptr, 0));
      const auto LParam = static_cast<LPARAM>(std::wcstoll(Next().c_str(), nullptr, 0));
      if (Control == nullptr) return 1;
      ::PostMessageW(Control, Msg, WParam, LParam);
    } else if (Command == L"tap") {
      HWND Control = NamedControl(Next());
      const int X = static_cast<int>(std::wcstol(Next().c_str(), nullptr, 10));
      const int Y = static_cast<int>(std::wcstol(Next().c_str(), nullptr, 10));
      if (Control == nullptr) return 1;
      ::PostMessageW(Control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(X, Y));
      ::PostMessageW(Control, WM_LBUTTONUP, 0, MAKELPARAM(X, Y));
    } else if (Command == L"rows") {
      HWND List = NamedControl(Next());
      const std::wstring Limit = I + 1 < Args.size() && iswdigit(Args[I + 1][0]) ? Next() : L"60000";
      const DWORD Until = ::GetTickCount() + static_cast<DWORD>(std::wcstoul(Limit.c_str(), nullptr, 10));
      while (List != nullptr && ::SendMessageW(List, LVM_GETITEMCOUNT, 0, 0) <= 0) {
        if (static_cast<LONG>(::GetTickCount() - Until) > 0) List = nullptr;
        ::Sleep(100);
      }
      if (List == nullptr) {
        std::fwprintf(stderr, L"ui_driver: no rows\n");
        return 1;
      }
    } else if (Command == L"sleep") {
      ::Sleep(static_cast<DWORD>(std::wcstoul(Next().c_str(), nullptr, 10)));
    } else if (Command == L"capture") {
      const std::wstring File = Next();
      HWND Main = FindMain();
      if (Main == nullptr || !Capture(Main, File.c_str())) {
        std::fwprintf(stderr, L"ui_driver: capture failed\n");
        return 1;
      }
    } else if (Command == L"capture-dialog") {
      const std::wstring File = Next();
      HWND Dialog = nullptr;
      for (int Try = 0; Try < 200 && (Dialog = FindDialog()) == nullptr; ++Try) ::Sleep(100);
      if (Dialog == nullptr || !Capture(Dialog, File.c_str())) {
        std::fwprintf(stderr, L"ui_driver: no dialog to capture\n");
        return 1;
      }
    } else if (Command == L"close-dialog") {
      if (HWND Dialog = FindDialog()) ::PostMessageW(Dialog, WM_COMMAND, IDCANCEL, 0);
    } else if (Command == L"close") {
      if (HWND Main = FindMain()) ::PostMessageW(Main, WM_CLOSE, 0, 0);
    } else {
      std::fwprintf(stderr, L"ui_driver: unknown command %ls\n", Command.c_str());
      return 2;
    }
  }
  return 0;
}
