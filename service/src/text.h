// Byte-level text helpers for UTF-8 that arrives from the network: checking, case folding,
// percent-decoding and cutting file names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nimbrel::service {

// Whether Text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view Text);

// Appends Point as UTF-8; Point must be at most 0x10FFFF and not a surrogate.
void AppendUtf8(std::string& Out, unsigned long Point);

// Text with every letter in lower case, by Unicode's simple case mapping (not only A-Z), so that
// "HKLM" and "hklm", "É" and "é" compare equal. Text must be valid UTF-8; invalid bytes pass unchanged.
std::string LowerUtf8(std::string_view Text);

// Percent-decodes one address segment. "+" stays "+". Empty when a "%" is not followed by two
// hexadecimal digits or the result is not valid UTF-8 or holds a NUL.
std::optional<std::string> PercentDecodeSegment(std::string_view Segment);

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~, so that the text stays one address segment.
std::string PercentEncodeSegment(std::string_view Text);

// Text without the bidirectional embedding, override and isolate controls (U+202A-U+202E,
// U+2066-U+2069), which would otherwise turn the text around it. Text must be valid UTF-8.
std::string WithoutBidiControls(std::string_view Text);

// Everything after the last "\" or ":" of a stored startup item; the whole text when there is none.
std::string_view ItemFileName(std::string_view Item);

}  // namespace nimbrel::service
