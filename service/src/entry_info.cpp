// Reading entries.json.
#include "entry_info.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "text.h"

namespace nimbrel::service {

TEntryInfo TEntryInfo::Parse(std::string_view Text) {
  const nlohmann::json Root = nlohmann::json::parse(Text, nullptr, false);
  const auto Fail = [](const std::string& Why) { throw std::runtime_error("entries.json: " + Why); };
  if (!Root.is_object() || !Root.contains("entries") || !Root["entries"].is_array()) Fail("no \"entries\" array");
  TEntryInfo Info;
  for (const auto& Entry : Root["entries"]) {
    if (!Entry.is_object() || !Entry.contains("from") || !Entry["from"].is_string() || !Entry.contains("name") ||
        !Entry["name"].is_string() || !Entry.contains("description") || !Entry["description"].is_object()) {
      Fail("an entry without \"from\", \"name\" and \"description\"");
    }
    auto& Texts = Info.FEntries[{LowerUtf8(Entry["from"].get<std::string>()), LowerUtf8(Entry["name"].get<std::string>())}];
    for (const auto& [Language, Description] : Entry["description"].items()) {
      if (!Description.is_string()) Fail("a description that is not a string");
      Texts[Language] = Description.get<std::string>();
    }
  }
  return Info;
}

TEntryInfo TEntryInfo::Load(const std::filesystem::path& File) {
  std::error_code Error;
  if (!std::filesystem::exists(File, Error)) return {};
  std::ifstream Stream(File, std::ios::binary);
  if (!Stream) throw std::runtime_error("cannot read " + File.string());
  std::ostringstream Text;
  Text << Stream.rdbuf();
  return Parse(Text.str());
}

std::optional<std::string> TEntryInfo::Describe(const std::string& From, const std::string& Name,
                                                TLanguage Language) const {
  const auto Found = FEntries.find({LowerUtf8(From), LowerUtf8(Name)});
  if (Found == FEntries.end()) return std::nullopt;
  for (const std::string_view Code : {LanguageCode(Language), std::string_view("en")}) {
    if (const auto Text = Found->second.find(Code); Text != Found->second.end()) return Text->second;
  }
  return std::nullopt;
}

}  // namespace nimbrel::service
