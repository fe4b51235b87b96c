// Button style families: a styled button names a family, a class and an appearance, and takes
// the look of its five states from that family. Families are registered once at start-up.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace nimbrel {

enum class TButtonShape { RoundRect };
enum class TFillStyle { Solid, Clear };

// The look of one button state. Colours are COLORREF (0x00BBGGRR).
struct TButtonStateAttributes {
  TButtonShape Shape = TButtonShape::RoundRect;
  TFillStyle FaceStyle = TFillStyle::Solid;
  COLORREF FaceColor = RGB(240, 240, 240);
  TFillStyle BorderStyle = TFillStyle::Solid;
  COLORREF BorderColor = RGB(160, 160, 160);
  int BorderWidth = 1;
  COLORREF FontColor = RGB(0, 0, 0);
  bool FontBold = false;

  friend bool operator==(const TButtonStateAttributes&, const TButtonStateAttributes&) = default;
};

// The five states a styled button can be drawn in.
struct TButtonStyle {
  TButtonStateAttributes Normal, Pressed, Selected, Hot, Disabled;

  friend bool operator==(const TButtonStyle&, const TButtonStyle&) = default;
};

class TButtonStyleFamily {
 public:
  virtual ~TButtonStyleFamily() = default;
  virtual std::wstring Name() const = 0;
  virtual std::vector<std::wstring> Classes() const = 0;
  virtual std::vector<std::wstring> Appearances() const = 0;
  virtual void DefaultClassAndAppearance(std::wstring& Class, std::wstring& Appearance) const = 0;
  // Fills the five states for the given class and appearance.
  virtual void UpdateAttributes(const std::wstring& Family, const std::wstring& Class,
                                const std::wstring& Appearance, TButtonStyle& Style) const = 0;
};

// Process-wide list of families. Register at start-up on the main thread, before windows exist.
void RegisterButtonStyleFamily(std::unique_ptr<TButtonStyleFamily> Family);
// The family of that name (letter case ignored), or nullptr.
const TButtonStyleFamily* FindButtonStyleFamily(const std::wstring& Name);

// The look a button has when it names no registered family: plain system colours.
TButtonStyle DefaultButtonStyle();

// Resolves family, class and appearance into a style. Empty class or appearance take the family's
// defaults; an unknown family gives DefaultButtonStyle().
TButtonStyle ResolveButtonStyle(const std::wstring& Family, const std::wstring& Class,
                                const std::wstring& Appearance);

}  // namespace nimbrel
