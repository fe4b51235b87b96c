// The second floor for start-up time: the main window's home card as plain Win32, with no logic.
// The same top-level window and the same child windows (classes, styles, sizes, fonts and the
// program's manifest), every control a real child window; owner-drawn controls draw their caption
// with their font, and nothing else runs.
#include <windows.h>

namespace {

constexpr wchar_t FormClass[] = L"NimbrelBenchChild";
constexpr wchar_t WidgetClass[] = L"NimbrelWidget";
constexpr DWORD ChildStyle = WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE;
constexpr DWORD PanelStyle = ChildStyle | WS_CLIPCHILDREN;

UINT Dpi = 96;
int Scale(int Value) { return ::MulDiv(Value, static_cast<int>(Dpi), 96); }

HFONT MakeFont(const wchar_t* Face, int Height, bool Bold, bool Antialiased) {
  LOGFONTW Log{};
  Log.lfHeight = -Scale(Height);
  Log.lfWeight = Bold ? FW_BOLD : FW_NORMAL;
  Log.lfCharSet = DEFAULT_CHARSET;
  Log.lfQuality = Antialiased ? ANTIALIASED_QUALITY : DEFAULT_QUALITY;
  ::lstrcpynW(Log.lfFaceName, Face, LF_FACESIZE);
  return ::CreateFontIndirectW(&Log);
}

HWND Child(HWND Parent, const wchar_t* Class, const wchar_t* Text, DWORD Style, DWORD ExStyle, int X, int Y, int W,
           int H, HFONT Font) {
  HWND Window = ::CreateWindowExW(ExStyle, Class, Text, Style, Scale(X), Scale(Y), Scale(W), Scale(H), Parent, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
  if (Font != nullptr) ::SendMessageW(Window, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  return Window;
}

HWND Panel(HWND Parent, DWORD Style, int X, int Y, int W, int H) {
  return Child(Parent, WidgetClass, L"", Style, WS_EX_CONTROLPARENT, X, Y, W, H, nullptr);
}

// Owner-drawn buttons and statics send WM_DRAWITEM to their parent, which may be any panel.
LRESULT CALLBACK PanelProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_DRAWITEM) {
    const auto* Item = reinterpret_cast<const DRAWITEMSTRUCT*>(LParam);
    wchar_t Text[64] = {};
    ::GetWindowTextW(Item->hwndItem, Text, 64);
    HFONT Font = reinterpret_cast<HFONT>(::SendMessageW(Item->hwndItem, WM_GETFONT, 0, 0));
    HGDIOBJ Old = Font != nullptr ? ::SelectObject(Item->hDC, Font) : nullptr;
    RECT Box = Item->rcItem;
    ::FillRect(Item->hDC, &Box, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetBkMode(Item->hDC, TRANSPARENT);
    ::DrawTextW(Item->hDC, Text, -1, &Box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (Old != nullptr) ::SelectObject(Item->hDC, Old);
    return TRUE;
  }
  if (Msg == WM_DESTROY && ::GetParent(Window) == nullptr) ::PostQuitMessage(0);
  return ::DefWindowProcW(Window, Msg, WParam, LParam);
}

void Register(const wchar_t* Name, HINSTANCE Instance) {
  WNDCLASSEXW Class{};
  Class.cbSize = sizeof(Class);
  Class.style = CS_HREDRAW | CS_VREDRAW;
  Class.lpfnWndProc = PanelProc;
  Class.hInstance = Instance;
  Class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  Class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  Class.lpszClassName = Name;
  ::RegisterClassExW(&Class);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int) {
  Register(FormClass, Instance);
  Register(WidgetClass, Instance);

  const DWORD Style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  HWND Form = ::CreateWindowExW(WS_EX_CONTROLPARENT, FormClass, L"Child windows", Style, CW_USEDEFAULT, CW_USEDEFAULT,
                                464, 417, nullptr, nullptr, Instance, nullptr);
  Dpi = ::GetDpiForWindow(Form);
  RECT Frame{0, 0, Scale(464), Scale(417)};
  ::AdjustWindowRectExForDpi(&Frame, Style, FALSE, WS_EX_CONTROLPARENT, Dpi);
  ::SetWindowPos(Form, nullptr, 0, 0, Frame.right - Frame.left, Frame.bottom - Frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  LOGFONTW Icon{};
  ::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(Icon), &Icon, 0);
  HFONT Desktop = MakeFont(Icon.lfFaceName[0] != 0 ? Icon.lfFaceName : L"Segoe UI", 12, false, false);
  HFONT Title = MakeFont(L"Tahoma", 59, false, true);

  // The cards: the home card shown, the two page cards empty and hidden.
  HWND Main = Panel(Form, PanelStyle, 0, 50, 464, 367);
  HWND Cleaner = Panel(Main, PanelStyle, 8, 0, 448, 367);
  Panel(Main, PanelStyle & ~WS_VISIBLE, 8, 0, 448, 367);
  Panel(Main, PanelStyle & ~WS_VISIBLE, 8, 0, 448, 367);

  HWND Head = Panel(Form, PanelStyle, 0, 0, 464, 50);
  HWND Logo = Panel(Head, PanelStyle, 344, 0, 120, 50);
  Child(Logo, WidgetClass, L"", ChildStyle, 0, 3, 0, 112, 50, nullptr);
  HWND Bar = Panel(Head, PanelStyle, 10, 10, 324, 30);
  const wchar_t* Pages[] = {L"처음화면", L"자동실행", L"강제설치"};
  for (int I = 0; I < 3; ++I)
    Child(Bar, L"BUTTON", Pages[I], ChildStyle | WS_TABSTOP | BS_OWNERDRAW, 0, 10 + 70 * I, 0, 70, 30, Desktop);

  Child(Cleaner, L"STATIC", L"님브렐", ChildStyle | SS_OWNERDRAW | SS_NOPREFIX, 0, 0, 40, 450, 81, Title);
  Child(Cleaner, L"STATIC", L"", ChildStyle | SS_OWNERDRAW | SS_NOPREFIX, 0, 2, 172, 449, 33, Desktop);
  Child(Cleaner, L"BUTTON", L"실행하기", ChildStyle | WS_TABSTOP | BS_OWNERDRAW, 0, 142, 264, 162, 68, Desktop);
  Child(Cleaner, WidgetClass, L"", ChildStyle & ~WS_VISIBLE, 0, 207, 282, 32, 32, nullptr);

  ::ShowWindow(Form, SW_SHOW);
  ::UpdateWindow(Form);
  MSG Message;
  while (::GetMessageW(&Message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&Message);
    ::DispatchMessageW(&Message);
  }
  ::DeleteObject(Title);
  ::DeleteObject(Desktop);
  return 0;
}
