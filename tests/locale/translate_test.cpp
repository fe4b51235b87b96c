// The translation table and its lookup: the embedded table's format and texts, Translate's rules,
// window translation and the user's language.
#include "locale/translate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widgets/button.h"
#include "widgets/form.h"
#include "widgets/label.h"
#include "widgets/menu.h"

namespace nimbrel {
namespace {

const std::vector<std::wstring> Languages = {L"ko", L"en", L"ja", L"zh", L"ru", L"it", L"fr", L"es", L"ar"};

class TranslateTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTranslation(); }
  void SetUp() override { SetCurrentLanguage(L"ko"); }
  void TearDown() override { SetCurrentLanguage(L"ko"); }
};

// The Korean and English texts every entry must carry, in table order.
struct TEntryTexts {
  const wchar_t* Korean;
  const wchar_t* English;
};
const TEntryTexts EntryTexts[] = {
    {L"님브렐", L"Nimbrel"},
    {L"처음화면", L"Home"},
    {L"자동실행", L"Startup"},
    {L"강제설치", L"Bundle"},
    {L"실행하기", L"Clean"},
    {L"삭제하기", L"Uninstall"},
    {L"환경설정", L"Config"},
    {L"후원하기", L"Donate"},
    {L"기본 설정", L"General"},
    {L"부팅시 실행하기", L"Run on system start"},
    {L"열기", L"Open"},
    {nullptr, nullptr},  // 12: credit line, free text
    {L"종료", L"Quit"},
    {L"정말 종료하시겠습니까?", L"Are you sure you want to quit?"},
    {L"버전", L"ver"},
    {L"메모리를 정리하였습니다.", L"Optimized memory."},
    {L"처음화면", L"Home"},
    {nullptr, nullptr},  // 18: another program, free text
    {L"사용함", L"Enable"},
    {L"사용안함", L"Disable"},
    {L"프로그램 이름", L"Program"},
    {L"출처", L"Loc"},
    {L"파일 저장", L"Save"},
    {L"텍스트 파일", L"Text"},
    {L"모든 파일", L"All"},
    {L"전체목록", L"All Programs"},
    {L"윈도우 필수 프로그램만 남기고 <B>종료</B>합니다.", L"Keeps only essential Windows programs and <B>closes</B> others."},
    {L"프로그램은 종료만 되며, <B>삭제</B>하지 않습니다.", L"Programs are only <B>closed</B>, not <B>uninstalled</B>."},
    {L"오류가 발생했습니다.", L"An error has occurred."},
    {L"목록 저장", L"Save List"},
    {L"윈도우 폴더에서 프로그램을 찾을 수 없습니다.", L"The program was not found in the Windows folder."},
};

// The embedded table split into entries (runs of non-empty lines).
std::vector<std::vector<std::wstring>> Entries(const TTranslationLines& Lines) {
  std::vector<std::vector<std::wstring>> Result;
  bool InEntry = false;
  for (const std::wstring& Line : Lines) {
    if (Line.empty()) {
      InEntry = false;
    } else {
      if (!InEntry) Result.emplace_back();
      Result.back().push_back(Line);
      InEntry = true;
    }
  }
  return Result;
}

std::string ResourceBytes() {
  HMODULE Module = ::GetModuleHandleW(nullptr);
  HRSRC Found = ::FindResourceW(Module, L"translate", MAKEINTRESOURCEW(10));
  if (Found == nullptr) return {};
  const auto* Data = static_cast<const char*>(::LockResource(::LoadResource(Module, Found)));
  return Data != nullptr ? std::string(Data, ::SizeofResource(Module, Found)) : std::string();
}

TEST_F(TranslateTest, EmbeddedTableHasTheExactFormat) {
  const std::string Bytes = ResourceBytes();
  ASSERT_FALSE(Bytes.empty());
  EXPECT_NE(Bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
  EXPECT_EQ(Bytes.find('\r'), std::string::npos) << "lines end with LF";
  EXPECT_EQ(Bytes.back(), '\n');
  EXPECT_NE(Bytes.find("\n\n\n"), std::string::npos) << "the one double blank line";
  EXPECT_EQ(Bytes.find("\n\n\n"), Bytes.rfind("\n\n\n"));

  const auto Table = Entries(LoadTranslationResource(nullptr));
  ASSERT_EQ(Table.size(), std::size(EntryTexts));
  for (size_t Index = 0; Index < Table.size(); ++Index) {
    SCOPED_TRACE(testing::Message() << "entry " << Index + 1);
    const bool IsEntry29 = Index + 1 == 29;
    std::vector<std::wstring> Codes;
    for (const std::wstring& Line : Table[Index]) Codes.push_back(Line.substr(0, Line.find(L'=')));
    std::vector<std::wstring> Expected = Languages;
    if (IsEntry29) Expected.resize(7);  // no es, no ar
    EXPECT_EQ(Codes, Expected);
    for (const std::wstring& Line : Table[Index]) EXPECT_GT(Line.size(), Line.find(L'=') + 1) << "no empty text";
    if (EntryTexts[Index].Korean != nullptr) {
      EXPECT_EQ(Table[Index][0], std::wstring(L"ko=") + EntryTexts[Index].Korean);
      EXPECT_EQ(Table[Index][1], std::wstring(L"en=") + EntryTexts[Index].English);
    }
  }
  EXPECT_EQ(Table[16], Table[1]) << "entry 17 repeats entry 2";
  for (const std::wstring& Line : Table[0]) {
    if (Line != L"ko=님브렐") {
      EXPECT_EQ(Line.substr(2), L"=Nimbrel");
    }
  }
  EXPECT_EQ(Table[2][7].substr(0, 3), L"es=");
  EXPECT_NE(Table[2][7].find(L"\\n"), std::wstring::npos);
  EXPECT_EQ(Table[2][7].find(L"\\n"), Table[2][7].rfind(L"\\n")) << "Spanish entry 3 has one line break";
}

// Every text of the table leads back to its own entry: no text of one entry repeats in another
// (entry 17 aside), so a translated caption can be translated again.
TEST_F(TranslateTest, EveryTextFindsItsEntryInEveryLanguage) {
  for (const TEntryTexts& Entry : EntryTexts) {
    if (Entry.Korean == nullptr) continue;
    SCOPED_TRACE(testing::Message() << "entry " << (&Entry - EntryTexts) + 1);
    EXPECT_EQ(Translate(Entry.Korean, L"en"), Entry.English);
    EXPECT_EQ(Translate(Entry.English, L"ko"), Entry.Korean);
    EXPECT_EQ(Translate(Entry.Korean, L"de"), Entry.English) << "unknown language gives English";
    for (const std::wstring& Language : Languages) {
      const std::wstring Text = Translate(Entry.Korean, Language);
      EXPECT_FALSE(Text.empty());
      if (Text.find(L'\r') != std::wstring::npos) continue;  // line breaks are not in the table as such
      EXPECT_EQ(Translate(Text, L"ko"), Entry.Korean) << "from " << testing::PrintToString(Language);
      EXPECT_EQ(Translate(Text, Language), Text) << "translated again";
    }
  }
}

TEST_F(TranslateTest, FollowsTheLookupRules) {
  struct TCase {
    const wchar_t* Text;
    const wchar_t* Language;
    const wchar_t* Expected;
  };
  const TCase Cases[] = {
      {L"처음화면", L"ja", L"ホーム"},
      {L"Home", L"ja", L"ホーム"},                 // by the English text
      {L"ホーム", L"ru", L"Главная"},              // by any language's text
      {L"HOME", L"ja", L"ホーム"},                 // A to Z in any case
      {L"hOmE", L"fr", L"Accueil"},
      {L"ГЛАВНАЯ", L"fr", L"ГЛАВНАЯ"},             // other letters keep their case
      {L"DÉMARRAGE", L"en", L"DÉMARRAGE"},
      {L"DéMARRAGE", L"en", L"Startup"},
      {L"처음화면", L"de", L"Home"},               // unknown language: English
      {L"실행하기", L"", L"실행하기"},             // empty language: the current one (ko)
      {L"님브렐", L"ko", L"님브렐"},
      {L"Nimbrel", L"ko", L"님브렐"},
      {L"님브렐", L"ar", L"Nimbrel"},
      {L"자동실행", L"es", L"Inicio\rautomático"},  // "\n" becomes a line break
      {L"오류가 발생했습니다.", L"es", L"An error has occurred."},  // entry without es
      {L"오류가 발생했습니다.", L"ar", L"An error has occurred."},
      {L"오류가 발생했습니다.", L"fr", L"Une erreur s'est produite."},
      {L"목록 저장(전체)", L"en", L"목록 저장(전체)"},  // in no entry
      {L"알수없음", L"ja", L"알수없음"},
      {L"첫 줄\\n둘째 줄", L"en", L"첫 줄\r둘째 줄"},
      {L"목록 저장 ", L"en", L"목록 저장 "},       // no trimming
      {L"", L"en", L""},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(Translate(Case.Text, Case.Language), Case.Expected)
        << testing::PrintToString(std::wstring(Case.Text)) << " in " << testing::PrintToString(std::wstring(Case.Language));
  }
  for (const std::wstring& Language : Languages) {
    EXPECT_EQ(Translate(L"알수없음", Language), L"알수없음");
  }
}

TEST(TranslationLines, SplitAtEveryKindOfLineBreak) {
  EXPECT_EQ(ParseTranslationLines("ko=a\r\nen=b\rja=c\n\nko=d\n"),
            (TTranslationLines{L"ko=a", L"en=b", L"ja=c", L"", L"ko=d"}));
  EXPECT_EQ(ParseTranslationLines("\xEF\xBB\xBFko=\xEB\x8B\xB7\n\n\n"), (TTranslationLines{L"ko=닷", L"", L""}));
  EXPECT_EQ(ParseTranslationLines("x"), (TTranslationLines{L"x"}));
  EXPECT_TRUE(ParseTranslationLines("").empty());
}

TEST(TranslationLines, EntriesAnswerInTheLanguageThenInEnglish) {
  const TTranslationLines Lines = ParseTranslationLines(
      "ko=사과\nen=Apple\nfr=Pomme\n\n"
      "ko=없음\nja=なし\nstray line\n\n"
      "ko=사과\nen=Second\nja=Deuxième\n");
  struct TCase {
    const wchar_t* Text;
    const wchar_t* Language;
    const wchar_t* Expected;
  };
  const TCase Cases[] = {
      {L"Apple", L"fr", L"Pomme"},
      {L"Pomme", L"ko", L"사과"},
      {L"사과", L"ja", L"Apple"},     // the first entry wins, its English answers
      {L"사과", L"FR", L"Apple"},     // codes are compared exactly
      {L"없음", L"ja", L"なし"},
      {L"없음", L"fr", L"없음"},      // neither the language nor English
      {L"stray line", L"ko", L"stray line"},
      {L"なし", L"stray line", L"なし"},  // a line without "=" has no code
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(TranslateWith(Lines, Case.Text, Case.Language), Case.Expected)
        << testing::PrintToString(std::wstring(Case.Text));
  }
  EXPECT_EQ(TranslateWith({}, L"처음화면", L"en"), L"처음화면");
}

TEST(TranslationLines, ModuleWithoutTheTableGivesNoLines) {
  EXPECT_TRUE(LoadTranslationResource(::GetModuleHandleW(L"kernel32.dll")).empty());
  EXPECT_FALSE(LoadTranslationResource(nullptr).empty());
}

TEST(UserLanguage, LocaleNamesAndTheirCodes) {
  EXPECT_EQ(LocaleLanguage(MAKELCID(MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN), SORT_DEFAULT)), L"ko");
  EXPECT_EQ(LocaleLanguage(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT)), L"de");
  EXPECT_EQ(LocaleLanguage(MAKELCID(MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA), SORT_DEFAULT)), L"ar");
  EXPECT_EQ(LocaleLanguage(MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), SORT_DEFAULT)), L"zh");
  EXPECT_EQ(LocaleLanguage(0x7FFF0000), L"en") << "a locale the system does not know";
  EXPECT_GE(GetUserLanguage().size(), 2u);

  struct TCase {
    const wchar_t* IsoName;
    const wchar_t* Code;
  };
  const TCase Cases[] = {{L"ko", L"ko"}, {L"ar", L"ar"}, {L"de", L"de"}, {L"kok", L"en"},
                         {L"arn", L"en"}, {L"fil", L"en"}, {L"", L"en"},  {L"e", L"en"}};
  for (const TCase& Case : Cases) EXPECT_EQ(LanguageCode(Case.IsoName), Case.Code) << testing::PrintToString(std::wstring(Case.IsoName));
}

TEST_F(TranslateTest, LanguageInUseSetsTheReadingDirection) {
  LoadTranslation();
  EXPECT_EQ(CurrentLanguage(), LanguageCode(GetUserLanguage()));
  EXPECT_EQ(RightToLeftReading(), CurrentLanguage() == L"ar");
  TranslateForm(nullptr, L"ar");
  EXPECT_EQ(CurrentLanguage(), L"ar");
  EXPECT_TRUE(RightToLeftReading());
  EXPECT_EQ(Translate(L"처음화면"), L"الرئيسية");
  TranslateForm(nullptr, L"");
  EXPECT_EQ(CurrentLanguage(), L"ar") << "an empty language keeps the current one";
  SetCurrentLanguage(L"ja");
  EXPECT_FALSE(RightToLeftReading());
  EXPECT_EQ(Translate(L"처음화면"), L"ホーム");
}

// A window with the kinds of parts a page has: a nested button, a label, a pop-up menu whose items
// belong to the window, and a button on the window that another component owns.
class TranslatedWindow {
 public:
  TranslatedWindow() : Form(nullptr, L"FrmTest", L"NimbrelTranslateTest", 300, 200) {
    Form.SetCaption(L"님브렐");
    auto* Panel = Form.Create<TPanel>(&Form, L"PnlHead");
    Button = Form.Create<TStyledButton>(Panel, L"BtnHome");
    Button->SetCaption(L"처음화면");
    Label = Form.Create<TLabel>(&Form, L"LblTitle");
    Label->SetCaption(L"자동실행");
    Menu = Form.Create<TPopupMenu>(L"Menu");
    Item = Form.Create<TMenuItem>(L"BtnSave", L"목록 저장");
    Sub = Form.Create<TMenuItem>(L"BtnSub", L"전체목록");
    Menu->Items()->Add(Item);
    Item->Add(Sub);
    Foreign = Stranger.Create<TStyledButton>(&Form, L"BtnForeign");
    Foreign->SetCaption(L"실행하기");
  }

  TForm Form;
  TComponent Stranger{nullptr, L"Stranger"};
  TStyledButton* Button;
  TLabel* Label;
  TPopupMenu* Menu;
  TMenuItem* Item;
  TMenuItem* Sub;
  TStyledButton* Foreign;
};

TEST_F(TranslateTest, TranslatesAWindowAndWhatItOwns) {
  struct TCase {
    const wchar_t* Language;
    const wchar_t* FormCaption;
    const wchar_t* Button;
    const wchar_t* Label;
  };
  const TCase Cases[] = {
      {L"ja", L"Nimbrel", L"ホーム", L"自動起動"},
      {L"ar", L"Nimbrel", L"الرئيسية", L"بدء التشغيل"},
      {L"de", L"Nimbrel", L"Home", L"Startup"},
      {L"ko", L"님브렐", L"처음화면", L"자동실행"},  // back from German: found by the English texts
      // Last: a caption with a line break is in no entry as such, so it would stay as it is.
      {L"es", L"Nimbrel", L"Inicio", L"Inicio\rautomático"},
  };
  TranslatedWindow Window;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(Case.Language)));
    TranslateForm(&Window.Form, Case.Language);
    EXPECT_EQ(CurrentLanguage(), Case.Language);
    EXPECT_EQ(Window.Form.Caption(), Case.FormCaption);
    EXPECT_EQ(Window.Button->Caption(), Case.Button);
    EXPECT_EQ(Window.Label->Caption(), Case.Label);
    // Reached twice (through the menu and through ownership): the same as one translation.
    EXPECT_EQ(Window.Item->Caption(), Translate(L"목록 저장", Case.Language));
    EXPECT_EQ(Window.Sub->Caption(), Translate(L"전체목록", Case.Language));
    EXPECT_EQ(Window.Foreign->Caption(), L"실행하기") << "not owned by the window";
  }
}

TEST_F(TranslateTest, FormCaptionIsEnglishUnlessKorean) {
  TForm Form(nullptr, L"FrmCaption", L"NimbrelTranslateCaption", 100, 100);
  for (const std::wstring& Language : Languages) {
    Form.SetCaption(L"환경설정");
    TranslateForm(&Form, Language);
    EXPECT_EQ(Form.Caption(), Language == L"ko" ? L"환경설정" : L"Config") << testing::PrintToString(Language);
  }
}

TEST_F(TranslateTest, MenuItemsTranslateDepthFirst) {
  SetCurrentLanguage(L"fr");
  TComponent Owner(nullptr, L"Owner");
  auto* Root = Owner.Create<TMenuItem>(L"Root", L"열기");
  auto* Child = Owner.Create<TMenuItem>(L"Child", L"목록 저장");
  auto* Grandchild = Owner.Create<TMenuItem>(L"Grandchild", L"모든 파일");
  Root->Add(Child);
  Child->Add(Grandchild);
  TranslateMenuItem(Root);
  EXPECT_EQ(Root->Caption(), L"Ouvrir");
  EXPECT_EQ(Child->Caption(), L"Enregistrer la liste");
  EXPECT_EQ(Grandchild->Caption(), L"Tous les fichiers");
  TranslateMenuItem(nullptr);
}

}  // namespace
}  // namespace nimbrel
