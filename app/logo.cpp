// The brand mark in the header: a blue rounded square with a white N, and the word mark.
#include "app/frm_nimbrel.h"
#include "base/handle.h"
#include "widgets/dpi.h"

namespace nimbrel {

void DrawLogo(HDC Dc, const RECT& Client, UINT Dpi) {
  auto S = [Dpi](int Value) { return ScaleForDpi(Value, Dpi); };
  constexpr COLORREF Accent = RGB(61, 132, 221);
  const int Size = S(26);
  const int Top = Client.top + (Client.bottom - Client.top - Size) / 2;
  const int Left = Client.left + S(4);

  TOwnedBrush Fill(::CreateSolidBrush(Accent));
  TOwnedPen Edge(::CreatePen(PS_SOLID, 1, Accent));
  TOwnedFont Mark(::CreateFontW(-S(18), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
  RECT Text{Left + Size + S(6), Client.top, Client.right - S(2), Client.bottom};
  // The word mark takes the largest size up to 19 px that fits: fonts differ between systems.
  TOwnedFont Word;
  for (int Height = 19; Height >= 10; --Height) {
    Word.reset(::CreateFontW(-S(Height), 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
    TSelectObject Measure(Dc, Word.get());
    SIZE Extent{};
    ::GetTextExtentPoint32W(Dc, L"Nimbrel", 7, &Extent);
    if (Extent.cx <= Text.right - Text.left) break;
  }
  TSaveDc Saved(Dc);
  ::SelectObject(Dc, Fill.get());
  ::SelectObject(Dc, Edge.get());
  ::RoundRect(Dc, Left, Top, Left + Size, Top + Size, S(8), S(8));

  ::SetBkMode(Dc, TRANSPARENT);
  ::SelectObject(Dc, Mark.get());
  ::SetTextColor(Dc, RGB(255, 255, 255));
  RECT Square{Left, Top, Left + Size, Top + Size};
  ::DrawTextW(Dc, L"N", 1, &Square, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

  ::SelectObject(Dc, Word.get());
  ::SetTextColor(Dc, RGB(40, 48, 60));
  ::DrawTextW(Dc, L"Nimbrel", 7, &Text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace nimbrel
