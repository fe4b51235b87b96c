// The program's four-part version text ("1.0.0.0"), as sent in the "User-Version" header.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace nimbrel::service {

using TVersion = std::array<unsigned, 4>;

// Parses one to four dot-separated decimal numbers of at most five digits each (missing parts are 0);
// empty for anything else, blanks included.
std::optional<TVersion> ParseVersion(std::string_view Text);

// The version in its one normal form: four parts, no leading zeros ("1.0.0.0").
std::string FormatVersion(const TVersion& Version);

}  // namespace nimbrel::service
