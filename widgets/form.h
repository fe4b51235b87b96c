// Top-level windows: a fixed client size at 96 DPI, centred on the screen, rescaled when the
// window moves to a monitor of another DPI.
#pragma once

#include "widgets/control.h"

namespace nimbrel {

enum class TBorderStyle { None, Single };

class TForm : public TControl {
 public:
  // ClassName: the window class to register for this form (with the program's icon).
  TForm(TComponent* Owner, std::wstring Name, LPCWSTR ClassName, int ClientWidth, int ClientHeight,
        TBorderStyle BorderStyle = TBorderStyle::Single);
  ~TForm() override;

  [[nodiscard]] TBorderStyle BorderStyle() const noexcept { return FBorderStyle; }
  [[nodiscard]] int ClientWidth() const noexcept { return FClientWidth; }
  [[nodiscard]] int ClientHeight() const noexcept { return FClientHeight; }

  // Shows the window centred on the work area of its monitor.
  void Show();
  // Asks the window to close (posted; the window is destroyed when the message runs).
  void Close();
  // Closes like Close once no dialog, message box or menu of this thread is open, checking again
  // every 100 ms until then (for closes asked for by a hand-over, which may arrive while the
  // user sits in a message box: the box's loop must not find its owner gone).
  void CloseWhenIdle();

  void UpdateLayout() override;

 protected:
  void WndProc(TMessage& Message) override;
  // Runs when the window is being destroyed, before its controls are gone.
  virtual void FormDestroy() {}

 private:
  void ApplyClientSize(UINT Dpi);

  int FClientWidth;
  int FClientHeight;
  TBorderStyle FBorderStyle;
};

// True while a modal dialog, a message box or a menu of the calling thread is open.
bool ModalUiOpen() noexcept;

// The system's icon-title font ("desktop font") at 96 DPI.
TFontSpec DesktopFont();

}  // namespace nimbrel
