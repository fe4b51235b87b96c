// The window theme helper: its owner rule, the accent strip following the form's activation, and
// the form's window procedure handed back when the helper goes.
#include "theme/theme_helper.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "widgets/form.h"
#include "widgets/misc.h"

namespace nimbrel {
namespace {

constexpr COLORREF Accent = RGB(61, 132, 221);

COLORREF Grey() { return ::GetSysColor(COLOR_GRAYTEXT); }

// The colour the strip shows on screen, read back from its window.
COLORREF PaintedColor(const TShape& Strip) {
  ::RedrawWindow(Strip.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC Dc = ::GetDC(Strip.Handle());
  const COLORREF Color = ::GetPixel(Dc, 10, 0);
  ::ReleaseDC(Strip.Handle(), Dc);
  return Color;
}

void Activate(HWND Window, WORD How = WA_ACTIVE) { ::SendMessageW(Window, WM_ACTIVATE, MAKEWPARAM(How, 0), 0); }

TEST(ThemeHelper, OwnerMustBeAForm) {
  TComponent Plain(nullptr, L"Plain");
  TForm Form(nullptr, L"FrmOwner", L"NimbrelThemeOwner", 200, 100);
  auto* Panel = Form.Create<TPanel>(&Form, L"Pnl");
  for (TComponent* Owner : {&Plain, static_cast<TComponent*>(Panel), static_cast<TComponent*>(nullptr)}) {
    try {
      TThemeHelper Helper(Owner);
      ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& Error) {
      EXPECT_STREQ(Error.what(), "TThemeHelper Owner must be a TForm");
    }
  }
  EXPECT_TRUE(Plain.Components().empty()) << "nothing created";
  EXPECT_EQ(Panel->Components().size(), 0u);
  EXPECT_EQ(Form.Components().size(), 1u);
}

TEST(ThemeHelper, StripFollowsActivation) {
  TForm Form(nullptr, L"FrmMain", L"NimbrelThemeMain", 464, 417);
  // A header across the top, as the main window has, made before the helper.
  auto* Head = Form.Create<TPanel>(&Form, L"PnlHead");
  Head->SetBounds(0, 0, 464, 50);
  Head->SetColor(RGB(255, 255, 255));
  TThemeHelper* Helper = AttachTheme(Form);
  ASSERT_NE(Helper, nullptr);
  EXPECT_EQ(Helper->Owner(), &Form);
  TShape* Strip = Helper->Shape();
  ASSERT_NE(Strip, nullptr);
  EXPECT_EQ(Strip->Owner(), &Form);
  EXPECT_EQ(Strip->Parent(), &Form);

  TForm Other(nullptr, L"FrmOther", L"NimbrelThemeOther", 200, 100);
  Form.Show();
  Other.Show();

  RECT Client, Bounds;
  ::GetClientRect(Form.Handle(), &Client);
  ::GetWindowRect(Strip->Handle(), &Bounds);
  ::MapWindowPoints(nullptr, Form.Handle(), reinterpret_cast<POINT*>(&Bounds), 2);
  EXPECT_EQ(Bounds.left, 0);
  EXPECT_EQ(Bounds.top, 0);
  EXPECT_EQ(Bounds.right, Client.right) << "as wide as the client area";
  EXPECT_EQ(Bounds.bottom, 2);
  EXPECT_EQ(::GetWindow(Form.Handle(), GW_CHILD), Strip->Handle()) << "above the header";

  struct TStep {
    HWND Activated;
    WORD How;
    bool Active;
  };
  const TStep Steps[] = {
      {Form.Handle(), WA_ACTIVE, true},
      {Other.Handle(), WA_ACTIVE, false},      // another window: grey
      {Form.Handle(), WA_CLICKACTIVE, true},   // back by a click: blue
      {Other.Handle(), WA_CLICKACTIVE, false},
      {Form.Handle(), WA_ACTIVE, true},
  };
  for (const TStep& Step : Steps) {
    SCOPED_TRACE(Step.Activated == Form.Handle() ? "form activated" : "other window activated");
    ::SetActiveWindow(Step.Activated);
    if (Step.Activated == Form.Handle()) Activate(Form.Handle(), Step.How);
    EXPECT_EQ(Helper->IsActive(), Step.Active);
    const COLORREF Expected = Step.Active ? Accent : Grey();
    EXPECT_EQ(Strip->BrushColor(), Expected);
    EXPECT_EQ(Strip->PenColor(), Expected);
    EXPECT_TRUE(Strip->Visible());
    EXPECT_EQ(PaintedColor(*Strip), Expected);
  }
}

TEST(ThemeHelper, BorderlessFormKeepsTheStripHidden) {
  TForm Form(nullptr, L"FrmBare", L"NimbrelThemeBare", 200, 100, TBorderStyle::None);
  TThemeHelper* Helper = AttachTheme(Form);
  Form.Show();
  EXPECT_FALSE(Helper->Shape()->Visible());
  for (WORD How : {WORD(WA_INACTIVE), WORD(WA_ACTIVE), WORD(WA_CLICKACTIVE)}) {
    Activate(Form.Handle(), How);
    EXPECT_EQ(Helper->IsActive(), How != WA_INACTIVE);
    EXPECT_FALSE(Helper->Shape()->Visible());
  }
}

TEST(ThemeHelper, FreeingTheHelperGivesBackTheWindowProcedure) {
  TForm Form(nullptr, L"FrmFree", L"NimbrelThemeFree", 200, 100);
  int Seen = 0;
  TShape* Strip = nullptr;
  COLORREF SeenColor = 0;
  auto Previous = Form.WindowProc;
  Form.WindowProc = [&, Previous](TMessage& Message) {
    if (Message.Msg == WM_ACTIVATE) {
      ++Seen;
      if (Strip != nullptr) SeenColor = Strip->BrushColor();
    }
    Previous(Message);
  };
  TThemeHelper* Helper = AttachTheme(Form);
  Strip = Helper->Shape();
  Activate(Form.Handle(), WA_INACTIVE);
  EXPECT_GE(Seen, 1);
  EXPECT_EQ(SeenColor, Accent) << "the saved procedure runs before the strip changes";
  EXPECT_EQ(Strip->BrushColor(), Grey());

  Activate(Form.Handle(), WA_ACTIVE);
  Form.FreeComponent(Helper);
  const int Before = Seen;
  Activate(Form.Handle(), WA_INACTIVE);
  EXPECT_GT(Seen, Before) << "the form's own procedure is back in place";
  EXPECT_EQ(Strip->BrushColor(), Accent) << "the strip stays with the form, no longer recoloured";
  Form.SetCaption(L"still answers");
  EXPECT_EQ(Form.Caption(), L"still answers");
}

}  // namespace
}  // namespace nimbrel
