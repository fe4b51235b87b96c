// The start-up answer (GET /api.init.php).
#pragma once

#include <string>

#include "config.h"

namespace nimbrel::service {

// What the program sends with its start-up check; each header's text, empty when absent.
struct TInitRequest {
  std::string Version;   // "User-Version"
  std::string Language;  // "User-Language"
  std::string Command;   // "User-Command"
};

// Whether Request is a hold request (its answer is "{}", and it is counted per version).
bool IsHoldRequest(const TInitRequest& Request);

// The answer to a start-up check: one JSON object in UTF-8 without blanks between tokens, read
// both by the program's text search and by its JSON parser. "update", "notify" and "info" (the
// notice in the request's language, else the English one, else none) come first, and only for a
// valid version older than the latest; "file_white", "name_white" and "name_black" always.
std::string BuildInitAnswer(const TConfig& Config, const TInitRequest& Request);

}  // namespace nimbrel::service
