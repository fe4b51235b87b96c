// Dark title bar and the accent strip that follows the form's activation.
#include "theme/theme_helper.h"

#include <dwmapi.h>

#include "base/system_library.h"

#include <stdexcept>

#include "theme/orvanta_style.h"
#include "widgets/form.h"
#include "widgets/misc.h"

extern "C" NTSYSAPI LONG NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW Version);

namespace nimbrel {

namespace {

// Missing from mingw's dwmapi.h.
constexpr DWORD DwmUseImmersiveDarkMode = 20;
constexpr int StripHeight = 2;

TComponent* RequireForm(TComponent* Owner) {
  if (dynamic_cast<TForm*>(Owner) == nullptr) throw std::invalid_argument("TThemeHelper Owner must be a TForm");
  return Owner;
}

}  // namespace

bool DarkTitleBarSupported() noexcept {
  // RtlGetVersion tells the true build; GetVersionExW answers by the manifest.
  RTL_OSVERSIONINFOW Version{};
  Version.dwOSVersionInfoSize = sizeof(Version);
  return RtlGetVersion(&Version) == 0 && Version.dwBuildNumber > 17762;
}

TThemeHelper::TThemeHelper(TComponent* Owner)
    : TComponent(RequireForm(Owner), L""), FForm(static_cast<TForm*>(Owner)), FActiveColor(OrvantaAccent) {
  if (DarkTitleBarSupported() && FForm->Handle() != nullptr) {
    // The attribute is a 4-byte BOOL; the result does not matter (older systems refuse it).
    const BOOL Dark = TRUE;
    // dwmapi.dll is not a known DLL: loaded from System32 by full path.
    static const auto SetAttribute =
        SystemProc<decltype(&::DwmSetWindowAttribute)>(L"dwmapi.dll", "DwmSetWindowAttribute");
    if (SetAttribute != nullptr) SetAttribute(FForm->Handle(), DwmUseImmersiveDarkMode, &Dark, sizeof(Dark));
  }

  FShape = FForm->Create<TShape>(FForm, L"");
  FShape->SetBounds(0, 0, FForm->ClientWidth(), StripHeight);
  FShape->SetBrushColor(FActiveColor);
  FShape->SetPenColor(FActiveColor);
  FShape->SetAlignTop(true);
  // Above the form's other children, which may also reach the top edge.
  if (FShape->Handle() != nullptr) {
    ::SetWindowPos(FShape->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  FOldWindowProc = FForm->WindowProc;
  FForm->WindowProc = [this](TMessage& Message) { FormWindowProc(Message); };
  UpdateShape();
}

TThemeHelper::~TThemeHelper() {
  if (FForm != nullptr) FForm->WindowProc = FOldWindowProc;
}

void TThemeHelper::FormWindowProc(TMessage& Message) {
  if (FOldWindowProc) FOldWindowProc(Message);
  if (Message.Msg == WM_ACTIVATE) {
    FIsActive = LOWORD(Message.WParam) != WA_INACTIVE;
    UpdateShape();
  }
}

void TThemeHelper::UpdateShape() {
  if (FUpdating || FShape == nullptr) return;
  FUpdating = true;
  struct TClear {
    bool& Flag;
    ~TClear() { Flag = false; }
  } Clear{FUpdating};
  const COLORREF Color = FIsActive ? FActiveColor : ::GetSysColor(COLOR_GRAYTEXT);
  FShape->SetBrushColor(Color);
  FShape->SetPenColor(Color);
  FShape->SetVisible(FForm->BorderStyle() != TBorderStyle::None);
}

TThemeHelper* AttachTheme(TForm& Form) { return Form.Create<TThemeHelper>(); }

}  // namespace nimbrel
