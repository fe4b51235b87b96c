// The HTML pages: static, no script, every value from a report or an address escaped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "language.h"
#include "report.h"

namespace nimbrel::service {

// Bytes as text in MB or GB ("3.2 GB"); "" for a negative figure.
std::string FormatBytes(std::int64_t Bytes);

// The report page: memory (before, after, total, freed, with a bar), process counts and table,
// and the startup entries and installed programs when the report has any.
std::string ReportPage(const TReport& Report, TLanguage Language, int RetentionDays);

// What the entry page shows. From is the code as it came in the address ("hkcu").
struct TEntryView {
  std::string From;
  std::string Name;
  std::optional<std::string> Description;
  std::optional<std::int64_t> ReportCount;  // not shown when the store could not count
};
std::string EntryPage(const TEntryView& Entry, TLanguage Language);

// The home page that the program's logo opens.
std::string HomePage(TLanguage Language);

// The page for an unknown or expired report key and any other unknown address.
std::string NotFoundPage(TLanguage Language);

// The source label of an entry's "from" code ("HKLM" -> "Registry (all users)"), any letter case;
// empty for a code that is not one of the five.
std::optional<std::string> SourceLabel(const std::string& From, TLanguage Language);

// Whether a startup entry has a page: its "from" is one of the five codes (any letter case) and
// its file-name part Name is neither empty nor "." or ".." (which a browser would resolve away).
bool HasEntryPage(const std::string& From, std::string_view Name);

}  // namespace nimbrel::service
