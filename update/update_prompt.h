// The update prompt that the start-up check shows when the service offers a new version, with
// the service's notice line, and the texts of the update prompt and bar per language.
#pragma once

#include <windows.h>

#include <string>

namespace nimbrel {

// 0 the prompt, 1 the update bar's text, 2 the Yes button, 3 the No button; empty for any
// other kind. Language is a two-letter code; one without a row of its own (es, en...) takes the
// English texts. The one-argument form uses CurrentLanguage().
std::wstring GetUpdateText(int Kind, const std::wstring& Language);
std::wstring GetUpdateText(int Kind);

// The "info" object of a start-up answer: its text runs to the first "}" after it, and each
// member is found by text search and JSON-unescaped (empty when missing). Throws
// std::invalid_argument for a malformed "\u" escape, as JsonUnescape does.
struct TUpdateNotice {
  std::wstring Style;  // "hold": a check box; "note": a link line; other non-empty text: only the separator
  std::wstring Text;
  std::wstring Flag;   // holds "stayontop" (this letter case) for a topmost prompt
  std::wstring Url;
};
TUpdateNotice ReadUpdateNotice(const std::wstring& Answer);

// A member of a start-up answer found by text search ("name":"value", no blanks, name in any
// letter case), JSON-unescaped; empty when missing.
std::wstring AnswerMember(const std::wstring& Answer, const std::wstring& Name);

struct TUpdateChoice {
  bool Accepted = false;  // closed with Yes
  bool Hold = false;      // the hold check box was ticked when it closed
};

// Shows the prompt modally (main thread): a real dialog with the prompt text, Yes (the default)
// and No, and for a notice its separator and either the hold check box or the note link (a
// button that opens its address when that is an http or https address, else plain text). Owned
// by Owner when given, else unowned with the program's icon. Escape and the close box answer No.
TUpdateChoice ShowUpdatePrompt(HWND Owner, const TUpdateNotice& Notice, int Offset = 0);
// The same with the notice of a start-up answer (ReadUpdateNotice, which may throw).
TUpdateChoice ShowUpdatePrompt(HWND Owner, const std::wstring& Answer, int Offset = 0);

// The prompt's window class and control ids, for tools and tests.
inline constexpr int UpdatePromptTextId = 100;
inline constexpr int UpdatePromptHoldId = 101;
inline constexpr int UpdatePromptNoteId = 102;
inline constexpr int UpdatePromptSeparatorId = 103;

}  // namespace nimbrel
