// The pure parts of the HTTP client: reading a response body into text (gzip, charsets, the
// size limit) and writing a form post. No system calls beyond code-page conversion.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel {

// The most bytes a body that is decoded into text may have, after inflating (16 MiB). Larger
// bodies are a decoding failure, so that a small gzip body cannot fill the memory.
inline constexpr std::size_t MaxDecodedBody = 16u * 1024u * 1024u;

// The charset parameter of a Content-Type value, lower-cased (A-Z only) and unquoted; empty when
// it has none.
std::wstring CharsetOfContentType(std::wstring_view ContentType);

// The gzip stream Source inflated; nullopt when the stream is broken, cut short, or would
// inflate to more than Limit bytes.
std::optional<std::string> InflateGzip(std::string_view Source, std::size_t Limit = MaxDecodedBody);

// The code page used for bodies that are not UTF-8: EUC-KR (51949), or 949, its superset, where
// the system lacks 51949.
unsigned KoreanCodePage() noexcept;

struct TDecodedBody {
  bool Ok = false;
  std::wstring Text;     // the decoded text; the failure's message when !Ok
  std::wstring Charset;  // the charset the text was decoded by ("utf-8" or the declared/default one)
};

// The body of a response as text: DeclaredCharset (lower case, empty when none) or else
// DefaultCharset; a ContentEncoding of exactly "gzip" is inflated, any other is taken as it is;
// a body whose first 4000 bytes look like UTF-8 is UTF-8; then "utf-8" decodes as UTF-8 and any
// other charset in KoreanCodePage. Fails for a broken gzip stream and for a body (after inflating)
// above MaxDecodedBody.
TDecodedBody DecodeBody(std::string_view Body, const std::wstring& DeclaredCharset, const std::wstring& DefaultCharset,
                        std::wstring_view ContentEncoding);

// The text of a form post: for each line, "&" before all but the first, the UTF-8 form encoding of
// the name (the text before the first "=") and "=" when there is a name, then the value (the text
// after it, or the whole line) encoded in UTF-8 when Charset is exactly "utf-8", else as the
// percent encoding of its bytes in code page 949.
std::wstring FormPostText(const std::vector<std::wstring>& Lines, const std::wstring& Charset);

}  // namespace nimbrel
