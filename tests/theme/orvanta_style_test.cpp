// The "Orvanta" button style family: its derived colours, the look of every state of its three
// appearances, and styled buttons taking that look.
#include "theme/orvanta_style.h"

#include <gtest/gtest.h>

#include "widgets/button.h"
#include "widgets/form.h"

namespace nimbrel {

void PrintTo(const TButtonStateAttributes& A, std::ostream* Out) {
  auto Rgb = [Out](COLORREF C) {
    *Out << "(" << int(GetRValue(C)) << "," << int(GetGValue(C)) << "," << int(GetBValue(C)) << ")";
  };
  *Out << "{face " << (A.FaceStyle == TFillStyle::Solid ? "solid " : "clear ");
  Rgb(A.FaceColor);
  *Out << ", border " << (A.BorderStyle == TFillStyle::Solid ? "solid " : "clear ");
  Rgb(A.BorderColor);
  *Out << " width " << A.BorderWidth << ", font ";
  Rgb(A.FontColor);
  *Out << (A.FontBold ? " bold" : "") << "}";
}

void PrintTo(const TButtonStyle& S, std::ostream* Out) {
  *Out << "normal ";
  PrintTo(S.Normal, Out);
  *Out << " pressed ";
  PrintTo(S.Pressed, Out);
  *Out << " selected ";
  PrintTo(S.Selected, Out);
  *Out << " hot ";
  PrintTo(S.Hot, Out);
  *Out << " disabled ";
  PrintTo(S.Disabled, Out);
}

namespace {

constexpr COLORREF Accent = RGB(61, 132, 221);
constexpr COLORREF LightAccent = RGB(80, 144, 224);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF Silver = RGB(192, 192, 192);
constexpr COLORREF Grey128 = RGB(128, 128, 128);
constexpr COLORREF Grey179 = RGB(179, 179, 179);
constexpr COLORREF Grey188 = RGB(188, 188, 188);
constexpr COLORREF Grey215 = RGB(215, 215, 215);

constexpr TFillStyle Solid = TFillStyle::Solid;
constexpr TFillStyle Clear = TFillStyle::Clear;

TButtonStateAttributes State(TFillStyle FaceStyle, COLORREF Face, TFillStyle BorderStyle, COLORREF Border,
                             COLORREF Font) {
  TButtonStateAttributes A;
  A.Shape = TButtonShape::RoundRect;
  A.FaceStyle = FaceStyle;
  A.FaceColor = Face;
  A.BorderStyle = BorderStyle;
  A.BorderColor = Border;
  A.BorderWidth = 0;
  A.FontColor = Font;
  A.FontBold = false;
  return A;
}

// The looks, written out state by state.
const TButtonStyle NormalLook{
    .Normal = State(Solid, Accent, Solid, Accent, White),
    .Pressed = State(Solid, Accent, Solid, Accent, White),
    .Selected = State(Solid, Accent, Solid, Accent, White),
    .Hot = State(Solid, LightAccent, Solid, Accent, White),
    .Disabled = State(Solid, White, Solid, Silver, Silver),
};
const TButtonStyle HeaderLook{
    .Normal = State(Clear, White, Solid, Black, Black),
    .Pressed = State(Solid, Accent, Clear, Accent, White),
    .Selected = State(Solid, LightAccent, Clear, Accent, White),
    .Hot = State(Solid, Accent, Clear, Accent, White),
    .Disabled = State(Clear, White, Solid, Grey188, Grey128),
};
const TButtonStyle OutlineLook{
    .Normal = State(Clear, Accent, Solid, Accent, Black),
    .Pressed = State(Solid, Accent, Solid, Accent, White),
    .Selected = State(Solid, LightAccent, Solid, Accent, White),
    .Hot = State(Solid, LightAccent, Solid, Accent, White),
    .Disabled = State(Clear, Accent, Solid, Grey215, Grey179),
};

class OrvantaTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterOrvantaStyle(); }
};

TEST(OrvantaColours, LightenAndGreyGiveTheReferenceValues) {
  EXPECT_EQ(OrvantaAccent, Accent);
  EXPECT_EQ(Lighten(Accent, 10), LightAccent);
  EXPECT_EQ(Lighten(Accent, 50), RGB(158, 194, 238));  // 132 + 61.5 rounds up
  EXPECT_EQ(Grey(Lighten(Accent, 50)), Grey188);
  EXPECT_EQ(Grey(Lighten(Black, 50)), Grey128);  // 127.5 rounds up
  EXPECT_EQ(Lighten(Accent, 70), RGB(197, 218, 245));
  EXPECT_EQ(Grey(Lighten(Accent, 70)), Grey215);
  EXPECT_EQ(Grey(Lighten(Black, 70)), Grey179);
  EXPECT_EQ(Lighten(Accent, 0), Accent);
  EXPECT_EQ(Lighten(Accent, 100), White);
  EXPECT_EQ(Grey(White), White);
  EXPECT_EQ(Grey(RGB(255, 0, 0)), RGB(76, 76, 76));  // 76.245
  EXPECT_EQ(Grey(RGB(0, 0, 255)), RGB(29, 29, 29));  // 29.07
}

TEST_F(OrvantaTest, FamilyNamesItsClassAndAppearances) {
  const TButtonStyleFamily* Family = FindButtonStyleFamily(L"Orvanta");
  ASSERT_NE(Family, nullptr);
  EXPECT_EQ(Family->Name(), L"Orvanta");
  EXPECT_EQ(Family->Classes(), std::vector<std::wstring>{L"Primary"});
  EXPECT_EQ(Family->Appearances(), (std::vector<std::wstring>{L"Normal", L"Header", L"Outline"}));
  std::wstring Class, Appearance;
  Family->DefaultClassAndAppearance(Class, Appearance);
  EXPECT_EQ(Class, L"Primary");
  EXPECT_EQ(Appearance, L"Normal");
  RegisterOrvantaStyle();
  EXPECT_EQ(FindButtonStyleFamily(L"orvanta"), Family) << "registering again keeps the one family";
}

TEST_F(OrvantaTest, EveryStateOfEveryAppearance) {
  struct TCase {
    const wchar_t* Class;
    const wchar_t* Appearance;
    const TButtonStyle* Look;
  };
  const TCase Cases[] = {
      {L"Primary", L"Normal", &NormalLook},   {L"Primary", L"Header", &HeaderLook},
      {L"Primary", L"Outline", &OutlineLook}, {L"Primary", L"HEADER", &HeaderLook},
      {L"Primary", L"outLINE", &OutlineLook}, {L"Primary", L"", &NormalLook},  // the default appearance
      {L"Primary", L"Fancy", &NormalLook},    {L"Primary", L"Outline ", &NormalLook},
      {L"", L"Header", &HeaderLook},          {L"Secondary", L"Outline", &OutlineLook},  // class not looked at
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(Case.Appearance)));
    const TButtonStyle Style = ResolveButtonStyle(L"Orvanta", Case.Class, Case.Appearance);
    EXPECT_EQ(Style.Normal, Case.Look->Normal);
    EXPECT_EQ(Style.Pressed, Case.Look->Pressed);
    EXPECT_EQ(Style.Selected, Case.Look->Selected);
    EXPECT_EQ(Style.Hot, Case.Look->Hot);
    EXPECT_EQ(Style.Disabled, Case.Look->Disabled);
  }
}

TEST_F(OrvantaTest, ButtonsTakeTheLookWhenTheyNameTheFamily) {
  TForm Form(nullptr, L"FrmStyle", L"NimbrelStyleTest", 400, 200);
  auto* Start = Form.Create<TStyledButton>(&Form, L"BtnStart");
  Start->SetBounds(142, 100, 162, 68);
  EXPECT_EQ(Start->Style(), DefaultButtonStyle());
  Start->SetStyleFamily(L"Orvanta");
  EXPECT_EQ(Start->Style(), NormalLook) << "family defaults";
  Start->SetStyleAppearance(L"Outline");
  EXPECT_EQ(Start->Style(), OutlineLook);

  // The Clean button after its click.
  Start->SetEnabled(false);
  EXPECT_EQ(Start->DrawState(false), TButtonDrawState::Disabled);
  EXPECT_EQ(Start->Attributes(Start->DrawState(false)).BorderColor, Grey215);
  EXPECT_EQ(Start->Attributes(Start->DrawState(false)).FontColor, Grey179);

  auto* Head = Form.Create<TStyledToolBar>(&Form, L"BtnHead");
  Head->SetBounds(10, 10, 380, 30);
  Head->SetButtonSize(70, 30);
  Head->SetIndent(10);
  auto* Home = Head->AddButton(L"BtnHome", L"처음화면");
  auto* Autorun = Head->AddButton(L"BtnAutorun", L"자동실행");
  Head->SetStyle(L"Orvanta", L"Primary", L"Header", 4);
  Head->SetPressed(Home);
  EXPECT_EQ(Home->Attributes(Home->DrawState(false)), HeaderLook.Selected) << "the shown page: light blue, white text";
  EXPECT_EQ(Autorun->Attributes(Autorun->DrawState(false)), HeaderLook.Normal);
  EXPECT_EQ(Autorun->Attributes(Autorun->DrawState(true)), HeaderLook.Pressed);
}

}  // namespace
}  // namespace nimbrel
