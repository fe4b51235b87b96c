// Styled buttons: owner-drawn system buttons (so they take focus, press on BM_CLICK, Space and
// Enter, and read as push buttons to screen readers) whose colours come from a style family.
#pragma once

#include <string>

#include "widgets/control.h"
#include "widgets/style_family.h"

namespace nimbrel {

enum class TButtonDrawState { Normal, Pressed, Selected, Hot, Disabled };

class TStyledButton : public TControl {
 public:
  TStyledButton(TComponent* Owner, TControl* Parent, std::wstring Name);

  // Each setter asks the family for the attributes again.
  void SetStyleFamily(const std::wstring& Family);
  void SetStyleClass(const std::wstring& Class);
  void SetStyleAppearance(const std::wstring& Appearance);
  [[nodiscard]] const std::wstring& StyleFamily() const noexcept { return FFamily; }
  [[nodiscard]] const std::wstring& StyleAppearance() const noexcept { return FAppearance; }
  [[nodiscard]] const TButtonStyle& Style() const noexcept { return FStyle; }

  void SetCornerRadius(int Radius) noexcept { FCornerRadius = Radius; }
  // A "down" button is drawn selected (the header button of the shown page).
  void SetDown(bool Down);
  [[nodiscard]] bool Down() const noexcept { return FDown; }

  // The state the button is drawn in now; Pushed is the system's pressed flag.
  [[nodiscard]] TButtonDrawState DrawState(bool Pushed) const noexcept;
  [[nodiscard]] const TButtonStateAttributes& Attributes(TButtonDrawState State) const noexcept;

 protected:
  void WndProc(TMessage& Message) override;
  void DrawItem(const DRAWITEMSTRUCT& Item) override;

 private:
  void RestyleAndRepaint();
  void PaintState(HDC Dc, const RECT& Client, bool Pushed, bool Focused);

  std::wstring FFamily;
  std::wstring FClass;
  std::wstring FAppearance;
  TButtonStyle FStyle;
  int FCornerRadius = 6;
  bool FDown = false;
  bool FHot = false;
};

// A row of equal buttons; the header bar of the main window.
class TStyledToolBar : public TControl {
 public:
  TStyledToolBar(TComponent* Owner, TControl* Parent, std::wstring Name);

  void SetButtonSize(int Width, int Height) noexcept;
  void SetIndent(int Indent) noexcept { FIndent = Indent; }
  // Adds a button owned by the tool bar's owner (so it is walked with the window).
  TStyledButton* AddButton(const std::wstring& Name, const std::wstring& Caption);
  [[nodiscard]] const std::vector<TStyledButton*>& Buttons() const noexcept { return FButtons; }
  // Makes Button the one down button of the group.
  void SetPressed(TStyledButton* Button);

  void SetStyle(const std::wstring& Family, const std::wstring& Class, const std::wstring& Appearance,
                int CornerRadius);

 private:
  std::vector<TStyledButton*> FButtons;
  int FButtonWidth = 70;
  int FButtonHeight = 30;
  int FIndent = 0;
};

}  // namespace nimbrel
