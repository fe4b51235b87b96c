// The protection lists' rows from the web service's start-up answer. The lists themselves and
// their matcher live in base/list_rows.h.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "base/list_rows.h"

namespace nimbrel {

// Appends each element of the array member Member of Object that the list does not hold yet
// (compared without regard to case). A string element adds its content, any other element its
// JSON text. Nothing happens when Object is not an object or the member is missing or no array.
// An element nested deeper than MaxJsonDepth adds nothing (writing its text would recurse that deep).
void MergeListFromJson(TStringList& List, const nlohmann::json& Object, const std::string& Member);

// How deep JSON values may nest in what the service sends.
inline constexpr size_t MaxJsonDepth = 64;

// Whether Value nests deeper than Limit levels (a scalar is level 0, [1] level 1). Iterative.
bool JsonDeeperThan(const nlohmann::json& Value, size_t Limit);

// The web service's answer as JSON: a value that is discarded (not JSON) when the text does not
// parse or nests deeper than MaxJsonDepth.
nlohmann::json ParseServiceAnswer(const std::string& Utf8);

}  // namespace nimbrel
