// Plain and mark-up labels.
#include "widgets/label.h"

#include <usp10.h>

#include <algorithm>

#include "base/system_library.h"

#include <algorithm>
#include <cwctype>

namespace nimbrel {

TLabel::TLabel(TComponent* Owner, TControl* Parent, std::wstring Name) : TControl(Owner, Parent, std::move(Name)) {
  SetHasCaption(true);
  CreateHandle(L"STATIC", WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX);
}

void TLabel::SetAlignment(TTextAlign Alignment) {
  FAlignment = Alignment;
  Invalidate();
}

void TLabel::SetVerticalCenter(bool Center) {
  FVerticalCenter = Center;
  Invalidate();
}

void TLabel::SetFontColor(COLORREF Color) {
  FFontColor = Color;
  Invalidate();
}

void TLabel::Paint(HDC Dc, const RECT& Client) {
  FillBackground(Dc, Client);
  const std::wstring Text = Caption();
  if (Text.empty()) return;
  TSaveDc Saved(Dc);
  ::SelectObject(Dc, FontHandle());
  ::SetBkMode(Dc, TRANSPARENT);
  ::SetTextColor(Dc, FFontColor);
  UINT Format = DT_WORDBREAK | DT_NOPREFIX;
  Format |= FAlignment == TTextAlign::Center ? DT_CENTER : FAlignment == TTextAlign::Right ? DT_RIGHT : DT_LEFT;
  if (RightToLeftReading()) Format |= DT_RTLREADING;
  RECT Target = Client;
  if (FVerticalCenter) {
    RECT Measure = Client;
    ::DrawTextW(Dc, Text.c_str(), static_cast<int>(Text.size()), &Measure, Format | DT_CALCRECT);
    const int Height = Measure.bottom - Measure.top;
    Target.top = Client.top + std::max(0, static_cast<int>((Client.bottom - Client.top - Height) / 2));
  }
  ::DrawTextW(Dc, Text.c_str(), static_cast<int>(Text.size()), &Target, Format);
}

namespace {

struct TNamedColor {
  const wchar_t* Name;
  COLORREF Color;
};

constexpr TNamedColor NamedColors[] = {
    {L"clBlack", RGB(0, 0, 0)},       {L"clGray", RGB(128, 128, 128)},  {L"clSilver", RGB(192, 192, 192)},
    {L"clWhite", RGB(255, 255, 255)}, {L"clRed", RGB(255, 0, 0)},       {L"clGreen", RGB(0, 128, 0)},
    {L"clBlue", RGB(0, 0, 255)},      {L"clNavy", RGB(0, 0, 128)},      {L"clMaroon", RGB(128, 0, 0)},
    {L"clPurple", RGB(128, 0, 128)},  {L"clTeal", RGB(0, 128, 128)},    {L"clOlive", RGB(128, 128, 0)},
    {L"clLime", RGB(0, 255, 0)},      {L"clYellow", RGB(255, 255, 0)},  {L"clFuchsia", RGB(255, 0, 255)},
    {L"clAqua", RGB(0, 255, 255)},
};

std::optional<COLORREF> ParseColor(const std::wstring& Text) {
  for (const TNamedColor& Named : NamedColors) {
    if (::lstrcmpiW(Named.Name, Text.c_str()) == 0) return Named.Color;
  }
  if (Text.size() == 7 && (Text[0] == L'$' || Text[0] == L'#') &&
      std::all_of(Text.begin() + 1, Text.end(), [](wchar_t C) { return std::iswxdigit(C) != 0; })) {
    const unsigned long Value = std::wcstoul(Text.c_str() + 1, nullptr, 16);
    if (Text[0] == L'$') return static_cast<COLORREF>(Value);  // $BBGGRR, as COLORREF
    return RGB((Value >> 16) & 0xFF, (Value >> 8) & 0xFF, Value & 0xFF);
  }
  return std::nullopt;
}

bool EqualsNoCase(const std::wstring& A, const wchar_t* B) { return ::lstrcmpiW(A.c_str(), B) == 0; }

}  // namespace

std::wstring TMarkup::PlainText() const {
  std::wstring Text;
  for (const TMarkupRun& Run : Runs) {
    if (Run.LineBreak && !Text.empty()) Text += L"\r\n";
    Text += Run.Text;
  }
  return Text;
}

TMarkup ParseMarkup(const std::wstring& Text) {
  TMarkup Result;
  int Bold = 0, Italic = 0, Underline = 0;
  std::vector<COLORREF> Colors;
  bool PendingBreak = false;
  std::wstring Pending;

  auto Flush = [&] {
    if (Pending.empty()) return;
    TMarkupRun Run;
    Run.Text = std::move(Pending);
    Run.Bold = Bold > 0;
    Run.Italic = Italic > 0;
    Run.Underline = Underline > 0;
    if (!Colors.empty()) Run.Color = Colors.back();
    Run.LineBreak = PendingBreak;
    PendingBreak = false;
    Result.Runs.push_back(std::move(Run));
    Pending.clear();
  };

  size_t Pos = 0;
  while (Pos < Text.size()) {
    const wchar_t C = Text[Pos];
    if (C == L'\r' || C == L'\n') {
      Flush();
      PendingBreak = true;
      Pos += (C == L'\r' && Pos + 1 < Text.size() && Text[Pos + 1] == L'\n') ? 2 : 1;
      continue;
    }
    if (C == L'<') {
      const size_t Close = Text.find(L'>', Pos + 1);
      if (Close != std::wstring::npos) {
        const std::wstring Tag = Text.substr(Pos + 1, Close - Pos - 1);
        const bool Closing = !Tag.empty() && Tag[0] == L'/';
        const std::wstring Name = Closing ? Tag.substr(1) : Tag;
        bool Known = true;
        if (EqualsNoCase(Name, L"B") || EqualsNoCase(Name, L"I") || EqualsNoCase(Name, L"U")) {
          Flush();
          int& Counter = EqualsNoCase(Name, L"B") ? Bold : EqualsNoCase(Name, L"I") ? Italic : Underline;
          Counter = Closing ? std::max(0, Counter - 1) : Counter + 1;
        } else if (EqualsNoCase(Name, L"C")) {
          Flush();
          if (!Closing) Result.Centered = true;
        } else if (EqualsNoCase(Name, L"BR") && !Closing) {
          Flush();
          PendingBreak = true;
        } else if (Closing && EqualsNoCase(Name, L"FC")) {
          Flush();
          if (!Colors.empty()) Colors.pop_back();
        } else if (!Closing && Name.size() > 3 && ::CompareStringOrdinal(Name.c_str(), 3, L"FC:", 3, TRUE) == CSTR_EQUAL) {
          const std::optional<COLORREF> Color = ParseColor(Name.substr(3));
          if (Color) {
            Flush();
            Colors.push_back(*Color);
          } else {
            Known = false;
          }
        } else {
          Known = false;
        }
        if (Known) {
          Pos = Close + 1;
          continue;
        }
      }
    }
    Pending += C;
    ++Pos;
  }
  Flush();
  return Result;
}

TMarkupLabel::TMarkupLabel(TComponent* Owner, TControl* Parent, std::wstring Name)
    : TLabel(Owner, Parent, std::move(Name)) {}

void TMarkupLabel::SetCaption(const std::wstring& Caption) {
  FMarkupText = Caption;
  FMarkup = ParseMarkup(Caption);
  TControl::SetCaption(FMarkup.PlainText());
}

namespace {

bool HasRightToLeftScript(std::wstring_view Text) {
  return std::any_of(Text.begin(), Text.end(), [](wchar_t C) {
    return (C >= 0x0590 && C <= 0x08FF) || (C >= 0xFB1D && C <= 0xFDFF) || (C >= 0xFE70 && C <= 0xFEFF);
  });
}

// The width of Text shaped as it is drawn (joined Arabic letters are narrower than the letters
// one by one, which is what some text-extent functions add up); nullopt when Uniscribe cannot tell.
std::optional<int> ShapedWidth(HDC Dc, std::wstring_view Text, bool Rtl) {
  static const auto Analyse = SystemProc<decltype(&::ScriptStringAnalyse)>(L"usp10.dll", "ScriptStringAnalyse");
  static const auto Size = SystemProc<decltype(&::ScriptString_pSize)>(L"usp10.dll", "ScriptString_pSize");
  static const auto Free = SystemProc<decltype(&::ScriptStringFree)>(L"usp10.dll", "ScriptStringFree");
  if (Analyse == nullptr || Size == nullptr || Free == nullptr || Text.empty()) return std::nullopt;
  SCRIPT_STRING_ANALYSIS Analysis = nullptr;
  const int Length = static_cast<int>(Text.size());
  if (FAILED(Analyse(Dc, Text.data(), Length, Length * 3 / 2 + 16, -1, SSA_GLYPHS | SSA_FALLBACK | (Rtl ? SSA_RTL : 0),
                     0, nullptr, nullptr, nullptr, nullptr, nullptr, &Analysis)))
    return std::nullopt;
  const SIZE* Extent = Size(Analysis);
  const std::optional<int> Width = Extent != nullptr ? std::optional<int>(Extent->cx) : std::nullopt;
  Free(&Analysis);
  return Width;
}

}  // namespace

std::vector<TMarkupLine> LayoutMarkup(HDC Dc, const TMarkup& Markup, int Width,
                                      const std::function<HFONT(const TMarkupRun&)>& FontFor) {
  const bool Rtl = RightToLeftReading();
  const UINT Flags = DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | (Rtl ? DT_RTLREADING : 0);
  auto Measure = [&](HFONT Font, std::wstring_view Text) {
    TSelectObject Selected(Dc, Font);
    RECT Box{0, 0, 0, 0};
    ::DrawTextW(Dc, Text.data(), static_cast<int>(Text.size()), &Box, Flags);
    SIZE Size{Box.right - Box.left, Box.bottom - Box.top};
    // Measured as drawn: shaped scripts (Arabic) are narrower than their characters one by one.
    if (HasRightToLeftScript(Text))
      if (const std::optional<int> Shaped = ShapedWidth(Dc, Text, Rtl)) Size.cx = *Shaped;
    return Size;
  };
  std::vector<TMarkupLine> Lines(1);
  int Trailing = 0;  // width of the blanks that end the current line
  for (const TMarkupRun& Run : Markup.Runs) {
    if (Run.LineBreak) {
      Lines.emplace_back();
      Trailing = 0;
    }
    const HFONT Font = FontFor(Run);
    const std::wstring_view Text = Run.Text;
    size_t Pos = 0;
    while (Pos < Text.size()) {
      // A word and the blanks after it.
      size_t End = Text.find(L' ', Pos);
      if (End == std::wstring_view::npos) End = Text.size();
      const size_t WordEnd = End;
      while (End < Text.size() && Text[End] == L' ') ++End;
      const std::wstring_view Word = Text.substr(Pos, WordEnd - Pos);
      const std::wstring_view Piece = Text.substr(Pos, End - Pos);
      const int WordWidth = Word.empty() ? 0 : Measure(Font, Word).cx;
      const SIZE PieceSize = Measure(Font, Piece);
      TMarkupLine* Line = &Lines.back();
      if (!Line->Pieces.empty() && Line->Width + Trailing + WordWidth > Width) {
        Lines.emplace_back();
        Line = &Lines.back();
        Trailing = 0;
      }
      if (Line->Pieces.empty() && Word.empty()) {  // blanks at the start of a wrapped line are dropped
        Pos = End;
        continue;
      }
      Line->Width += Trailing + WordWidth;
      Trailing = PieceSize.cx - WordWidth;
      Line->Height = std::max(Line->Height, static_cast<int>(PieceSize.cy));
      Line->Pieces.push_back({&Run, std::wstring(Piece), Font, PieceSize});
      Pos = End;
    }
    if (Text.empty()) Lines.back().Height = std::max(Lines.back().Height, static_cast<int>(Measure(Font, L" ").cy));
  }
  return Lines;
}

void TMarkupLabel::Paint(HDC Dc, const RECT& Client) {
  FillBackground(Dc, Client);
  if (FMarkup.Runs.empty()) return;

  HFONT Base = FontHandle();
  LOGFONTW BaseLog{};
  ::GetObjectW(Base, sizeof(BaseLog), &BaseLog);
  std::vector<TOwnedFont> Fonts;
  auto FontFor = [&](const TMarkupRun& Run) -> HFONT {
    if (!Run.Bold && !Run.Italic && !Run.Underline) return Base;
    LOGFONTW Log = BaseLog;
    if (Run.Bold) Log.lfWeight = FW_BOLD;
    Log.lfItalic = Run.Italic ? TRUE : FALSE;
    Log.lfUnderline = Run.Underline ? TRUE : FALSE;
    Fonts.emplace_back(::CreateFontIndirectW(&Log));
    return Fonts.back().get();
  };
  const std::vector<TMarkupLine> Lines = LayoutMarkup(Dc, FMarkup, Client.right - Client.left, FontFor);

  int TotalHeight = 0;
  for (const auto& Line : Lines) TotalHeight += Line.Height;
  int Y = Client.top;
  if (FVerticalCenter) Y += std::max(0, static_cast<int>((Client.bottom - Client.top - TotalHeight) / 2));
  TSaveDc Saved(Dc);
  ::SetBkMode(Dc, TRANSPARENT);
  const bool Rtl = RightToLeftReading();
  for (const auto& Line : Lines) {
    int X = Client.left;
    if (FMarkup.Centered || FAlignment == TTextAlign::Center) {
      X = Client.left + (Client.right - Client.left - Line.Width) / 2;
    } else if (FAlignment == TTextAlign::Right || Rtl) {
      X = Client.right - Line.Width;
    }
    // Right-to-left text runs from the right edge of the line: pieces are laid out mirrored, and
    // the blanks after a word fall on its left.
    int Cursor = Rtl ? X + Line.Width : X;
    for (const TMarkupPiece& Piece : Line.Pieces) {
      ::SelectObject(Dc, Piece.Font);
      ::SetTextColor(Dc, Piece.Run->Color.value_or(FFontColor));
      RECT Box{Rtl ? Cursor - Piece.Size.cx : Cursor, Y, 0, Y + Line.Height};
      Box.right = Box.left + Piece.Size.cx;
      ::DrawTextW(Dc, Piece.Text.c_str(), static_cast<int>(Piece.Text.size()), &Box,
                  DT_SINGLELINE | DT_BOTTOM | DT_NOPREFIX | (Rtl ? DT_RTLREADING : 0));
      Cursor += Rtl ? -Piece.Size.cx : Piece.Size.cx;
    }
    Y += Line.Height;
  }
}

}  // namespace nimbrel
