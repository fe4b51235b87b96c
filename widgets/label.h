// Labels: owner-drawn static windows (their window text is what a screen reader reads).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "widgets/control.h"

namespace nimbrel {

enum class TTextAlign { Left, Center, Right };

class TLabel : public TControl {
 public:
  TLabel(TComponent* Owner, TControl* Parent, std::wstring Name);

  void SetAlignment(TTextAlign Alignment);
  void SetVerticalCenter(bool Center);
  void SetFontColor(COLORREF Color);

 protected:
  void Paint(HDC Dc, const RECT& Client) override;

  TTextAlign FAlignment = TTextAlign::Left;
  bool FVerticalCenter = false;
  COLORREF FFontColor = RGB(0, 0, 0);
};

// One piece of mark-up text with its look.
struct TMarkupRun {
  std::wstring Text;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  std::optional<COLORREF> Color;  // empty: the label's font colour
  bool LineBreak = false;         // a <BR> or line break before this run
  friend bool operator==(const TMarkupRun&, const TMarkupRun&) = default;
};

struct TMarkup {
  std::vector<TMarkupRun> Runs;
  bool Centered = false;  // <C> anywhere centres the text
  // The text without tags, for the window text.
  [[nodiscard]] std::wstring PlainText() const;
};

// Parses <B>, <I>, <U>, <C>, <BR> and <FC:colour> (closing tags </B> ... </FC>). Colours are
// clBlack, clGray, clSilver, clWhite, clRed, clGreen, clBlue, clNavy, clMaroon, clPurple,
// clTeal, clOlive, clLime, clYellow, clFuchsia, clAqua, $BBGGRR or #RRGGBB. An unknown tag
// stays in the text as it is.
TMarkup ParseMarkup(const std::wstring& Text);

// One piece of laid-out mark-up: a word of a run (with the blanks after it), its font and size.
struct TMarkupPiece {
  const TMarkupRun* Run = nullptr;
  std::wstring Text;
  HFONT Font = nullptr;
  SIZE Size{};
};
struct TMarkupLine {
  std::vector<TMarkupPiece> Pieces;
  int Width = 0;   // without the blanks that end the line
  int Height = 0;
};

// Lays Markup out in lines no wider than Width, as ordinary text wraps: at blanks between words,
// whichever run they belong to; a word wider than Width has a line of its own. Line breaks of the
// mark-up start new lines. FontFor gives each run's font. Pieces are measured as drawn on Dc.
std::vector<TMarkupLine> LayoutMarkup(HDC Dc, const TMarkup& Markup, int Width,
                                      const std::function<HFONT(const TMarkupRun&)>& FontFor);

// A label whose caption is mark-up text. Text that does not fit on one line wraps.
class TMarkupLabel : public TLabel {
 public:
  TMarkupLabel(TComponent* Owner, TControl* Parent, std::wstring Name);

  [[nodiscard]] std::wstring Caption() const override { return FMarkupText; }
  void SetCaption(const std::wstring& Caption) override;

 protected:
  void Paint(HDC Dc, const RECT& Client) override;

 private:
  std::wstring FMarkupText;
  TMarkup FMarkup;
};

}  // namespace nimbrel
