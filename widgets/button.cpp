// Drawing and state of styled buttons and tool bars.
#include "widgets/button.h"

#include <algorithm>

namespace nimbrel {

TStyledButton::TStyledButton(TComponent* Owner, TControl* Parent, std::wstring Name)
    : TControl(Owner, Parent, std::move(Name)), FStyle(DefaultButtonStyle()) {
  SetHasCaption(true);
  CreateHandle(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW);
}

void TStyledButton::SetStyleFamily(const std::wstring& Family) {
  FFamily = Family;
  RestyleAndRepaint();
}

void TStyledButton::SetStyleClass(const std::wstring& Class) {
  FClass = Class;
  RestyleAndRepaint();
}

void TStyledButton::SetStyleAppearance(const std::wstring& Appearance) {
  FAppearance = Appearance;
  RestyleAndRepaint();
}

void TStyledButton::RestyleAndRepaint() {
  FStyle = ResolveButtonStyle(FFamily, FClass, FAppearance);
  Invalidate();
}

void TStyledButton::SetDown(bool Down) {
  if (FDown == Down) return;
  FDown = Down;
  Invalidate();
}

TButtonDrawState TStyledButton::DrawState(bool Pushed) const noexcept {
  if (!Enabled()) return TButtonDrawState::Disabled;
  if (Pushed) return TButtonDrawState::Pressed;
  if (FDown) return TButtonDrawState::Selected;
  if (FHot) return TButtonDrawState::Hot;
  return TButtonDrawState::Normal;
}

const TButtonStateAttributes& TStyledButton::Attributes(TButtonDrawState State) const noexcept {
  switch (State) {
    case TButtonDrawState::Pressed: return FStyle.Pressed;
    case TButtonDrawState::Selected: return FStyle.Selected;
    case TButtonDrawState::Hot: return FStyle.Hot;
    case TButtonDrawState::Disabled: return FStyle.Disabled;
    case TButtonDrawState::Normal: break;
  }
  return FStyle.Normal;
}

void TStyledButton::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_MOUSEMOVE:
      if (!FHot) {
        FHot = true;
        TRACKMOUSEEVENT Track{sizeof(Track), TME_LEAVE, FHandle, 0};
        ::TrackMouseEvent(&Track);
        Invalidate();
      }
      break;
    case WM_MOUSELEAVE:
      FHot = false;
      Invalidate();
      break;
    default:
      break;
  }
  TControl::WndProc(Message);
}

void TStyledButton::DrawItem(const DRAWITEMSTRUCT& Item) {
  const bool Pushed = (Item.itemState & ODS_SELECTED) != 0;
  const bool Focused = (Item.itemState & ODS_FOCUS) != 0 && (Item.itemState & ODS_NOFOCUSRECT) == 0;
  const RECT& Client = Item.rcItem;
  const int Width = Client.right - Client.left;
  const int Height = Client.bottom - Client.top;
  TOwnedDc Memory(::CreateCompatibleDC(Item.hDC));
  TOwnedBitmap Bitmap(::CreateCompatibleBitmap(Item.hDC, Width, Height));
  if (!Memory || !Bitmap) {
    PaintState(Item.hDC, Client, Pushed, Focused);
    return;
  }
  TSelectObject Selected(Memory.get(), Bitmap.get());
  const RECT Local{0, 0, Width, Height};
  PaintState(Memory.get(), Local, Pushed, Focused);
  ::BitBlt(Item.hDC, Client.left, Client.top, Width, Height, Memory.get(), 0, 0, SRCCOPY);
}

void TStyledButton::PaintState(HDC Dc, const RECT& Client, bool Pushed, bool Focused) {
  FillBackground(Dc, Client);
  const TButtonStateAttributes& A = Attributes(DrawState(Pushed));

  // The GDI objects outlive the saved DC state, so they are deselected before they are deleted.
  TOwnedBrush Face(A.FaceStyle == TFillStyle::Solid ? ::CreateSolidBrush(A.FaceColor) : nullptr);
  // A border of width 0 still shows as one device pixel, as GDI draws a zero-width pen.
  // A clear border over a solid face is drawn in the face colour, so the corners stay round.
  TOwnedPen Border(A.BorderStyle == TFillStyle::Solid
                       ? ::CreatePen(PS_SOLID, A.BorderWidth > 0 ? Scale(A.BorderWidth) : 0, A.BorderColor)
                   : A.FaceStyle == TFillStyle::Solid ? ::CreatePen(PS_SOLID, 0, A.FaceColor)
                                                      : nullptr);
  TOwnedFont BoldFont;
  if (A.FontBold) {
    LOGFONTW Log{};
    ::GetObjectW(FontHandle(), sizeof(Log), &Log);
    Log.lfWeight = FW_BOLD;
    BoldFont.reset(::CreateFontIndirectW(&Log));
  }
  TSaveDc Saved(Dc);

  ::SelectObject(Dc, Face ? static_cast<HGDIOBJ>(Face.get()) : ::GetStockObject(NULL_BRUSH));
  ::SelectObject(Dc, Border ? static_cast<HGDIOBJ>(Border.get()) : ::GetStockObject(NULL_PEN));
  const int Diameter = Scale(FCornerRadius) * 2;
  // Without a pen GDI leaves the right and bottom edge unfilled: draw one pixel larger.
  const int Extra = Border ? 0 : 1;
  ::RoundRect(Dc, Client.left, Client.top, Client.right + Extra, Client.bottom + Extra, Diameter, Diameter);

  const std::wstring Text = Caption();
  if (!Text.empty()) {
    ::SelectObject(Dc, BoldFont ? BoldFont.get() : FontHandle());
    ::SetBkMode(Dc, TRANSPARENT);
    ::SetTextColor(Dc, A.FontColor);
    UINT Format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    if (RightToLeftReading()) Format |= DT_RTLREADING;
    RECT Measure = Client;
    ::DrawTextW(Dc, Text.c_str(), static_cast<int>(Text.size()), &Measure, Format | DT_CALCRECT);
    RECT Target = Client;
    const int TextHeight = Measure.bottom - Measure.top;
    Target.top = Client.top + std::max(0, static_cast<int>((Client.bottom - Client.top - TextHeight) / 2));
    Target.bottom = Target.top + TextHeight;
    ::DrawTextW(Dc, Text.c_str(), static_cast<int>(Text.size()), &Target, Format);
  }
  if (Focused) {
    RECT Focus = Client;
    ::InflateRect(&Focus, -Scale(3), -Scale(3));
    ::SetTextColor(Dc, RGB(0, 0, 0));
    ::SetBkColor(Dc, RGB(255, 255, 255));
    ::DrawFocusRect(Dc, &Focus);
  }
}

TStyledToolBar::TStyledToolBar(TComponent* Owner, TControl* Parent, std::wstring Name)
    : TControl(Owner, Parent, std::move(Name)) {
  CreateHandle(nullptr, WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
}

void TStyledToolBar::SetButtonSize(int Width, int Height) noexcept {
  FButtonWidth = Width;
  FButtonHeight = Height;
}

TStyledButton* TStyledToolBar::AddButton(const std::wstring& Name, const std::wstring& Caption) {
  TComponent* ButtonOwner = Owner() != nullptr ? Owner() : this;
  auto* Button = ButtonOwner->Create<TStyledButton>(this, Name);
  const int Index = static_cast<int>(FButtons.size());
  Button->SetBounds(FIndent + Index * FButtonWidth, 0, FButtonWidth, FButtonHeight);
  Button->SetCaption(Caption);
  FButtons.push_back(Button);
  return Button;
}

void TStyledToolBar::SetPressed(TStyledButton* Button) {
  for (TStyledButton* Each : FButtons) Each->SetDown(Each == Button);
}

void TStyledToolBar::SetStyle(const std::wstring& Family, const std::wstring& Class, const std::wstring& Appearance,
                              int CornerRadius) {
  for (TStyledButton* Button : FButtons) {
    Button->SetCornerRadius(CornerRadius);
    Button->SetStyleFamily(Family);
    Button->SetStyleClass(Class);
    Button->SetStyleAppearance(Appearance);
  }
}

}  // namespace nimbrel
