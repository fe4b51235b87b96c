// The program's button style family "Orvanta": one class ("Primary") and three appearances
// ("Normal", "Header", "Outline"), each fixing the look of the five button states.
#pragma once

#include <windows.h>

#include "widgets/style_family.h"

namespace nimbrel {

// The accent colour, shared with the window's accent strip.
constexpr COLORREF OrvantaAccent = RGB(61, 132, 221);

// Each channel x of Color moves Percent per cent of the way to 255: x + MulDiv(255 - x, Percent,
// 100), rounded to nearest with halves away from zero. Percent is 0 to 100.
COLORREF Lighten(COLORREF Color, int Percent) noexcept;
// The luminance 0.299 R + 0.587 G + 0.114 B, rounded to nearest, in all three channels.
COLORREF Grey(COLORREF Color) noexcept;

class TOrvantaStyle : public TButtonStyleFamily {
 public:
  std::wstring Name() const override;
  std::vector<std::wstring> Classes() const override;
  std::vector<std::wstring> Appearances() const override;
  void DefaultClassAndAppearance(std::wstring& Class, std::wstring& Appearance) const override;
  // The class is not looked at. Appearance is compared with "Header" and "Outline" ignoring the
  // case of A to Z; any other text gives the "Normal" look.
  void UpdateAttributes(const std::wstring& Family, const std::wstring& Class, const std::wstring& Appearance,
                        TButtonStyle& Style) const override;
};

// Module start-up, main thread, before any window: registers the family with the widget set.
// Registering again does nothing.
void RegisterOrvantaStyle();

}  // namespace nimbrel
