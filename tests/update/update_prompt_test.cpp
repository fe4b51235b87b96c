// The update prompt as a user and a screen reader meet it, and its texts per language.
#include "update/update_prompt.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/utf.h"
#include "widgets/application.h"
#include "widgets/control.h"

namespace nimbrel {
namespace {

TEST(GetUpdateText, EveryLanguageRowAndTheEnglishRowForTheRest) {
  struct TCase {
    const wchar_t* Language;
    const wchar_t* Status;
    const wchar_t* Yes;
    const wchar_t* No;
    const wchar_t* PromptStart;
  };
  const TCase Cases[] = {
      {L"ko", L"업데이트 가능", L"예", L"아니오", L"업데이트 정보가 있습니다.\r\r"},
      {L"ja", L"アップデート可", L"はい", L"いいえ", L"このプログラムがアップデートされました。\r\r"},
      {L"zh", L"可更新", L"是", L"否", L"该程序已更新。\r\r"},
      {L"de", L"Update möglich", L"Ja", L"Nein", L"Dieses Programm ist aktualisiert worden.\r\r"},
      {L"ru", L"Обновление", L"Да", L"Нет", L"Данная программа была обновлена.\r\r"},
      {L"it", L"Aggiornabile", L"Sì", L"No", L"È disponibile una nuova versione del programma.\r\r"},
      {L"fr", L"Maj dispo", L"Oui", L"Non", L"Ce programme a été mis à jour.\r\r"},
      {L"ar", L"تحديث متاح", L"نعم", L"لا", L"تم تحديث هذا البرنامج.\r\r"},
      {L"en", L"Update available", L"Yes", L"No", L"This program has been updated.\r\r"},
      {L"es", L"Update available", L"Yes", L"No", L"This program has been updated.\r\r"},
      {L"KO", L"Update available", L"Yes", L"No", L"This program has been updated.\r\r"},  // codes compare exactly
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(GetUpdateText(1, Case.Language), Case.Status) << WideToUtf8(Case.Language);
    EXPECT_EQ(GetUpdateText(2, Case.Language), Case.Yes);
    EXPECT_EQ(GetUpdateText(3, Case.Language), Case.No);
    EXPECT_TRUE(GetUpdateText(0, Case.Language).starts_with(Case.PromptStart)) << WideToUtf8(Case.Language);
    EXPECT_EQ(GetUpdateText(4, Case.Language), L"");
    EXPECT_EQ(GetUpdateText(-1, Case.Language), L"");
  }
  EXPECT_TRUE(GetUpdateText(0, L"en").ends_with(L"\r\rDo you want to download it?"));
}

TEST(ReadUpdateNotice, TheInfoObjectUpToItsFirstClosingBrace) {
  const TUpdateNotice Notice = ReadUpdateNotice(
      LR"({"update":"https://x/","info":{"style":"note","text":"New \u00e9dition","flag":"stayontop","url":"https:\/\/x\/n"},"style":"outside"})");
  EXPECT_EQ(Notice.Style, L"note");
  EXPECT_EQ(Notice.Text, L"New édition");
  EXPECT_EQ(Notice.Flag, L"stayontop");
  EXPECT_EQ(Notice.Url, L"https://x/n");
  EXPECT_EQ(ReadUpdateNotice(LR"({"style":"hold"})").Style, L"") << "only inside info";
  EXPECT_EQ(ReadUpdateNotice(LR"({"info":{"text":"a"},"x":{"style":"hold"}})").Style, L"");
  EXPECT_EQ(AnswerMember(LR"({"UPDATE":"u"})", L"update"), L"u") << "names in any letter case";
  EXPECT_THROW(ReadUpdateNotice(LR"({"info":{"text":"bad \u12x4"}})"), std::invalid_argument);
}

// What a helper thread finds in the open prompt, then the button it presses.
struct TSeen {
  bool Found = false;
  std::wstring Text, Yes, No, Hold, Note, NoteClass;
  bool Topmost = false, HasSeparator = false;
  RECT Client{};
  HICON SmallIcon = nullptr;
};

// Whether Icon is still an icon (not destroyed).
bool IconAlive(HICON Icon) {
  ICONINFO Info{};
  if (!::GetIconInfo(Icon, &Info)) return false;
  if (Info.hbmMask != nullptr) ::DeleteObject(Info.hbmMask);
  if (Info.hbmColor != nullptr) ::DeleteObject(Info.hbmColor);
  return true;
}

std::wstring TextOf(HWND Window) {
  wchar_t Buffer[512] = {};
  ::GetWindowTextW(Window, Buffer, 512);
  return Buffer;
}

TUpdateChoice Drive(const std::wstring& Answer, TSeen& Seen, const std::function<void(HWND)>& Act) {
  Application().SetTitle(L"NimbrelPromptTest");
  std::thread Helper([&] {
    for (int I = 0; I < 1000; ++I) {
      HWND Box = ::FindWindowW(L"#32770", L"NimbrelPromptTest");
      if (Box != nullptr && ::IsWindowVisible(Box)) {
        ::Sleep(150);
        Seen.Found = true;
        Seen.Text = TextOf(::GetDlgItem(Box, UpdatePromptTextId));
        Seen.Yes = TextOf(::GetDlgItem(Box, IDYES));
        Seen.No = TextOf(::GetDlgItem(Box, IDNO));
        if (HWND Hold = ::GetDlgItem(Box, UpdatePromptHoldId)) Seen.Hold = TextOf(Hold);
        if (HWND Note = ::GetDlgItem(Box, UpdatePromptNoteId)) {
          Seen.Note = TextOf(Note);
          wchar_t Class[32] = {};
          ::GetClassNameW(Note, Class, 32);
          Seen.NoteClass = Class;
        }
        Seen.HasSeparator = ::GetDlgItem(Box, UpdatePromptSeparatorId) != nullptr;
        Seen.Topmost = (::GetWindowLongPtrW(Box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        ::GetClientRect(Box, &Seen.Client);
        Seen.SmallIcon = reinterpret_cast<HICON>(::SendMessageW(Box, WM_GETICON, ICON_SMALL, 0));
        Act(Box);
        return;
      }
      ::Sleep(10);
    }
  });
  const TUpdateChoice Choice = ShowUpdatePrompt(nullptr, Answer);
  Helper.join();
  return Choice;
}

void Press(HWND Box, int Id) { ::PostMessageW(::GetDlgItem(Box, Id), BM_CLICK, 0, 0); }

TEST(UpdatePrompt, YesAndNoAreRealButtonsWithTheTextsOfTheLanguage) {
  SetRightToLeftReading(false);
  TSeen Seen;
  TUpdateChoice Choice = Drive(LR"({"update":"https://x/"})", Seen, [](HWND Box) { Press(Box, IDYES); });
  ASSERT_TRUE(Seen.Found);
  EXPECT_TRUE(Choice.Accepted);
  EXPECT_FALSE(Choice.Hold);
  EXPECT_EQ(Seen.Yes, GetUpdateText(2));
  EXPECT_EQ(Seen.No, GetUpdateText(3));
  EXPECT_NE(Seen.Text.find(L"\r\n\r\n"), std::wstring::npos) << "bare CRs became line breaks";
  EXPECT_FALSE(Seen.HasSeparator);
  EXPECT_FALSE(Seen.Topmost);
  const int PlainHeight = Seen.Client.bottom;
  ASSERT_NE(Seen.SmallIcon, nullptr) << "the unowned prompt shows the program's icon";
  EXPECT_FALSE(IconAlive(Seen.SmallIcon)) << "and destroys it when it closes";

  TSeen No;
  Choice = Drive(LR"({"update":"https://x/"})", No, [](HWND Box) { Press(Box, IDNO); });
  EXPECT_FALSE(Choice.Accepted);
  TSeen Escape;
  Choice = Drive(LR"({"update":"https://x/"})", Escape, [](HWND Box) { ::PostMessageW(Box, WM_COMMAND, IDCANCEL, 0); });
  EXPECT_FALSE(Choice.Accepted) << "Escape and the close box answer No";

  // A style the prompt does not know only adds the separator, 40 px lower at 96 DPI.
  TSeen Other;
  Drive(LR"({"info":{"style":"other","text":"t"}})", Other, [](HWND Box) { Press(Box, IDNO); });
  EXPECT_TRUE(Other.HasSeparator);
  EXPECT_EQ(Other.Hold, L"");
  EXPECT_EQ(Other.Note, L"");
  EXPECT_EQ(Other.Client.bottom - PlainHeight, 40) << "the test prefix runs at 96 DPI";
}

TEST(UpdatePrompt, TheHoldBoxIsReportedWhicheverButtonClosesThePrompt) {
  for (const int Button : {IDYES, IDNO}) {
    TSeen Seen;
    const TUpdateChoice Choice = Drive(LR"({"info":{"style":"hold","text":"Do not ask again for this version"}})", Seen,
                                       [&](HWND Box) {
                                         ::SendMessageW(::GetDlgItem(Box, UpdatePromptHoldId), BM_CLICK, 0, 0);
                                         Press(Box, Button);
                                       });
    EXPECT_EQ(Seen.Hold, L"Do not ask again for this version");
    EXPECT_TRUE(Choice.Hold);
    EXPECT_EQ(Choice.Accepted, Button == IDYES);
  }
  TSeen Unticked;
  EXPECT_FALSE(Drive(LR"({"info":{"style":"hold","text":"x"}})", Unticked, [](HWND Box) { Press(Box, IDNO); }).Hold);
}

TEST(UpdatePrompt, ANoteIsALinkOnlyForWebAddressesAndStayOnTopIsExact) {
  TSeen Link;
  Drive(LR"({"info":{"style":"note","text":"What is new","flag":"x stayontop y","url":"https://x/new"}})", Link,
        [](HWND Box) { Press(Box, IDNO); });
  EXPECT_EQ(Link.Note, L"What is new");
  EXPECT_EQ(Link.NoteClass, L"Button") << "a control that takes the focus and presses with Enter or Space";
  EXPECT_TRUE(Link.Topmost);

  TSeen Plain;
  Drive(LR"({"info":{"style":"note","text":"Run me","flag":"StayOnTop","url":"C:\\Windows\\notepad.exe"}})", Plain,
        [](HWND Box) { Press(Box, IDNO); });
  EXPECT_EQ(Plain.Note, L"Run me");
  EXPECT_EQ(Plain.NoteClass, L"Static") << "an address that is not http or https opens nothing";
  EXPECT_FALSE(Plain.Topmost) << "the flag's word in other letter case does not count";
}

}  // namespace
}  // namespace nimbrel
