// Small widgets: the card panel, the activity indicator, a rectangle shape and a paint box.
#pragma once

#include <functional>
#include <vector>

#include "widgets/control.h"

namespace nimbrel {

// Shows one of its cards at a time. Cards fill the panel less the side padding.
class TCardPanel : public TControl {
 public:
  TCardPanel(TComponent* Owner, TControl* Parent, std::wstring Name, int SidePadding);

  // A new card, owned by the panel's owner, hidden until it becomes the active card.
  TPanel* AddCard(const std::wstring& Name);
  [[nodiscard]] const std::vector<TPanel*>& Cards() const noexcept { return FCards; }
  // -1 when no card is active.
  [[nodiscard]] int ActiveCardIndex() const noexcept { return FActive; }
  // An index outside the cards leaves the active card as it is.
  void SetActiveCardIndex(int Index);

 private:
  std::vector<TPanel*> FCards;
  int FActive = -1;
  int FSidePadding;
};

// A smooth spinner; hidden or still until Animate is set.
class TActivityIndicator : public TControl {
 public:
  TActivityIndicator(TComponent* Owner, TControl* Parent, std::wstring Name);
  ~TActivityIndicator() override;

  void SetAnimate(bool Animate);
  [[nodiscard]] bool Animate() const noexcept { return FAnimate; }
  void SetColor(COLORREF Color) noexcept { FSpinColor = Color; }

 protected:
  void WndProc(TMessage& Message) override;
  void Paint(HDC Dc, const RECT& Client) override;

 private:
  bool FAnimate = false;
  int FFrame = 0;
  COLORREF FSpinColor = RGB(61, 132, 221);
};

// A filled rectangle with an outline.
class TShape : public TControl {
 public:
  TShape(TComponent* Owner, TControl* Parent, std::wstring Name);
  void SetBrushColor(COLORREF Color);
  void SetPenColor(COLORREF Color);
  [[nodiscard]] COLORREF BrushColor() const noexcept { return FBrushColor; }
  [[nodiscard]] COLORREF PenColor() const noexcept { return FPenColor; }

 protected:
  void Paint(HDC Dc, const RECT& Client) override;

 private:
  COLORREF FBrushColor = RGB(255, 255, 255);
  COLORREF FPenColor = RGB(0, 0, 0);
};

// Draws through a callback (vector pictures such as the logo). A mouse click (button pressed and
// released on the box) or BM_CLICK raises OnClick.
class TPaintBox : public TControl {
 public:
  TPaintBox(TComponent* Owner, TControl* Parent, std::wstring Name);
  std::function<void(HDC Dc, const RECT& Client, UINT Dpi)> OnPaint;

 protected:
  void Paint(HDC Dc, const RECT& Client) override;
  void WndProc(TMessage& Message) override;

 private:
  bool FMouseDown = false;  // the left button went down on the box and the box holds the capture
};

}  // namespace nimbrel
