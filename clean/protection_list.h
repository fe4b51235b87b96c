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
void MergeListFromJson(TStringList& List, const nlohmann::json& Object, const std::string& Member);

}  // namespace nimbrel
