// The update bar: one line at the bottom of the main window saying that an update is available;
// pressing it (click, Enter or Space) opens the address the service sent.
#pragma once

#include <string>

#include "widgets/control.h"
#include "widgets/form.h"

namespace nimbrel {

inline constexpr int UpdateBarHeight = 28;  // at 96 DPI
inline constexpr wchar_t UpdateBarName[] = L"StatusBar";

// A focusable owner-drawn button: bold red text centred on the bar's colour, the hand cursor,
// the address as its tip. Its window text is the status text, for screen readers.
class TUpdateBar : public TControl {
 public:
  TUpdateBar(TComponent* Owner, TControl* Parent);

  void SetAddress(const std::wstring& Address);
  [[nodiscard]] const std::wstring& Address() const noexcept { return FAddress; }
  void Click() override;

 protected:
  void DrawItem(const DRAWITEMSTRUCT& Item) override;

 private:
  std::wstring FAddress;
  HWND FTip = nullptr;  // owned by the form's window, destroyed with it
};

// Shows the bar on Form with the status text of the current language and Hint as its address:
// made once (named "StatusBar"), below the form's client area, which grows by the bar's height;
// later calls only change the address. An address that is not http or https shows nothing.
// Main thread.
void ShowUpdateStatus(TForm& Form, const std::wstring& Hint);
// The same on the application's main form; nothing without one.
void ShowUpdateStatus(const std::wstring& Hint);

}  // namespace nimbrel
