// Report keys: 128 random bits in URL-safe text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nimbrel::service {

// 22 characters of base64url (A-Z a-z 0-9 - _) holding 128 bits from the system's secure random
// source (getrandom); empty only when that source fails.
std::optional<std::string> NewReportKey();

// Whether Text has the form of a report key; only such texts are looked up.
bool IsReportKey(std::string_view Text);

}  // namespace nimbrel::service
