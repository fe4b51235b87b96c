// The window theme helper: a dark title bar where the system offers one, and a 2-pixel accent
// strip along the top of the form's client area, blue while the form is active, grey while not.
#pragma once

#include <windows.h>

#include <functional>

#include "widgets/component.h"
#include "widgets/control.h"

namespace nimbrel {

class TForm;
class TShape;

class TThemeHelper : public TComponent {
 public:
  // Owner must be a form; any other owner (or none) raises std::invalid_argument with the message
  // "TThemeHelper Owner must be a TForm" and nothing is created. Main thread.
  explicit TThemeHelper(TComponent* Owner);
  // Gives the form back the window procedure it had before the helper. The strip stays with the form.
  ~TThemeHelper() override;

  // Recolours the strip for the active state and shows it exactly when the form has a border.
  void UpdateShape();

  [[nodiscard]] bool IsActive() const noexcept { return FIsActive; }
  [[nodiscard]] TShape* Shape() const noexcept { return FShape; }

 private:
  // The form's window procedure while the helper lives: the saved one first, then WM_ACTIVATE.
  void FormWindowProc(TMessage& Message);

  TForm* FForm;
  COLORREF FActiveColor;
  bool FIsActive = true;
  TShape* FShape = nullptr;
  bool FUpdating = false;
  std::function<void(TMessage&)> FOldWindowProc;
};

// Creates a helper owned by Form and returns it; the form frees it. Main thread.
TThemeHelper* AttachTheme(TForm& Form);

// Whether this Windows build draws a dark title bar on request (build 17763 or later).
bool DarkTitleBarSupported() noexcept;

}  // namespace nimbrel
