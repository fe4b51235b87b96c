// Descriptions of well-known autostart entries, read from the data folder's entries.json.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "language.h"

namespace nimbrel::service {

class TEntryInfo {
 public:
  // Reads a file of the form {"entries":[{"from":"HKCU","name":"OneDrive","description":{"en":"…",
  // "ko":"…"}}]}. A missing file gives no descriptions; an unreadable or malformed one throws
  // std::runtime_error naming what is wrong.
  static TEntryInfo Load(const std::filesystem::path& File);
  // The same from a text; throws std::runtime_error when it is malformed.
  static TEntryInfo Parse(std::string_view Text);

  // The description of the entry whose "from" and name (compared through LowerUtf8) are given, in
  // Language, else in English; empty when there is none.
  std::optional<std::string> Describe(const std::string& From, const std::string& Name, TLanguage Language) const;

 private:
  // (lower-cased from, lower-cased name) -> language code -> text
  std::map<std::pair<std::string, std::string>, std::map<std::string, std::string, std::less<>>> FEntries;
};

}  // namespace nimbrel::service
