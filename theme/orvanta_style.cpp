// The "Orvanta" button style family: the colours of every state of its three appearances.
#include "theme/orvanta_style.h"

#include <memory>

namespace nimbrel {

namespace {

constexpr wchar_t FamilyName[] = L"Orvanta";
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF Silver = RGB(192, 192, 192);

enum class TAppearance { Normal, Header, Outline };

bool EqualIgnoringAsciiCase(const std::wstring& A, const wchar_t* B) {
  size_t I = 0;
  for (; I < A.size() && B[I] != L'\0'; ++I) {
    auto Fold = [](wchar_t C) { return C >= L'a' && C <= L'z' ? static_cast<wchar_t>(C - L'a' + L'A') : C; };
    if (Fold(A[I]) != Fold(B[I])) return false;
  }
  return I == A.size() && B[I] == L'\0';
}

TAppearance AppearanceOf(const std::wstring& Name) {
  if (EqualIgnoringAsciiCase(Name, L"Header")) return TAppearance::Header;
  if (EqualIgnoringAsciiCase(Name, L"Outline")) return TAppearance::Outline;
  return TAppearance::Normal;
}

// MulDiv for non-negative operands: rounds to nearest, halves up.
int MulDivRounded(int Value, int Numerator, int Denominator) {
  return (Value * Numerator * 2 + Denominator) / (Denominator * 2);
}

// The normal state, which every other state starts from.
TButtonStateAttributes BaseState(TAppearance Appearance) {
  TButtonStateAttributes Base;
  Base.Shape = TButtonShape::RoundRect;
  Base.FaceStyle = Appearance == TAppearance::Normal ? TFillStyle::Solid : TFillStyle::Clear;
  Base.FaceColor = Appearance == TAppearance::Header ? White : OrvantaAccent;
  Base.BorderStyle = TFillStyle::Solid;
  Base.BorderColor = Appearance == TAppearance::Header ? Black : OrvantaAccent;
  Base.BorderWidth = 0;
  Base.FontColor = Appearance == TAppearance::Normal ? White : Black;
  Base.FontBold = false;
  return Base;
}

// A state drawn filled with Face and white text.
void Fill(TButtonStateAttributes& State, COLORREF Face) {
  State.FaceStyle = TFillStyle::Solid;
  State.FaceColor = Face;
  State.FontColor = White;
}

}  // namespace

COLORREF Lighten(COLORREF Color, int Percent) noexcept {
  auto Channel = [Percent](int X) { return X + MulDivRounded(255 - X, Percent, 100); };
  return RGB(Channel(GetRValue(Color)), Channel(GetGValue(Color)), Channel(GetBValue(Color)));
}

COLORREF Grey(COLORREF Color) noexcept {
  // In thousandths, so that the rounding is exact.
  const int Luminance = (299 * GetRValue(Color) + 587 * GetGValue(Color) + 114 * GetBValue(Color) + 500) / 1000;
  return RGB(Luminance, Luminance, Luminance);
}

std::wstring TOrvantaStyle::Name() const { return FamilyName; }

std::vector<std::wstring> TOrvantaStyle::Classes() const { return {L"Primary"}; }

std::vector<std::wstring> TOrvantaStyle::Appearances() const { return {L"Normal", L"Header", L"Outline"}; }

void TOrvantaStyle::DefaultClassAndAppearance(std::wstring& Class, std::wstring& Appearance) const {
  Class = L"Primary";
  Appearance = L"Normal";
}

void TOrvantaStyle::UpdateAttributes(const std::wstring& /*Family*/, const std::wstring& /*Class*/,
                                     const std::wstring& Appearance, TButtonStyle& Style) const {
  const TAppearance Kind = AppearanceOf(Appearance);
  const TButtonStateAttributes Base = BaseState(Kind);
  Style = {Base, Base, Base, Base, Base};
  const COLORREF LightAccent = Lighten(OrvantaAccent, 10);
  switch (Kind) {
    case TAppearance::Normal:
      Style.Hot.FaceColor = LightAccent;
      Style.Disabled.FaceColor = White;
      Style.Disabled.BorderColor = Silver;
      Style.Disabled.FontColor = Silver;
      Style.Disabled.BorderWidth = 0;
      break;
    case TAppearance::Header:
      Fill(Style.Pressed, OrvantaAccent);
      Style.Pressed.BorderStyle = TFillStyle::Clear;
      Style.Pressed.BorderColor = OrvantaAccent;
      Style.Selected = Style.Pressed;
      Style.Selected.FaceColor = LightAccent;
      Style.Hot = Style.Pressed;
      Style.Disabled.BorderColor = Grey(Lighten(OrvantaAccent, 50));
      Style.Disabled.FontColor = Grey(Lighten(Black, 50));
      break;
    case TAppearance::Outline:
      Fill(Style.Pressed, OrvantaAccent);
      Fill(Style.Selected, LightAccent);
      Fill(Style.Hot, LightAccent);
      Style.Disabled.BorderColor = Grey(Lighten(OrvantaAccent, 70));
      Style.Disabled.FontColor = Grey(Lighten(Black, 70));
      break;
  }
}

void RegisterOrvantaStyle() {
  if (FindButtonStyleFamily(FamilyName) != nullptr) return;
  RegisterButtonStyleFamily(std::make_unique<TOrvantaStyle>());
}

}  // namespace nimbrel
