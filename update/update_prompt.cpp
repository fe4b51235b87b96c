// The update prompt: an in-memory dialog template without controls; the controls are made and
// laid out at the dialog's DPI when it opens.
#include "update/update_prompt.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <vector>

#include "locale/translate.h"
#include "base/handle.h"
#include "base/shell_open.h"
#include "base/text.h"
#include "widgets/application.h"
#include "widgets/control.h"
#include "widgets/dpi.h"

namespace nimbrel {
namespace {

struct TUpdateTexts {
  const wchar_t* Code;
  const wchar_t* Prompt;
  const wchar_t* Status;
  const wchar_t* Yes;
  const wchar_t* No;
};

// The last row is for every language without one of its own.
constexpr TUpdateTexts UpdateTexts[] = {
    {L"ko", L"업데이트 정보가 있습니다.\r\r안정적으로 사용하기 위해 업데이트를 하시길 권장합니다.\r\r다운로드 받으시겠습니까?",
     L"업데이트 가능", L"예", L"아니오"},
    {L"ja",
     L"このプログラムがアップデートされました。\r\r安定的に使用するために新しくダウンロード·実行することをお勧めします。\r\rダウンロードしますか。",
     L"アップデート可", L"はい", L"いいえ"},
    {L"zh", L"该程序已更新。\r\r建议下载并执行新程序以稳定使用。\r\r您要下载吗？", L"可更新", L"是", L"否"},
    {L"de",
     L"Dieses Programm ist aktualisiert worden.\r\rEs wird empfohlen, es herunterzuladen und neu auszuführen, um es "
     L"stabil zu verwenden.\r\rMöchten Sie es herunterladen?",
     L"Update möglich", L"Ja", L"Nein"},
    {L"ru",
     L"Данная программа была обновлена.\r\rРекомендуется скачать и выполнить новое для стабильного использования.\r\rВы "
     L"хотите загрузить ее?",
     L"Обновление", L"Да", L"Нет"},
    {L"it",
     L"È disponibile una nuova versione del programma.\r\rTi suggeriamo di scaricare ed aggiornare il programma.\r\rVuoi "
     L"scaricare la nuova versione del programma?",
     L"Aggiornabile", L"Sì", L"No"},
    {L"fr",
     L"Ce programme a été mis à jour.\r\rIl est recommandé de télécharger et d'exécuter la nouvelle version pour une "
     L"utilisation stable.\r\rVoulez-vous le télécharger?",
     L"Maj dispo", L"Oui", L"Non"},
    {L"ar", L"تم تحديث هذا البرنامج.\r\rيُنصح بتنزيل النسخة الجديدة وتشغيلها لضمان الاستخدام المستقر.\r\rهل تريد تنزيلها؟",
     L"تحديث متاح", L"نعم", L"لا"},
    {L"", L"This program has been updated.\r\rIt is recommended to download and execute new for stable use.\r\rDo you want to download it?",
     L"Update available", L"Yes", L"No"},
};

// A control the prompt makes: class, text, style, id.
HWND MakeControl(HWND Dialog, const wchar_t* Class, const std::wstring& Text, DWORD Style, int Id, HFONT Font,
                 DWORD ExStyle = 0) {
  HWND Control = ::CreateWindowExW(ExStyle, Class, Text.c_str(), WS_CHILD | WS_VISIBLE | Style, 0, 0, 0, 0, Dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), ::GetModuleHandleW(nullptr), nullptr);
  if (Control != nullptr && Font != nullptr) ::SendMessageW(Control, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  return Control;
}

// Bare carriage returns become line breaks a static control shows.
std::wstring WithLineBreaks(const std::wstring& Text) {
  std::wstring Result;
  for (size_t I = 0; I < Text.size(); ++I) {
    Result += Text[I];
    if (Text[I] == L'\r' && (I + 1 >= Text.size() || Text[I + 1] != L'\n')) Result += L'\n';
  }
  return Result;
}

struct TPrompt {
  std::wstring Text;
  TUpdateNotice Notice;
  int Offset = 0;
  bool Rtl = false;
  bool NoteIsLink = false;
  HWND Owner = nullptr;
  TUpdateChoice Choice;
  TOwnedFont Font;
  TOwnedFont LinkFont;
  TOwnedBrush White{::CreateSolidBrush(RGB(255, 255, 255))};
  TOwnedBrush Grey{::CreateSolidBrush(RGB(0xCC, 0xCC, 0xCC))};
  TOwnedIcon SmallIcon;  // the unowned prompt's caption icon; outlives the dialog
};

TOwnedFont MessageFont(UINT Dpi, bool Underline) {
  NONCLIENTMETRICSW Metrics{};
  Metrics.cbSize = sizeof(Metrics);
  using TForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto ForDpi = reinterpret_cast<TForDpi>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi"));
  if (ForDpi == nullptr || !ForDpi(SPI_GETNONCLIENTMETRICS, sizeof(Metrics), &Metrics, 0, Dpi)) {
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(Metrics), &Metrics, 0);
  }
  Metrics.lfMessageFont.lfUnderline = Underline ? TRUE : FALSE;
  return TOwnedFont(::CreateFontIndirectW(&Metrics.lfMessageFont));
}

void LayOut(HWND Dialog, TPrompt& Prompt) {
  const UINT Dpi = DpiForWindow(Dialog);
  auto S = [&](int Value) { return ScaleForDpi(Value, Dpi); };
  Prompt.Font = MessageFont(Dpi, false);
  Prompt.LinkFont = MessageFont(Dpi, true);
  HFONT Font = Prompt.Font.get();

  // The prompt text, measured with the font it is shown in.
  RECT TextBox{0, 0, S(360), 0};
  {
    HDC Dc = ::GetDC(Dialog);
    const HGDIOBJ Old = ::SelectObject(Dc, Font);
    ::DrawTextW(Dc, Prompt.Text.c_str(), -1, &TextBox,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | (Prompt.Rtl ? DT_RTLREADING : 0));
    ::SelectObject(Dc, Old);
    ::ReleaseDC(Dialog, Dc);
  }
  const int ButtonWidth = S(88), ButtonHeight = S(26), Gap = S(8), Margin = S(16);
  const int Width = std::max({S(60) + static_cast<int>(TextBox.right) + S(24), 2 * ButtonWidth + Gap + 2 * Margin, S(320)});
  const int ButtonTop = std::max(Margin + S(32), Margin + static_cast<int>(TextBox.bottom)) + S(20);
  int Height = ButtonTop + ButtonHeight + Margin;
  if (!Prompt.Notice.Style.empty()) Height += S(40 - Prompt.Offset);

  HWND Icon = MakeControl(Dialog, L"STATIC", L"", SS_ICON, -1, nullptr);
  ::SendMessageW(Icon, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconW(nullptr, IDI_WARNING)), 0);
  ::MoveWindow(Icon, Margin, Margin, S(32), S(32), FALSE);
  HWND Text = MakeControl(Dialog, L"STATIC", Prompt.Text, SS_LEFT | SS_NOPREFIX, UpdatePromptTextId, Font,
                          Prompt.Rtl ? WS_EX_RTLREADING : 0);
  ::MoveWindow(Text, S(60), Margin, TextBox.right, TextBox.bottom, FALSE);
  HWND Yes = MakeControl(Dialog, L"BUTTON", GetUpdateText(2), BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDYES, Font);
  ::MoveWindow(Yes, Width - Margin - 2 * ButtonWidth - Gap, ButtonTop, ButtonWidth, ButtonHeight, FALSE);
  HWND No = MakeControl(Dialog, L"BUTTON", GetUpdateText(3), BS_PUSHBUTTON | WS_TABSTOP, IDNO, Font);
  ::MoveWindow(No, Width - Margin - ButtonWidth, ButtonTop, ButtonWidth, ButtonHeight, FALSE);

  // The window around that client area, centred on its monitor's work area.
  RECT Outer{0, 0, Width, Height};
  ::AdjustWindowRectEx(&Outer, static_cast<DWORD>(::GetWindowLongPtrW(Dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongPtrW(Dialog, GWL_EXSTYLE)));
  const int OuterWidth = Outer.right - Outer.left, OuterHeight = Outer.bottom - Outer.top;
  MONITORINFO Monitor{};
  Monitor.cbSize = sizeof(Monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(Prompt.Owner != nullptr ? Prompt.Owner : Dialog, MONITOR_DEFAULTTOPRIMARY),
                    &Monitor);
  const RECT& Work = Monitor.rcWork;
  ::SetWindowPos(Dialog, nullptr, Work.left + (Work.right - Work.left - OuterWidth) / 2,
                 Work.top + (Work.bottom - Work.top - OuterHeight) / 2, OuterWidth, OuterHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);

  // The notice sits in the added strip: distances are measured from the window's outer height.
  if (!Prompt.Notice.Style.empty()) {
    HWND Line = MakeControl(Dialog, L"STATIC", L"", SS_LEFT, UpdatePromptSeparatorId, nullptr);
    ::MoveWindow(Line, 0, OuterHeight - S(76 - Prompt.Offset), Width, 1, FALSE);
    const int NoticeTop = OuterHeight - S(66 - Prompt.Offset);
    HWND Notice = nullptr;
    if (Prompt.Notice.Style == L"hold") {
      Notice = MakeControl(Dialog, L"BUTTON", Prompt.Notice.Text, BS_AUTOCHECKBOX | WS_TABSTOP, UpdatePromptHoldId, Font);
    } else if (Prompt.Notice.Style == L"note") {
      Notice = Prompt.NoteIsLink
                   ? MakeControl(Dialog, L"BUTTON", Prompt.Notice.Text, BS_OWNERDRAW | WS_TABSTOP, UpdatePromptNoteId, Font)
                   : MakeControl(Dialog, L"STATIC", Prompt.Notice.Text, SS_LEFT | SS_NOPREFIX, UpdatePromptNoteId, Font);
      if (Prompt.NoteIsLink) {
        // The address shows as the link's tip.
        HWND Tip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                                     Dialog, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        TTTOOLINFOW Tool{};
        Tool.cbSize = sizeof(Tool);
        Tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        Tool.hwnd = Dialog;
        Tool.uId = reinterpret_cast<UINT_PTR>(Notice);
        Tool.lpszText = Prompt.Notice.Url.data();
        ::SendMessageW(Tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&Tool));
      }
    }
    if (Notice != nullptr) ::MoveWindow(Notice, S(10), NoticeTop, Width - S(20), S(20), FALSE);
  }

  if (Prompt.Notice.Flag.find(L"stayontop") != std::wstring::npos)
    ::SetWindowPos(Dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (Prompt.Owner == nullptr) {
    Prompt.SmallIcon.reset(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                           ::GetSystemMetrics(SM_CXSMICON),
                                                           ::GetSystemMetrics(SM_CYSMICON), 0)));
    if (Prompt.SmallIcon)
      ::SendMessageW(Dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Prompt.SmallIcon.get()));
  }
  ::SetFocus(Yes);
}

void Close(HWND Dialog, TPrompt& Prompt, bool Accepted) {
  Prompt.Choice.Accepted = Accepted;
  Prompt.Choice.Hold = ::IsDlgButtonChecked(Dialog, UpdatePromptHoldId) == BST_CHECKED;
  ::EndDialog(Dialog, Accepted ? IDYES : IDNO);
}

INT_PTR CALLBACK PromptProc(HWND Dialog, UINT Message, WPARAM WParam, LPARAM LParam) {
  auto* Prompt = reinterpret_cast<TPrompt*>(::GetWindowLongPtrW(Dialog, DWLP_USER));
  switch (Message) {
    case WM_INITDIALOG: {
      Prompt = reinterpret_cast<TPrompt*>(LParam);
      ::SetWindowLongPtrW(Dialog, DWLP_USER, LParam);
      std::wstring Title = Application().Title();
      if (Title.empty()) Title = L"Nimbrel";
      ::SetWindowTextW(Dialog, Translate(Title).c_str());
      LayOut(Dialog, *Prompt);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (Prompt == nullptr) break;
      switch (LOWORD(WParam)) {
        case IDYES:
          Close(Dialog, *Prompt, true);
          return TRUE;
        case IDNO:
        case IDCANCEL:
          Close(Dialog, *Prompt, false);
          return TRUE;
        case UpdatePromptNoteId:
          if (HIWORD(WParam) == BN_CLICKED && Prompt->NoteIsLink) ShellOpen(Prompt->Notice.Url);
          return TRUE;
        default:
          break;
      }
      break;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      if (Prompt == nullptr) break;
      if (::GetDlgCtrlID(reinterpret_cast<HWND>(LParam)) == UpdatePromptSeparatorId)
        return reinterpret_cast<INT_PTR>(Prompt->Grey.get());
      ::SetBkColor(reinterpret_cast<HDC>(WParam), RGB(255, 255, 255));
      return reinterpret_cast<INT_PTR>(Prompt->White.get());
    case WM_DRAWITEM: {
      const auto* Item = reinterpret_cast<const DRAWITEMSTRUCT*>(LParam);
      if (Prompt == nullptr || Item->CtlID != UpdatePromptNoteId) break;
      ::FillRect(Item->hDC, &Item->rcItem, Prompt->White.get());
      const HGDIOBJ Old = ::SelectObject(Item->hDC, Prompt->LinkFont.get());
      ::SetBkMode(Item->hDC, TRANSPARENT);
      ::SetTextColor(Item->hDC, RGB(0, 0, 255));
      RECT Box = Item->rcItem;
      ::DrawTextW(Item->hDC, Prompt->Notice.Text.c_str(), -1, &Box,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS | (Prompt->Rtl ? DT_RTLREADING : 0));
      ::SelectObject(Item->hDC, Old);
      if ((Item->itemState & ODS_FOCUS) != 0) ::DrawFocusRect(Item->hDC, &Item->rcItem);
      return TRUE;
    }
    case WM_SETCURSOR:
      if (::GetDlgCtrlID(reinterpret_cast<HWND>(WParam)) == UpdatePromptNoteId && Prompt != nullptr &&
          Prompt->NoteIsLink) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        ::SetWindowLongPtrW(Dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

std::wstring GetUpdateText(int Kind, const std::wstring& Language) {
  const TUpdateTexts* Row = &UpdateTexts[std::size(UpdateTexts) - 1];
  for (const TUpdateTexts& Candidate : UpdateTexts) {
    if (Language == Candidate.Code) {
      Row = &Candidate;
      break;
    }
  }
  switch (Kind) {
    case 0:
      return Row->Prompt;
    case 1:
      return Row->Status;
    case 2:
      return Row->Yes;
    case 3:
      return Row->No;
    default:
      return {};
  }
}

std::wstring GetUpdateText(int Kind) { return GetUpdateText(Kind, CurrentLanguage()); }

std::wstring AnswerMember(const std::wstring& Answer, const std::wstring& Name) {
  return JsonUnescape(ExtractBetween(Answer, L"\"" + Name + L"\":\"", L"\"", false));
}

TUpdateNotice ReadUpdateNotice(const std::wstring& Answer) {
  const std::wstring Info = ExtractBetween(Answer, L"\"info\":{", L"}", false);
  return {AnswerMember(Info, L"style"), AnswerMember(Info, L"text"), AnswerMember(Info, L"flag"),
          AnswerMember(Info, L"url")};
}

TUpdateChoice ShowUpdatePrompt(HWND Owner, const std::wstring& Answer, int Offset) {
  return ShowUpdatePrompt(Owner, ReadUpdateNotice(Answer), Offset);
}

TUpdateChoice ShowUpdatePrompt(HWND Owner, const TUpdateNotice& Notice, int Offset) {
  TPrompt Prompt;
  Prompt.Text = WithLineBreaks(GetUpdateText(0));
  Prompt.Notice = Notice;
  Prompt.NoteIsLink = IsWebAddress(Prompt.Notice.Url);
  Prompt.Offset = Offset;
  Prompt.Rtl = RightToLeftReading();
  Prompt.Owner = Owner;

  // A template without controls: WORD-aligned header, no menu, the default class, no title.
  struct alignas(4) TTemplate {
    DLGTEMPLATE Header;
    WORD Menu = 0, Class = 0, Title = 0;
  } Template{};
  Template.Header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  Template.Header.dwExtendedStyle = WS_EX_DLGMODALFRAME | (Prompt.Rtl ? WS_EX_LAYOUTRTL | WS_EX_RTLREADING : 0) |
                                    (Prompt.Notice.Flag.find(L"stayontop") != std::wstring::npos ? WS_EX_TOPMOST : 0);
  ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &Template.Header, Owner, PromptProc,
                            reinterpret_cast<LPARAM>(&Prompt));
  return Prompt.Choice;
}

}  // namespace nimbrel
