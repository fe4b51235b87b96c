// Card panel, activity indicator, shape and paint box.
#include "widgets/misc.h"

#include <windowsx.h>

#include <cmath>
#include <numbers>

namespace nimbrel {

TCardPanel::TCardPanel(TComponent* Owner, TControl* Parent, std::wstring Name, int SidePadding)
    : TControl(Owner, Parent, std::move(Name)), FSidePadding(SidePadding) {
  CreateHandle(nullptr, WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
}

TPanel* TCardPanel::AddCard(const std::wstring& Name) {
  TComponent* CardOwner = Owner() != nullptr ? Owner() : this;
  auto* Card = CardOwner->Create<TPanel>(this, Name);
  Card->SetVisible(false);
  Card->SetBounds(FSidePadding, 0, Bounds().Width - 2 * FSidePadding, Bounds().Height);
  FCards.push_back(Card);
  return Card;
}

void TCardPanel::SetActiveCardIndex(int Index) {
  if (Index < 0 || Index >= static_cast<int>(FCards.size())) return;
  FActive = Index;
  for (int I = 0; I < static_cast<int>(FCards.size()); ++I) {
    if (I != Index) FCards[static_cast<size_t>(I)]->SetVisible(false);
  }
  FCards[static_cast<size_t>(Index)]->SetVisible(true);
}

namespace {
constexpr UINT_PTR SpinTimer = 1;
constexpr UINT SpinInterval = 50;  // ms; 20 frames a second
constexpr int SpinDots = 12;
}  // namespace

TActivityIndicator::TActivityIndicator(TComponent* Owner, TControl* Parent, std::wstring Name)
    : TControl(Owner, Parent, std::move(Name)) {
  CreateHandle(nullptr, WS_VISIBLE);
}

TActivityIndicator::~TActivityIndicator() {
  if (FHandle != nullptr) ::KillTimer(FHandle, SpinTimer);
}

void TActivityIndicator::SetAnimate(bool Animate) {
  if (FAnimate == Animate || FHandle == nullptr) return;
  FAnimate = Animate;
  if (Animate) {
    ::SetTimer(FHandle, SpinTimer, SpinInterval, nullptr);
  } else {
    ::KillTimer(FHandle, SpinTimer);
  }
  Invalidate();
}

void TActivityIndicator::WndProc(TMessage& Message) {
  if (Message.Msg == WM_TIMER && Message.WParam == SpinTimer) {
    FFrame = (FFrame + 1) % SpinDots;
    Invalidate();
    Message.Result = 0;
    return;
  }
  TControl::WndProc(Message);
}

void TActivityIndicator::Paint(HDC Dc, const RECT& Client) {
  FillBackground(Dc, Client);
  const double Cx = (Client.left + Client.right) / 2.0;
  const double Cy = (Client.top + Client.bottom) / 2.0;
  const double Radius = std::min(Client.right - Client.left, Client.bottom - Client.top) / 2.0;
  const double DotRadius = Radius * 0.16;
  const double Orbit = Radius - DotRadius - 1;
  const COLORREF Back = Color();
  TSaveDc Saved(Dc);
  ::SelectObject(Dc, ::GetStockObject(NULL_PEN));
  for (int I = 0; I < SpinDots; ++I) {
    // The head dot is full colour; the tail fades into the background.
    const int Age = (FFrame - I + SpinDots) % SpinDots;
    const double Weight = FAnimate ? 1.0 - static_cast<double>(Age) / SpinDots : 0.35;
    auto Mix = [Weight](int Fore, int Bg) { return static_cast<int>(std::lround(Bg + (Fore - Bg) * Weight)); };
    const COLORREF Dot = RGB(Mix(GetRValue(FSpinColor), GetRValue(Back)), Mix(GetGValue(FSpinColor), GetGValue(Back)),
                             Mix(GetBValue(FSpinColor), GetBValue(Back)));
    const double Angle = 2 * std::numbers::pi * I / SpinDots - std::numbers::pi / 2;
    const double X = Cx + Orbit * std::cos(Angle);
    const double Y = Cy + Orbit * std::sin(Angle);
    TOwnedBrush Brush(::CreateSolidBrush(Dot));
    TSelectObject Selected(Dc, Brush.get());
    ::Ellipse(Dc, static_cast<int>(std::lround(X - DotRadius)), static_cast<int>(std::lround(Y - DotRadius)),
              static_cast<int>(std::lround(X + DotRadius)) + 1, static_cast<int>(std::lround(Y + DotRadius)) + 1);
  }
}

TShape::TShape(TComponent* Owner, TControl* Parent, std::wstring Name) : TControl(Owner, Parent, std::move(Name)) {
  CreateHandle(nullptr, WS_VISIBLE);
}

void TShape::SetBrushColor(COLORREF Color) {
  FBrushColor = Color;
  Invalidate();
}

void TShape::SetPenColor(COLORREF Color) {
  FPenColor = Color;
  Invalidate();
}

void TShape::Paint(HDC Dc, const RECT& Client) {
  TOwnedBrush Brush(::CreateSolidBrush(FBrushColor));
  ::FillRect(Dc, &Client, Brush.get());
  TOwnedBrush Pen(::CreateSolidBrush(FPenColor));
  ::FrameRect(Dc, &Client, Pen.get());
}

TPaintBox::TPaintBox(TComponent* Owner, TControl* Parent, std::wstring Name)
    : TControl(Owner, Parent, std::move(Name)) {
  SetHasCaption(false);
  CreateHandle(nullptr, WS_VISIBLE);
}

void TPaintBox::Paint(HDC Dc, const RECT& Client) {
  FillBackground(Dc, Client);
  if (OnPaint) OnPaint(Dc, Client, Dpi());
}

void TPaintBox::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_LBUTTONDOWN:
      FMouseDown = true;
      ::SetCapture(FHandle);
      Message.Result = 0;
      return;
    case WM_LBUTTONUP: {
      // A release counts only after a press on the box, and only when it is still over the box.
      const bool WasDown = FMouseDown;
      FMouseDown = false;
      if (WasDown) ::ReleaseCapture();
      const POINT At{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
      RECT Client;
      ::GetClientRect(FHandle, &Client);
      if (WasDown && ::PtInRect(&Client, At)) Click();
      Message.Result = 0;
      return;
    }
    case WM_CAPTURECHANGED:
      FMouseDown = false;
      break;
    case BM_CLICK:
      Click();
      Message.Result = 0;
      return;
    default:
      break;
  }
  TControl::WndProc(Message);
}

}  // namespace nimbrel
