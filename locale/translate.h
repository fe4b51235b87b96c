// The translation table: every text that reaches the user is written in Korean in the program and
// looked up here in the language of the user's locale (ko, en, ja, zh, ru, it, fr, es, ar).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace nimbrel {

class TComponent;
class TMenuItem;

// The table as lines in order, blank lines kept as empty lines. A line is "code=text"; an entry is
// a run of lines between blank lines; within a text the two characters "\n" stand for a line break.
using TTranslationLines = std::vector<std::wstring>;

// Decodes UTF-8 (a leading byte-order mark is dropped) and splits at CR LF, CR or LF; a final line
// break adds no empty line. Never fails.
TTranslationLines ParseTranslationLines(std::string_view Utf8);

// The lines of the RCDATA resource "TRANSLATE" of Module (nullptr: the program's own module);
// empty when the module has no such resource or it cannot be read.
TTranslationLines LoadTranslationResource(HMODULE Module);

// Text in Language, looked up in Lines: the first line (of any language) whose text equals Text,
// ignoring the case of A to Z only, picks the entry; the entry's Language line answers, else its
// "en" line. A text in no entry, or an entry with neither line, comes back unchanged. Every "\n"
// of the answer becomes a carriage return. An empty Text gives the empty text.
std::wstring TranslateWith(const TTranslationLines& Lines, const std::wstring& Text, const std::wstring& Language);

// Module start-up, main thread, before any window exists and before other threads translate:
// loads the program's table (a missing one leaves every text unchanged) and sets CurrentLanguage
// from the user's locale, with right-to-left reading for Arabic.
void LoadTranslation();

// The two-letter code of the language in use. Readable from any thread.
std::wstring CurrentLanguage();
// Makes Language the language in use and switches the program's right-to-left reading on exactly
// for "ar". Main thread; windows already drawn take the direction when they repaint.
void SetCurrentLanguage(const std::wstring& Language);

// Text in Language (empty: CurrentLanguage) from the program's table; see TranslateWith.
std::wstring Translate(const std::wstring& Text, const std::wstring& Language = {});

// Translates Component's caption and then, depth first in creation order, those of every component
// it owns (ownership, not the parent-child relation of windows); a pop-up menu also translates its
// item tree. A form's caption is looked up in English unless the language is Korean. A non-empty
// Language first becomes CurrentLanguage. A null Component only sets the language. Main thread.
void TranslateForm(TComponent* Component, const std::wstring& Language = {});

// Translates Item's caption and those of all its sub-items, depth first, into CurrentLanguage.
// A null Item does nothing. Main thread.
void TranslateMenuItem(TMenuItem* Item);

// The ISO 639 name of the user's default locale ("ko", "en", "fil", ...), or "en" when the system
// cannot tell.
std::wstring GetUserLanguage();
// The ISO 639 name of Locale, or "en" for a locale the system does not know.
std::wstring LocaleLanguage(LCID Locale);
// The language code taken from an ISO 639 name: a two-letter name as it is; "en" for any other
// (a three-letter name cut to two letters would name another language: "kok" is not "ko").
std::wstring LanguageCode(const std::wstring& IsoName);

}  // namespace nimbrel
