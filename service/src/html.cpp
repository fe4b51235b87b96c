// Escaping and the page frame.
#include "html.h"

#include "page_text.h"

namespace nimbrel::service {
namespace {

constexpr std::string_view Style =
    "*{box-sizing:border-box}"
    "body{margin:0;background:#f3f5f8;color:#1d2330;"
    "font:15px/1.5 system-ui,'Segoe UI','Noto Sans','NanumGothic','WenQuanYi Micro Hei','DejaVu Sans',sans-serif}"
    "header{background:#1b5fc1;padding:10px 20px}"
    "header a{color:#fff;text-decoration:none;font-weight:700;font-size:18px}"
    "main{max-width:860px;margin:20px auto;padding:0 14px}"
    "section{background:#fff;border:1px solid #dbe1e8;border-radius:8px;padding:14px 18px;margin:0 0 14px}"
    "h1{font-size:22px;margin:0 0 14px}h2{font-size:17px;margin:0 0 10px}"
    "table{width:100%;border-collapse:collapse}"
    "th,td{text-align:start;padding:5px 8px;border-bottom:1px solid #edf0f3;vertical-align:top}"
    "th{font-weight:600;color:#4a5363;font-size:13px}td{overflow-wrap:anywhere}"
    ".num{text-align:end;white-space:nowrap;font-variant-numeric:tabular-nums}"
    ".counts{display:flex;flex-wrap:wrap;gap:10px;margin:0 0 12px;padding:0;list-style:none}"
    ".counts li{border-radius:6px;padding:6px 12px;background:#eef1f5}"
    ".counts b{font-size:18px;margin-inline-end:6px}"
    ".bar{display:block;margin:0 0 6px}[dir=rtl] .bar{transform:scaleX(-1)}"
    ".s-1{color:#17703a}.s-2{color:#b3261e}.s1{color:#5b6472}"
    "a{color:#1b5fc1}td a{text-decoration:none}td a:hover{text-decoration:underline}"
    ".note{color:#5b6472;font-size:13px}";

void AppendReplacement(std::string& Out) { Out += "\xEF\xBF\xBD"; }

}  // namespace

std::string EscapeHtml(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size() + Text.size() / 8);
  for (const char C : Text) {
    switch (C) {
      case '&': Out += "&amp;"; break;
      case '<': Out += "&lt;"; break;
      case '>': Out += "&gt;"; break;
      case '"': Out += "&quot;"; break;
      case '\'': Out += "&#39;"; break;
      case '\t':
      case '\n':
      case '\r': Out += C; break;
      default:
        if ((static_cast<unsigned char>(C) < 0x20) || C == 0x7F) {
          AppendReplacement(Out);
        } else {
          Out += C;
        }
    }
  }
  return Out;
}

std::string HtmlPage(TLanguage Language, std::string_view Title, std::string_view Body) {
  std::string Page;
  Page.reserve(Body.size() + 2048);
  Page += "<!DOCTYPE html><html lang=\"";
  Page += LanguageCode(Language);
  Page += Language == TLanguage::Ar ? "\" dir=\"rtl\">" : "\" dir=\"ltr\">";
  Page += "<head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">";
  Page += "<meta name=\"referrer\" content=\"no-referrer\"><title>";
  Page += EscapeHtml(Title);
  Page += " · Nimbrel</title><style>";
  Page += Style;
  Page += "</style></head><body><header><a href=\"/nimbrel\" title=\"";
  Page += EscapeHtml(PageText(TText::About, Language));
  Page += "\">Nimbrel</a></header><main>";
  Page += Body;
  Page += "</main></body></html>";
  return Page;
}

}  // namespace nimbrel::service
