// Shows the "Orvanta" style family for a screenshot: every button state of the three appearances
// with translated captions, or (--languages) the home card's captions and tips in all nine languages
// at the sizes the main window gives them.
//
//   style_preview [LANGUAGE [MS]]      the states sheet; LANGUAGE (ko, en, ja, ...) defaults to the user's
//   style_preview --languages [MS]     one row per language
// With MS the window closes itself after that many milliseconds.
#include <windows.h>

#include <string>
#include <vector>

#include "locale/translate.h"
#include "theme/orvanta_style.h"
#include "theme/theme_helper.h"
#include "widgets/application.h"
#include "widgets/button.h"
#include "widgets/form.h"
#include "widgets/label.h"

namespace {

using namespace nimbrel;

constexpr wchar_t Title[] = L"Nimbrel style preview";

struct TAppearanceRow {
  const wchar_t* Appearance;
  const wchar_t* Caption;  // Korean, translated like the program's captions
  int Width, Height, Radius;
};

const TAppearanceRow Rows[] = {
    {L"Normal", L"삭제하기", 120, 44, 6},
    {L"Header", L"처음화면", 70, 30, 4},
    {L"Outline", L"실행하기", 120, 44, 6},
};
const wchar_t* const StateNames[] = {L"Normal", L"Pressed", L"Selected", L"Hot", L"Disabled"};

// Keeps a button drawn hot: the hot flag is set by one mouse move, and its leave is never seen.
void HoldHot(TStyledButton& Button) {
  auto Previous = Button.WindowProc;
  Button.WindowProc = [Previous](TMessage& Message) {
    if (Message.Msg != WM_MOUSELEAVE) Previous(Message);
  };
  ::SendMessageW(Button.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
}

TLabel* AddLabel(TForm& Form, const std::wstring& Text, int Left, int Top, int Width, int Height) {
  auto* Label = Form.Create<TLabel>(&Form, L"");
  Label->SetBounds(Left, Top, Width, Height);
  Label->SetCaption(Text);
  Label->SetFontColor(RGB(96, 96, 96));
  return Label;
}

constexpr int Margin = 16, RowTitle = 70, Cell = 136, RowHeight = 64, HeadHeight = 28, TipWidth = 449, TipHeight = 33;
const wchar_t* const Tips[] = {L"윈도우 필수 프로그램만 남기고 <B>종료</B>합니다.",
                               L"프로그램은 종료만 되며, <B>삭제</B>하지 않습니다."};

// The home card's tip line: grey, centred mark-up.
void AddTip(TForm& Form, const std::wstring& Tip, int Left, int Top) {
  auto* Label = Form.Create<TMarkupLabel>(&Form, L"");
  Label->SetBounds(Left, Top, TipWidth, TipHeight);
  Label->SetVerticalCenter(true);
  Label->SetCaption(L"<C><FC:clGray>" + Tip + L"</FC></C>");
}

std::unique_ptr<TForm> StatesSheet() {
  // Three rows of buttons, then the two tips in the language of the captions.
  auto Form = std::make_unique<TForm>(nullptr, L"FrmPreview", L"NimbrelStylePreview",
                                      Margin * 2 + RowTitle + Cell * 5,
                                      Margin * 3 + HeadHeight + RowHeight * 3 + TipHeight * 2);
  Form->SetFont(DesktopFont());
  std::vector<TStyledButton*> Buttons;
  for (int Row = 0; Row < 3; ++Row) {
    const TAppearanceRow& Look = Rows[Row];
    for (int State = 0; State < 5; ++State) {
      auto* Button = Form->Create<TStyledButton>(Form.get(), L"");
      Button->SetBounds(Margin + RowTitle + Cell * State + (Cell - Look.Width) / 2,
                        Margin + HeadHeight + RowHeight * Row + (RowHeight - Look.Height) / 2, Look.Width, Look.Height);
      Button->SetCaption(Look.Caption);
      Button->SetCornerRadius(Look.Radius);
      Button->SetStyleFamily(L"Orvanta");
      Button->SetStyleClass(L"Primary");
      Button->SetStyleAppearance(Look.Appearance);
      Buttons.push_back(Button);
    }
  }
  TranslateForm(Form.get());
  // Titles are set after the translation: "Disabled" is a text of the table.
  for (int State = 0; State < 5; ++State) {
    AddLabel(*Form, StateNames[State], Margin + RowTitle + Cell * State, Margin, Cell, HeadHeight)
        ->SetAlignment(TTextAlign::Center);
  }
  for (int Row = 0; Row < 3; ++Row) {
    AddLabel(*Form, Rows[Row].Appearance, Margin, Margin + HeadHeight + RowHeight * Row + RowHeight / 2 - 8, RowTitle,
             18);
  }
  AddLabel(*Form, L"Tips", Margin, Margin * 2 + HeadHeight + RowHeight * 3 + TipHeight - 9, RowTitle, 18);
  for (int Tip = 0; Tip < 2; ++Tip) {
    AddTip(*Form, Translate(Tips[Tip]), Margin + RowTitle + (Cell * 5 - TipWidth) / 2,
           Margin * 2 + HeadHeight + RowHeight * 3 + TipHeight * Tip);
  }
  for (int Row = 0; Row < 3; ++Row) {
    TStyledButton** Cells = &Buttons[static_cast<size_t>(Row * 5)];
    ::SendMessageW(Cells[1]->Handle(), BM_SETSTATE, TRUE, 0);
    Cells[2]->SetDown(true);
    HoldHot(*Cells[3]);
    Cells[4]->SetEnabled(false);
  }
  return Form;
}

std::unique_ptr<TForm> LanguagesSheet() {
  // Per language: the header's three buttons and the tips above, the Clean button on the right.
  constexpr int CodeWidth = 28, Row = 104;
  const std::vector<std::wstring> Languages = {L"ko", L"en", L"ja", L"zh", L"ru", L"it", L"fr", L"es", L"ar"};
  auto Form = std::make_unique<TForm>(nullptr, L"FrmPreview", L"NimbrelStylePreview",
                                      Margin * 3 + CodeWidth + TipWidth + 162,
                                      Margin * 2 + Row * static_cast<int>(Languages.size()));
  Form->SetFont(DesktopFont());
  for (size_t Index = 0; Index < Languages.size(); ++Index) {
    const std::wstring& Language = Languages[Index];
    const int Top = Margin + Row * static_cast<int>(Index);
    const int Left = Margin + CodeWidth;
    AddLabel(*Form, Language, Margin, Top + 8, CodeWidth, 18);
    auto* Head = Form->Create<TStyledToolBar>(Form.get(), L"");
    Head->SetBounds(Left, Top, 230, 30);
    Head->SetButtonSize(70, 30);
    Head->SetIndent(10);
    for (const wchar_t* Caption : {L"처음화면", L"자동실행", L"강제설치"}) {
      Head->AddButton(L"", Translate(Caption, Language));
    }
    Head->SetStyle(L"Orvanta", L"Primary", L"Header", 4);
    Head->SetPressed(Head->Buttons().front());
    for (int Tip = 0; Tip < 2; ++Tip) AddTip(*Form, Translate(Tips[Tip], Language), Left, Top + 34 + TipHeight * Tip);
    auto* Start = Form->Create<TStyledButton>(Form.get(), L"");
    Start->SetBounds(Left + TipWidth + Margin, Top + 18, 162, 68);
    Start->SetCaption(Translate(L"실행하기", Language));
    Start->SetStyleFamily(L"Orvanta");
    Start->SetStyleAppearance(L"Outline");
  }
  return Form;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  LoadTranslation();
  RegisterOrvantaStyle();
  const std::wstring Argument = __argc > 1 ? __wargv[1] : L"";
  const bool Languages = Argument == L"--languages";
  if (Languages) {
    SetCurrentLanguage(L"en");  // one reading direction for all rows
  } else if (!Argument.empty()) {
    SetCurrentLanguage(Argument);
  }
  std::unique_ptr<TForm> Form = Languages ? LanguagesSheet() : StatesSheet();
  AttachTheme(*Form);
  Form->SetCaption(Title);
  Application().SetTitle(Title);
  static HWND Window = Form->Handle();
  if (__argc > 2) {
    ::SetTimer(nullptr, 0, static_cast<UINT>(_wtoi(__wargv[2])),
               [](HWND, UINT, UINT_PTR, DWORD) { ::PostMessageW(Window, WM_CLOSE, 0, 0); });
  }
  Application().Run(*Form);
  return 0;
}
