// The protection lists' rows from the web service's start-up answer. The lists themselves and
// their matcher live in base/list_rows.h.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "base/list_rows.h"

namespace nimbrel {

// Rows for a list, each with its ListRowKey, made on a worker so that merging them is no work
// for the main thread.
struct TListRows {
  std::vector<std::wstring> Rows;
  std::vector<std::string> Keys;  // Keys[I] is ListRowKey(Rows[I])
};

// The elements of the array member Member of Object as rows: a string element gives its
// content, any other element its JSON text. None when Object is not an object or the member is
// missing or no array. An element nested deeper than MaxJsonDepth gives nothing (writing its text
// would recurse that deep). Any thread; stops early, with the rows so far, soon after Stop (may be
// null) is set.
TListRows ListRowsFromJson(const nlohmann::json& Object, const std::string& Member, HANDLE Stop = nullptr);

// Appends each of Rows that the list does not hold yet (compared as ListIndexOf does: without
// regard to case), in their order; a row met twice is added once. Through a hash set of the keys:
// linear in the rows of both. Main thread (the list's).
void MergeListRows(TStringList& List, TListRows Rows);

// Both steps at once.
void MergeListFromJson(TStringList& List, const nlohmann::json& Object, const std::string& Member);

// How deep JSON values may nest in what the service sends.
inline constexpr size_t MaxJsonDepth = 64;

// Whether Value nests deeper than Limit levels (a scalar is level 0, [1] level 1). Iterative.
bool JsonDeeperThan(const nlohmann::json& Value, size_t Limit);

// The web service's answer as JSON: a value that is discarded (not JSON) when the text does not
// parse or nests deeper than MaxJsonDepth. The parse stops at the first level too deep, so a
// deep answer costs no more than its first MaxJsonDepth levels. It also stops, discarded, soon
// after Stop (may be null) is set. Any thread.
nlohmann::json ParseServiceAnswer(const std::string& Utf8, HANDLE Stop = nullptr);

// The rows of the three list members of an answer, read on the start-up check's worker.
struct TServiceLists {
  TListRows FileWhite;
  TListRows NameWhite;
  TListRows NameBlack;
};
// The rows of "file_white", "name_white" and "name_black"; none for an answer that
// ParseServiceAnswer discards. Any thread; gives way to Stop as ParseServiceAnswer does.
TServiceLists ReadServiceLists(const std::string& Utf8, HANDLE Stop = nullptr);

}  // namespace nimbrel
