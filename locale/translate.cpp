// Translation lookup, window translation and the user's language.
#include "locale/translate.h"

#include <mutex>

#include "base/ascii.h"
#include "base/list_rows.h"
#include "base/resource.h"
#include "base/utf.h"
#include "widgets/control.h"
#include "widgets/form.h"
#include "widgets/menu.h"

namespace nimbrel {

namespace {

// Built once at module start-up, read-only afterwards.
TTranslationLines GLines;

std::mutex GLanguageLock;
std::wstring GLanguage;  // guarded by GLanguageLock: the start-up check reads it from its thread

// Whether the code part of a line (everything before its first "=") is Code; a line without "="
// has no code.
bool HasCode(std::wstring_view Line, std::wstring_view Code) {
  const size_t Equal = Line.find(L'=');
  return Equal != std::wstring_view::npos && Line.substr(0, Equal) == Code;
}

// The text part of a line: everything after the first "="; empty for a line without one.
std::wstring_view TextOf(std::wstring_view Line) {
  const size_t Equal = Line.find(L'=');
  return Equal == std::wstring_view::npos ? std::wstring_view{} : Line.substr(Equal + 1);
}

// Every two-character "\n" becomes a carriage return.
std::wstring ExpandLineBreaks(std::wstring_view Text) {
  std::wstring Result;
  Result.reserve(Text.size());
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == L'\\' && I + 1 < Text.size() && Text[I + 1] == L'n') {
      Result += L'\r';
      ++I;
    } else {
      Result += Text[I];
    }
  }
  return Result;
}

void TranslateTree(TComponent& Component) {
  if (auto* Menu = dynamic_cast<TPopupMenu*>(&Component)) TranslateMenuItem(Menu->Items());
  if (Component.HasCaption()) {
    const std::wstring Language = CurrentLanguage();
    const bool IsForm = dynamic_cast<const TForm*>(&Component) != nullptr;
    const std::wstring Caption = Component.Caption();
    const std::wstring Translated = Translate(Caption, IsForm && Language != L"ko" ? L"en" : Language);
    if (Translated != Caption) Component.SetCaption(Translated);
  }
  // A copy: translating a caption must not be disturbed by the list changing underneath.
  const std::vector<TComponent*> Owned = Component.Components();
  for (TComponent* Child : Owned) TranslateTree(*Child);
}

}  // namespace

TTranslationLines ParseTranslationLines(std::string_view Utf8) {
  std::wstring Text = Utf8ToWide(Utf8);
  if (!Text.empty() && Text.front() == L'\xFEFF') Text.erase(0, 1);
  return SplitLines(Text);
}

TTranslationLines LoadTranslationResource(HMODULE Module) {
  if (Module == nullptr) Module = ::GetModuleHandleW(nullptr);
  const std::string_view Data = LoadRcData(L"TRANSLATE", Module);
  if (Data.empty()) return {};
  return ParseTranslationLines(Data);
}

std::wstring TranslateWith(const TTranslationLines& Lines, const std::wstring& Text, const std::wstring& Language) {
  if (Text.empty()) return {};
  size_t Match = 0;
  while (Match < Lines.size() && !SameTextAscii(TextOf(Lines[Match]), Text)) ++Match;
  if (Match == Lines.size()) return ExpandLineBreaks(Text);

  size_t First = Match;
  while (First > 0 && !Lines[First - 1].empty()) --First;
  for (const std::wstring_view Code : {std::wstring_view(Language), std::wstring_view(L"en")}) {
    for (size_t Line = First; Line < Lines.size() && !Lines[Line].empty(); ++Line) {
      if (HasCode(Lines[Line], Code)) return ExpandLineBreaks(TextOf(Lines[Line]));
    }
  }
  return ExpandLineBreaks(Text);
}

void LoadTranslation() {
  GLines = LoadTranslationResource(nullptr);
  SetCurrentLanguage(LanguageCode(GetUserLanguage()));
}

std::wstring CurrentLanguage() {
  std::lock_guard Lock(GLanguageLock);
  return GLanguage;
}

void SetCurrentLanguage(const std::wstring& Language) {
  {
    std::lock_guard Lock(GLanguageLock);
    GLanguage = Language;
  }
  SetRightToLeftReading(Language == L"ar");
}

std::wstring Translate(const std::wstring& Text, const std::wstring& Language) {
  return TranslateWith(GLines, Text, Language.empty() ? CurrentLanguage() : Language);
}

void TranslateForm(TComponent* Component, const std::wstring& Language) {
  if (!Language.empty()) SetCurrentLanguage(Language);
  if (Component != nullptr) TranslateTree(*Component);
}

void TranslateMenuItem(TMenuItem* Item) {
  if (Item == nullptr) return;
  Item->SetCaption(Translate(Item->Caption()));
  for (TMenuItem* Sub : Item->Items()) TranslateMenuItem(Sub);
}

std::wstring LocaleLanguage(LCID Locale) {
  const int Length = ::GetLocaleInfoW(Locale, LOCALE_SISO639LANGNAME, nullptr, 0);
  if (Length < 1) return L"en";
  std::wstring Name(static_cast<size_t>(Length), L'\0');
  if (::GetLocaleInfoW(Locale, LOCALE_SISO639LANGNAME, Name.data(), Length) < 1) return L"en";
  Name.resize(Name.find(L'\0') == std::wstring::npos ? Name.size() : Name.find(L'\0'));
  return Name;
}

std::wstring GetUserLanguage() { return LocaleLanguage(::GetUserDefaultLCID()); }

std::wstring LanguageCode(const std::wstring& IsoName) { return IsoName.size() == 2 ? IsoName : L"en"; }

}  // namespace nimbrel
