// HTML text escaping and the frame every page shares.
#pragma once

#include <string>
#include <string_view>

#include "language.h"

namespace nimbrel::service {

// Text made safe inside an element or a quoted attribute: & < > " ' become references, and
// control characters other than tab and line breaks become U+FFFD. Text must be valid UTF-8.
std::string EscapeHtml(std::string_view Text);

// A whole page: doctype, the language and direction (right to left for Arabic), the shared style,
// the header with the home link, Title (plain text, escaped here) as the document title, and
// Body (HTML, already escaped) inside <main>.
std::string HtmlPage(TLanguage Language, std::string_view Title, std::string_view Body);

}  // namespace nimbrel::service
