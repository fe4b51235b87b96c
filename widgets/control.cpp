// Controls: window creation, the subclassed window procedure, layout, fonts and buffered painting.
#include "widgets/control.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>

#include "widgets/application.h"
#include "widgets/dpi.h"

namespace nimbrel {

namespace {

constexpr wchar_t ControlProperty[] = L"Nimbrel.Control";
constexpr wchar_t PlainClassName[] = L"NimbrelWidget";
constexpr UINT_PTR SubclassId = 1;

bool GRightToLeft = false;

LPCWSTR PlainClass() {
  static const ATOM Atom = [] {
    WNDCLASSEXW Class{};
    Class.cbSize = sizeof(Class);
    Class.style = CS_HREDRAW | CS_VREDRAW;
    Class.lpfnWndProc = ::DefWindowProcW;
    Class.hInstance = ::GetModuleHandleW(nullptr);
    Class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    Class.lpszClassName = PlainClassName;
    return ::RegisterClassExW(&Class);
  }();
  return Atom != 0 ? PlainClassName : nullptr;
}

}  // namespace

WORD ControlIdOf(const std::wstring& Name) noexcept {
  // FNV-1a folded into 0x1000..0xEFFF, clear of IDOK-style small numbers and of 0xFFFF.
  std::uint32_t Hash = 2166136261u;
  for (wchar_t C : Name) {
    Hash ^= static_cast<std::uint16_t>(C);
    Hash *= 16777619u;
  }
  return static_cast<WORD>(0x1000 + Hash % 0xE000);
}

void SetRightToLeftReading(bool RightToLeft) noexcept { GRightToLeft = RightToLeft; }
bool RightToLeftReading() noexcept { return GRightToLeft; }

TControl::TControl(TComponent* Owner, TControl* Parent, std::wstring Name)
    : TComponent(Owner, std::move(Name)), FParent(Parent) {
  WindowProc = [this](TMessage& Message) { WndProc(Message); };
  if (FParent != nullptr) FParent->FControls.push_back(this);
}

TControl::~TControl() {
  DestroyComponents();
  WindowProc = nullptr;  // messages of the dying window go straight to the class's procedure
  for (TControl* Child : FControls) Child->FParent = nullptr;
  if (FHandle != nullptr) ::DestroyWindow(FHandle);
  if (FParent != nullptr) std::erase(FParent->FControls, this);
}

TControl* TControl::FromHandle(HWND Window) noexcept {
  if (Window == nullptr) return nullptr;
  return static_cast<TControl*>(::GetPropW(Window, ControlProperty));
}

void TControl::CreateHandle(LPCWSTR ClassName, DWORD Style, DWORD ExStyle) {
  const bool Child = FParent != nullptr;
  HWND ParentWindow = Child ? FParent->Handle() : nullptr;
  if (Child) Style |= WS_CHILD | WS_CLIPSIBLINGS;
  const UINT ParentDpi = Child ? FParent->Dpi() : DesignDpi;
  FHandle = ::CreateWindowExW(ExStyle, ClassName != nullptr ? ClassName : PlainClass(), L"", Style,
                              ScaleForDpi(FBounds.Left, ParentDpi), ScaleForDpi(FBounds.Top, ParentDpi),
                              ScaleForDpi(FBounds.Width, ParentDpi), ScaleForDpi(FBounds.Height, ParentDpi),
                              ParentWindow,
                              Child ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(ControlIdOf(Name()))) : nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
  if (FHandle == nullptr) return;
  FPaintsItself = ClassName == nullptr;
  ::SetPropW(FHandle, ControlProperty, this);
  ::SetWindowSubclass(FHandle, SubclassProc, SubclassId, reinterpret_cast<DWORD_PTR>(this));
  ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), FALSE);
}

LRESULT CALLBACK TControl::SubclassProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                        DWORD_PTR Data) {
  auto* Self = reinterpret_cast<TControl*>(Data);
  TMessage Message{Msg, WParam, LParam, 0};
  if (Self->WindowProc) {
    try {
      Self->WindowProc(Message);
    } catch (...) {
      Application().HandleException(std::current_exception());
    }
  } else {
    Message.Result = ::DefSubclassProc(Window, Msg, WParam, LParam);
  }
  if (Msg == WM_NCDESTROY) {
    ::RemoveWindowSubclass(Window, SubclassProc, SubclassId);
    ::RemovePropW(Window, ControlProperty);
    Self->FHandle = nullptr;
  }
  return Message.Result;
}

void TControl::DefaultHandler(TMessage& Message) {
  Message.Result = ::DefSubclassProc(FHandle, Message.Msg, Message.WParam, Message.LParam);
}

void TControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_ERASEBKGND:
      Message.Result = 1;  // everything is painted, buffered, in WM_PAINT or WM_DRAWITEM
      return;
    case WM_PAINT: {
      if (!FPaintsItself) break;  // system classes paint through WM_DRAWITEM
      PAINTSTRUCT Ps;
      HDC Dc = ::BeginPaint(FHandle, &Ps);
      RECT Client;
      ::GetClientRect(FHandle, &Client);
      PaintBuffered(Dc, Client);
      ::EndPaint(FHandle, &Ps);
      Message.Result = 0;
      return;
    }
    case WM_DRAWITEM: {
      const auto* Item = reinterpret_cast<const DRAWITEMSTRUCT*>(Message.LParam);
      if (TControl* Target = FromHandle(Item->hwndItem)) {
        Target->DrawItem(*Item);
        Message.Result = TRUE;
        return;
      }
      break;
    }
    case WM_NOTIFY: {
      const auto* Header = reinterpret_cast<const NMHDR*>(Message.LParam);
      TControl* Target = Header != nullptr ? FromHandle(Header->hwndFrom) : nullptr;
      if (Target != nullptr && Target != this && Target->Notify(*Header, Message.Result)) return;
      break;
    }
    case WM_COMMAND: {
      TControl* Target = FromHandle(reinterpret_cast<HWND>(Message.LParam));
      if (Target != nullptr && Message.LParam != 0 && HIWORD(Message.WParam) == BN_CLICKED) {
        Target->Click();
        Message.Result = 0;
        return;
      }
      break;
    }
    case WM_SETCURSOR:
      if (FCursor != nullptr && LOWORD(Message.LParam) == HTCLIENT &&
          reinterpret_cast<HWND>(Message.WParam) == FHandle) {
        ::SetCursor(::LoadCursorW(nullptr, FCursor));
        Message.Result = TRUE;
        return;
      }
      break;
    default:
      break;
  }
  DefaultHandler(Message);
}

void TControl::Click() {
  if (OnClick) GuardedCall([this] { OnClick(this); });
}

void TControl::Paint(HDC Dc, const RECT& Client) { FillBackground(Dc, Client); }

void TControl::DrawItem(const DRAWITEMSTRUCT& Item) { PaintBuffered(Item.hDC, Item.rcItem); }

void TControl::PaintBuffered(HDC Target, const RECT& Client) {
  const int Width = Client.right - Client.left;
  const int Height = Client.bottom - Client.top;
  if (Width <= 0 || Height <= 0) return;
  TOwnedDc Memory(::CreateCompatibleDC(Target));
  TOwnedBitmap Bitmap(::CreateCompatibleBitmap(Target, Width, Height));
  if (!Memory || !Bitmap) {
    Paint(Target, Client);
    return;
  }
  {
    TSelectObject Selected(Memory.get(), Bitmap.get());
    ::SetWindowOrgEx(Memory.get(), Client.left, Client.top, nullptr);
    Paint(Memory.get(), Client);
    ::SetWindowOrgEx(Memory.get(), 0, 0, nullptr);
    ::BitBlt(Target, Client.left, Client.top, Width, Height, Memory.get(), 0, 0, SRCCOPY);
  }
}

void TControl::FillBackground(HDC Dc, const RECT& Client) const {
  TOwnedBrush Brush(::CreateSolidBrush(Color()));
  ::FillRect(Dc, &Client, Brush.get());
}

void TControl::SetBounds(int Left, int Top, int Width, int Height) {
  FBounds = {Left, Top, Width, Height};
  ApplyBounds();
}

void TControl::SetAlignTop(bool AlignTop) {
  FAlignTop = AlignTop;
  ApplyBounds();
}

void TControl::ApplyBounds() {
  if (FHandle == nullptr || FParent == nullptr) return;
  const UINT ParentDpi = FParent->Dpi();
  if (FAlignTop) {
    RECT ParentClient;
    ::GetClientRect(FParent->Handle(), &ParentClient);
    ::SetWindowPos(FHandle, nullptr, 0, 0, ParentClient.right, ScaleForDpi(FBounds.Height, ParentDpi),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  ::SetWindowPos(FHandle, nullptr, ScaleForDpi(FBounds.Left, ParentDpi), ScaleForDpi(FBounds.Top, ParentDpi),
                 ScaleForDpi(FBounds.Width, ParentDpi), ScaleForDpi(FBounds.Height, ParentDpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TControl::UpdateLayout() {
  ApplyBounds();
  if (FHandle != nullptr) ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), FALSE);
  FontChanged();
  for (TControl* Child : FControls) Child->UpdateLayout();
  Invalidate();
}

void TControl::SetVisible(bool Visible) {
  if (FHandle != nullptr) ::ShowWindow(FHandle, Visible ? SW_SHOW : SW_HIDE);
}

bool TControl::Visible() const noexcept {
  return FHandle != nullptr && (::GetWindowLongPtrW(FHandle, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TControl::SetEnabled(bool Enabled) {
  if (FHandle == nullptr) return;
  ::EnableWindow(FHandle, Enabled ? TRUE : FALSE);
  Invalidate();
}

bool TControl::Enabled() const noexcept { return FHandle != nullptr && ::IsWindowEnabled(FHandle) != FALSE; }

std::wstring TControl::Caption() const {
  if (FHandle == nullptr) return {};
  const int Length = ::GetWindowTextLengthW(FHandle);
  if (Length <= 0) return {};
  std::wstring Text(static_cast<size_t>(Length) + 1, L'\0');
  const int Copied = ::GetWindowTextW(FHandle, Text.data(), Length + 1);
  Text.resize(static_cast<size_t>(std::max(Copied, 0)));
  return Text;
}

void TControl::SetCaption(const std::wstring& Caption) {
  if (FHandle == nullptr) return;
  ::SetWindowTextW(FHandle, Caption.c_str());
  FontChanged();
  Invalidate();
}

void TControl::SetColor(COLORREF Color) {
  FColor = Color;
  FParentColor = false;
  Invalidate();
}

COLORREF TControl::Color() const noexcept {
  return FParentColor && FParent != nullptr ? FParent->Color() : FColor;
}

void TControl::SetParentColor(bool ParentColor) {
  FParentColor = ParentColor;
  Invalidate();
}

void TControl::SetFont(const TFontSpec& Font) {
  FFont = Font;
  FParentFont = false;
  FFontDpi = 0;
  ApplyFontTree();
}

void TControl::ApplyFontTree() {
  if (FHandle != nullptr) ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), FALSE);
  FontChanged();
  for (TControl* Child : FControls) {
    if (Child->FParentFont) Child->ApplyFontTree();
  }
  Invalidate();
}

const TFontSpec& TControl::Font() const noexcept {
  return FParentFont && FParent != nullptr ? FParent->Font() : FFont;
}

HFONT TControl::FontHandle() {
  if (FParentFont && FParent != nullptr) return FParent->FontHandle();
  const UINT Current = Dpi();
  if (!FFontHandle || FFontDpi != Current) {
    LOGFONTW Log{};
    Log.lfHeight = -ScaleForDpi(FFont.Height, Current);
    Log.lfWeight = FFont.Bold ? FW_BOLD : FW_NORMAL;
    Log.lfCharSet = DEFAULT_CHARSET;
    Log.lfQuality = FFont.Antialiased ? ANTIALIASED_QUALITY : CLEARTYPE_QUALITY;
    lstrcpynW(Log.lfFaceName, FFont.Face.c_str(), LF_FACESIZE);
    FFontHandle.reset(::CreateFontIndirectW(&Log));
    FFontDpi = Current;
  }
  return FFontHandle.get();
}

UINT TControl::Dpi() const noexcept {
  if (FHandle != nullptr) return DpiForWindow(FHandle);
  return FParent != nullptr ? FParent->Dpi() : DesignDpi;
}

int TControl::Scale(int Value) const noexcept { return ScaleForDpi(Value, Dpi()); }

void TControl::Invalidate() noexcept {
  if (FHandle != nullptr) ::InvalidateRect(FHandle, nullptr, FALSE);
}

TPanel::TPanel(TComponent* Owner, TControl* Parent, std::wstring Name) : TControl(Owner, Parent, std::move(Name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
}

}  // namespace nimbrel
