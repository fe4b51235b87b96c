// The service's configuration file: what the start-up answer offers, and the limits.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client_address.h"
#include "version.h"

namespace nimbrel::service {

// The notice shown in the update prompt, in one language.
struct TNotice {
  std::string Style;  // "hold", "note" or anything else
  std::string Text;
  std::string Flag;  // holds "stayontop" or not
  std::string Url;   // behind a "note" line
};

struct TConfig {
  std::string LatestVersionText;
  TVersion LatestVersion{};
  std::string DownloadUrl;   // "update" of the answer
  std::string UpdateBarUrl;  // "notify" of the answer
  std::map<std::string, TNotice> Notices;  // by two-letter language code
  std::vector<std::string> FileWhite;
  std::vector<std::string> NameWhite;
  std::vector<std::string> NameBlack;
  int RetentionDays = 90;
  int UploadsPerMinute = 300;  // per client address
  std::int64_t StorageCapBytes = std::int64_t{1} << 30;
  int Threads = 8;
  // Reverse proxies whose X-Forwarded-For names the client (see ClientAddress); none by default.
  TTrustedProxies TrustedProxies;
};

struct TConfigLoad {
  std::optional<TConfig> Config;
  std::string Error;  // empty when Config is there
};

// Reads a configuration text. Refused: text that is not a JSON object, unknown or mistyped
// members, a missing or malformed "latest_version", limits below 1, a "trusted_proxies" entry that
// is not an address or range, and any notice value holding "}" (the program's text search for
// "info" ends at the first one).
TConfigLoad ParseConfig(std::string_view Text);

// ParseConfig of a file's contents; refused when the file cannot be read.
TConfigLoad LoadConfig(const std::filesystem::path& File);

}  // namespace nimbrel::service
