// Controls: components with a window. Every control is a real child window (its window text is
// its caption) so that screen readers and UI automation can read and press it. Sizes are given
// at 96 DPI and scaled for the monitor the window is on.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/handle.h"
#include "widgets/component.h"

namespace nimbrel {

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

struct TBounds {
  int Left = 0, Top = 0, Width = 0, Height = 0;  // at 96 DPI, relative to the parent's client area
};

struct TFontSpec {
  std::wstring Face = L"Segoe UI";
  int Height = 12;  // character height in pixels at 96 DPI
  bool Bold = false;
  bool Antialiased = false;
};

// A click or similar notification; Sender is the control that raised it.
using TNotifyEvent = std::function<void(class TComponent* Sender)>;

// Text drawing direction for the whole program (right-to-left reading for Arabic).
void SetRightToLeftReading(bool RightToLeft) noexcept;
bool RightToLeftReading() noexcept;

// The window ID of a child control: a fixed number made from its name, so that tools and UI
// automation (which reports it as the automation id) can find a control across runs.
WORD ControlIdOf(const std::wstring& Name) noexcept;

class TControl : public TComponent {
 public:
  TControl(TComponent* Owner, TControl* Parent, std::wstring Name);
  ~TControl() override;

  [[nodiscard]] HWND Handle() const noexcept { return FHandle; }
  [[nodiscard]] TControl* Parent() const noexcept { return FParent; }
  [[nodiscard]] const std::vector<TControl*>& Controls() const noexcept { return FControls; }
  // The control that owns a window handle made by this widget set, or nullptr.
  static TControl* FromHandle(HWND Window) noexcept;

  void SetBounds(int Left, int Top, int Width, int Height);
  [[nodiscard]] const TBounds& Bounds() const noexcept { return FBounds; }
  // Docked to the top of the parent across its whole width (Bounds' height is kept).
  void SetAlignTop(bool AlignTop);

  void SetVisible(bool Visible);
  [[nodiscard]] bool Visible() const noexcept;
  void SetEnabled(bool Enabled);
  [[nodiscard]] bool Enabled() const noexcept;
  void SetCursor(LPCWSTR SystemCursor) noexcept { FCursor = SystemCursor; }

  [[nodiscard]] bool HasCaption() const override { return FHasCaption; }
  [[nodiscard]] std::wstring Caption() const override;
  void SetCaption(const std::wstring& Caption) override;

  // Background colour; a control with ParentColor takes its parent's.
  void SetColor(COLORREF Color);
  [[nodiscard]] COLORREF Color() const noexcept;
  void SetParentColor(bool ParentColor);

  // The control's font; a control with ParentFont takes its parent's.
  void SetFont(const TFontSpec& Font);
  [[nodiscard]] const TFontSpec& Font() const noexcept;
  [[nodiscard]] HFONT FontHandle();

  [[nodiscard]] UINT Dpi() const noexcept;
  [[nodiscard]] int Scale(int Value) const noexcept;
  void Invalidate() noexcept;

  // The window procedure as a replaceable method: a helper may save it, put its own in place and
  // hand every message on to the saved one. By default it calls WndProc.
  std::function<void(TMessage&)> WindowProc;

  TNotifyEvent OnClick;
  // Raises OnClick (errors go to the application's handler, never across a window procedure).
  virtual void Click();

  // Re-applies bounds and fonts after a DPI change, for this control and every child.
  virtual void UpdateLayout();

 protected:
  // Makes the window. Called by the concrete class's constructor; ClassName nullptr means the
  // widget set's own plain class.
  void CreateHandle(LPCWSTR ClassName, DWORD Style, DWORD ExStyle = 0);
  void SetHasCaption(bool HasCaption) noexcept { FHasCaption = HasCaption; }
  // Windows of the widget set's own classes paint through Paint on WM_PAINT; system classes
  // (owner-drawn buttons, statics) through DrawItem.
  void SetPaintsItself(bool PaintsItself) noexcept { FPaintsItself = PaintsItself; }

  virtual void WndProc(TMessage& Message);
  // Hands a message to the window class's own procedure.
  void DefaultHandler(TMessage& Message);
  // Draws the whole control into an off-screen DC (double-buffered by the caller).
  virtual void Paint(HDC Dc, const RECT& Client);
  // Owner-drawn system controls (buttons, statics) are painted through this.
  virtual void DrawItem(const DRAWITEMSTRUCT& Item);
  // Called when the control's font, DPI or caption changed.
  virtual void FontChanged() {}
  // A WM_NOTIFY that this control sent to its parent, handed back to it. True when handled, with
  // Result set.
  virtual bool Notify(const NMHDR& /*Header*/, LRESULT& /*Result*/) { return false; }
  // Paints with double buffering: the one place that makes an off-screen bitmap.
  void PaintBuffered(HDC Target, const RECT& Client);
  // Fills Client with the control's background colour.
  void FillBackground(HDC Dc, const RECT& Client) const;

  HWND FHandle = nullptr;

 private:
  static LRESULT CALLBACK SubclassProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                       DWORD_PTR Data);
  void ApplyBounds();
  // Hands the font to this window and to every child that takes its parent's font.
  void ApplyFontTree();

  TControl* FParent;
  std::vector<TControl*> FControls;
  TBounds FBounds;
  bool FAlignTop = false;
  bool FPaintsItself = false;
  bool FHasCaption = false;
  bool FParentColor = true;
  COLORREF FColor = RGB(255, 255, 255);
  bool FParentFont = true;
  TFontSpec FFont;
  TOwnedFont FFontHandle;
  UINT FFontDpi = 0;
  LPCWSTR FCursor = nullptr;
};

// A plain container: a panel, a card or a page frame.
class TPanel : public TControl {
 public:
  TPanel(TComponent* Owner, TControl* Parent, std::wstring Name);
};

}  // namespace nimbrel
