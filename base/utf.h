// The one pair of UTF-8 <-> UTF-16 conversions. Text is UTF-16 inside the program;
// UTF-8 appears only at files, resources and the network.
#pragma once

#include <string>
#include <string_view>

namespace nimbrel {

// Ill-formed UTF-8 sequences become U+FFFD; never fails.
std::wstring Utf8ToWide(std::string_view Text);
// Unpaired surrogates become U+FFFD; never fails.
std::string WideToUtf8(std::wstring_view Text);

// For a lead byte: the range of the byte after it and how many continuation bytes (80..BF)
// follow that one, as in Unicode's table of well-formed UTF-8 byte sequences; false for a byte
// that starts no sequence (ASCII included).
bool Utf8SecondByteRange(unsigned char Lead, unsigned char& Low, unsigned char& High, int& Further) noexcept;

// True when every byte sequence of Text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF, no cut sequence at the end). Pure ASCII is valid.
bool IsValidUtf8(std::string_view Text) noexcept;

}  // namespace nimbrel
