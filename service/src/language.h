// The nine languages of the pages, and choosing one from a browser's Accept-Language.
#pragma once

#include <array>
#include <string_view>

namespace nimbrel::service {

// In the program's order; English is the fallback.
enum class TLanguage { Ko, En, Ja, Zh, Ru, It, Fr, Es, Ar };
inline constexpr size_t LanguageCount = 9;

// The two-letter code ("ko", "en", ...).
std::string_view LanguageCode(TLanguage Language);

// The supported language with the highest weight in an Accept-Language value (its first
// listed among equal weights; region and script parts ignored, "q=0" excluded); English when
// none is supported.
TLanguage PickLanguage(std::string_view AcceptLanguage);

}  // namespace nimbrel::service
