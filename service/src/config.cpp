// Reading and checking the configuration file.
#include "config.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace nimbrel::service {
namespace {

using nlohmann::json;

// Thrown inside ParseConfig only, with the reason the configuration is refused.
struct TRefusal {
  std::string Why;
};

void RefuseUnknownMembers(const json& Object, const std::set<std::string>& Known, const std::string& Where) {
  for (const auto& [Name, Value] : Object.items()) {
    if (!Known.contains(Name)) throw TRefusal{Where + ": unknown member \"" + Name + "\""};
  }
}

std::string StringMember(const json& Object, const char* Name, const std::string& Where, bool Required) {
  const auto Found = Object.find(Name);
  if (Found == Object.end()) {
    if (Required) throw TRefusal{Where + ": \"" + Name + "\" is missing"};
    return {};
  }
  if (!Found->is_string()) throw TRefusal{Where + ": \"" + Name + "\" is not a string"};
  return Found->get<std::string>();
}

std::int64_t LimitMember(const json& Object, const char* Name, std::int64_t Default) {
  const auto Found = Object.find(Name);
  if (Found == Object.end()) return Default;
  if (!Found->is_number_integer() || Found->get<std::int64_t>() < 1) {
    throw TRefusal{std::string("\"") + Name + "\" must be a whole number of at least 1"};
  }
  return Found->get<std::int64_t>();
}

std::vector<std::string> ListMember(const json& Lists, const char* Name) {
  std::vector<std::string> Rows;
  const auto Found = Lists.find(Name);
  if (Found == Lists.end()) return Rows;
  if (!Found->is_array()) throw TRefusal{std::string("lists: \"") + Name + "\" is not an array"};
  for (const auto& Row : *Found) {
    if (!Row.is_string()) throw TRefusal{std::string("lists: \"") + Name + "\" holds a value that is not a string"};
    Rows.push_back(Row.get<std::string>());
  }
  return Rows;
}

TNotice ReadNotice(const json& Object, const std::string& Language) {
  const std::string Where = "notices." + Language;
  if (!Object.is_object()) throw TRefusal{Where + " is not an object"};
  RefuseUnknownMembers(Object, {"style", "text", "flag", "url"}, Where);
  TNotice Notice{StringMember(Object, "style", Where, false), StringMember(Object, "text", Where, false),
                 StringMember(Object, "flag", Where, false), StringMember(Object, "url", Where, false)};
  for (const std::string* Value : {&Notice.Style, &Notice.Text, &Notice.Flag, &Notice.Url}) {
    if (Value->find('}') != std::string::npos) throw TRefusal{Where + ": a value holds \"}\""};
  }
  return Notice;
}

TConfig ReadConfig(const json& Root) {
  if (!Root.is_object()) throw TRefusal{"the configuration is not a JSON object"};
  RefuseUnknownMembers(Root,
                       {"latest_version", "download_url", "update_bar_url", "notices", "lists", "retention_days",
                        "uploads_per_minute_per_address", "storage_cap_bytes", "threads", "trusted_proxies"},
                       "configuration");
  TConfig Config;
  Config.LatestVersionText = StringMember(Root, "latest_version", "configuration", true);
  const auto Latest = ParseVersion(Config.LatestVersionText);
  if (!Latest) throw TRefusal{"\"latest_version\" is not a version such as 1.0.0.0"};
  Config.LatestVersion = *Latest;
  Config.DownloadUrl = StringMember(Root, "download_url", "configuration", false);
  Config.UpdateBarUrl = StringMember(Root, "update_bar_url", "configuration", false);

  if (const auto Notices = Root.find("notices"); Notices != Root.end()) {
    if (!Notices->is_object()) throw TRefusal{"\"notices\" is not an object"};
    for (const auto& [Language, Notice] : Notices->items()) Config.Notices[Language] = ReadNotice(Notice, Language);
  }
  if (const auto Lists = Root.find("lists"); Lists != Root.end()) {
    if (!Lists->is_object()) throw TRefusal{"\"lists\" is not an object"};
    RefuseUnknownMembers(*Lists, {"file_white", "name_white", "name_black"}, "lists");
    Config.FileWhite = ListMember(*Lists, "file_white");
    Config.NameWhite = ListMember(*Lists, "name_white");
    Config.NameBlack = ListMember(*Lists, "name_black");
  }
  const std::int64_t Retention = LimitMember(Root, "retention_days", 90);
  const std::int64_t Uploads = LimitMember(Root, "uploads_per_minute_per_address", 300);
  const std::int64_t Threads = LimitMember(Root, "threads", 8);
  if (Retention > 36500 || Uploads > 1000000 || Threads > 256) throw TRefusal{"a limit is out of range"};
  Config.RetentionDays = static_cast<int>(Retention);
  Config.UploadsPerMinute = static_cast<int>(Uploads);
  Config.Threads = static_cast<int>(Threads);
  Config.StorageCapBytes = LimitMember(Root, "storage_cap_bytes", std::int64_t{1} << 30);
  if (const auto Proxies = Root.find("trusted_proxies"); Proxies != Root.end()) {
    if (!Proxies->is_array()) throw TRefusal{"\"trusted_proxies\" is not an array"};
    for (const auto& Proxy : *Proxies) {
      const auto Range = Proxy.is_string() ? ParseAddressRange(Proxy.get<std::string>()) : std::nullopt;
      if (!Range) throw TRefusal{"trusted_proxies: " + Proxy.dump() + " is not an address or a range such as 10.0.0.0/8"};
      Config.TrustedProxies.push_back(*Range);
    }
  }
  return Config;
}

}  // namespace

TConfigLoad ParseConfig(std::string_view Text) {
  const json Root = json::parse(Text, nullptr, false);
  if (Root.is_discarded()) return {std::nullopt, "the configuration is not valid JSON"};
  try {
    return {ReadConfig(Root), {}};
  } catch (const TRefusal& Refusal) {
    return {std::nullopt, Refusal.Why};
  }
}

TConfigLoad LoadConfig(const std::filesystem::path& File) {
  std::ifstream Stream(File, std::ios::binary);
  if (!Stream) return {std::nullopt, "cannot read " + File.string()};
  std::ostringstream Text;
  Text << Stream.rdbuf();
  return ParseConfig(Text.str());
}

}  // namespace nimbrel::service
