// Text helpers for the web service's small JSON texts and form posts: cutting a value out from
// between markers, JSON string escapes, percent-encoding, and telling UTF-8 from other bytes.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace nimbrel {

// The text of Source between the first Start (found with ASCII case ignored) and the first End
// after it. An empty Start begins at the start, an empty End runs to the end; a marker that is
// not found gives the empty text. When End is a single double or single quote, a quote preceded
// by an odd number of backslashes is escaped and never taken for either marker. With Keep, a
// result holding a character above the space comes back as Start + result + End.
std::wstring ExtractBetween(const std::wstring& Source, const std::wstring& Start, const std::wstring& End,
                            bool Keep);

// A text made safe between the double quotes of a JSON string; the result is pure ASCII (every
// code unit from 128 up, and each half of a surrogate pair, becomes a "\u" escape).
std::wstring JsonEscape(const std::wstring& Text);
// Undoes JSON string escapes; an unknown escape is dropped with its backslash. Throws
// std::invalid_argument when the (up to four) characters after "\u" are not all hexadecimal.
std::wstring JsonUnescape(const std::wstring& Text);

// Form encoding in UTF-8: letters, digits and !$'()*-.@_ stay, a space becomes "+", everything
// else becomes %XX per UTF-8 byte (an unpaired surrogate is encoded as U+FFFD).
std::wstring UrlEncode(const std::wstring& Text);
// CodePage 65001 is the form above. Any other code page: the text's bytes in that code page
// (unmapped characters become its default character), with %XX for the bytes 128 and up and for
// " .=`!@#$%^&*(){}_+|\/?:"'". Throws std::system_error for a code page the system cannot convert to.
std::wstring UrlEncode(const std::wstring& Text, unsigned CodePage);

// One part of an address (a path segment or a query value) built from outside text: UTF-8 with
// every byte outside A-Z a-z 0-9 - . _ ~ as %XX, so no blank, quote or "/" stays (an unpaired
// surrogate is encoded as U+FFFD).
std::wstring PercentEncode(std::wstring_view Text);

// Whether a sample of the stream, from its current position, looks like UTF-8: it begins with
// the byte-order mark, or its first non-ASCII sequence is well-formed. Reads at most 16384
// bytes and at most MaxCount when MaxCount >= 0, then sets the position to 0 (the start of the
// stream). At the end of the stream (end-of-file flag set included), or on a stream that cannot
// tell its position, it gives false and leaves position and state flags as they were. Throws
// std::ios_base::failure when the stream delivers fewer bytes than its size announced.
bool DetectUtf8(std::istream& Stream, int32_t MaxCount);
// The judgement of DetectUtf8 on a sample already read.
bool DetectUtf8Sample(std::string_view Sample);

}  // namespace nimbrel
