// Top-level windows.
#include "widgets/form.h"

#include "widgets/application.h"
#include "widgets/dpi.h"

namespace nimbrel {

namespace {

void RegisterFormClass(LPCWSTR ClassName) {
  WNDCLASSEXW Class{};
  Class.cbSize = sizeof(Class);
  HINSTANCE Instance = ::GetModuleHandleW(nullptr);
  if (::GetClassInfoExW(Instance, ClassName, &Class)) return;
  Class.cbSize = sizeof(Class);
  Class.style = CS_HREDRAW | CS_VREDRAW;
  Class.lpfnWndProc = ::DefWindowProcW;
  Class.hInstance = Instance;
  Class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  Class.hIcon = ::LoadIconW(Instance, MAKEINTRESOURCEW(1));
  Class.hIconSm = static_cast<HICON>(::LoadImageW(Instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXSMICON),
                                                  ::GetSystemMetrics(SM_CYSMICON), 0));
  Class.lpszClassName = ClassName;
  ::RegisterClassExW(&Class);
}

DWORD FormStyle(TBorderStyle Border) {
  return Border == TBorderStyle::None ? WS_POPUP | WS_CLIPCHILDREN
                                      : WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
}

}  // namespace

TForm::TForm(TComponent* Owner, std::wstring Name, LPCWSTR ClassName, int ClientWidth, int ClientHeight,
             TBorderStyle BorderStyle)
    : TControl(Owner, nullptr, std::move(Name)),
      FClientWidth(ClientWidth),
      FClientHeight(ClientHeight),
      FBorderStyle(BorderStyle) {
  RegisterFormClass(ClassName);
  SetHasCaption(true);
  CreateHandle(ClassName, FormStyle(BorderStyle), WS_EX_CONTROLPARENT);
  SetPaintsItself(true);
  ApplyClientSize(Dpi());
}

TForm::~TForm() { DestroyComponents(); }

void TForm::ApplyClientSize(UINT Dpi) {
  if (FHandle == nullptr) return;
  RECT Frame{0, 0, ScaleForDpi(FClientWidth, Dpi), ScaleForDpi(FClientHeight, Dpi)};
  using TAdjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto AdjustForDpi =
      reinterpret_cast<TAdjust>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi"));
  const DWORD Style = static_cast<DWORD>(::GetWindowLongPtrW(FHandle, GWL_STYLE));
  const DWORD ExStyle = static_cast<DWORD>(::GetWindowLongPtrW(FHandle, GWL_EXSTYLE));
  if (AdjustForDpi != nullptr) {
    AdjustForDpi(&Frame, Style, FALSE, ExStyle, Dpi);
  } else {
    ::AdjustWindowRectEx(&Frame, Style, FALSE, ExStyle);
  }
  ::SetWindowPos(FHandle, nullptr, 0, 0, Frame.right - Frame.left, Frame.bottom - Frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::Show() {
  if (FHandle == nullptr) return;
  RECT Window;
  ::GetWindowRect(FHandle, &Window);
  MONITORINFO Monitor{};
  Monitor.cbSize = sizeof(Monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(FHandle, MONITOR_DEFAULTTOPRIMARY), &Monitor);
  const RECT& Work = Monitor.rcWork;
  const int Width = Window.right - Window.left;
  const int Height = Window.bottom - Window.top;
  ::SetWindowPos(FHandle, nullptr, Work.left + (Work.right - Work.left - Width) / 2,
                 Work.top + (Work.bottom - Work.top - Height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ::ShowWindow(FHandle, SW_SHOW);
  ::UpdateWindow(FHandle);
}

void TForm::Close() {
  if (FHandle != nullptr) ::PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

namespace {
constexpr UINT_PTR CloseWhenIdleTimer = 0x4E43;  // "NC"
}  // namespace

void TForm::CloseWhenIdle() {
  if (FHandle == nullptr) return;
  if (!ModalUiOpen()) {
    ::KillTimer(FHandle, CloseWhenIdleTimer);
    Close();
    return;
  }
  ::SetTimer(FHandle, CloseWhenIdleTimer, 100, nullptr);
}

bool ModalUiOpen() noexcept {
  GUITHREADINFO Info{};
  Info.cbSize = sizeof(Info);
  if (::GetGUIThreadInfo(::GetCurrentThreadId(), &Info) &&
      (Info.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE)) != 0)
    return true;
  bool Open = false;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND Window, LPARAM Param) -> BOOL {
        wchar_t ClassName[16] = {};
        ::GetClassNameW(Window, ClassName, 16);
        // Dialogs and message boxes are "#32770", menus "#32768".
        if (::IsWindowVisible(Window) &&
            (::lstrcmpW(ClassName, L"#32770") == 0 || ::lstrcmpW(ClassName, L"#32768") == 0)) {
          *reinterpret_cast<bool*>(Param) = true;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&Open));
  return Open;
}

void TForm::UpdateLayout() {
  ApplyClientSize(Dpi());
  TControl::UpdateLayout();
}

void TForm::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_DPICHANGED: {
      const auto* Suggested = reinterpret_cast<const RECT*>(Message.LParam);
      ::SetWindowPos(FHandle, nullptr, Suggested->left, Suggested->top, Suggested->right - Suggested->left,
                     Suggested->bottom - Suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      UpdateLayout();
      Message.Result = 0;
      return;
    }
    case WM_TIMER:
      if (Message.WParam == CloseWhenIdleTimer) {
        CloseWhenIdle();
        Message.Result = 0;
        return;
      }
      break;
    case WM_DESTROY:
      GuardedCall([this] { FormDestroy(); });
      if (Application().MainForm() == this) ::PostQuitMessage(0);
      break;
    default:
      break;
  }
  TControl::WndProc(Message);
}

TFontSpec DesktopFont() {
  TFontSpec Font;
  LOGFONTW Log{};
  if (::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(Log), &Log, 0)) {
    Font.Face = Log.lfFaceName;
    HDC Screen = ::GetDC(nullptr);
    const int Dpi = Screen != nullptr ? ::GetDeviceCaps(Screen, LOGPIXELSY) : 96;
    if (Screen != nullptr) ::ReleaseDC(nullptr, Screen);
    const int Height = Log.lfHeight < 0 ? -Log.lfHeight : Log.lfHeight;
    if (Height > 0) Font.Height = ::MulDiv(Height, 96, Dpi > 0 ? Dpi : 96);
  }
  return Font;
}

}  // namespace nimbrel
