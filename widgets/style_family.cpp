// The process-wide list of button style families.
#include "widgets/style_family.h"

#include <shlwapi.h>

namespace nimbrel {

namespace {
std::vector<std::unique_ptr<TButtonStyleFamily>>& Families() {
  static std::vector<std::unique_ptr<TButtonStyleFamily>> List;
  return List;
}
}  // namespace

void RegisterButtonStyleFamily(std::unique_ptr<TButtonStyleFamily> Family) {
  if (Family) Families().push_back(std::move(Family));
}

const TButtonStyleFamily* FindButtonStyleFamily(const std::wstring& Name) {
  for (const auto& Family : Families()) {
    if (::lstrcmpiW(Family->Name().c_str(), Name.c_str()) == 0) return Family.get();
  }
  return nullptr;
}

TButtonStyle DefaultButtonStyle() {
  TButtonStyle Style;
  Style.Normal.FaceColor = ::GetSysColor(COLOR_BTNFACE);
  Style.Normal.BorderColor = ::GetSysColor(COLOR_BTNSHADOW);
  Style.Normal.FontColor = ::GetSysColor(COLOR_BTNTEXT);
  Style.Pressed = Style.Normal;
  Style.Pressed.FaceColor = ::GetSysColor(COLOR_BTNSHADOW);
  Style.Selected = Style.Pressed;
  Style.Hot = Style.Normal;
  Style.Hot.FaceColor = ::GetSysColor(COLOR_BTNHIGHLIGHT);
  Style.Disabled = Style.Normal;
  Style.Disabled.FontColor = ::GetSysColor(COLOR_GRAYTEXT);
  return Style;
}

TButtonStyle ResolveButtonStyle(const std::wstring& Family, const std::wstring& Class,
                                const std::wstring& Appearance) {
  const TButtonStyleFamily* Found = FindButtonStyleFamily(Family);
  if (Found == nullptr) return DefaultButtonStyle();
  std::wstring DefaultClass, DefaultAppearance;
  Found->DefaultClassAndAppearance(DefaultClass, DefaultAppearance);
  TButtonStyle Style;
  Found->UpdateAttributes(Found->Name(), Class.empty() ? DefaultClass : Class,
                          Appearance.empty() ? DefaultAppearance : Appearance, Style);
  return Style;
}

}  // namespace nimbrel
